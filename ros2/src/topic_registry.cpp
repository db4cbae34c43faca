// The in-process transport.
//
// Each topic entry lists its publishers and subscriptions as weak pointers, so endpoints are
// owned by their users alone; a destroyed endpoint prunes itself. Delivery holds only the
// entry's mutex: subscriptions' queue mutexes nest inside it, never the other way round.
// A topic keeps its message type while it has a live endpoint. Pointers locked from the weak
// lists are always released after the mutexes, since a last owner's destructor prunes the entry.

#include "rclcpp/detail/topic_registry.hpp"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <typeindex>
#include <vector>

#include "rclcpp/detail/publisher_base.hpp"
#include "rclcpp/detail/subscription_base.hpp"
#include "rclcpp/logging.hpp"

namespace rclcpp {
namespace detail {

struct TopicEntry {
  explicit TopicEntry(std::type_index type_in) : type(type_in) {}

  std::mutex mutex;
  std::type_index type;
  std::string type_name;
  std::vector<std::weak_ptr<PublisherBase>> publishers;
  std::vector<std::weak_ptr<SubscriptionBase>> subscriptions;

  // The endpoints still alive. Caller holds `mutex`, and must release the returned pointers
  // only after releasing it: the last owner's destructor re-enters the registry.
  std::vector<std::shared_ptr<PublisherBase>> live_publishers() const {
    std::vector<std::shared_ptr<PublisherBase>> live;
    for (const auto& weak : publishers) {
      if (auto publisher = weak.lock()) live.push_back(std::move(publisher));
    }
    return live;
  }
  std::vector<std::shared_ptr<SubscriptionBase>> live_subscriptions() const {
    std::vector<std::shared_ptr<SubscriptionBase>> live;
    for (const auto& weak : subscriptions) {
      if (auto subscription = weak.lock()) live.push_back(std::move(subscription));
    }
    return live;
  }

  // Drops destroyed endpoints; true if none is left. Caller holds `mutex`.
  bool prune() {
    auto expired = [](const auto& endpoint) { return endpoint.expired(); };
    publishers.erase(std::remove_if(publishers.begin(), publishers.end(), expired),
                     publishers.end());
    subscriptions.erase(std::remove_if(subscriptions.begin(), subscriptions.end(), expired),
                        subscriptions.end());
    return publishers.empty() && subscriptions.empty();
  }
};

namespace {

bool reliable(const QoS& qos) { return qos.reliability() != ReliabilityPolicy::BestEffort; }
bool transient_local(const QoS& qos) {
  return qos.durability() == DurabilityPolicy::TransientLocal;
}

// The keep-last depth of a history (0 for keep-all).
size_t history_depth(const QoS& qos) {
  if (qos.history() == HistoryPolicy::KeepAll) return 0;
  return std::max<size_t>(qos.depth(), 1);
}

void warn_incompatible(const std::string& topic, const char* new_endpoint, const char* verb,
                       const std::string& policy) {
  RCLCPP_WARN(get_logger("rclcpp"),
              "New %s discovered on topic '%s', %s incompatible QoS. No messages will be "
              "exchanged with it. Last incompatible policy: %s",
              new_endpoint, topic.c_str(), verb, policy.c_str());
}

}  // namespace

bool qos_compatible(const QoS& offered, const QoS& requested, std::string* policy) {
  if (reliable(requested) && !reliable(offered)) {
    if (policy) *policy = "RELIABILITY_QOS_POLICY";
    return false;
  }
  if (transient_local(requested) && !transient_local(offered)) {
    if (policy) *policy = "DURABILITY_QOS_POLICY";
    return false;
  }
  return true;
}

TopicRegistry::TopicRegistry() = default;
TopicRegistry::~TopicRegistry() = default;

std::shared_ptr<TopicEntry> TopicRegistry::entry_for(const std::string& topic_name,
                                                     std::type_index type,
                                                     const std::string& type_name,
                                                     const char* endpoint_kind) {
  auto& entry = topics_[topic_name];
  if (!entry) entry = std::make_shared<TopicEntry>(type);
  std::lock_guard<std::mutex> lock(entry->mutex);
  if (entry->prune()) {
    entry->type = type;
    entry->type_name = type_name;
  } else if (entry->type != type) {
    throw std::invalid_argument("cannot create a " + std::string(endpoint_kind) + " of type '" +
                                type_name + "' on topic '" + topic_name +
                                "': the topic already carries messages of type '" +
                                entry->type_name + "'");
  }
  return entry;
}

void TopicRegistry::add_publisher(const std::shared_ptr<PublisherBase>& publisher) {
  std::vector<std::shared_ptr<SubscriptionBase>> subscriptions;  // released after the locks
  std::lock_guard<std::mutex> map_lock(mutex_);
  auto entry = entry_for(publisher->topic_name(), publisher->message_type(),
                         publisher->message_type_name(), "publisher");
  std::lock_guard<std::mutex> lock(entry->mutex);
  subscriptions = entry->live_subscriptions();
  for (const auto& subscription : subscriptions) {
    std::string policy;
    // With DDS, Cyclone reports incompatible endpoints itself.
    if (!publisher->uses_dds() && !subscription->deliver_inline() &&
        !qos_compatible(publisher->qos(), subscription->qos(), &policy)) {
      warn_incompatible(publisher->topic_name(), "publisher", "offering", policy);
    }
  }
  entry->publishers.push_back(publisher);
  publisher->set_topic_entry(entry);
}

void TopicRegistry::add_subscription(const std::shared_ptr<SubscriptionBase>& subscription) {
  std::vector<std::shared_ptr<PublisherBase>> publishers;  // released after the locks
  std::lock_guard<std::mutex> map_lock(mutex_);
  auto entry = entry_for(subscription->topic_name(), subscription->message_type(),
                         subscription->message_type_name(), "subscription");
  std::lock_guard<std::mutex> lock(entry->mutex);
  publishers = entry->live_publishers();
  for (const auto& publisher : publishers) {
    std::string policy;
    if (!qos_compatible(publisher->qos(), subscription->qos(), &policy)) {
      if (!subscription->deliver_inline() && !subscription->uses_dds()) {
        warn_incompatible(subscription->topic_name(), "subscription", "requesting", policy);
      }
      continue;
    }
    // A late transient-local subscription receives what the publisher kept.
    if (transient_local(subscription->qos())) {
      for (const auto& message : publisher->history()) subscription->receive(message);
    }
  }
  entry->subscriptions.push_back(subscription);
  subscription->set_topic_entry(entry);
}

void TopicRegistry::remove_expired(const std::string& topic_name) {
  std::lock_guard<std::mutex> map_lock(mutex_);
  const auto found = topics_.find(topic_name);
  if (found == topics_.end()) return;
  bool empty = false;
  {
    std::lock_guard<std::mutex> lock(found->second->mutex);
    empty = found->second->prune();
  }
  if (empty) topics_.erase(found);
}

void TopicRegistry::publish(TopicEntry& entry, PublisherBase& publisher,
                            const std::shared_ptr<const void>& message) {
  std::vector<std::shared_ptr<SubscriptionBase>> subscriptions;  // released after the lock
  std::lock_guard<std::mutex> lock(entry.mutex);
  if (transient_local(publisher.qos())) {
    auto& history = publisher.history();
    history.push_back(message);
    const size_t depth = history_depth(publisher.qos());
    if (depth > 0 && history.size() > depth) history.pop_front();
  }
  subscriptions = entry.live_subscriptions();
  for (const auto& subscription : subscriptions) {
    if (qos_compatible(publisher.qos(), subscription->qos(), nullptr)) {
      subscription->receive(message);
    }
  }
}

size_t TopicRegistry::matched_subscriptions(TopicEntry& entry, const PublisherBase& publisher) {
  std::vector<std::shared_ptr<SubscriptionBase>> subscriptions;  // released after the lock
  std::lock_guard<std::mutex> lock(entry.mutex);
  subscriptions = entry.live_subscriptions();
  return std::count_if(subscriptions.begin(), subscriptions.end(), [&](const auto& subscription) {
    return !subscription->deliver_inline() &&
           qos_compatible(publisher.qos(), subscription->qos(), nullptr);
  });
}

size_t TopicRegistry::matched_publishers(TopicEntry& entry, const SubscriptionBase& subscription) {
  std::vector<std::shared_ptr<PublisherBase>> publishers;  // released after the lock
  std::lock_guard<std::mutex> lock(entry.mutex);
  publishers = entry.live_publishers();
  return std::count_if(publishers.begin(), publishers.end(), [&](const auto& publisher) {
    return qos_compatible(publisher->qos(), subscription.qos(), nullptr);
  });
}

size_t TopicRegistry::count_publishers(const std::string& topic_name) const {
  std::vector<std::shared_ptr<PublisherBase>> publishers;  // released after the locks
  std::lock_guard<std::mutex> map_lock(mutex_);
  const auto found = topics_.find(topic_name);
  if (found == topics_.end()) return 0;
  std::lock_guard<std::mutex> lock(found->second->mutex);
  publishers = found->second->live_publishers();
  return publishers.size();
}

size_t TopicRegistry::count_subscriptions(const std::string& topic_name) const {
  std::vector<std::shared_ptr<SubscriptionBase>> subscriptions;  // released after the locks
  std::lock_guard<std::mutex> map_lock(mutex_);
  const auto found = topics_.find(topic_name);
  if (found == topics_.end()) return 0;
  std::lock_guard<std::mutex> lock(found->second->mutex);
  subscriptions = found->second->live_subscriptions();
  return std::count_if(subscriptions.begin(), subscriptions.end(),
                       [](const auto& subscription) { return !subscription->deliver_inline(); });
}

}  // namespace detail
}  // namespace rclcpp
