// Time, Duration, the Rate schedule and the node clock under simulation time, against plain
// 64-bit integer arithmetic on nanoseconds.

#include <atomic>
#include <limits>
#include <random>

#include "Ros2TestSupport.h"
#include "rclcpp/rate.hpp"
#include "rosgraph_msgs/msg/clock.hpp"

namespace {

using namespace velmora_test;

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
    const builtin_interfaces::msg::Duration duration_msg = da;
    ASSERT_LT(duration_msg.nanosec, 1000000000u);  // the remainder is never negative
    ASSERT_EQ(static_cast<int64_t>(duration_msg.sec) * kSecond + duration_msg.nanosec, a);
    ASSERT_EQ((da - rclcpp::Duration::from_nanoseconds(b)).nanoseconds(), a - b);
    ASSERT_EQ(da < rclcpp::Duration::from_nanoseconds(b), a < b);
    const builtin_interfaces::msg::Time time_msg = tt;
    ASSERT_EQ(rclcpp::Time(time_msg).nanoseconds(), t);
    ASSERT_EQ(rclcpp::Time(time_msg).get_clock_type(), RCL_ROS_TIME);  // stamps are ROS time
    ASSERT_EQ((tt + da).nanoseconds(), t + a);
    ASSERT_EQ((tt - tu).nanoseconds(), t - u);
    ASSERT_EQ(tt < tu, t < u);
  }
  const auto max = rclcpp::Duration::from_nanoseconds(std::numeric_limits<int64_t>::max());
  EXPECT_THROW(max + rclcpp::Duration(1, 0), std::overflow_error);
  EXPECT_THROW(rclcpp::Time(5, 0) - rclcpp::Duration(6, 0), std::runtime_error);
  EXPECT_THROW((void)(rclcpp::Time(5, 0, RCL_ROS_TIME) < rclcpp::Time(5, 0, RCL_SYSTEM_TIME)),
               std::runtime_error);
}

/// A 10 ms loop on a simulated time line: each cycle works for `work_ms[i]`, then sleeps as the
/// rate's schedule says. Returns the times [ms] at which the cycles start.
std::vector<int64_t> simulateLoop(const std::vector<int64_t>& work_ms) {
  std::chrono::steady_clock::time_point now{}, last{};  // the rate is built at time 0
  std::vector<int64_t> starts;
  for (const int64_t work : work_ms) {
    starts.push_back(now.time_since_epoch() / 1ms);
    now += std::chrono::milliseconds(work);
    const auto step = rclcpp::detail::next_rate_step(now, last, std::chrono::nanoseconds(10ms));
    last = step.new_last;
    now += step.sleep;
  }
  return starts;
}

TEST(Rate, ALoopKeepsItsPhaseCatchesUpAfterShortOverrunsAndRestartsAfterLongOnes) {
  EXPECT_EQ(simulateLoop({1, 4, 9, 10, 0}), std::vector<int64_t>({0, 10, 20, 30, 40}));
  EXPECT_EQ(simulateLoop({1, 15, 1, 1}), std::vector<int64_t>({0, 10, 25, 30}));
  EXPECT_EQ(simulateLoop({1, 35, 1, 1}), std::vector<int64_t>({0, 10, 45, 55}));  // no burst
}

class SimTime : public RosTest {
 protected:
  void publishClock(int64_t ns) {
    rosgraph_msgs::msg::Clock msg;
    msg.clock = rclcpp::Time(ns, RCL_ROS_TIME);
    clock_publisher->publish(msg);
  }
  rclcpp::Node::SharedPtr simulator = std::make_shared<rclcpp::Node>("simulator");
  rclcpp::Publisher<rosgraph_msgs::msg::Clock>::SharedPtr clock_publisher =
      simulator->create_publisher<rosgraph_msgs::msg::Clock>("/clock", rclcpp::ClockQoS());
  rclcpp::Node::SharedPtr node = std::make_shared<rclcpp::Node>(
      "controller",
      rclcpp::NodeOptions().parameter_overrides({rclcpp::Parameter("use_sim_time", true)}));
};

TEST_F(SimTime, ClockMessagesDriveNowWithoutSpinningWhileUseSimTimeIsSet) {
  EXPECT_EQ(node->now().nanoseconds(), 0);
  publishClock(12 * kSecond + 5);
  EXPECT_EQ(node->now().nanoseconds(), 12 * kSecond + 5);
  EXPECT_GT(simulator->now().nanoseconds(), 1000000 * kSecond);  // wall-clock time
  ASSERT_TRUE(node->set_parameter(rclcpp::Parameter("use_sim_time", false)).successful);
  EXPECT_GT(node->now().nanoseconds(), 1000000 * kSecond);
  publishClock(200 * kSecond);  // ignored while off
  ASSERT_TRUE(node->set_parameter(rclcpp::Parameter("use_sim_time", true)).successful);
  EXPECT_EQ(node->now().nanoseconds(), 12 * kSecond + 5);  // the last time it received
  EXPECT_FALSE(node->set_parameter(rclcpp::Parameter("use_sim_time", 1)).successful);
}

TEST_F(SimTime, ReadersOnOtherThreadsSeeAMonotoneSimulationTime) {
  std::atomic<bool> done{false};
  std::atomic<int> violations{0};
  std::vector<std::thread> readers;
  for (int r = 0; r < 3; ++r) {
    readers.emplace_back([&] {
      for (int64_t last = 0, now = 0; !done.load(); last = now) {
        now = node->now().nanoseconds();
        violations += now < last ? 1 : 0;
      }
    });
  }
  for (int64_t step = 1; step <= 2000; ++step) publishClock(step * 1000000);
  done.store(true);
  for (auto& reader : readers) reader.join();
  EXPECT_EQ(violations.load(), 0);
  EXPECT_EQ(node->now().nanoseconds(), 2 * kSecond);
}

// With simulation time the throttled macro is deterministic: it prints at the first call and
// then whenever a full period of the given clock has passed since the last printed line.
TEST_F(SimTime, ThrottledLogPrintsOncePerPeriodOfTheNodeClock) {
  testing::internal::CaptureStderr();
  for (const int64_t ms : {10000, 10999, 11000, 11400, 12200, 12300}) {
    publishClock(ms * 1000000);
    RCLCPP_WARN_THROTTLE(node->get_logger(), *node->get_clock(), 1000, "at %ld", ms);
  }
  std::istringstream lines(testing::internal::GetCapturedStderr());
  std::vector<std::string> printed;
  for (std::string line; std::getline(lines, line);)
    printed.push_back(line.substr(line.find("at ")));
  EXPECT_EQ(printed, std::vector<std::string>({"at 10000", "at 11000", "at 12200"}));
}

}  // namespace
