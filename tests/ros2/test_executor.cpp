// Executors: where and when callbacks run, how spinning ends, and their error paths.

#include <future>
#include <stdexcept>

#include "Ros2TestSupport.h"

namespace {

using namespace velmora_test;

class Executors : public RosTest {
 protected:
  void SetUp() override {
    RosTest::SetUp();
    node = std::make_shared<rclcpp::Node>("listener");
    a_publisher = node->create_publisher<Header>("/a", 10);
    b_publisher = node->create_publisher<Header>("/b", 10);
    a = node->create_subscription<Header>("/a", 10, [this](const Header&) { record("a"); });
    // Each "b" callback publishes another "b" until three have run: work made by callbacks.
    b = node->create_subscription<Header>("/b", 10, [this](const Header&) {
      if (record("b") < 3) b_publisher->publish(Header());
    });
    executor.add_node(node);
  }
  /// Appends `name` to the calls; returns how often it ran so far.
  long record(const std::string& name) {
    calls.push_back(name);
    return std::count(calls.begin(), calls.end(), name);
  }
  rclcpp::Node::SharedPtr node;
  rclcpp::Publisher<Header>::SharedPtr a_publisher, b_publisher;
  rclcpp::Subscription<Header>::SharedPtr a, b;
  rclcpp::executors::SingleThreadedExecutor executor;
  std::vector<std::string> calls;
};

TEST_F(Executors, SpinSomeServesEachSubscriptionOnceSpinAllUntilNothingIsLeft) {
  const auto start = std::chrono::steady_clock::now();
  executor.spin_some();  // nothing queued: returns without waiting
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  a_publisher->publish(Header());
  a_publisher->publish(Header());
  b_publisher->publish(Header());
  executor.spin_some();
  EXPECT_EQ(calls, std::vector<std::string>({"a", "b"}));
  executor.spin_all(1s);
  EXPECT_EQ(calls, std::vector<std::string>({"a", "b", "a", "b", "b"}));
  EXPECT_THROW(executor.spin_all(-1ns), std::invalid_argument);
}

TEST_F(Executors, SpinOnceWaitsForOneMessageOrTheTimeout) {
  const auto start = std::chrono::steady_clock::now();
  executor.spin_once(30ms);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);
  auto waiter = std::async(std::launch::async, [&] { executor.spin_once(); });
  ASSERT_TRUE(eventually([&] { return executor.is_spinning(); }));
  a_publisher->publish(Header());
  ASSERT_EQ(waiter.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(calls, std::vector<std::string>({"a"}));
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
  EXPECT_FALSE(executor.is_spinning());
  auto spin_done = std::async(std::launch::async, [&] { executor.spin(); });
  auto free_spin_done =
      std::async(std::launch::async, [] { rclcpp::spin(std::make_shared<rclcpp::Node>("other")); });
  ASSERT_TRUE(eventually([&] { return executor.is_spinning(); }));
  std::this_thread::sleep_for(20ms);  // let the free spin start waiting too
  rclcpp::shutdown();
  EXPECT_EQ(spin_done.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(free_spin_done.wait_for(5s), std::future_status::ready);
}

TEST_F(Executors, ACallbackExceptionLeavesSpinAndTheExecutorUsable) {
  auto failing = node->create_subscription<Header>("/fail", 10, [&](const Header& m) {
    if (record("fail") == 1) throw std::runtime_error(m.frame_id);
  });
  auto publisher = node->create_publisher<Header>("/fail", 10);
  publisher->publish(Header());
  publisher->publish(Header());
  EXPECT_THROW(executor.spin(), std::runtime_error);
  EXPECT_FALSE(executor.is_spinning());
  executor.spin_some();
  EXPECT_EQ(calls.size(), 2u);
}

}  // namespace
