// benchmark::RepeatedTimer: statistics of real intervals, abandoned intervals, reset.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "core/misc/Benchmark.h"

namespace velmora {
namespace {

void sleepMs(double ms) {
  std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(ms));
}

TEST(RepeatedTimer, StatisticsOfCompletedIntervalsAbandonedIntervalsAndReset) {
  benchmark::RepeatedTimer timer;  // construction opens an interval
  EXPECT_TRUE(std::isnan(timer.getAverageInMilliseconds())) << "0 / 0 before any interval";
  for (const double ms : {3.0, 1.0, 20.0}) {
    sleepMs(ms);
    timer.endTimer();
    EXPECT_GE(timer.getLastIntervalInMilliseconds(), ms);  // sleeps never return early
    timer.startTimer();
    sleepMs(30);
    timer.startTimer();  // abandons the 30 ms
  }
  EXPECT_EQ(timer.getNumTimedIntervals(), 3);
  EXPECT_GE(timer.getMaxIntervalInMilliseconds(), 20.0);
  EXPECT_LT(timer.getTotalInMilliseconds(), 50.0) << "the abandoned 3 x 30 ms were counted";
  EXPECT_DOUBLE_EQ(timer.getAverageInMilliseconds(), timer.getTotalInMilliseconds() / 3.0);
  timer.reset();
  EXPECT_EQ(timer.getNumTimedIntervals(), 0);
  EXPECT_EQ(timer.getTotalInMilliseconds() + timer.getMaxIntervalInMilliseconds(), 0.0);
  sleepMs(2);
  timer.endTimer();  // reset opened a new interval
  EXPECT_GE(timer.getLastIntervalInMilliseconds(), 2.0);
}

}  // namespace
}  // namespace velmora
