// ModeSchedule: phase lookup and times left against a linear-scan reference on random
// schedules, the validity rules, the printed form, and mode lookups that find no mode.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <tuple>

#include "common/ModeSchedule.h"

namespace velmora {
namespace {

ModeSchedule makeSchedule(scalar_t duration, std::vector<double> phases,
                          std::vector<size_t> modes) {
  return ModeSchedule(duration, phases, modes);
}

TEST(ModeSchedule, LookupAndTimesLeftAgreeWithALinearScanOnRandomSchedules) {
  std::mt19937 rng(17);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int trial = 0; trial < 200; ++trial) {
    std::vector<double> phases{0.0, 1.0};
    for (int i = trial % 8; i > 0; --i) phases.push_back(unit(rng));
    if (trial % 5 == 0 && phases.size() > 2) phases.push_back(phases[2]);  // zero-length interval
    std::sort(phases.begin(), phases.end());
    std::vector<size_t> modes;
    for (size_t i = 0; i + 1 < phases.size(); ++i) modes.push_back(i * 3 + 1);
    const ModeSchedule schedule = makeSchedule(0.8, phases, modes);
    std::vector<double> queries = phases;
    for (int i = 0; i < 30; ++i) queries.push_back(unit(rng) * 1.4 - 0.2);
    for (const double phase : queries) {
      // The last interval starting at or before the phase; the last mode from phase 1 on.
      int expected = 0;
      for (size_t k = 0; k + 2 < phases.size(); ++k) expected += phases[k + 1] <= phase;
      ASSERT_EQ(schedule.getModeIndexFromPhase(phase), expected) << "phase " << phase;
      ASSERT_EQ(schedule.getModeFromPhase(phase), modes[expected]);
      ASSERT_NEAR(schedule.timeLeftInModeSequence(phase), (1.0 - phase) * 0.8, 1e-15);
      if (phase >= 0.0 && phase < 1.0) {
        ASSERT_NEAR(schedule.timeLeftInMode(phase), (phases[expected + 1] - phase) * 0.8, 1e-15);
      }
    }
  }
}

TEST(ModeSchedule, ValidityRules) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  // duration, phases, modes, valid
  const std::vector<std::tuple<double, std::vector<double>, std::vector<size_t>, bool>> cases = {
      {0.6, {0, 0.5, 1}, {9, 6}, true},
      {0.6, {0, 0.5, std::nextafter(1.0, 2.0)}, {9, 6}, true},  // one ulp above 1 is tolerated
      {0.6, {1e-20, 0.5, 1}, {9, 6}, false},                    // the first phase is exactly 0
      {0.6, {0, 0.5, 1.0000005}, {9, 6}, false},
      {0.6, {0, 0.6, 0.4, 1}, {9, 6, 15}, false},
      {0.6, {0, 0.5, 1}, {9}, false},
      {0.6, {0, nan, 1}, {9, 6}, false},
      {0.0, {0, 0.5, 1}, {9, 6}, false},
      {0.6, {}, {}, false}};
  for (const auto& [duration, phases, modes, valid] : cases) {
    EXPECT_EQ(makeSchedule(duration, phases, modes).isValidModeSequence(), valid)
        << "duration " << duration << ", " << phases.size() << " phases";
  }
}

TEST(ModeSchedule, MovesTheListsInPrintsThemAndFindsNoModeBeyondTheList) {
  std::vector<double> phases{0, 1.0 / 3.0, 1};
  std::vector<size_t> modes{15};
  const ModeSchedule schedule(1.23456789, phases, modes);
  EXPECT_TRUE(phases.empty() && modes.empty());
  EXPECT_EQ(schedule.getModeFromPhase(0.2), 15u);
  EXPECT_THROW(schedule.getModeFromPhase(0.7), std::logic_error);
  ::testing::internal::CaptureStdout();
  schedule.print();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "#### Duration:       1.23457\n"
            "#### Event phases:  {0, 0.333333, 1, }\n"
            "#### Mode sequence: {15, }\n");
}

}  // namespace
}  // namespace velmora
