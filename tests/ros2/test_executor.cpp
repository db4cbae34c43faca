// Executors: where and when callbacks run, how spinning ends, and their error paths.

#include <algorithm>
#include <future>
#include <stdexcept>

#include "Ros2TestSupport.h"

namespace {

using namespace velmora_test;

/// A node with two topics: "a" records its calls; each "b" callback publishes another "b" until
/// three have run (work made by callbacks).
class Executors : public RosTest {
 protected:
  Executors() { executor.add_node(node); }
  long record(const std::string& name) {
    calls.push_back(name);
    return std::count(calls.begin(), calls.end(), name);
  }
  rclcpp::Node::SharedPtr node = std::make_shared<rclcpp::Node>("listener");
  rclcpp::Publisher<Header>::SharedPtr a_publisher = node->create_publisher<Header>("/a", 10);
  rclcpp::Publisher<Header>::SharedPtr b_publisher = node->create_publisher<Header>("/b", 10);
  rclcpp::Subscription<Header>::SharedPtr a =
      node->create_subscription<Header>("/a", 10, [this](const Header&) { record("a"); });
  rclcpp::Subscription<Header>::SharedPtr b =
      node->create_subscription<Header>("/b", 10, [this](const Header&) {
        if (record("b") < 3) b_publisher->publish(Header());
      });
  rclcpp::executors::SingleThreadedExecutor executor;
  std::vector<std::string> calls;
};

TEST_F(Executors, SpinSomeServesEachSubscriptionOnceAndSpinAllUntilNothingIsLeft) {
  a_publisher->publish(Header());
  a_publisher->publish(Header());
  b_publisher->publish(Header());
  executor.spin_some();
  EXPECT_EQ(calls, std::vector<std::string>({"a", "b"}));
  executor.spin_all(1s);
  EXPECT_EQ(calls, std::vector<std::string>({"a", "b", "a", "b", "b"}));
  EXPECT_THROW(executor.spin_all(-1ns), std::invalid_argument);
}

TEST_F(Executors, SpinRunsCallbacksOnItsThreadUntilCancelOrShutdownAndIsExclusive) {
  std::atomic<std::thread::id> callback_thread{};
  auto here = node->create_subscription<Header>(
      "/here", 10, [&](const Header&) { callback_thread = std::this_thread::get_id(); });
  std::thread spinner([&] { executor.spin(); });
  ASSERT_TRUE(eventually([&] { return executor.is_spinning(); }));
  EXPECT_THROW(executor.spin_some(), std::runtime_error);
  rclcpp::executors::SingleThreadedExecutor second;
  EXPECT_THROW(second.add_node(node), std::runtime_error);  // a node has one executor
  node->create_publisher<Header>("/here", 10)->publish(Header());
  EXPECT_TRUE(eventually([&] { return callback_thread.load() == spinner.get_id(); }));
  executor.cancel();
  spinner.join();
  auto spin_done = std::async(std::launch::async, [&] { executor.spin(); });
  auto free_spin_done =
      std::async(std::launch::async, [] { rclcpp::spin(std::make_shared<rclcpp::Node>("other")); });
  ASSERT_TRUE(eventually([&] { return executor.is_spinning(); }));
  std::this_thread::sleep_for(20ms);  // let the free spin start waiting too
  rclcpp::shutdown();
  EXPECT_EQ(spin_done.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(free_spin_done.wait_for(5s), std::future_status::ready);
}

}  // namespace
