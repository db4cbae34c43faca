// rclcpp::Rate: the schedule logic on a simulated time line, the period, and the real clock
// only through bounds that cannot flake (a sleep never ends early).

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <future>
#include <stdexcept>
#include <thread>
#include <vector>

#include "rclcpp/rate.hpp"
#include "ros_test_support.hpp"

namespace {

using velmora_test::RosTest;
using namespace std::chrono_literals;
using TimePoint = std::chrono::steady_clock::time_point;
using Ns = std::chrono::nanoseconds;

TimePoint at(int64_t ms) { return TimePoint(std::chrono::milliseconds(ms)); }

TEST(RateSchedule, OnTimeLateAndVeryLateSteps) {
  const Ns period = 10ms;
  // On time: sleep until the next multiple of the period.
  auto step = rclcpp::detail::next_rate_step(at(3), at(0), period);
  EXPECT_TRUE(step.on_time);
  EXPECT_EQ(step.sleep, 7ms);
  EXPECT_EQ(step.new_last, at(10));
  // Late by less than a period: no sleep, the schedule keeps its phase.
  step = rclcpp::detail::next_rate_step(at(15), at(0), period);
  EXPECT_FALSE(step.on_time);
  EXPECT_EQ(step.sleep, Ns::zero());
  EXPECT_EQ(step.new_last, at(10));
  // Exactly at the tick counts as late (nothing left to sleep).
  step = rclcpp::detail::next_rate_step(at(10), at(0), period);
  EXPECT_FALSE(step.on_time);
  EXPECT_EQ(step.new_last, at(10));
  // Late by more than a period: the schedule restarts at now.
  step = rclcpp::detail::next_rate_step(at(25), at(0), period);
  EXPECT_FALSE(step.on_time);
  EXPECT_EQ(step.new_last, at(25));
  // Time went backwards: sleep one period from now.
  step = rclcpp::detail::next_rate_step(at(5), at(40), period);
  EXPECT_TRUE(step.on_time);
  EXPECT_EQ(step.sleep, period);
  EXPECT_EQ(step.new_last, at(15));
}

// A loop on a simulated time line: each cycle works for `work[i]`, then sleeps as told.
// Returns the times at which each cycle starts.
std::vector<int64_t> simulate_loop(const std::vector<int64_t>& work_ms, Ns period) {
  TimePoint now = at(0);
  TimePoint last = now;  // the rate is built at time 0
  std::vector<int64_t> starts;
  for (const int64_t work : work_ms) {
    starts.push_back(
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count());
    now += std::chrono::milliseconds(work);
    const auto step = rclcpp::detail::next_rate_step(now, last, period);
    last = step.new_last;
    now += step.sleep;
  }
  return starts;
}

TEST(RateSchedule, ALoopKeepsItsPhaseCatchesUpAfterShortOverrunsAndRestartsAfterLongOnes) {
  const Ns period = 10ms;
  // Work shorter than the period: cycles start exactly on the multiples of the period.
  EXPECT_EQ(simulate_loop({1, 4, 9, 2, 0}, period), std::vector<int64_t>({0, 10, 20, 30, 40}));
  // One cycle of 15 ms: the next starts late at 25, then the loop is back on 30, 40.
  EXPECT_EQ(simulate_loop({1, 15, 1, 1, 1}, period), std::vector<int64_t>({0, 10, 25, 30, 40}));
  // One cycle of 35 ms (more than a period late): no burst of catch-up cycles; the schedule
  // restarts when the overrun ends (at 45) and continues 55, 65.
  EXPECT_EQ(simulate_loop({1, 35, 1, 1, 1}, period), std::vector<int64_t>({0, 10, 45, 55, 65}));
}

TEST(Rate, ThePeriodIsTheReciprocalOfTheRateTruncatedToWholeNanoseconds) {
  EXPECT_EQ(rclcpp::Rate(3.0).period(), Ns(333333333));
  EXPECT_EQ(rclcpp::Rate(7.0).period(), Ns(142857142));
  EXPECT_EQ(rclcpp::Rate(0.5).period(), 2s);
  EXPECT_EQ(rclcpp::Rate(1e9).period(), 1ns);
  EXPECT_EQ(rclcpp::Rate(Ns(2500000)).period(), 2500us);
  EXPECT_FALSE(rclcpp::Rate(10.0).is_steady());
  EXPECT_TRUE(rclcpp::WallRate(10.0).is_steady());
  for (double bad : {0.0, -5.0, std::nan("")}) {
    EXPECT_THROW(rclcpp::Rate rate(bad), std::invalid_argument) << bad;
  }
  EXPECT_THROW(rclcpp::Rate rate(Ns(0)), std::invalid_argument);
}

class RateOnTheRealClock : public RosTest {};

TEST_F(RateOnTheRealClock, SleepsLastAtLeastThePeriodAndAnOverrunReturnsFalse) {
  rclcpp::WallRate rate(200.0);  // 5 ms
  const auto start = std::chrono::steady_clock::now();
  int on_time = 0;
  for (int i = 0; i < 10; ++i) on_time += rate.sleep() ? 1 : 0;
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, 50ms);  // ten ticks of the schedule started at construction
  EXPECT_LT(elapsed, 5s);
  EXPECT_GT(on_time, 0);

  rate.reset();
  std::this_thread::sleep_for(20ms);  // more than a period of work
  EXPECT_FALSE(rate.sleep());
}

TEST_F(RateOnTheRealClock, ASleepEndsWhenTheContextShutsDown) {
  rclcpp::Rate slow(0.1);  // 10 s
  auto sleeper = std::async(std::launch::async, [&] { return slow.sleep(); });
  std::this_thread::sleep_for(50ms);
  rclcpp::shutdown();
  ASSERT_EQ(sleeper.wait_for(5s), std::future_status::ready);
  EXPECT_TRUE(sleeper.get());
}

}  // namespace
