// The in-process transport: topic name resolution, delivery across nodes and threads, queue
// depths and QoS matching.

#include <array>
#include <atomic>
#include <map>

#include "Ros2TestSupport.h"

namespace {

using namespace velmora_test;

class Transport : public RosTest {};

TEST_F(Transport, TopicsResolveAgainstTheNodeNamespace) {
  // Namespace, topic, resolved: the controller's topic with the three kinds of prefix, then
  // relative, absolute and private names and substitutions.
  for (const auto& [node_namespace, topic, expected] : std::vector<std::array<const char*, 3>>{
           {"", "actuators_cmds", "/actuators_cmds"},
           {"", "robot/actuators_cmds", "/robot/actuators_cmds"},
           {"", "robotactuators_cmds", "/robotactuators_cmds"},
           {"/robot", "/clock", "/clock"},
           {"/robot", "~/state", "/robot/ctrl/state"},
           {"/robot", "{ns}/cmd", "/robot/cmd"}}) {
    auto node = std::make_shared<rclcpp::Node>("ctrl", node_namespace);
    const auto publisher = node->create_publisher<Header>(topic, 1);
    EXPECT_STREQ(publisher->get_topic_name(), expected) << topic;
  }
}

TEST_F(Transport, AMessageReachesEverySubscriptionOfItsTopicWhenSpun) {
  auto talker = std::make_shared<rclcpp::Node>("talker");
  auto listener = std::make_shared<rclcpp::Node>("listener", "/robot");
  std::map<std::string, std::vector<Header>> got;
  const auto record = [&got](const std::string& name) {
    return [&got, name](const Header& m) { got[name].push_back(m); };
  };
  auto a = talker->create_subscription<Header>("/chatter", 10, record("a"));
  auto b = listener->create_subscription<Header>("/chatter", 10, record("b"));
  auto other = listener->create_subscription<Header>("chatter", 10, record("other"));
  auto publisher = talker->create_publisher<Header>("chatter", 10);
  EXPECT_EQ(publisher->get_subscription_count(), 2u);
  const Header sent = stamped(42, "base");
  publisher->publish(sent);
  EXPECT_TRUE(got.empty());  // nothing runs before spinning
  drain(talker);
  drain(listener);
  EXPECT_EQ(got, (std::map<std::string, std::vector<Header>>{{"a", {sent}}, {"b", {sent}}}));
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
TEST_F(Transport, ReliabilityDecidesWhichEndpointsMatch) {
  auto node = std::make_shared<rclcpp::Node>("node");
  std::map<std::string, std::vector<int32_t>> got;
  const auto record = [&got](const std::string& name) {
    return [&got, name](const Header& m) { got[name].push_back(m.stamp.sec); };
  };
  auto reliable = node->create_subscription<Header>("/s", rclcpp::QoS(10), record("reliable"));
  auto best_effort =
      node->create_subscription<Header>("/s", rclcpp::SensorDataQoS(), record("best effort"));
  testing::internal::CaptureStderr();
  auto sensor_publisher = node->create_publisher<Header>("/s", rclcpp::SensorDataQoS());
  const std::string warning = testing::internal::GetCapturedStderr();
  EXPECT_NE(warning.find("incompatible QoS"), std::string::npos) << warning;
  EXPECT_NE(warning.find("RELIABILITY_QOS_POLICY"), std::string::npos) << warning;
  sensor_publisher->publish(stamped(1));
  node->create_publisher<Header>("/s", 10)->publish(stamped(2));  // reliable: reaches both
  drain(node);
  EXPECT_EQ(got, (std::map<std::string, std::vector<int32_t>>{{"reliable", {2}},
                                                              {"best effort", {1, 2}}}));
}

// Publisher threads with their own nodes and a subscriber spun on its own thread: the
// subscription receives every message exactly once, in each publisher's order.
TEST_F(Transport, ConcurrentPublishersAndASpinningSubscriberLoseAndReorderNothing) {
  constexpr int kPublishers = 4, kMessages = 1000;
  std::vector<std::vector<int32_t>> by_publisher(kPublishers);
  std::atomic<int> total{0};
  auto node = std::make_shared<rclcpp::Node>("listener");
  auto subscription = node->create_subscription<Header>(
      "/load", rclcpp::QoS(rclcpp::KeepAll()), [&](const Header& m) {
        by_publisher[std::stoi(m.frame_id)].push_back(m.stamp.sec);  // callbacks run one at a time
        ++total;
      });
  rclcpp::executors::SingleThreadedExecutor executor;
  executor.add_node(node);
  std::vector<std::thread> threads;
  threads.emplace_back([&] { executor.spin(); });
  for (int p = 0; p < kPublishers; ++p) {
    threads.emplace_back([p] {
      auto talker = std::make_shared<rclcpp::Node>("talker_" + std::to_string(p));
      auto publisher = talker->create_publisher<Header>("/load", rclcpp::QoS(rclcpp::KeepAll()));
      for (int32_t i = 0; i < kMessages; ++i) publisher->publish(stamped(i, std::to_string(p)));
    });
  }
  EXPECT_TRUE(eventually([&] { return total.load() >= kPublishers * kMessages; }));
  ASSERT_TRUE(eventually([&] { return executor.is_spinning(); }));
  executor.cancel();
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(total.load(), kPublishers * kMessages);
  std::vector<int32_t> expected(kMessages);
  for (int32_t i = 0; i < kMessages; ++i) expected[i] = i;
  for (int p = 0; p < kPublishers; ++p) EXPECT_EQ(by_publisher[p], expected) << p;
}

}  // namespace
