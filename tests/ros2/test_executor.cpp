// Executors: where and when callbacks run, how spinning ends, and their error paths.

#include <gtest/gtest.h>
#include <pthread.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "ros_test_support.hpp"
#include "std_msgs/msg/header.hpp"

namespace {

using velmora_test::eventually;
using velmora_test::RosTest;
using Header = std_msgs::msg::Header;
using namespace std::chrono_literals;

class Executors : public RosTest {
 protected:
  void SetUp() override {
    RosTest::SetUp();
    node = std::make_shared<rclcpp::Node>("listener");
    talker = std::make_shared<rclcpp::Node>("talker");
    publisher = talker->create_publisher<Header>("/topic", rclcpp::QoS(rclcpp::KeepAll()));
  }

  rclcpp::Node::SharedPtr node;
  rclcpp::Node::SharedPtr talker;
  rclcpp::Publisher<Header>::SharedPtr publisher;
};

// CPU time consumed so far by the thread `handle`.
std::chrono::nanoseconds thread_cpu_time(pthread_t handle) {
  clockid_t clock_id;
  EXPECT_EQ(pthread_getcpuclockid(handle, &clock_id), 0);
  timespec ts{};
  clock_gettime(clock_id, &ts);
  return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
}

TEST_F(Executors, SpinRunsCallbacksOnItsThreadAndReturnsOnCancel) {
  std::atomic<int> count{0};
  std::thread::id callback_thread;
  auto subscription = node->create_subscription<Header>("/topic", 10, [&](const Header&) {
    callback_thread = std::this_thread::get_id();
    ++count;
  });
  rclcpp::executors::SingleThreadedExecutor executor;
  executor.add_node(node);
  std::thread::id spinner_id;
  std::thread spinner([&] {
    spinner_id = std::this_thread::get_id();
    executor.spin();
  });
  ASSERT_TRUE(eventually([&] { return executor.is_spinning(); }));
  for (int i = 0; i < 5; ++i) publisher->publish(Header());
  EXPECT_TRUE(eventually([&] { return count.load() == 5; }));
  executor.cancel();
  spinner.join();
  EXPECT_FALSE(executor.is_spinning());
  EXPECT_EQ(callback_thread, spinner_id);
  // After cancel the executor may spin again.
  publisher->publish(Header());
  executor.spin_some();
  EXPECT_EQ(count.load(), 6);
}

TEST_F(Executors, SpinAndTheFreeSpinFunctionReturnWhenTheContextShutsDown) {
  rclcpp::executors::SingleThreadedExecutor executor;
  auto other = std::make_shared<rclcpp::Node>("other");
  executor.add_node(other);
  auto spin_done = std::async(std::launch::async, [&] { executor.spin(); });
  auto free_spin_done = std::async(std::launch::async, [&] { rclcpp::spin(node); });
  ASSERT_TRUE(eventually([&] { return executor.is_spinning(); }));
  std::this_thread::sleep_for(20ms);  // let the free spin start waiting too
  rclcpp::shutdown();
  EXPECT_EQ(spin_done.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(free_spin_done.wait_for(5s), std::future_status::ready);
  // Spinning a shut-down context returns at once.
  EXPECT_EQ(std::async(std::launch::async, [&] { executor.spin(); }).wait_for(5s),
            std::future_status::ready);
}

TEST_F(Executors, AnIdleSpinSleepsInsteadOfPolling) {
  rclcpp::executors::SingleThreadedExecutor executor;
  auto subscription = node->create_subscription<Header>("/topic", 10, [](const Header&) {});
  executor.add_node(node);
  std::thread spinner([&] { executor.spin(); });
  ASSERT_TRUE(eventually([&] { return executor.is_spinning(); }));
  const auto cpu_before = thread_cpu_time(spinner.native_handle());
  std::this_thread::sleep_for(300ms);
  const auto cpu_used = thread_cpu_time(spinner.native_handle()) - cpu_before;
  executor.cancel();
  spinner.join();
  // A polling loop would burn the whole 300 ms; a blocked one next to nothing.
  EXPECT_LT(cpu_used, 60ms);
}

TEST_F(Executors, SpinSomeServesWhatIsQueuedOncePerSubscriptionAndNeverWaits) {
  std::vector<std::string> order;
  auto a =
      node->create_subscription<Header>("/topic", 10, [&](const Header&) { order.push_back("a"); });
  auto b_publisher = talker->create_publisher<Header>("/other", 10);
  int chain = 0;
  auto b = node->create_subscription<Header>("/other", 10, [&](const Header&) {
    order.push_back("b");
    if (++chain < 3) b_publisher->publish(Header());  // new work created by a callback
  });
  rclcpp::executors::SingleThreadedExecutor executor;
  executor.add_node(node);
  const auto start = std::chrono::steady_clock::now();
  executor.spin_some();  // nothing queued: returns without waiting
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  EXPECT_TRUE(order.empty());

  publisher->publish(Header());
  publisher->publish(Header());
  b_publisher->publish(Header());
  executor.spin_some();
  EXPECT_EQ(order, std::vector<std::string>({"a", "b"}));
  // spin_all also runs what callbacks publish, until nothing is left.
  executor.spin_all(1s);
  EXPECT_EQ(order, std::vector<std::string>({"a", "b", "a", "b", "b"}));
  EXPECT_THROW(executor.spin_all(-1ns), std::invalid_argument);
}

TEST_F(Executors, SpinOnceWaitsForOneMessageOrTheTimeoutAndServesSubscriptionsInTurn) {
  std::vector<std::string> order;
  auto a =
      node->create_subscription<Header>("/topic", 10, [&](const Header&) { order.push_back("a"); });
  auto other_publisher = talker->create_publisher<Header>("/other", 10);
  auto b =
      node->create_subscription<Header>("/other", 10, [&](const Header&) { order.push_back("b"); });
  rclcpp::executors::SingleThreadedExecutor executor;
  executor.add_node(node);
  const auto start = std::chrono::steady_clock::now();
  executor.spin_once(30ms);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);
  EXPECT_TRUE(order.empty());

  for (int i = 0; i < 3; ++i) {
    publisher->publish(Header());
    other_publisher->publish(Header());
  }
  for (int i = 0; i < 4; ++i) executor.spin_once(0ns);
  // Neither subscription starves the other.
  EXPECT_EQ(std::count(order.begin(), order.end(), "a"), 2);
  EXPECT_EQ(std::count(order.begin(), order.end(), "b"), 2);

  // A message published while spin_once waits wakes it.
  order.clear();
  executor.spin_all(0ns);  // drop the rest of the queue
  order.clear();
  auto waiter = std::async(std::launch::async, [&] { executor.spin_once(); });
  ASSERT_TRUE(eventually([&] { return executor.is_spinning(); }));
  std::this_thread::sleep_for(10ms);
  EXPECT_TRUE(order.empty());
  other_publisher->publish(Header());
  ASSERT_EQ(waiter.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(order, std::vector<std::string>({"b"}));
}

TEST_F(Executors, NodesBelongToOneExecutorAndSpinningIsExclusive) {
  rclcpp::executors::SingleThreadedExecutor first, second;
  first.add_node(node);
  try {
    second.add_node(node);
    FAIL() << "node added twice";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("'/listener'"), std::string::npos) << e.what();
  }
  EXPECT_THROW(second.remove_node(node), std::runtime_error);
  first.remove_node(node);
  EXPECT_NO_THROW(second.add_node(node));
  {
    rclcpp::executors::SingleThreadedExecutor scoped;
    scoped.add_node(talker);
  }  // a destroyed executor releases its nodes
  EXPECT_NO_THROW(first.add_node(talker));

  std::thread spinner([&] { second.spin(); });
  ASSERT_TRUE(eventually([&] { return second.is_spinning(); }));
  try {
    second.spin_some();
    ADD_FAILURE() << "spun twice";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "spin_some() called while already spinning");
  }
  EXPECT_THROW(second.spin(), std::runtime_error);
  second.cancel();
  spinner.join();
}

TEST_F(Executors, ACallbackExceptionLeavesSpinAndTheExecutorUsable) {
  int calls = 0;
  auto subscription = node->create_subscription<Header>("/topic", 10, [&](const Header& m) {
    ++calls;
    if (m.frame_id == "bad") throw std::runtime_error("callback failed");
  });
  rclcpp::executors::SingleThreadedExecutor executor;
  executor.add_node(node);
  Header bad;
  bad.frame_id = "bad";
  publisher->publish(bad);
  EXPECT_THROW(executor.spin(), std::runtime_error);
  EXPECT_FALSE(executor.is_spinning());
  publisher->publish(Header());
  executor.spin_some();
  EXPECT_EQ(calls, 2);
}

}  // namespace
