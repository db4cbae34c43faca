#pragma once

#include <atomic>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <typeindex>

#include "rclcpp/qos.hpp"
#include "rosidl_typesupport_velmora/message_type_support.hpp"

namespace rclcpp {
namespace detail {
class DdsReader;
class NodeCore;
class TopicRegistry;
struct TopicEntry;
}  // namespace detail

/// The type-independent part of a subscription: its topic, QoS and the queue of received
/// messages. The transport pushes messages into the queue (dropping the oldest beyond a
/// keep-last depth) and wakes the executor of the owning node; the executor takes them and runs
/// the callback. With the DDS transport the messages come from a DDS reader. Thread-safe.
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
  bool deliver_inline() const { return deliver_inline_.load(); }
  /// True if messages come in through DDS.
  bool uses_dds() const { return dds_reader_ != nullptr; }
  /// Samples refused because they did not decode / reported lost (DDS transport; else 0).
  uint64_t refused_sample_count() const;
  uint64_t lost_sample_count() const;
  std::type_index message_type() const { return message_type_; }
  const std::string& message_type_name() const { return message_type_name_; }
  const std::string& topic_name() const { return topic_name_; }
  const QoS& qos() const { return qos_; }
  void set_topic_entry(const std::shared_ptr<detail::TopicEntry>& entry) { entry_ = entry; }

 protected:
  virtual void handle_message(const std::shared_ptr<const void>& message) = 0;
  /// With the DDS transport, creates the DDS reader for the type of `type_support`; throws
  /// std::invalid_argument if the type has none. Call at the end of the derived constructor.
  void attach_dds(const rosidl_typesupport_velmora::MessageTypeSupport* type_support);
  /// Stops DDS delivery, waiting for a delivery in progress. Call first in the derived
  /// destructor, before the callback goes away.
  void detach_dds();

 private:
  const std::weak_ptr<detail::NodeCore> node_;
  const std::shared_ptr<detail::TopicRegistry> registry_;
  const std::string topic_name_;
  const QoS qos_;
  const std::type_index message_type_;
  const std::string message_type_name_;
  const size_t queue_depth_;  // 0: unbounded (keep all)
  std::atomic<bool> deliver_inline_{false};
  std::shared_ptr<detail::TopicEntry> entry_;

  mutable std::mutex queue_mutex_;
  std::deque<std::shared_ptr<const void>> queue_;
  std::unique_ptr<detail::DdsReader> dds_reader_;
};

}  // namespace rclcpp
