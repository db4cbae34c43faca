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

TEST(RepeatedTimer, StatisticsOfCompletedIntervals) {
  benchmark::RepeatedTimer timer;
  EXPECT_TRUE(std::isnan(timer.getAverageInMilliseconds())) << "0 / 0 before any interval";
  for (const double ms : {3.0, 1.0, 2.0}) {
    timer.startTimer();
    sleepMs(ms);
    timer.endTimer();
    EXPECT_GE(timer.getLastIntervalInMilliseconds(), ms);  // sleeps never return early
  }
  EXPECT_EQ(timer.getNumTimedIntervals(), 3);
  EXPECT_GE(timer.getMaxIntervalInMilliseconds(), 3.0);
  EXPECT_LT(timer.getMaxIntervalInMilliseconds(), timer.getTotalInMilliseconds() - 2.0);
  EXPECT_DOUBLE_EQ(timer.getAverageInMilliseconds(), timer.getTotalInMilliseconds() / 3.0);
}

TEST(RepeatedTimer, ConstructionRestartAndResetOpenANewInterval) {
  benchmark::RepeatedTimer timer;
  sleepMs(2);
  timer.endTimer();
  EXPECT_GE(timer.getLastIntervalInMilliseconds(), 2.0);
  sleepMs(20);
  timer.startTimer();  // abandons the 20 ms
  timer.endTimer();
  EXPECT_LT(timer.getLastIntervalInMilliseconds(), 20.0);
  timer.reset();
  EXPECT_EQ(timer.getNumTimedIntervals(), 0);
  EXPECT_EQ(timer.getTotalInMilliseconds() + timer.getMaxIntervalInMilliseconds(), 0.0);
  sleepMs(2);
  timer.endTimer();
  EXPECT_GE(timer.getLastIntervalInMilliseconds(), 2.0);
  EXPECT_EQ(timer.getNumTimedIntervals(), 1);
}

}  // namespace
}  // namespace velmora
