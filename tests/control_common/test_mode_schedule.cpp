// ModeSchedule: phase lookup against a linear-scan reference, time queries, event phases,
// validity rules, print format, construction moving the caller's lists.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

#include "common/ModeSchedule.h"

namespace velmora {
namespace {

ModeSchedule makeSchedule(scalar_t duration, std::vector<double> phases,
                          std::vector<size_t> modes) {
  return ModeSchedule(duration, phases, modes);
}

/// Reference lookup: the last interval whose start is at or below the phase, by linear scan.
int referenceModeIndex(const std::vector<double>& phases, size_t num_modes, double phase) {
  int index = 0;
  for (size_t k = 0; k < phases.size(); ++k) {
    if (phases[k] <= phase) index = static_cast<int>(k);
  }
  return std::min(index, static_cast<int>(num_modes) - 1);
}

TEST(ModeSchedule, ConstructionMovesTheCallersLists) {
  std::vector<double> phases{0.0, 0.5, 1.0};
  std::vector<size_t> modes{9, 6};
  const ModeSchedule schedule(0.6, phases, modes);
  EXPECT_TRUE(phases.empty());
  EXPECT_TRUE(modes.empty());
  EXPECT_DOUBLE_EQ(schedule.duration(), 0.6);
  EXPECT_EQ(schedule.eventPhases(), (std::vector<double>{0.0, 0.5, 1.0}));
  EXPECT_EQ(schedule.modeSequence(), (std::vector<size_t>{9, 6}));
}

TEST(ModeSchedule, ModeIndexFromPhaseAtAndAroundEvents) {
  const ModeSchedule schedule = makeSchedule(1.0, {0, 0.25, 0.5, 0.75, 1}, {3, 5, 7, 11});
  EXPECT_EQ(schedule.getModeIndexFromPhase(0.0), 0);
  EXPECT_EQ(schedule.getModeIndexFromPhase(0.25), 1);
  EXPECT_EQ(schedule.getModeIndexFromPhase(0.2499), 0);
  EXPECT_EQ(schedule.getModeIndexFromPhase(0.75), 3);
  EXPECT_EQ(schedule.getModeIndexFromPhase(1.0), 3);
  EXPECT_EQ(schedule.getModeIndexFromPhase(-0.1), 0);
  EXPECT_EQ(schedule.getModeIndexFromPhase(1.3), 3);
  EXPECT_EQ(schedule.getModeFromPhase(0.25), 5u);
  EXPECT_EQ(schedule.getModeFromPhase(1.0), 11u);
  EXPECT_EQ(schedule.getModeFromPhase(-5.0), 3u);
}

TEST(ModeSchedule, ZeroLengthIntervalIsNeverReported) {
  const ModeSchedule schedule = makeSchedule(1.0, {0, 0.5, 0.5, 1}, {15, 9, 6});
  EXPECT_TRUE(schedule.isValidModeSequence());
  EXPECT_EQ(schedule.getModeIndexFromPhase(0.5), 2);
  EXPECT_EQ(schedule.getModeIndexFromPhase(0.4999999), 0);
  EXPECT_EQ(schedule.getModeFromPhase(0.5), 6u);
}

TEST(ModeSchedule, ModeIndexAgreesWithALinearScanOnRandomSchedules) {
  std::mt19937 rng(17);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::uniform_int_distribution<int> count(1, 8);
  for (int trial = 0; trial < 200; ++trial) {
    std::vector<double> phases{0.0, 1.0};
    const int interior = count(rng) - 1;
    for (int i = 0; i < interior; ++i) phases.push_back(unit(rng));
    if (trial % 5 == 0 && phases.size() > 2) phases.push_back(phases[2]);  // zero-length interval
    std::sort(phases.begin(), phases.end());
    std::vector<size_t> modes;
    for (size_t i = 0; i + 1 < phases.size(); ++i) modes.push_back(i * 3 + 1);
    const std::vector<double> phases_copy = phases;
    const size_t num_modes = modes.size();
    const ModeSchedule schedule(0.8, phases, modes);
    ASSERT_TRUE(schedule.isValidModeSequence());
    std::vector<double> queries = phases_copy;
    for (int i = 0; i < 30; ++i) queries.push_back(unit(rng) * 1.4 - 0.2);
    for (const double phase : queries) {
      const int expected = referenceModeIndex(phases_copy, num_modes, phase);
      ASSERT_EQ(schedule.getModeIndexFromPhase(phase), expected) << "phase " << phase;
      // The time left in the mode ends exactly at the next event phase (or the cycle's end).
      if (phase >= 0.0 && phase < 1.0) {
        const double end_phase = phase + schedule.timeLeftInMode(phase) / schedule.duration();
        EXPECT_NEAR(end_phase, phases_copy[expected + 1], 1e-12);
        EXPECT_GE(schedule.timeLeftInMode(phase), 0.0);
        EXPECT_LE(schedule.timeLeftInMode(phase), schedule.timeLeftInModeSequence(phase) + 1e-15);
      }
    }
  }
}

TEST(ModeSchedule, TimeLeftInModeAndInCycle) {
  const ModeSchedule schedule = makeSchedule(2.0, {0, 0.5, 1}, {9, 6});
  EXPECT_NEAR(schedule.timeLeftInMode(0.6), 0.8, 1e-15);
  EXPECT_NEAR(schedule.timeLeftInModeSequence(0.6), 0.8, 1e-15);
  EXPECT_NEAR(schedule.timeLeftInMode(0.2), 0.6, 1e-15);
  EXPECT_NEAR(schedule.timeLeftInModeSequence(0.2), 1.6, 1e-15);
  EXPECT_EQ(schedule.timeLeftInMode(1.0), 0.0);
  EXPECT_EQ(schedule.timeLeftInModeSequence(1.0), 0.0);
  // Outside [0, 1] the times are not clamped.
  EXPECT_NEAR(schedule.timeLeftInModeSequence(1.5), -1.0, 1e-15);
  EXPECT_NEAR(schedule.timeLeftInModeSequence(-0.5), 3.0, 1e-15);
}

TEST(ModeSchedule, EventPhaseFromModeNumberIsTheLastStart) {
  const ModeSchedule schedule = makeSchedule(1.0, {0, 0.2, 0.5, 0.7, 1}, {15, 9, 15, 6});
  EXPECT_DOUBLE_EQ(schedule.getEventPhaseFromModeIndex(15), 0.5);
  EXPECT_DOUBLE_EQ(schedule.getEventPhaseFromModeIndex(9), 0.2);
  EXPECT_DOUBLE_EQ(schedule.getEventPhaseFromModeIndex(6), 0.7);
  EXPECT_DOUBLE_EQ(schedule.getEventPhaseFromModeIndex(3), 0.0);
  EXPECT_DOUBLE_EQ(schedule.getEventPhaseFromModeIndex(1), 0.0) << "a number, not an index";
  EXPECT_DOUBLE_EQ(makeSchedule(1.0, {}, {}).getEventPhaseFromModeIndex(15), 0.0);
}

TEST(ModeSchedule, WrapAndValidPhase) {
  const ModeSchedule schedule = makeSchedule(1.0, {0, 1}, {15});
  EXPECT_NEAR(schedule.wrapPhase(1.25), 0.25, 1e-15);
  EXPECT_NEAR(schedule.wrapPhase(-0.25), 0.75, 1e-15);
  EXPECT_EQ(schedule.wrapPhase(1.0), 0.0);
  EXPECT_EQ(schedule.wrapPhase(0.0), 0.0);
  EXPECT_NEAR(schedule.wrapPhase(-3.5), 0.5, 1e-15);
  for (const double phase : {-7.3, -1.0, -0.01, 0.3, 2.9, 100.125}) {
    const double wrapped = schedule.wrapPhase(phase);
    EXPECT_GE(wrapped, 0.0);
    EXPECT_LT(wrapped, 1.0);
    EXPECT_NEAR(wrapped - phase, std::round(wrapped - phase), 1e-12) << "differs by whole cycles";
  }
  EXPECT_TRUE(schedule.isValidPhase(0.0));
  EXPECT_TRUE(schedule.isValidPhase(1.0));
  EXPECT_FALSE(schedule.isValidPhase(-1e-300));
  EXPECT_FALSE(schedule.isValidPhase(std::nextafter(1.0, 2.0)));
  EXPECT_FALSE(schedule.isValidPhase(std::numeric_limits<double>::quiet_NaN()));
}

TEST(ModeSchedule, ValidityRules) {
  EXPECT_TRUE(makeSchedule(0.6, {0, 0.5, 1}, {9, 6}).isValidModeSequence());
  EXPECT_TRUE(makeSchedule(0.6, {0, 1}, {15}).isValidModeSequence());
  EXPECT_FALSE(makeSchedule(0.6, {1e-20, 0.5, 1}, {9, 6}).isValidModeSequence())
      << "first phase must be exactly 0";
  EXPECT_TRUE(makeSchedule(0.6, {0, 0.5, std::nextafter(1.0, 2.0)}, {9, 6}).isValidModeSequence())
      << "one unit in the last place above 1 is tolerated";
  EXPECT_FALSE(makeSchedule(0.6, {0, 0.5, 1.0000005}, {9, 6}).isValidModeSequence());
  EXPECT_FALSE(makeSchedule(0.6, {0, 0.5, 0.999}, {9, 6}).isValidModeSequence());
  EXPECT_FALSE(makeSchedule(0.6, {0, 0.6, 0.4, 1}, {9, 6, 15}).isValidModeSequence());
  EXPECT_FALSE(makeSchedule(0.6, {0, 0.5, 1}, {9, 6, 15}).isValidModeSequence());
  EXPECT_FALSE(makeSchedule(0.6, {0, 0.5, 1}, {9}).isValidModeSequence());
  EXPECT_FALSE(makeSchedule(0.0, {0, 0.5, 1}, {9, 6}).isValidModeSequence());
  EXPECT_FALSE(makeSchedule(-1.0, {0, 0.5, 1}, {9, 6}).isValidModeSequence());
  EXPECT_FALSE(
      makeSchedule(std::numeric_limits<double>::quiet_NaN(), {0, 1}, {15}).isValidModeSequence());
  EXPECT_FALSE(makeSchedule(0.6, {0, std::numeric_limits<double>::quiet_NaN(), 1}, {9, 6})
                   .isValidModeSequence());
  EXPECT_FALSE(makeSchedule(0.6, {0, 1.5, 1}, {9, 6}).isValidModeSequence()) << "out of range";
  EXPECT_FALSE(makeSchedule(0.6, {}, {}).isValidModeSequence());
  EXPECT_FALSE(makeSchedule(0.6, {0}, {}).isValidModeSequence());
}

TEST(ModeSchedule, ModeLookupOnAScheduleWithoutModesThrowsInsteadOfReadingOutOfRange) {
  const ModeSchedule no_modes = makeSchedule(1.0, {0, 1}, {});
  EXPECT_EQ(no_modes.getModeIndexFromPhase(1.0), -1);  // "the last mode" of none
  EXPECT_THROW(no_modes.getModeFromPhase(1.0), std::logic_error);
  EXPECT_THROW(no_modes.getModeFromPhase(0.5), std::logic_error);
  const ModeSchedule too_few_modes = makeSchedule(1.0, {0, 0.5, 1}, {9});
  EXPECT_EQ(too_few_modes.getModeFromPhase(0.2), 9u);
  EXPECT_THROW(too_few_modes.getModeFromPhase(0.7), std::logic_error);
}

TEST(ModeSchedule, PrintFormat) {
  const ModeSchedule schedule = makeSchedule(0.6, {0, 0.5, 1}, {9, 6});
  ::testing::internal::CaptureStdout();
  schedule.print();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "#### Duration:       0.6\n"
            "#### Event phases:  {0, 0.5, 1, }\n"
            "#### Mode sequence: {9, 6, }\n");

  const ModeSchedule six_digits = makeSchedule(1.23456789, {0, 1.0 / 3.0, 1}, {15, 0});
  ::testing::internal::CaptureStdout();
  six_digits.print();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "#### Duration:       1.23457\n"
            "#### Event phases:  {0, 0.333333, 1, }\n"
            "#### Mode sequence: {15, 0, }\n");

  ::testing::internal::CaptureStdout();
  makeSchedule(2.0, {}, {}).print();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "#### Duration:       2\n#### Event phases:  {}\n#### Mode sequence: {}\n");
}

TEST(ModeSchedule, ConcurrentQueriesOnOneSharedSchedule) {
  std::vector<double> phases{0, 0.25, 0.5, 0.75, 1};
  std::vector<size_t> modes{15, 7, 15, 11};
  const auto schedule = std::make_shared<const ModeSchedule>(0.8, phases, modes);
  std::vector<int> wrong(4, 0);
  std::vector<std::thread> threads;
  for (int id = 0; id < 4; ++id) {
    threads.emplace_back([&, id] {
      for (int i = 0; i < 20000; ++i) {
        const double phase = (i % 1000) / 1000.0;
        const size_t expected = phase < 0.25 ? 15 : phase < 0.5 ? 7 : phase < 0.75 ? 15 : 11;
        if (schedule->getModeFromPhase(phase) != expected) ++wrong[id];
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int id = 0; id < 4; ++id) EXPECT_EQ(wrong[id], 0);
}

}  // namespace
}  // namespace velmora
