#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <memory>
#include <string>
#include <typeindex>

#include "rclcpp/context.hpp"
#include "rclcpp/qos.hpp"
#include "rosidl_typesupport_velmora/message_type_support.hpp"

namespace rclcpp {
namespace detail {
class DdsWriter;
class NodeCore;
class TopicRegistry;
struct TopicEntry;
}  // namespace detail

/// The type-independent part of a publisher: its topic and QoS, and the delivery of a
/// type-erased message to the matching subscriptions, in this process or, with the DDS
/// transport, through a DDS writer. Thread-safe.
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

  /// Waits until every matched reliable subscription has acknowledged every published message,
  /// at most `timeout` (negative: no limit). True if they have; always true for a best-effort
  /// publisher and for the in-process transport, which delivers as it publishes.
  template <typename DurationRepT = int64_t, typename DurationT = std::milli>
  bool wait_for_all_acked(std::chrono::duration<DurationRepT, DurationT> timeout =
                              std::chrono::duration<DurationRepT, DurationT>(-1)) const {
    return wait_for_all_acked_ns(std::chrono::duration_cast<std::chrono::nanoseconds>(timeout));
  }

  // Runtime internals, used by the transport.
  /// True if messages go out through DDS.
  bool uses_dds() const { return dds_writer_ != nullptr; }
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
  bool wait_for_all_acked_ns(std::chrono::nanoseconds timeout) const;
  /// Publishes `message` through DDS (uses_dds() only); a no-op once the context has shut down.
  void write_dds(const void* message);
  /// With the DDS transport, creates the DDS writer for the type of `type_support`; throws
  /// std::invalid_argument if the type has none.
  void attach_dds(const rosidl_typesupport_velmora::MessageTypeSupport* type_support);

 private:
  const Context::SharedPtr context_;
  const std::shared_ptr<detail::TopicRegistry> registry_;
  const std::string topic_name_;
  const QoS qos_;
  const std::type_index message_type_;
  const std::string message_type_name_;
  std::shared_ptr<detail::TopicEntry> entry_;
  std::deque<std::shared_ptr<const void>> history_;
  std::unique_ptr<detail::DdsWriter> dds_writer_;
};

}  // namespace rclcpp
