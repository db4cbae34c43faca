// Time and Duration against plain 64-bit integer arithmetic on nanoseconds.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <stdexcept>

#include "rclcpp/clock.hpp"
#include "rclcpp/duration.hpp"
#include "rclcpp/time.hpp"

namespace {

constexpr int64_t kSecond = 1000000000LL;

TEST(Duration, SecondsAndNanosecondsConvertBothWaysWithANonNegativeRemainder) {
  std::mt19937_64 rng(7);
  std::uniform_int_distribution<int64_t> span(-1000 * kSecond, 1000 * kSecond);
  for (int i = 0; i < 2000; ++i) {
    const int64_t ns = span(rng);
    const builtin_interfaces::msg::Duration msg = rclcpp::Duration::from_nanoseconds(ns);
    ASSERT_LT(msg.nanosec, 1000000000u);
    ASSERT_EQ(static_cast<int64_t>(msg.sec) * kSecond + msg.nanosec, ns);
    ASSERT_EQ(rclcpp::Duration(msg).nanoseconds(), ns);
  }
  EXPECT_EQ(rclcpp::Duration(-2, 500000000u).nanoseconds(), -1500000000LL);
  const builtin_interfaces::msg::Duration minus_one_and_a_half =
      rclcpp::Duration::from_seconds(-1.5);
  EXPECT_EQ(minus_one_and_a_half.sec, -2);
  EXPECT_EQ(minus_one_and_a_half.nanosec, 500000000u);
}

TEST(Duration, ArithmeticAndComparisonsMatchIntegerNanoseconds) {
  std::mt19937_64 rng(11);
  std::uniform_int_distribution<int64_t> span(-kSecond * 100000, kSecond * 100000);
  for (int i = 0; i < 2000; ++i) {
    const int64_t a = span(rng);
    const int64_t b = span(rng);
    const auto da = rclcpp::Duration::from_nanoseconds(a);
    const auto db = rclcpp::Duration::from_nanoseconds(b);
    ASSERT_EQ((da + db).nanoseconds(), a + b);
    ASSERT_EQ((da - db).nanoseconds(), a - b);
    ASSERT_EQ(da < db, a < b);
    ASSERT_EQ(da <= db, a <= b);
    ASSERT_EQ(da == db, a == b);
    ASSERT_EQ(da > db, a > b);
    ASSERT_NEAR(da.seconds(), static_cast<double>(a) * 1e-9, 1e-6);
  }
  EXPECT_EQ((rclcpp::Duration(1, 0) * 2.5).nanoseconds(), 2500000000LL);
  EXPECT_EQ(rclcpp::Duration::from_seconds(0.0015).nanoseconds(), 1500000);
  EXPECT_EQ(rclcpp::Duration(std::chrono::milliseconds(20)).nanoseconds(), 20000000);
  EXPECT_EQ(rclcpp::Duration(3, 5).to_chrono<std::chrono::nanoseconds>().count(), 3000000005LL);
}

TEST(Duration, OverflowAndAbnormalValuesThrow) {
  const auto max = rclcpp::Duration::max();
  const auto most_negative =
      rclcpp::Duration::from_nanoseconds(std::numeric_limits<int64_t>::min() + 1);
  EXPECT_THROW(rclcpp::Duration::from_nanoseconds(std::numeric_limits<int64_t>::max()) +
                   rclcpp::Duration(1, 0),
               std::overflow_error);
  EXPECT_THROW(most_negative - rclcpp::Duration(1, 0), std::underflow_error);
  EXPECT_THROW(most_negative + rclcpp::Duration(-1, 0), std::underflow_error);
  EXPECT_THROW(rclcpp::Duration::from_nanoseconds(std::numeric_limits<int64_t>::max()) * 2.0,
               std::overflow_error);
  EXPECT_THROW(max * std::nan(""), std::runtime_error);
  EXPECT_THROW(rclcpp::Duration::from_seconds(INFINITY), std::runtime_error);
  EXPECT_THROW(rclcpp::Duration::from_seconds(1e20), std::overflow_error);
}

TEST(Time, ConvertsToAndFromMessagesAndKeepsItsClockType) {
  std::mt19937_64 rng(3);
  std::uniform_int_distribution<int64_t> stamp(
      0, int64_t{std::numeric_limits<int32_t>::max()} * kSecond);
  for (int i = 0; i < 2000; ++i) {
    const int64_t ns = stamp(rng);
    const rclcpp::Time t(ns, RCL_ROS_TIME);
    const builtin_interfaces::msg::Time msg = t;
    ASSERT_EQ(static_cast<int64_t>(msg.sec) * kSecond + msg.nanosec, ns);
    ASSERT_LT(msg.nanosec, 1000000000u);
    ASSERT_EQ(rclcpp::Time(msg).nanoseconds(), ns);
  }
  builtin_interfaces::msg::Time msg;
  msg.sec = 12;
  msg.nanosec = 5;
  EXPECT_EQ(rclcpp::Time(msg).get_clock_type(), RCL_ROS_TIME);
  EXPECT_EQ(rclcpp::Time(12, 5).get_clock_type(), RCL_SYSTEM_TIME);
  EXPECT_EQ(rclcpp::Time(12, 5).nanoseconds(), 12 * kSecond + 5);
  EXPECT_DOUBLE_EQ(rclcpp::Time(12, 500000000).seconds(), 12.5);
  rclcpp::Time assigned(1, 0, RCL_STEADY_TIME);
  assigned = msg;
  EXPECT_EQ(assigned.get_clock_type(), RCL_ROS_TIME);
  EXPECT_EQ(assigned.nanoseconds(), 12 * kSecond + 5);
}

TEST(Time, ArithmeticWithDurationsMatchesIntegerNanoseconds) {
  std::mt19937_64 rng(5);
  std::uniform_int_distribution<int64_t> stamp(1000 * kSecond, 2000 * kSecond);
  std::uniform_int_distribution<int64_t> span(-500 * kSecond, 500 * kSecond);
  for (int i = 0; i < 2000; ++i) {
    const int64_t t = stamp(rng);
    const int64_t u = stamp(rng);
    const int64_t d = span(rng);
    const rclcpp::Time tt(t, RCL_ROS_TIME);
    const rclcpp::Time tu(u, RCL_ROS_TIME);
    const auto dd = rclcpp::Duration::from_nanoseconds(d);
    ASSERT_EQ((tt + dd).nanoseconds(), t + d);
    ASSERT_EQ((dd + tt).nanoseconds(), t + d);
    ASSERT_EQ((tt - dd).nanoseconds(), t - d);
    ASSERT_EQ((tt - tu).nanoseconds(), t - u);
    ASSERT_EQ(tt < tu, t < u);
    ASSERT_EQ(tt >= tu, t >= u);
    ASSERT_EQ((tt + dd).get_clock_type(), RCL_ROS_TIME);
    rclcpp::Time accumulated = tt;
    accumulated += dd;
    accumulated -= dd;
    ASSERT_EQ(accumulated, tt);
  }
}

TEST(Time, NegativeTimesMixedClocksAndOverflowAreRejected) {
  EXPECT_THROW(rclcpp::Time(-1, 0), std::runtime_error);
  EXPECT_THROW(rclcpp::Time(int64_t{-1}), std::runtime_error);
  EXPECT_THROW(rclcpp::Time(5, 0) - rclcpp::Duration(6, 0), std::runtime_error);
  const rclcpp::Time ros(5, 0, RCL_ROS_TIME);
  const rclcpp::Time system(5, 0, RCL_SYSTEM_TIME);
  try {
    (void)(ros < system);
    FAIL() << "compared times of different clocks";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "can't compare times with different time sources");
  }
  EXPECT_THROW((void)(ros == system), std::runtime_error);
  EXPECT_THROW(ros - system, std::runtime_error);
  EXPECT_THROW(rclcpp::Time(std::numeric_limits<int64_t>::max()) + rclcpp::Duration(0, 1),
               std::overflow_error);
}

TEST(Clock, ReadsTheClockOfItsKind) {
  const rclcpp::Clock system(RCL_SYSTEM_TIME);
  const rclcpp::Clock steady(RCL_STEADY_TIME);
  const rclcpp::Clock ros(RCL_ROS_TIME);
  auto ns = [](auto tp) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(tp.time_since_epoch()).count();
  };
  const int64_t system_before = ns(std::chrono::system_clock::now());
  const int64_t steady_before = ns(std::chrono::steady_clock::now());
  const rclcpp::Time system_now = system.now();
  const rclcpp::Time steady_now = steady.now();
  const rclcpp::Time ros_now = ros.now();
  const int64_t steady_after = ns(std::chrono::steady_clock::now());
  const int64_t system_after = ns(std::chrono::system_clock::now());
  EXPECT_GE(system_now.nanoseconds(), system_before);
  EXPECT_LE(system_now.nanoseconds(), system_after);
  EXPECT_GE(steady_now.nanoseconds(), steady_before);
  EXPECT_LE(steady_now.nanoseconds(), steady_after);
  EXPECT_GE(ros_now.nanoseconds(), system_before);  // no override: system time
  EXPECT_LE(ros_now.nanoseconds(), system_after);
  EXPECT_EQ(steady_now.get_clock_type(), RCL_STEADY_TIME);
  EXPECT_EQ(ros_now.get_clock_type(), RCL_ROS_TIME);
  EXPECT_FALSE(ros.ros_time_is_active());
  EXPECT_THROW(rclcpp::Clock clock(RCL_CLOCK_UNINITIALIZED), std::invalid_argument);
}

}  // namespace
