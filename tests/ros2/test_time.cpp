// Time, Duration, the node clock under simulation time and the Rate schedule, against plain
// 64-bit integer arithmetic on nanoseconds.

#include <atomic>
#include <limits>
#include <random>
#include <stdexcept>

#include "Ros2TestSupport.h"
#include "rclcpp/rate.hpp"
#include "rosgraph_msgs/msg/clock.hpp"

namespace {

using namespace velmora_test;
using ClockMsg = rosgraph_msgs::msg::Clock;

constexpr int64_t kSecond = 1000000000LL;

TEST(Time, MessagesArithmeticAndComparisonsMatchIntegerNanoseconds) {
  std::mt19937_64 rng(11);
  const int64_t latest = int64_t{std::numeric_limits<int32_t>::max()} * kSecond;  // in a message
  std::uniform_int_distribution<int64_t> stamp(500 * kSecond, latest - 500 * kSecond);
  std::uniform_int_distribution<int64_t> span(-500 * kSecond, 500 * kSecond);
  for (int i = 0; i < 2000; ++i) {
    const int64_t t = stamp(rng), u = stamp(rng), a = span(rng), b = span(rng);
    const rclcpp::Time tt(t, RCL_ROS_TIME), tu(u, RCL_ROS_TIME);
    const auto da = rclcpp::Duration::from_nanoseconds(a);
    const auto db = rclcpp::Duration::from_nanoseconds(b);
    const builtin_interfaces::msg::Duration duration_msg = da;  // non-negative nanosec part
    ASSERT_LT(duration_msg.nanosec, 1000000000u);
    ASSERT_EQ(rclcpp::Duration(duration_msg).nanoseconds(), a);
    ASSERT_EQ(static_cast<int64_t>(duration_msg.sec) * kSecond + duration_msg.nanosec, a);
    ASSERT_EQ((da - db).nanoseconds(), a - b);
    ASSERT_EQ(da < db, a < b);
    ASSERT_EQ(da == db, a == b);
    const builtin_interfaces::msg::Time time_msg = tt;
    const rclcpp::Time stamped_time(time_msg);
    ASSERT_EQ(stamped_time.nanoseconds(), t);
    ASSERT_EQ(stamped_time.get_clock_type(), RCL_ROS_TIME);  // stamps are ROS time
    ASSERT_EQ((tt + da).nanoseconds(), t + a);
    ASSERT_EQ((tt - da).nanoseconds(), t - a);
    ASSERT_EQ((tt - tu).nanoseconds(), t - u);
    ASSERT_EQ(tt < tu, t < u);
    ASSERT_EQ(tt >= tu, t >= u);
  }
  EXPECT_EQ(rclcpp::Duration::from_seconds(-1.5).nanoseconds(), -1500000000LL);
  EXPECT_EQ((rclcpp::Duration(1, 0) * 2.5).nanoseconds(), 2500000000LL);
  EXPECT_DOUBLE_EQ(rclcpp::Time(12, 500000000).seconds(), 12.5);
}

TEST(Time, OverflowNegativeTimesAndMixedClocksAreRejected) {
  const auto max = rclcpp::Duration::from_nanoseconds(std::numeric_limits<int64_t>::max());
  const auto min = rclcpp::Duration::from_nanoseconds(std::numeric_limits<int64_t>::min() + 1);
  EXPECT_THROW(max + rclcpp::Duration(1, 0), std::overflow_error);
  EXPECT_THROW(min - rclcpp::Duration(1, 0), std::underflow_error);
  EXPECT_THROW(max * 2.0, std::overflow_error);
  EXPECT_THROW(rclcpp::Duration::from_seconds(INFINITY), std::runtime_error);
  EXPECT_THROW(rclcpp::Time(-1, 0), std::runtime_error);
  EXPECT_THROW(rclcpp::Time(5, 0) - rclcpp::Duration(6, 0), std::runtime_error);
  const rclcpp::Time ros(5, 0, RCL_ROS_TIME), system(5, 0, RCL_SYSTEM_TIME);
  EXPECT_THROW((void)(ros < system), std::runtime_error);
  EXPECT_THROW(ros - system, std::runtime_error);
}

/// A 10 ms loop on a simulated time line: each cycle works for `work_ms[i]`, then sleeps as the
/// schedule says. Returns the times [ms] at which the cycles start.
std::vector<int64_t> simulateLoop(const std::vector<int64_t>& work_ms) {
  using TimePoint = std::chrono::steady_clock::time_point;
  TimePoint now{}, last{};  // the rate is built at time 0
  std::vector<int64_t> starts;
  for (const int64_t work : work_ms) {
    starts.push_back(
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count());
    now += std::chrono::milliseconds(work);
    const auto step = rclcpp::detail::next_rate_step(now, last, std::chrono::nanoseconds(10ms));
    EXPECT_EQ(step.on_time, step.sleep > 0ns);
    last = step.new_last;
    now += step.sleep;
  }
  return starts;
}

TEST(Rate, ALoopKeepsItsPhaseCatchesUpAfterShortOverrunsAndRestartsAfterLongOnes) {
  EXPECT_EQ(simulateLoop({1, 4, 9, 10, 0}), std::vector<int64_t>({0, 10, 20, 30, 40}));
  // A 15 ms cycle: the next starts late at 25, then the loop is back on 30, 40.
  EXPECT_EQ(simulateLoop({1, 15, 1, 1, 1}), std::vector<int64_t>({0, 10, 25, 30, 40}));
  // A 35 ms cycle: no burst of catch-up cycles; the schedule restarts when it ends (at 45).
  EXPECT_EQ(simulateLoop({1, 35, 1, 1, 1}), std::vector<int64_t>({0, 10, 45, 55, 65}));
  EXPECT_EQ(rclcpp::Rate(3.0).period(), 333333333ns);
  EXPECT_THROW(rclcpp::Rate rate(0.0), std::invalid_argument);
}

class SimTime : public RosTest {
 protected:
  void SetUp() override {
    RosTest::SetUp();
    simulator = std::make_shared<rclcpp::Node>("simulator");
    clock_publisher = simulator->create_publisher<ClockMsg>("/clock", rclcpp::ClockQoS());
  }
  void publishClock(int64_t ns) {
    ClockMsg msg;
    msg.clock = rclcpp::Time(ns, RCL_ROS_TIME);
    clock_publisher->publish(msg);
  }
  rclcpp::Node::SharedPtr simulator;
  rclcpp::Publisher<ClockMsg>::SharedPtr clock_publisher;
};

TEST_F(SimTime, ClockMessagesDriveNowWithoutSpinningWhileUseSimTimeIsSet) {
  auto node = std::make_shared<rclcpp::Node>(
      "controller",
      rclcpp::NodeOptions().parameter_overrides({rclcpp::Parameter("use_sim_time", true)}));
  EXPECT_EQ(node->now().nanoseconds(), 0);
  publishClock(12 * kSecond + 5);
  EXPECT_EQ(node->now().nanoseconds(), 12 * kSecond + 5);
  EXPECT_EQ(node->get_clock()->now().get_clock_type(), RCL_ROS_TIME);
  EXPECT_GT(simulator->now().nanoseconds(), 1000000 * kSecond);  // wall-clock time
  EXPECT_EQ(clock_publisher->get_subscription_count(), 0u);  // the time subscription is internal
  ASSERT_TRUE(node->set_parameter(rclcpp::Parameter("use_sim_time", false)).successful);
  EXPECT_GT(node->now().nanoseconds(), 1000000 * kSecond);
  publishClock(200 * kSecond);  // ignored while off
  ASSERT_TRUE(node->set_parameter(rclcpp::Parameter("use_sim_time", true)).successful);
  EXPECT_EQ(node->now().nanoseconds(), 12 * kSecond + 5);  // the last time it received
  EXPECT_FALSE(node->set_parameter(rclcpp::Parameter("use_sim_time", 1)).successful);
}

TEST_F(SimTime, ReadersOnOtherThreadsSeeAMonotoneSimulationTime) {
  auto node = std::make_shared<rclcpp::Node>(
      "controller",
      rclcpp::NodeOptions().parameter_overrides({rclcpp::Parameter("use_sim_time", true)}));
  std::atomic<bool> done{false};
  std::atomic<int> violations{0};
  std::vector<std::thread> readers;
  for (int r = 0; r < 3; ++r) {
    readers.emplace_back([&] {
      for (int64_t last = 0; !done.load();) {
        const int64_t now = node->now().nanoseconds();
        violations += now < last ? 1 : 0;
        last = now;
      }
    });
  }
  for (int64_t step = 1; step <= 2000; ++step) publishClock(step * 1000000);
  done.store(true);
  for (auto& reader : readers) reader.join();
  EXPECT_EQ(violations.load(), 0);
  EXPECT_EQ(node->now().nanoseconds(), 2 * kSecond);
}

}  // namespace
