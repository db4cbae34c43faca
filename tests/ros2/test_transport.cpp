// The in-process transport: delivery across nodes and threads, queue depths, QoS matching,
// message types per topic and endpoint lifetimes.

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "communication/msg/actuator_cmds.hpp"
#include "ros_test_support.hpp"
#include "std_msgs/msg/header.hpp"

namespace {

using velmora_test::eventually;
using velmora_test::RosTest;
using Header = std_msgs::msg::Header;
using ActuatorCmds = communication::msg::ActuatorCmds;

Header stamped(int32_t sec, const std::string& frame = "") {
  Header header;
  header.stamp.sec = sec;
  header.frame_id = frame;
  return header;
}

// Runs every callback that is queued for `node`.
void drain(const rclcpp::Node::SharedPtr& node) {
  rclcpp::executors::SingleThreadedExecutor executor;
  executor.add_node(node);
  executor.spin_all(std::chrono::seconds(5));
}

class Transport : public RosTest {};

TEST_F(Transport, AMessageReachesEverySubscriptionOfItsTopicAcrossNodes) {
  auto talker = std::make_shared<rclcpp::Node>("talker");
  auto listener_a = std::make_shared<rclcpp::Node>("listener_a");
  auto listener_b = std::make_shared<rclcpp::Node>("listener_b", "/robot");
  std::vector<Header> got_a, got_b, got_other;
  auto sub_a = listener_a->create_subscription<Header>(
      "/chatter", 10, [&](const Header& m) { got_a.push_back(m); });
  auto sub_b = listener_b->create_subscription<Header>(
      "/chatter", 10, [&](const Header& m) { got_b.push_back(m); });
  auto sub_other = listener_b->create_subscription<Header>(
      "chatter", 10, [&](const Header& m) { got_other.push_back(m); });  // "/robot/chatter"
  auto publisher = talker->create_publisher<Header>("chatter", 10);
  EXPECT_EQ(publisher->get_subscription_count(), 2u);
  EXPECT_EQ(sub_a->get_publisher_count(), 1u);
  EXPECT_EQ(sub_other->get_publisher_count(), 0u);
  EXPECT_EQ(talker->count_subscribers("/chatter"), 2u);

  const Header sent = stamped(42, "base");
  publisher->publish(sent);
  // Nothing runs before spinning.
  EXPECT_TRUE(got_a.empty());
  drain(listener_a);
  drain(listener_b);
  ASSERT_EQ(got_a.size(), 1u);
  ASSERT_EQ(got_b.size(), 1u);
  EXPECT_EQ(got_a[0], sent);
  EXPECT_EQ(got_b[0], sent);
  EXPECT_TRUE(got_other.empty());
}

TEST_F(Transport, SubscriptionsShareOneImmutableCopyAndMutableCallbacksGetPrivateOnes) {
  auto node = std::make_shared<rclcpp::Node>("node");
  std::vector<const Header*> shared_addresses;
  std::vector<std::string> seen_by_later;
  auto shared_1 = node->create_subscription<Header>(
      "/t", 10, [&](Header::ConstSharedPtr m) { shared_addresses.push_back(m.get()); });
  auto shared_2 = node->create_subscription<Header>(
      "/t", 10, [&](const Header::ConstSharedPtr& m) { shared_addresses.push_back(m.get()); });
  auto mutating = node->create_subscription<Header>("/t", 10, [&](Header::SharedPtr m) {
    m->frame_id = "changed";  // a private copy: nobody else sees this
  });
  auto owning = node->create_subscription<Header>("/t", 10, [&](Header::UniquePtr m) {
    m->frame_id += "!";
    seen_by_later.push_back(m->frame_id);
  });
  auto later = node->create_subscription<Header>(
      "/t", 10, [&](const Header& m) { seen_by_later.push_back(m.frame_id); });
  auto publisher = node->create_publisher<Header>("/t", 10);

  auto message = std::make_unique<Header>(stamped(1, "orig"));
  const Header* original_address = message.get();
  publisher->publish(std::move(message));  // handed over without a copy
  Header by_reference = stamped(2, "ref");
  publisher->publish(by_reference);
  by_reference.frame_id = "modified after publish";
  drain(node);
  drain(node);

  ASSERT_EQ(shared_addresses.size(), 4u);
  EXPECT_EQ(shared_addresses[0], original_address);
  EXPECT_EQ(shared_addresses[1], original_address);
  EXPECT_EQ(shared_addresses[2], shared_addresses[3]);
  EXPECT_NE(shared_addresses[2], &by_reference);
  EXPECT_EQ(seen_by_later, std::vector<std::string>({"orig!", "orig", "ref!", "ref"}));
  EXPECT_THROW(publisher->publish(std::unique_ptr<Header>()), std::invalid_argument);
}

TEST_F(Transport, KeepLastDepthDropsTheOldestPerSubscriptionQueue) {
  auto node = std::make_shared<rclcpp::Node>("node");
  std::map<std::string, std::vector<int32_t>> received;
  auto record = [&](const std::string& name) {
    return [&received, name](const Header& m) { received[name].push_back(m.stamp.sec); };
  };
  auto depth_3 =
      node->create_subscription<Header>("/q", rclcpp::QoS(rclcpp::KeepLast(3)), record("depth 3"));
  auto depth_1 = node->create_subscription<Header>(
      "/q", rclcpp::QoS(rclcpp::KeepLast(1), rmw_qos_profile_sensor_data), record("depth 1"));
  auto keep_all =
      node->create_subscription<Header>("/q", rclcpp::QoS(rclcpp::KeepAll()), record("keep all"));
  // The publisher's own depth does not limit the subscriptions' queues.
  auto publisher = node->create_publisher<Header>("/q", rclcpp::QoS(rclcpp::KeepLast(1)));
  for (int32_t i = 0; i < 10; ++i) publisher->publish(stamped(i));
  drain(node);
  EXPECT_EQ(received["depth 3"], std::vector<int32_t>({7, 8, 9}));
  EXPECT_EQ(received["depth 1"], std::vector<int32_t>({9}));
  EXPECT_EQ(received["keep all"], std::vector<int32_t>({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

TEST_F(Transport, ReliabilityAndDurabilityDecideWhichEndpointsMatch) {
  auto node = std::make_shared<rclcpp::Node>("node");
  int reliable_count = 0, best_effort_count = 0;
  auto reliable = node->create_subscription<Header>("/sensor", rclcpp::QoS(10).reliable(),
                                                    [&](const Header&) { ++reliable_count; });
  auto best_effort = node->create_subscription<Header>("/sensor", rclcpp::SensorDataQoS(),
                                                       [&](const Header&) { ++best_effort_count; });
  testing::internal::CaptureStderr();
  auto publisher = node->create_publisher<Header>(
      "/sensor", rclcpp::QoS(rclcpp::KeepLast(1), rmw_qos_profile_sensor_data));
  const std::string warning = testing::internal::GetCapturedStderr();
  EXPECT_NE(warning.find("incompatible QoS"), std::string::npos) << warning;
  EXPECT_NE(warning.find("RELIABILITY_QOS_POLICY"), std::string::npos) << warning;
  EXPECT_EQ(publisher->get_subscription_count(), 1u);  // only the best-effort one matches
  EXPECT_EQ(node->count_subscribers("/sensor"), 2u);   // but both exist
  EXPECT_EQ(reliable->get_publisher_count(), 0u);
  EXPECT_EQ(publisher->get_actual_qos().reliability(), rclcpp::ReliabilityPolicy::BestEffort);
  EXPECT_EQ(publisher->get_actual_qos().depth(), 1u);
  publisher->publish(Header());
  drain(node);
  EXPECT_EQ(reliable_count, 0);
  EXPECT_EQ(best_effort_count, 1);

  // A best-effort subscription takes samples from a reliable publisher.
  auto reliable_publisher = node->create_publisher<Header>("/sensor", 10);
  reliable_publisher->publish(Header());
  drain(node);
  EXPECT_EQ(reliable_count, 1);
  EXPECT_EQ(best_effort_count, 2);
}

TEST_F(Transport, LateTransientLocalSubscriptionsReceiveThePublishersHistory) {
  auto node = std::make_shared<rclcpp::Node>("node");
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

  // A transient-local subscription does not match a volatile publisher.
  auto volatile_publisher = node->create_publisher<Header>("/plain", 10);
  testing::internal::CaptureStderr();
  auto wants_history = node->create_subscription<Header>(
      "/plain", rclcpp::QoS(10).transient_local(), [](const Header&) {});
  EXPECT_NE(testing::internal::GetCapturedStderr().find("DURABILITY_QOS_POLICY"),
            std::string::npos);
  EXPECT_EQ(volatile_publisher->get_subscription_count(), 0u);
}

TEST_F(Transport, ATopicCarriesOneMessageTypeWhileItHasEndpoints) {
  auto node = std::make_shared<rclcpp::Node>("node", "/robot");
  auto header_publisher = node->create_publisher<Header>("typed", 1);
  try {
    node->create_publisher<ActuatorCmds>("typed", 1);
    FAIL() << "second type accepted";
  } catch (const std::invalid_argument& e) {
    const std::string what = e.what();
    EXPECT_NE(what.find("'/robot/typed'"), std::string::npos) << what;
    EXPECT_NE(what.find("communication/msg/ActuatorCmds"), std::string::npos) << what;
    EXPECT_NE(what.find("std_msgs/msg/Header"), std::string::npos) << what;
  }
  EXPECT_THROW(node->create_subscription<ActuatorCmds>("typed", 1, [](const ActuatorCmds&) {}),
               std::invalid_argument);
  auto header_subscription = node->create_subscription<Header>("typed", 1, [](const Header&) {});
  header_publisher.reset();
  EXPECT_THROW(node->create_publisher<ActuatorCmds>("typed", 1), std::invalid_argument);
  header_subscription.reset();
  // Once every endpoint is gone the topic may carry another type.
  EXPECT_NO_THROW(node->create_publisher<ActuatorCmds>("typed", 1));
}

TEST_F(Transport, DestroyedSubscriptionsStopReceivingAndPublishingAfterShutdownIsDropped) {
  auto node = std::make_shared<rclcpp::Node>("node");
  int count = 0;
  auto publisher = node->create_publisher<Header>("/t", 10);
  auto subscription = node->create_subscription<Header>("/t", 10, [&](const Header&) { ++count; });
  publisher->publish(Header());
  subscription.reset();  // with a message still queued
  publisher->publish(Header());
  drain(node);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(publisher->get_subscription_count(), 0u);

  auto again = node->create_subscription<Header>("/t", 10, [&](const Header&) { ++count; });
  rclcpp::shutdown();
  EXPECT_NO_THROW(publisher->publish(Header()));
  EXPECT_EQ(again->take(), nullptr);
}

// Several publisher threads, several subscriber nodes each spun on its own thread: every
// subscription receives every message exactly once, in each publisher's order.
TEST_F(Transport, ConcurrentPublishersAndSpinningSubscribersLoseAndReorderNothing) {
  const velmora_test::Watchdog watchdog("concurrent transport", std::chrono::seconds(60));
  constexpr int kPublishers = 4;
  constexpr int kMessages = 500;
  constexpr int kSubscribers = 3;
  struct Received {
    std::mutex mutex;
    std::vector<std::vector<int32_t>> by_publisher = std::vector<std::vector<int32_t>>(kPublishers);
    std::atomic<int> total{0};
  };
  std::vector<std::unique_ptr<Received>> received;
  std::vector<rclcpp::Node::SharedPtr> nodes;
  std::vector<rclcpp::Subscription<Header>::SharedPtr> subscriptions;
  std::vector<std::unique_ptr<rclcpp::executors::SingleThreadedExecutor>> executors;
  std::vector<std::thread> spinners;
  for (int s = 0; s < kSubscribers; ++s) {
    received.push_back(std::make_unique<Received>());
    Received* sink = received.back().get();
    nodes.push_back(std::make_shared<rclcpp::Node>("listener_" + std::to_string(s)));
    subscriptions.push_back(nodes.back()->create_subscription<Header>(
        "/load", rclcpp::QoS(rclcpp::KeepAll()), [sink](const Header& m) {
          std::lock_guard<std::mutex> lock(sink->mutex);
          sink->by_publisher[std::stoi(m.frame_id)].push_back(m.stamp.sec);
          ++sink->total;
        }));
    executors.push_back(std::make_unique<rclcpp::executors::SingleThreadedExecutor>());
    executors.back()->add_node(nodes.back());
    spinners.emplace_back([executor = executors.back().get()] { executor->spin(); });
  }
  std::vector<std::thread> publishers;
  for (int p = 0; p < kPublishers; ++p) {
    publishers.emplace_back([p] {
      auto node = std::make_shared<rclcpp::Node>("talker_" + std::to_string(p));
      auto publisher = node->create_publisher<Header>("/load", rclcpp::QoS(rclcpp::KeepAll()));
      for (int32_t i = 0; i < kMessages; ++i) publisher->publish(stamped(i, std::to_string(p)));
    });
  }
  for (auto& thread : publishers) thread.join();
  for (const auto& sink : received) {
    EXPECT_TRUE(eventually([&] { return sink->total.load() >= kPublishers * kMessages; }))
        << sink->total.load();
  }
  for (auto& executor : executors) {
    ASSERT_TRUE(eventually([&] { return executor->is_spinning(); }));
    executor->cancel();
  }
  for (auto& thread : spinners) thread.join();
  std::vector<int32_t> expected(kMessages);
  for (int32_t i = 0; i < kMessages; ++i) expected[i] = i;
  for (const auto& sink : received) {
    EXPECT_EQ(sink->total.load(), kPublishers * kMessages);
    for (int p = 0; p < kPublishers; ++p) EXPECT_EQ(sink->by_publisher[p], expected);
  }
}

// A publisher delivering to a subscription may end up holding its last reference when the
// owner drops it meanwhile; the subscription must then be destroyed outside the transport's
// locks (its destructor re-enters them). A blocking inline subscription, delivered first,
// holds the publisher in the middle of the delivery while the owner drops the second one.
TEST_F(Transport, ASubscriptionDroppedDuringDeliveryIsReleasedOutsideTheTransportLocks) {
  const velmora_test::Watchdog watchdog("drop during delivery", std::chrono::seconds(30));
  auto node = std::make_shared<rclcpp::Node>("node");
  std::mutex gate_mutex;
  std::condition_variable gate;
  bool entered = false;
  bool released = false;
  auto blocking = std::make_shared<rclcpp::Subscription<Header>>(
      node->get_node_core(), "/drop", rclcpp::QoS(10), [&](const Header&) {
        std::unique_lock<std::mutex> lock(gate_mutex);
        entered = true;
        gate.notify_all();
        gate.wait(lock, [&] { return released; });
      });
  blocking->set_deliver_inline(true);
  node->get_node_core()->add_subscription(blocking);
  auto victim = node->create_subscription<Header>("/drop", 10, [](const Header&) {});
  std::weak_ptr<rclcpp::SubscriptionBase> victim_watch = victim;
  auto publisher = node->create_publisher<Header>("/drop", 10);

  std::thread publishing([&] { publisher->publish(Header()); });
  {
    std::unique_lock<std::mutex> lock(gate_mutex);
    gate.wait(lock, [&] { return entered; });
  }
  victim.reset();  // the publisher now holds the last reference
  EXPECT_FALSE(victim_watch.expired());
  {
    std::lock_guard<std::mutex> lock(gate_mutex);
    released = true;
  }
  gate.notify_all();
  publishing.join();
  EXPECT_TRUE(victim_watch.expired());
  EXPECT_EQ(node->count_subscribers("/drop"), 0u);  // the inline one is not counted
}

// Endpoints are created and destroyed on some threads while others publish and query counts:
// the registry must neither crash nor deadlock, also when a publisher holds the last reference
// to a subscription that its owner just dropped.
TEST_F(Transport, EndpointChurnDuringPublishingIsSafe) {
  const velmora_test::Watchdog watchdog("endpoint churn", std::chrono::seconds(30));
  auto node = std::make_shared<rclcpp::Node>("churn");
  std::atomic<int> delivered{0};
  auto steady = node->create_subscription<Header>("/churn", rclcpp::QoS(rclcpp::KeepAll()),
                                                  [&](const Header&) { ++delivered; });
  std::atomic<bool> stop{false};
  std::vector<std::thread> publishers;
  for (int p = 0; p < 2; ++p) {
    publishers.emplace_back([&] {
      auto publisher = node->create_publisher<Header>("/churn", 1);
      while (!stop.load()) {
        publisher->publish(Header());
        (void)publisher->get_subscription_count();
      }
    });
  }
  std::vector<std::thread> churners;
  for (int c = 0; c < 2; ++c) {
    churners.emplace_back([&] {
      std::vector<rclcpp::Subscription<Header>::SharedPtr> batch;
      for (int i = 0; i < 4000; ++i) {
        batch.push_back(
            node->create_subscription<Header>("/churn", rclcpp::QoS(1), [](const Header&) {}));
        // Dropped together: often while a publisher is delivering to them.
        if (batch.size() == 20) batch.clear();
        if (i % 16 == 0) node->create_publisher<Header>("/churn", 1)->publish(Header());
        if (i % 4 == 0) (void)node->count_subscribers("/churn");
      }
    });
  }
  for (auto& thread : churners) thread.join();
  stop.store(true);
  for (auto& thread : publishers) thread.join();
  rclcpp::executors::SingleThreadedExecutor executor;
  executor.add_node(node);
  executor.spin_some();
  EXPECT_EQ(delivered.load(), 1);  // one message taken from the steady subscription's queue
  EXPECT_EQ(node->count_subscribers("/churn"), 1u);
  steady.reset();
  EXPECT_EQ(node->count_subscribers("/churn"), 0u);
  EXPECT_EQ(node->count_publishers("/churn"), 0u);
}

}  // namespace
