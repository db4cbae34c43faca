// init / shutdown / ok, command-line parameter overrides, sleeping and the signal handlers.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ros_test_support.hpp"

namespace {

using velmora_test::eventually;
using namespace std::chrono_literals;

void init_with(std::vector<const char*> args,
               rclcpp::SignalHandlerOptions signals = rclcpp::SignalHandlerOptions::None) {
  args.insert(args.begin(), "program");
  rclcpp::init(static_cast<int>(args.size()), args.data(), rclcpp::InitOptions(), signals);
}

TEST(Init, OkFollowsInitAndShutdownAndTheContextCanRestart) {
  EXPECT_FALSE(rclcpp::ok());
  EXPECT_THROW(rclcpp::Node("early"), rclcpp::exceptions::RCLError);
  init_with({});
  EXPECT_TRUE(rclcpp::ok());
  EXPECT_THROW(init_with({}), rclcpp::ContextAlreadyInitialized);
  // The context keeps its callbacks for later shutdowns too, so this one owns its counter.
  auto shutdown_callbacks = std::make_shared<std::atomic<int>>(0);
  rclcpp::on_shutdown([shutdown_callbacks] { ++*shutdown_callbacks; });
  EXPECT_TRUE(rclcpp::shutdown(nullptr, "test reason"));
  EXPECT_FALSE(rclcpp::ok());
  EXPECT_EQ(rclcpp::contexts::get_global_default_context()->shutdown_reason(), "test reason");
  EXPECT_FALSE(rclcpp::shutdown());
  EXPECT_EQ(shutdown_callbacks->load(), 1);
  EXPECT_THROW(rclcpp::Node("late"), rclcpp::exceptions::RCLError);
  init_with({});
  EXPECT_TRUE(rclcpp::ok());
  EXPECT_NO_THROW(rclcpp::Node("again"));
  rclcpp::shutdown();
  EXPECT_EQ(shutdown_callbacks->load(), 2);
}

TEST(Init, RosArgumentsGiveParameterOverridesToEveryNode) {
  init_with({"--verbose", "--ros-args", "-p", "use_sim_time:=true", "-p", "gain:=2.5", "--param",
             "count:=-3", "-p", "label:=left leg", "--", "-p", "ignored:=1"});
  auto node = std::make_shared<rclcpp::Node>("node");
  EXPECT_TRUE(node->get_parameter("use_sim_time").as_bool());
  EXPECT_EQ(node->now().nanoseconds(), 0);
  EXPECT_DOUBLE_EQ(node->declare_parameter("gain", 0.0), 2.5);
  EXPECT_EQ(node->declare_parameter("count", 0), -3);
  EXPECT_EQ(node->declare_parameter("label", ""), "left leg");
  EXPECT_EQ(node->declare_parameter("ignored", 0), 0);  // after "--": not a ROS argument
  // Node options win over the command line, and can ignore it.
  auto own = std::make_shared<rclcpp::Node>(
      "own", rclcpp::NodeOptions().parameter_overrides({rclcpp::Parameter("gain", 1.0)}));
  EXPECT_DOUBLE_EQ(own->declare_parameter("gain", 0.0), 1.0);
  auto isolated =
      std::make_shared<rclcpp::Node>("isolated", rclcpp::NodeOptions().use_global_arguments(false));
  EXPECT_FALSE(isolated->get_parameter("use_sim_time").as_bool());
  rclcpp::shutdown();
}

TEST(Init, MalformedRosArgumentsAreRejectedWithoutStartingTheContext) {
  try {
    init_with({"--ros-args", "-r", "a:=b", "--log-level", "debug"});
    FAIL() << "accepted";
  } catch (const rclcpp::exceptions::UnknownROSArgsError& e) {
    EXPECT_EQ(e.unknown_ros_args, std::vector<std::string>({"-r", "a:=b", "--log-level", "debug"}));
    EXPECT_NE(std::string(e.what()).find("'-r'"), std::string::npos);
  }
  EXPECT_FALSE(rclcpp::ok());
  EXPECT_THROW(init_with({"--ros-args", "-p"}), std::invalid_argument);
  EXPECT_THROW(init_with({"--ros-args", "-p", "no_assignment"}), std::invalid_argument);
  EXPECT_THROW(init_with({"--ros-args", "-p", ":=1"}), std::invalid_argument);
  EXPECT_FALSE(rclcpp::ok());
  init_with({"plain", "-p", "x:=1"});  // outside --ros-args nothing is interpreted
  EXPECT_TRUE(rclcpp::ok());
  rclcpp::shutdown();
}

TEST(Init, SleepForLastsItsDurationUnlessTheContextShutsDown) {
  init_with({});
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(rclcpp::sleep_for(20ms));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 20ms);
  auto long_sleep = std::async(std::launch::async, [] { return rclcpp::sleep_for(60s); });
  std::this_thread::sleep_for(20ms);
  rclcpp::shutdown();
  ASSERT_EQ(long_sleep.wait_for(5s), std::future_status::ready);
  EXPECT_FALSE(long_sleep.get());
  // After shutdown a sleep still lasts its duration: loops that ignore ok() keep their pace.
  const auto after_shutdown = std::chrono::steady_clock::now();
  EXPECT_FALSE(rclcpp::sleep_for(20ms));
  EXPECT_GE(std::chrono::steady_clock::now() - after_shutdown, 20ms);
}

TEST(Init, SigintAndSigtermShutTheDefaultContextDown) {
  for (const auto& [signal_number, option] :
       {std::pair{SIGINT, rclcpp::SignalHandlerOptions::SigInt},
        std::pair{SIGTERM, rclcpp::SignalHandlerOptions::All}}) {
    SCOPED_TRACE(signal_number);
    init_with({}, option);
    ASSERT_TRUE(rclcpp::ok());
    std::raise(signal_number);
    EXPECT_TRUE(eventually([] { return !rclcpp::ok(); }, 5s));
    EXPECT_EQ(rclcpp::contexts::get_global_default_context()->shutdown_reason(), "signal handler");
    rclcpp::shutdown();  // removes the handlers
    EXPECT_FALSE(rclcpp::uninstall_signal_handlers());
  }
}

}  // namespace
