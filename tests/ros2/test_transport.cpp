// The in-process transport: topic name resolution, delivery across nodes and threads, queue
// depths, QoS matching and message types per topic.

#include <array>
#include <atomic>
#include <map>
#include <mutex>
#include <stdexcept>

#include "Ros2TestSupport.h"
#include "communication/msg/actuator_cmds.hpp"

namespace {

using namespace velmora_test;

class Transport : public RosTest {};

TEST_F(Transport, TopicsResolveAgainstTheNodeNamespace) {
  const std::vector<std::array<const char*, 3>> cases = {
      // namespace, topic, resolved: the controller's topic with the three kinds of prefix,
      // relative and absolute names, private names and substitutions.
      {"", "actuators_cmds", "/actuators_cmds"},
      {"", "robot/actuators_cmds", "/robot/actuators_cmds"},
      {"", "robotactuators_cmds", "/robotactuators_cmds"},
      {"a/b", "x/y", "/a/b/x/y"},
      {"/robot", "/clock", "/clock"},
      {"/robot", "~", "/robot/ctrl"},
      {"", "~/state", "/ctrl/state"},
      {"/robot", "{node}/cmd", "/robot/ctrl/cmd"},
      {"/robot", "{ns}/cmd", "/robot/cmd"},
  };
  for (const auto& [node_namespace, topic, expected] : cases) {
    auto node = std::make_shared<rclcpp::Node>("ctrl", node_namespace);
    const auto publisher = node->create_publisher<Header>(topic, 1);
    EXPECT_STREQ(publisher->get_topic_name(), expected) << topic;
    EXPECT_EQ(node->count_publishers(expected), 1u) << topic;
  }
}

TEST_F(Transport, AMessageReachesEverySubscriptionOfItsTopicWhenSpun) {
  auto talker = std::make_shared<rclcpp::Node>("talker");
  auto listener = std::make_shared<rclcpp::Node>("listener", "/robot");
  std::vector<Header> got_a, got_b, got_other;
  auto a = talker->create_subscription<Header>("/chatter", 10,
                                               [&](const Header& m) { got_a.push_back(m); });
  auto b = listener->create_subscription<Header>("/chatter", 10,
                                                 [&](const Header& m) { got_b.push_back(m); });
  auto other = listener->create_subscription<Header>(  // "/robot/chatter"
      "chatter", 10, [&](const Header& m) { got_other.push_back(m); });
  auto publisher = talker->create_publisher<Header>("chatter", 10);
  EXPECT_EQ(publisher->get_subscription_count(), 2u);
  const Header sent = stamped(42, "base");
  publisher->publish(sent);
  EXPECT_TRUE(got_a.empty());  // nothing runs before spinning
  drain(talker);
  drain(listener);
  EXPECT_EQ(got_a, std::vector<Header>({sent}));
  EXPECT_EQ(got_b, std::vector<Header>({sent}));
  EXPECT_TRUE(got_other.empty());
}

TEST_F(Transport, EachSubscriptionQueueKeepsItsOwnDepth) {
  auto node = std::make_shared<rclcpp::Node>("node");
  std::map<int, std::vector<int32_t>> received;  // by depth, 0 = keep all
  std::vector<rclcpp::Subscription<Header>::SharedPtr> subscriptions;
  for (const int depth : {0, 1, 3}) {
    subscriptions.push_back(node->create_subscription<Header>(
        "/q", depth == 0 ? rclcpp::QoS(rclcpp::KeepAll()) : rclcpp::QoS(depth),
        [&received, depth](const Header& m) { received[depth].push_back(m.stamp.sec); }));
  }
  auto publisher = node->create_publisher<Header>("/q", 1);  // does not limit the subscriptions
  for (int32_t i = 0; i < 10; ++i) publisher->publish(stamped(i));
  drain(node);
  EXPECT_EQ(received[0], std::vector<int32_t>({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(received[1], std::vector<int32_t>({9}));
  EXPECT_EQ(received[3], std::vector<int32_t>({7, 8, 9}));
}

// An incompatible pair is not connected, and creating the later endpoint prints a warning
// naming the offending policy: operators rely on it to find silent topics.
TEST_F(Transport, ReliabilityAndDurabilityDecideWhichEndpointsMatch) {
  auto node = std::make_shared<rclcpp::Node>("node");
  int reliable_count = 0, best_effort_count = 0;
  auto reliable = node->create_subscription<Header>("/sensor", rclcpp::QoS(10).reliable(),
                                                    [&](const Header&) { ++reliable_count; });
  auto best_effort = node->create_subscription<Header>("/sensor", rclcpp::SensorDataQoS(),
                                                       [&](const Header&) { ++best_effort_count; });
  testing::internal::CaptureStderr();
  auto sensor_publisher = node->create_publisher<Header>("/sensor", rclcpp::SensorDataQoS());
  std::string warning = testing::internal::GetCapturedStderr();
  EXPECT_NE(warning.find("incompatible QoS"), std::string::npos) << warning;
  EXPECT_NE(warning.find("RELIABILITY_QOS_POLICY"), std::string::npos) << warning;
  EXPECT_EQ(sensor_publisher->get_subscription_count(), 1u);
  sensor_publisher->publish(Header());
  node->create_publisher<Header>("/sensor", 10)->publish(Header());  // reliable: reaches both
  drain(node);
  EXPECT_EQ(reliable_count, 1);
  EXPECT_EQ(best_effort_count, 2);
  // A transient-local publisher replays its history to late transient-local subscriptions only.
  auto latched = node->create_publisher<Header>("/latched", rclcpp::QoS(2).transient_local());
  for (int32_t i = 0; i < 3; ++i) latched->publish(stamped(i));
  std::vector<int32_t> late_transient, late_volatile;
  auto transient_sub = node->create_subscription<Header>(
      "/latched", rclcpp::QoS(10).transient_local(),
      [&](const Header& m) { late_transient.push_back(m.stamp.sec); });
  auto volatile_sub = node->create_subscription<Header>(
      "/latched", 10, [&](const Header& m) { late_volatile.push_back(m.stamp.sec); });
  drain(node);
  EXPECT_EQ(late_transient, std::vector<int32_t>({1, 2}));
  EXPECT_TRUE(late_volatile.empty());
  auto plain = node->create_publisher<Header>("/plain", 10);
  testing::internal::CaptureStderr();
  auto wants_history = node->create_subscription<Header>(
      "/plain", rclcpp::QoS(10).transient_local(), [](const Header&) {});
  warning = testing::internal::GetCapturedStderr();
  EXPECT_NE(warning.find("DURABILITY_QOS_POLICY"), std::string::npos) << warning;
  EXPECT_EQ(plain->get_subscription_count(), 0u);
}

TEST_F(Transport, ATopicCarriesOneMessageTypeWhileItHasEndpoints) {
  using ActuatorCmds = communication::msg::ActuatorCmds;
  auto node = std::make_shared<rclcpp::Node>("node", "/robot");
  auto header_publisher = node->create_publisher<Header>("typed", 1);
  try {
    node->create_subscription<ActuatorCmds>("typed", 1, [](const ActuatorCmds&) {});
    FAIL() << "second type accepted";
  } catch (const std::invalid_argument& e) {
    for (const char* part :
         {"'/robot/typed'", "communication/msg/ActuatorCmds", "std_msgs/msg/Header"}) {
      EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
    }
  }
  header_publisher.reset();  // once every endpoint is gone the topic may carry another type
  EXPECT_NO_THROW(node->create_publisher<ActuatorCmds>("typed", 1));
}

// Publisher threads and subscriber nodes spun on their own threads: every subscription receives
// every message exactly once, in each publisher's order.
TEST_F(Transport, ConcurrentPublishersAndSpinningSubscribersLoseAndReorderNothing) {
  constexpr int kPublishers = 4, kMessages = 500, kSubscribers = 3;
  struct Sink {
    std::mutex mutex;
    std::vector<std::vector<int32_t>> by_publisher{kPublishers};
    std::atomic<int> total{0};
  };
  std::vector<std::unique_ptr<Sink>> sinks;
  std::vector<rclcpp::Node::SharedPtr> nodes;  // executors hold their nodes weakly
  std::vector<rclcpp::Subscription<Header>::SharedPtr> subscriptions;
  std::vector<std::unique_ptr<rclcpp::executors::SingleThreadedExecutor>> executors;
  std::vector<std::thread> threads;
  for (int s = 0; s < kSubscribers; ++s) {
    Sink* sink = sinks.emplace_back(std::make_unique<Sink>()).get();
    const auto& node =
        nodes.emplace_back(std::make_shared<rclcpp::Node>("listener_" + std::to_string(s)));
    subscriptions.push_back(node->create_subscription<Header>(
        "/load", rclcpp::QoS(rclcpp::KeepAll()), [sink](const Header& m) {
          std::lock_guard<std::mutex> lock(sink->mutex);
          sink->by_publisher[std::stoi(m.frame_id)].push_back(m.stamp.sec);
          ++sink->total;
        }));
    executors.push_back(std::make_unique<rclcpp::executors::SingleThreadedExecutor>());
    executors.back()->add_node(node);
    threads.emplace_back([executor = executors.back().get()] { executor->spin(); });
  }
  for (int p = 0; p < kPublishers; ++p) {
    threads.emplace_back([p] {
      auto node = std::make_shared<rclcpp::Node>("talker_" + std::to_string(p));
      auto publisher = node->create_publisher<Header>("/load", rclcpp::QoS(rclcpp::KeepAll()));
      for (int32_t i = 0; i < kMessages; ++i) publisher->publish(stamped(i, std::to_string(p)));
    });
  }
  for (const auto& sink : sinks) {
    EXPECT_TRUE(eventually([&] { return sink->total.load() >= kPublishers * kMessages; }));
  }
  for (auto& executor : executors) {
    ASSERT_TRUE(eventually([&] { return executor->is_spinning(); }));
    executor->cancel();
  }
  for (auto& thread : threads) thread.join();
  std::vector<int32_t> expected(kMessages);
  for (int32_t i = 0; i < kMessages; ++i) expected[i] = i;
  for (const auto& sink : sinks) {
    EXPECT_EQ(sink->total.load(), kPublishers * kMessages);
    for (int p = 0; p < kPublishers; ++p) EXPECT_EQ(sink->by_publisher[p], expected);
  }
}

}  // namespace
