// benchmark::RepeatedTimer: empty statistics, accumulation of real intervals, abandoned
// intervals, reset.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "core/misc/Benchmark.h"

namespace velmora {
namespace {

using benchmark::RepeatedTimer;

void expectUntimed(const RepeatedTimer& timer) {
  EXPECT_EQ(timer.getNumTimedIntervals(), 0);
  EXPECT_EQ(timer.getTotalInMilliseconds(), 0.0);
  EXPECT_EQ(timer.getMaxIntervalInMilliseconds(), 0.0);
  EXPECT_EQ(timer.getLastIntervalInMilliseconds(), 0.0);
  EXPECT_TRUE(std::isnan(timer.getAverageInMilliseconds())) << "0 / 0 is not a number";
}

TEST(RepeatedTimer, NewTimerHasNoStatistics) { expectUntimed(RepeatedTimer()); }

TEST(RepeatedTimer, AccumulatesCompletedIntervals) {
  RepeatedTimer timer;
  const double sleeps_ms[] = {3.0, 1.0, 2.0};
  for (const double sleep_ms : sleeps_ms) {
    timer.startTimer();
    std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(sleep_ms));
    timer.endTimer();
    // Sleeping never returns early: the interval is at least the requested sleep.
    EXPECT_GE(timer.getLastIntervalInMilliseconds(), sleep_ms);
  }
  EXPECT_EQ(timer.getNumTimedIntervals(), 3);
  EXPECT_GE(timer.getTotalInMilliseconds(), 6.0);
  EXPECT_GE(timer.getMaxIntervalInMilliseconds(), 3.0);
  EXPECT_GE(timer.getMaxIntervalInMilliseconds(), timer.getLastIntervalInMilliseconds());
  EXPECT_LE(timer.getMaxIntervalInMilliseconds(), timer.getTotalInMilliseconds());
  EXPECT_DOUBLE_EQ(timer.getAverageInMilliseconds(), timer.getTotalInMilliseconds() / 3.0);
  EXPECT_LE(timer.getAverageInMilliseconds(), timer.getMaxIntervalInMilliseconds());
}

TEST(RepeatedTimer, RestartWithoutEndLeavesStatisticsUntouchedAndRestartsTheInterval) {
  RepeatedTimer timer;
  timer.startTimer();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  timer.startTimer();  // abandon the open interval
  EXPECT_EQ(timer.getNumTimedIntervals(), 0);
  EXPECT_EQ(timer.getTotalInMilliseconds(), 0.0);
  timer.endTimer();
  EXPECT_EQ(timer.getNumTimedIntervals(), 1);
  // The abandoned 20 ms are not part of the interval (which was restarted just before).
  EXPECT_LT(timer.getLastIntervalInMilliseconds(), 20.0);
}

TEST(RepeatedTimer, ConstructionOpensAnInterval) {
  RepeatedTimer timer;
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
  timer.endTimer();
  EXPECT_EQ(timer.getNumTimedIntervals(), 1);
  EXPECT_GE(timer.getLastIntervalInMilliseconds(), 2.0);
}

TEST(RepeatedTimer, ResetReturnsToTheConstructedState) {
  RepeatedTimer timer;
  timer.startTimer();
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
  timer.endTimer();
  timer.endTimer();
  ASSERT_EQ(timer.getNumTimedIntervals(), 2);
  timer.reset();
  expectUntimed(timer);
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
  timer.endTimer();  // reset opened a new interval
  EXPECT_GE(timer.getLastIntervalInMilliseconds(), 2.0);
  EXPECT_EQ(timer.getNumTimedIntervals(), 1);
}

}  // namespace
}  // namespace velmora
