#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <string>
#include <typeindex>

#include "rclcpp/context.hpp"
#include "rclcpp/qos.hpp"

namespace rclcpp {
namespace detail {
class NodeCore;
class TopicRegistry;
struct TopicEntry;
}  // namespace detail

/// The type-independent part of a publisher: its topic and QoS, and the delivery of a
/// type-erased message to the matching subscriptions. Thread-safe.
class PublisherBase {
 public:
  PublisherBase(const std::shared_ptr<detail::NodeCore>& node, const std::string& topic_name,
                const QoS& qos, std::type_index message_type, const char* message_type_name);
  virtual ~PublisherBase();
  PublisherBase(const PublisherBase&) = delete;
  PublisherBase& operator=(const PublisherBase&) = delete;

  /// The fully qualified topic name.
  const char* get_topic_name() const;

  /// The number of subscriptions on the topic whose QoS matches this publisher's.
  size_t get_subscription_count() const;

  /// The QoS of this publisher.
  QoS get_actual_qos() const;

  /// The history depth of this publisher.
  size_t get_queue_size() const;

  // Runtime internals, used by the transport.
  std::type_index message_type() const { return message_type_; }
  const std::string& message_type_name() const { return message_type_name_; }
  const std::string& topic_name() const { return topic_name_; }
  const QoS& qos() const { return qos_; }
  void set_topic_entry(const std::shared_ptr<detail::TopicEntry>& entry) { entry_ = entry; }
  /// The samples a transient-local publisher keeps for late subscriptions; guarded by the
  /// topic entry's mutex.
  std::deque<std::shared_ptr<const void>>& history() { return history_; }

 protected:
  /// Hands `message` to every matching subscription; a no-op once the context has shut down.
  void deliver(const std::shared_ptr<const void>& message);

 private:
  const Context::SharedPtr context_;
  const std::shared_ptr<detail::TopicRegistry> registry_;
  const std::string topic_name_;
  const QoS qos_;
  const std::type_index message_type_;
  const std::string message_type_name_;
  std::shared_ptr<detail::TopicEntry> entry_;
  std::deque<std::shared_ptr<const void>> history_;
};

}  // namespace rclcpp
