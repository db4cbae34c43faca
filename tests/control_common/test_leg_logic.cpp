// The next lift-off / touch-down times against a reference that samples random schedules on a
// phase grid and decodes modes bit by bit (FL the most significant bit), and the error paths.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>

#include "common/LegLogic.h"

namespace velmora {
namespace {

using quadruped::getTimeOfNextLiftOff;
using quadruped::getTimeOfNextTouchDown;

std::shared_ptr<ModeSchedule> makeSchedule(std::vector<double> phases, std::vector<size_t> modes) {
  return std::make_shared<ModeSchedule>(1.0, phases, modes);
}

TEST(LegLogic, EventTimesAgreeWithASampledReferenceOnRandomSchedules) {
  constexpr int kGrid = 20;  // event phases are multiples of 1 / kGrid
  std::mt19937 rng(23);
  std::uniform_int_distribution<int> grid_point(1, kGrid - 1), mode(0, 15), count(0, 6);
  for (int trial = 0; trial < 300; ++trial) {
    std::vector<double> phases{0.0, 1.0};
    for (int i = count(rng); i > 0; --i) phases.push_back(grid_point(rng) / double(kGrid));
    std::sort(phases.begin(), phases.end());
    phases.erase(std::unique(phases.begin(), phases.end()), phases.end());
    std::vector<size_t> modes;
    for (size_t i = 0; i + 1 < phases.size(); ++i) modes.push_back(mode(rng));
    const double time_cur = 3.0 + trial, duration = 0.5 + 0.01 * trial;
    const auto schedule = std::make_shared<ModeSchedule>(duration, phases, modes);
    const std::vector<scalar_t> lift_off = getTimeOfNextLiftOff(time_cur, schedule);
    const std::vector<scalar_t> touch_down = getTimeOfNextTouchDown(time_cur, schedule);
    ASSERT_EQ(lift_off.size() + touch_down.size(), 8u);
    const std::vector<double>& event_phases = schedule->eventPhases();
    const std::vector<size_t>& mode_sequence = schedule->modeSequence();
    const auto in_stance = [&](int foot, int j) {  // at phase j / kGrid, by linear scan
      size_t index = 0;
      while (index + 2 < event_phases.size() && std::lround(event_phases[index + 1] * kGrid) <= j)
        ++index;
      return (mode_sequence[index] >> (3 - foot) & 1) != 0;
    };
    for (int foot = 0; foot < 4; ++foot) {
      scalar_t expected_lift_off = time_cur + duration, expected_touch_down = time_cur + duration;
      for (int j = kGrid - 1; j > 0; --j) {  // backwards: the first event is found last
        if (in_stance(foot, j - 1) && !in_stance(foot, j))
          expected_lift_off = time_cur + duration * j / kGrid;
        if (!in_stance(foot, j - 1) && in_stance(foot, j))
          expected_touch_down = time_cur + duration * j / kGrid;
      }
      ASSERT_NEAR(lift_off[foot], expected_lift_off, 1e-12)
          << "trial " << trial << " foot " << foot;
      ASSERT_NEAR(touch_down[foot], expected_touch_down, 1e-12) << "trial " << trial;
    }
  }
}

TEST(LegLogic, RejectsNullEmptyAndUndecodableSchedules) {
  const auto expect_invalid = [](const std::function<void()>& call, const std::string& fragment) {
    EXPECT_THAT(call,
                ::testing::ThrowsMessage<std::invalid_argument>(::testing::HasSubstr(fragment)));
  };
  expect_invalid([] { getTimeOfNextLiftOff(0.0, nullptr); },
                 "getTimeOfNextLiftOff: the mode schedule is null");
  const auto no_modes = makeSchedule({0, 1}, {}), bad_mode = makeSchedule({0, 0.5, 1}, {15, 16});
  expect_invalid([&] { getTimeOfNextTouchDown(0.0, no_modes); }, "2 event phases and 0 modes");
  expect_invalid([&] { getTimeOfNextLiftOff(0.0, bad_mode); }, "mode number 16");
  EXPECT_THROW(getTimeOfNextTouchDown(0.0, makeSchedule({0, 0.5, 1}, {15})), std::logic_error);
}

}  // namespace
}  // namespace velmora
