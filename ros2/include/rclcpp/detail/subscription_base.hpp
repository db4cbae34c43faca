#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <typeindex>

#include "rclcpp/qos.hpp"

namespace rclcpp {
namespace detail {
class NodeCore;
class TopicRegistry;
struct TopicEntry;
}  // namespace detail

/// The type-independent part of a subscription: its topic, QoS and the queue of received
/// messages. The transport pushes messages into the queue (dropping the oldest beyond a
/// keep-last depth) and wakes the executor of the owning node; the executor takes them and runs
/// the callback. Thread-safe.
class SubscriptionBase {
 public:
  SubscriptionBase(const std::shared_ptr<detail::NodeCore>& node, const std::string& topic_name,
                   const QoS& qos, std::type_index message_type, const char* message_type_name);
  virtual ~SubscriptionBase();
  SubscriptionBase(const SubscriptionBase&) = delete;
  SubscriptionBase& operator=(const SubscriptionBase&) = delete;

  /// The fully qualified topic name.
  const char* get_topic_name() const;

  /// The QoS of this subscription.
  QoS get_actual_qos() const;

  /// The number of publishers on the topic whose QoS matches this subscription's.
  size_t get_publisher_count() const;

  // Runtime internals, used by the transport and the executors.

  /// Queues `message` (or runs the callback at once for a subscription delivered inline).
  void receive(const std::shared_ptr<const void>& message);
  /// The oldest queued message, or null if none.
  std::shared_ptr<const void> take();
  /// Runs the callback on `message`.
  void execute(const std::shared_ptr<const void>& message);
  /// Run callbacks on the publishing thread instead of queueing (used for "/clock").
  void set_deliver_inline(bool deliver_inline) { deliver_inline_ = deliver_inline; }
  bool deliver_inline() const { return deliver_inline_; }
  std::type_index message_type() const { return message_type_; }
  const std::string& message_type_name() const { return message_type_name_; }
  const std::string& topic_name() const { return topic_name_; }
  const QoS& qos() const { return qos_; }
  void set_topic_entry(const std::shared_ptr<detail::TopicEntry>& entry) { entry_ = entry; }

 protected:
  virtual void handle_message(const std::shared_ptr<const void>& message) = 0;

 private:
  const std::weak_ptr<detail::NodeCore> node_;
  const std::shared_ptr<detail::TopicRegistry> registry_;
  const std::string topic_name_;
  const QoS qos_;
  const std::type_index message_type_;
  const std::string message_type_name_;
  const size_t queue_depth_;  // 0: unbounded (keep all)
  bool deliver_inline_ = false;
  std::shared_ptr<detail::TopicEntry> entry_;

  mutable std::mutex queue_mutex_;
  std::deque<std::shared_ptr<const void>> queue_;
};

}  // namespace rclcpp
