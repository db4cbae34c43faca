// Mode decoding and the next lift-off / touch-down queries, against the mode table, a sampled
// reference on random schedules, and the error paths.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <stdexcept>
#include <vector>

#include "common/LegLogic.h"
#include "common/ModeSchedule.h"
#include "common/MotionPhaseDefinition.h"

namespace velmora {
namespace {

using quadruped::getTimeOfNextLiftOff;
using quadruped::getTimeOfNextTouchDown;
using quadruped::modeNumber2StanceLeg;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::shared_ptr<ModeSchedule> makeSchedule(scalar_t duration, std::vector<double> phases,
                                           std::vector<size_t> modes) {
  return std::make_shared<ModeSchedule>(duration, phases, modes);
}

void expectTimes(const std::vector<scalar_t>& actual, const std::vector<scalar_t>& expected) {
  ASSERT_EQ(actual.size(), 4u);
  for (size_t foot = 0; foot < 4; ++foot) {
    EXPECT_NEAR(actual[foot], expected[foot], 1e-12) << "foot " << foot;
  }
}

TEST(ModeNumber2StanceLeg, DecodesTheNamedModes) {
  EXPECT_THAT(modeNumber2StanceLeg(15), ElementsAre(true, true, true, true));
  EXPECT_THAT(modeNumber2StanceLeg(0), ElementsAre(false, false, false, false));
  EXPECT_THAT(modeNumber2StanceLeg(9), ElementsAre(true, false, false, true));
  EXPECT_THAT(modeNumber2StanceLeg(6), ElementsAre(false, true, true, false));
  EXPECT_THAT(modeNumber2StanceLeg(8), ElementsAre(true, false, false, false));
  EXPECT_THAT(modeNumber2StanceLeg(1), ElementsAre(false, false, false, true));
  EXPECT_THAT(modeNumber2StanceLeg(12), ElementsAre(true, true, false, false));
  EXPECT_THAT(modeNumber2StanceLeg(10), ElementsAre(true, false, true, false));
}

TEST(ModeNumber2StanceLeg, IsABijectionWithTheWeightedStanceSum) {
  for (size_t mode = 0; mode < 16; ++mode) {
    const contact_flag_t stance = modeNumber2StanceLeg(mode);
    const size_t encoded = 8 * stance[0] + 4 * stance[1] + 2 * stance[2] + 1 * stance[3];
    EXPECT_EQ(encoded, mode);
  }
}

TEST(ModeNumber2StanceLeg, RejectsNumbersOfSixteenOrMore) {
  for (const size_t mode : {size_t{16}, size_t{31}, size_t{1000}, ~size_t{0}}) {
    try {
      modeNumber2StanceLeg(mode);
      ADD_FAILURE() << "no error for mode " << mode;
    } catch (const std::invalid_argument& e) {
      EXPECT_THAT(e.what(), HasSubstr("mode number " + std::to_string(mode)));
    }
  }
}

TEST(LegLogic, TrotSchedule) {
  const auto trot = makeSchedule(0.6, {0, 0.5, 1}, {9, 6});
  expectTimes(getTimeOfNextLiftOff(10.0, trot), {10.3, 10.6, 10.6, 10.3});
  expectTimes(getTimeOfNextTouchDown(10.0, trot), {10.6, 10.3, 10.3, 10.6});
}

TEST(LegLogic, AllStanceHasNoEvents) {
  const auto stand = makeSchedule(0.8, {0, 1}, {15});
  expectTimes(getTimeOfNextLiftOff(-2.0, stand), {-1.2, -1.2, -1.2, -1.2});
  expectTimes(getTimeOfNextTouchDown(-2.0, stand), {-1.2, -1.2, -1.2, -1.2});
}

TEST(LegLogic, OnlyTheFirstEventOfEachFootCounts) {
  const auto walk = makeSchedule(1.0, {0, 0.25, 0.5, 0.75, 1}, {15, 7, 15, 11});
  expectTimes(getTimeOfNextLiftOff(0.0, walk), {0.25, 0.75, 1.0, 1.0});
  expectTimes(getTimeOfNextTouchDown(0.0, walk), {0.5, 1.0, 1.0, 1.0});
  // Foot 0 lifts off twice; the first one counts.
  const auto double_step = makeSchedule(2.0, {0, 0.2, 0.4, 0.6, 0.8, 1}, {15, 7, 15, 7, 15});
  expectTimes(getTimeOfNextLiftOff(1.0, double_step), {1.4, 3.0, 3.0, 3.0});
  expectTimes(getTimeOfNextTouchDown(1.0, double_step), {1.8, 3.0, 3.0, 3.0});
}

/// Reference: step through the phase grid j / grid, find the mode holding at each sample by a
/// linear scan over the intervals, and record the first stance change of each foot.
std::vector<scalar_t> sampledReference(scalar_t time_cur, scalar_t duration,
                                       const std::vector<double>& phases,
                                       const std::vector<size_t>& modes, int grid, bool lift_off) {
  auto mode_at = [&](double phase) {
    size_t index = 0;
    for (size_t k = 0; k + 1 < phases.size(); ++k) {
      if (phases[k] <= phase) index = k;
    }
    return modes[index];
  };
  std::vector<scalar_t> times(4, time_cur + duration);
  for (int foot = 0; foot < 4; ++foot) {
    const size_t bit = size_t{1} << (3 - foot);
    bool previous = (mode_at(0.0) & bit) != 0;
    for (int j = 1; j < grid; ++j) {
      const double phase = static_cast<double>(j) / grid;
      const bool current = (mode_at(phase) & bit) != 0;
      if (previous != current && current != lift_off) {
        times[foot] = time_cur + duration * phase;
        break;
      }
      previous = current;
    }
  }
  return times;
}

TEST(LegLogic, AgreesWithASampledReferenceOnRandomSchedules) {
  constexpr int kGrid = 20;  // event phases are multiples of 1 / kGrid
  std::mt19937 rng(23);
  std::uniform_int_distribution<int> grid_point(1, kGrid - 1);
  std::uniform_int_distribution<int> mode(0, 15);
  std::uniform_int_distribution<int> interior_count(0, 6);
  for (int trial = 0; trial < 300; ++trial) {
    std::vector<double> phases{0.0, 1.0};
    std::vector<int> points;
    for (int i = interior_count(rng); i > 0; --i) points.push_back(grid_point(rng));
    std::sort(points.begin(), points.end());
    points.erase(std::unique(points.begin(), points.end()), points.end());
    for (const int p : points) phases.push_back(static_cast<double>(p) / kGrid);
    std::sort(phases.begin(), phases.end());
    std::vector<size_t> modes;
    for (size_t i = 0; i + 1 < phases.size(); ++i) modes.push_back(mode(rng));
    const double time_cur = 3.0 + trial;
    const double duration = 0.5 + 0.01 * trial;
    const auto lift_expected = sampledReference(time_cur, duration, phases, modes, kGrid, true);
    const auto touch_expected = sampledReference(time_cur, duration, phases, modes, kGrid, false);
    const auto schedule = makeSchedule(duration, phases, modes);
    ASSERT_TRUE(schedule->isValidModeSequence());
    expectTimes(getTimeOfNextLiftOff(time_cur, schedule), lift_expected);
    expectTimes(getTimeOfNextTouchDown(time_cur, schedule), touch_expected);
  }
}

TEST(LegLogic, RejectsNullEmptyAndUndecodableSchedules) {
  auto expectInvalid = [](auto&& call, const std::string& fragment) {
    try {
      call();
      ADD_FAILURE() << "no error, expected: " << fragment;
    } catch (const std::invalid_argument& e) {
      EXPECT_THAT(e.what(), HasSubstr(fragment));
    }
  };
  expectInvalid([] { getTimeOfNextLiftOff(0.0, nullptr); },
                "getTimeOfNextLiftOff: the mode schedule is null");
  expectInvalid([] { getTimeOfNextTouchDown(0.0, nullptr); },
                "getTimeOfNextTouchDown: the mode schedule is null");
  const auto empty = makeSchedule(1.0, {}, {});
  expectInvalid([&] { getTimeOfNextLiftOff(0.0, empty); }, "0 event phases and 0 modes");
  expectInvalid([&] { getTimeOfNextTouchDown(0.0, empty); }, "0 event phases");
  const auto no_modes = makeSchedule(1.0, {0, 1}, {});
  expectInvalid([&] { getTimeOfNextLiftOff(0.0, no_modes); }, "2 event phases and 0 modes");
  const auto bad_mode = makeSchedule(1.0, {0, 0.5, 1}, {15, 16});
  expectInvalid([&] { getTimeOfNextLiftOff(0.0, bad_mode); }, "mode number 16");
  const auto too_few_modes = makeSchedule(1.0, {0, 0.5, 1}, {15});
  EXPECT_THROW(getTimeOfNextTouchDown(0.0, too_few_modes), std::logic_error);
}

}  // namespace
}  // namespace velmora
