#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <typeindex>

#include "rclcpp/qos.hpp"

namespace rclcpp {
class PublisherBase;
class SubscriptionBase;

namespace detail {

/// The endpoints of one topic (defined with the registry).
struct TopicEntry;

/// True if a subscription asking for `requested` gets the samples of a publisher offering
/// `offered`: a reliable subscription needs a reliable publisher, a transient-local one a
/// transient-local publisher. Otherwise sets `policy` to the name of the failing policy.
bool qos_compatible(const QoS& offered, const QoS& requested, std::string* policy);

/// The in-process transport: the endpoints of every topic of a context by fully qualified
/// name. A topic carries one message type while it has any endpoint. Thread-safe.
class TopicRegistry {
 public:
  TopicRegistry();
  ~TopicRegistry();
  TopicRegistry(const TopicRegistry&) = delete;
  TopicRegistry& operator=(const TopicRegistry&) = delete;

  /// Adds a publisher; throws std::invalid_argument if the topic carries another type.
  void add_publisher(const std::shared_ptr<PublisherBase>& publisher);

  /// Adds a subscription, replaying the history of matching transient-local publishers to it;
  /// throws std::invalid_argument if the topic carries another type.
  void add_subscription(const std::shared_ptr<SubscriptionBase>& subscription);

  /// Forgets the destroyed endpoints of `topic_name`.
  void remove_expired(const std::string& topic_name);

  /// Hands `message` from `publisher` to each matching subscription of `entry`.
  static void publish(TopicEntry& entry, PublisherBase& publisher,
                      const std::shared_ptr<const void>& message);

  /// Matching endpoints on the other side.
  static size_t matched_subscriptions(TopicEntry& entry, const PublisherBase& publisher);
  static size_t matched_publishers(TopicEntry& entry, const SubscriptionBase& subscription);

  /// All publishers / subscriptions on `topic_name`, whatever their QoS.
  size_t count_publishers(const std::string& topic_name) const;
  size_t count_subscriptions(const std::string& topic_name) const;

 private:
  std::shared_ptr<TopicEntry> entry_for(const std::string& topic_name, std::type_index type,
                                        const std::string& type_name, const char* endpoint_kind);

  mutable std::mutex mutex_;
  std::map<std::string, std::shared_ptr<TopicEntry>> topics_;
};

}  // namespace detail
}  // namespace rclcpp
