// Simulation time through "use_sim_time" and "/clock", and node parameters.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "ros_test_support.hpp"
#include "rosgraph_msgs/msg/clock.hpp"

namespace {

using velmora_test::RosTest;
using velmora_test::split_lines;
using ClockMsg = rosgraph_msgs::msg::Clock;

constexpr int64_t kSecond = 1000000000LL;

ClockMsg clock_at(int32_t sec, uint32_t nanosec) {
  ClockMsg msg;
  msg.clock.sec = sec;
  msg.clock.nanosec = nanosec;
  return msg;
}

int64_t system_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

rclcpp::NodeOptions with_sim_time(bool value) {
  return rclcpp::NodeOptions().parameter_overrides({rclcpp::Parameter("use_sim_time", value)});
}

class SimTime : public RosTest {
 protected:
  void SetUp() override {
    RosTest::SetUp();
    simulator = std::make_shared<rclcpp::Node>("simulator");
    clock_publisher = simulator->create_publisher<ClockMsg>("/clock", rclcpp::ClockQoS());
  }

  rclcpp::Node::SharedPtr simulator;
  rclcpp::Publisher<ClockMsg>::SharedPtr clock_publisher;
};

TEST_F(SimTime, WithoutSimTimeTheNodeClockIsTheSystemClock) {
  auto node = std::make_shared<rclcpp::Node>("controller");
  EXPECT_FALSE(node->get_parameter("use_sim_time").as_bool());
  clock_publisher->publish(clock_at(12, 5));
  const int64_t before = system_ns();
  const rclcpp::Time now = node->now();
  const int64_t after = system_ns();
  EXPECT_GE(now.nanoseconds(), before);
  EXPECT_LE(now.nanoseconds(), after);
  EXPECT_EQ(now.get_clock_type(), RCL_ROS_TIME);
  EXPECT_FALSE(node->get_clock()->ros_time_is_active());
}

TEST_F(SimTime, ClockMessagesDriveNowWithoutSpinningStartingFromZero) {
  auto node = std::make_shared<rclcpp::Node>("controller", "/robot", with_sim_time(true));
  auto bystander = std::make_shared<rclcpp::Node>("bystander");
  EXPECT_TRUE(node->get_clock()->ros_time_is_active());
  EXPECT_EQ(node->now().nanoseconds(), 0);
  EXPECT_EQ(node->get_clock()->now().nanoseconds(), 0);
  clock_publisher->publish(clock_at(12, 5));
  EXPECT_EQ(node->now().nanoseconds(), 12 * kSecond + 5);
  EXPECT_EQ(node->get_clock()->now().nanoseconds(), 12 * kSecond + 5);
  clock_publisher->publish(std::make_unique<ClockMsg>(clock_at(13, 0)));
  EXPECT_DOUBLE_EQ(node->now().seconds(), 13.0);
  EXPECT_GT(bystander->now().nanoseconds(), 1000000 * kSecond);  // still wall-clock time
  // The internal time subscription is not counted as a user subscription.
  EXPECT_EQ(clock_publisher->get_subscription_count(), 0u);
}

TEST_F(SimTime, SwitchingUseSimTimeAtRunTime) {
  auto node = std::make_shared<rclcpp::Node>("controller");
  auto result = node->set_parameter(rclcpp::Parameter("use_sim_time", true));
  ASSERT_TRUE(result.successful) << result.reason;
  EXPECT_EQ(node->now().nanoseconds(), 0);
  clock_publisher->publish(clock_at(100, 0));
  EXPECT_EQ(node->now().nanoseconds(), 100 * kSecond);

  ASSERT_TRUE(node->set_parameter(rclcpp::Parameter("use_sim_time", false)).successful);
  const int64_t before = system_ns();
  EXPECT_GE(node->now().nanoseconds(), before);
  clock_publisher->publish(clock_at(200, 0));  // ignored while off

  ASSERT_TRUE(node->set_parameter(rclcpp::Parameter("use_sim_time", true)).successful);
  EXPECT_EQ(node->now().nanoseconds(), 100 * kSecond);  // the last time it received
  clock_publisher->publish(clock_at(300, 0));
  EXPECT_EQ(node->now().nanoseconds(), 300 * kSecond);

  const auto wrong_type = node->set_parameter(rclcpp::Parameter("use_sim_time", 1));
  EXPECT_FALSE(wrong_type.successful);
  EXPECT_NE(wrong_type.reason.find("Wrong parameter type"), std::string::npos) << wrong_type.reason;
  EXPECT_TRUE(node->get_parameter("use_sim_time").as_bool());
  EXPECT_THROW(rclcpp::Node("bad", with_sim_time(false).parameter_overrides(
                                       {rclcpp::Parameter("use_sim_time", "yes")})),
               rclcpp::exceptions::InvalidParameterTypeException);
}

TEST_F(SimTime, ReadersOnOtherThreadsSeeAMonotoneSimulationTime) {
  auto node = std::make_shared<rclcpp::Node>("controller", with_sim_time(true));
  std::atomic<bool> done{false};
  std::vector<std::thread> readers;
  std::atomic<int> violations{0};
  for (int r = 0; r < 3; ++r) {
    readers.emplace_back([&] {
      int64_t last = 0;
      while (!done.load()) {
        const int64_t now = node->now().nanoseconds();
        if (now < last) ++violations;
        last = now;
      }
    });
  }
  for (int32_t step = 1; step <= 2000; ++step) {
    clock_publisher->publish(clock_at(step / 1000, static_cast<uint32_t>(step % 1000) * 1000000u));
  }
  done.store(true);
  for (auto& reader : readers) reader.join();
  EXPECT_EQ(violations.load(), 0);
  EXPECT_EQ(node->now().nanoseconds(), 2 * kSecond);
}

// With simulation time the throttled macro is deterministic: it prints at the first call and
// then whenever a full period has passed since the last printed line.
TEST_F(SimTime, ThrottledLogPrintsOncePerPeriodOfTheGivenClock) {
  auto node = std::make_shared<rclcpp::Node>("throttled", with_sim_time(true));
  const std::vector<std::pair<int32_t, uint32_t>> calls = {
      {10, 0},         {10, 500000000}, {10, 999999999}, {11, 0},
      {11, 400000000}, {12, 200000000}, {12, 300000000}};
  testing::internal::CaptureStderr();
  for (const auto& [sec, nanosec] : calls) {
    clock_publisher->publish(clock_at(sec, nanosec));
    RCLCPP_WARN_THROTTLE(node->get_logger(), *node->get_clock(), 1000, "at %d.%09u", sec, nanosec);
  }
  const auto lines = split_lines(testing::internal::GetCapturedStderr());
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[0].find("at 10.000000000"), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find("at 11.000000000"), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find("at 12.200000000"), std::string::npos) << lines[2];
  EXPECT_EQ(lines[0].rfind("[WARN] ", 0), 0u);
}

class Parameters : public RosTest {};

TEST_F(Parameters, DeclareGetAndSetFollowTheDeclaredTypes) {
  auto node = std::make_shared<rclcpp::Node>(
      "node", rclcpp::NodeOptions().parameter_overrides(
                  {rclcpp::Parameter("gain", 2.5), rclcpp::Parameter("name", "from override")}));
  EXPECT_DOUBLE_EQ(node->declare_parameter("gain", 1.0), 2.5);  // the override wins
  EXPECT_EQ(node->declare_parameter("name", "default"), "from override");
  EXPECT_EQ(node->declare_parameter("count", 3), 3);
  const auto& flags =
      node->declare_parameter("flags", rclcpp::ParameterValue(std::vector<bool>{true, false}));
  EXPECT_EQ(flags.get<std::vector<bool>>(), std::vector<bool>({true, false}));
  EXPECT_THROW(node->declare_parameter("gain", 1.0),
               rclcpp::exceptions::ParameterAlreadyDeclaredException);
  EXPECT_THROW(node->declare_parameter("", 1.0), rclcpp::exceptions::InvalidParametersException);
  EXPECT_THROW(node->declare_parameter("name", 5),
               rclcpp::exceptions::ParameterAlreadyDeclaredException);

  double gain = 0.0;
  EXPECT_TRUE(node->get_parameter("gain", gain));
  EXPECT_DOUBLE_EQ(gain, 2.5);
  int count = 0;
  EXPECT_TRUE(node->get_parameter("count", count));
  EXPECT_EQ(count, 3);
  std::string missing = "unchanged";
  EXPECT_FALSE(node->get_parameter("missing", missing));
  EXPECT_EQ(missing, "unchanged");
  EXPECT_FALSE(node->get_parameter_or("missing", missing, std::string("alternative")));
  EXPECT_EQ(missing, "alternative");
  EXPECT_THROW(node->get_parameter("missing"), rclcpp::exceptions::ParameterNotDeclaredException);
  EXPECT_THROW(node->get_parameter("gain").as_bool(), rclcpp::ParameterTypeException);
  try {
    node->get_parameter("gain").as_string();
    ADD_FAILURE() << "a double read as a string";
  } catch (const rclcpp::ParameterTypeException& e) {
    EXPECT_STREQ(e.what(), "expected [string] got [double]");
  }

  EXPECT_TRUE(node->set_parameter(rclcpp::Parameter("gain", 4.0)).successful);
  EXPECT_DOUBLE_EQ(node->get_parameter("gain").as_double(), 4.0);
  const auto wrong = node->set_parameter(rclcpp::Parameter("gain", "four"));
  EXPECT_FALSE(wrong.successful);
  EXPECT_EQ(wrong.reason,
            "Wrong parameter type, parameter {gain} is of type {double}, setting it to {string} "
            "is not allowed.");
  const auto undeclared = node->set_parameter(rclcpp::Parameter("other", 1.0));
  EXPECT_FALSE(undeclared.successful);
  EXPECT_NE(undeclared.reason.find("not declared"), std::string::npos);
  EXPECT_FALSE(node->has_parameter("other"));
}

TEST_F(Parameters, ReadOnlyUndeclaredAndAutomaticallyDeclaredParameters) {
  rcl_interfaces::msg::ParameterDescriptor read_only;
  read_only.read_only = true;
  auto node = std::make_shared<rclcpp::Node>(
      "node", rclcpp::NodeOptions()
                  .allow_undeclared_parameters(true)
                  .automatically_declare_parameters_from_overrides(true)
                  .parameter_overrides({rclcpp::Parameter("auto_declared", int64_t{7})}));
  EXPECT_TRUE(node->has_parameter("auto_declared"));
  EXPECT_EQ(node->get_parameter("auto_declared").as_int(), 7);
  node->declare_parameter("fixed", 1.5, read_only);
  const auto result = node->set_parameter(rclcpp::Parameter("fixed", 2.0));
  EXPECT_FALSE(result.successful);
  EXPECT_NE(result.reason.find("read-only"), std::string::npos);
  EXPECT_DOUBLE_EQ(node->get_parameter("fixed").as_double(), 1.5);
  // Undeclared parameters are allowed here: set creates them, get of an unknown one is unset.
  EXPECT_TRUE(node->set_parameter(rclcpp::Parameter("free", "text")).successful);
  EXPECT_EQ(node->get_parameter("free").as_string(), "text");
  EXPECT_TRUE(node->set_parameter(rclcpp::Parameter("free", 3)).successful);  // dynamic type
  EXPECT_EQ(node->get_parameter("unknown").get_type(), rclcpp::PARAMETER_NOT_SET);
  EXPECT_EQ(rclcpp::Parameter("v", std::vector<double>{1.0, 2.5}).value_to_string(), "[1, 2.5]");
}

}  // namespace
