#include "rclcpp/detail/publisher_base.hpp"

#include "rclcpp/detail/node_core.hpp"
#include "rclcpp/detail/topic_registry.hpp"

namespace rclcpp {

PublisherBase::PublisherBase(const std::shared_ptr<detail::NodeCore>& node,
                             const std::string& topic_name, const QoS& qos,
                             std::type_index message_type, const char* message_type_name)
    : context_(node->context()),
      registry_(node->registry()),
      topic_name_(topic_name),
      qos_(qos),
      message_type_(message_type),
      message_type_name_(message_type_name) {}

PublisherBase::~PublisherBase() { registry_->remove_expired(topic_name_); }

const char* PublisherBase::get_topic_name() const { return topic_name_.c_str(); }

size_t PublisherBase::get_subscription_count() const {
  return entry_ ? detail::TopicRegistry::matched_subscriptions(*entry_, *this) : 0;
}

QoS PublisherBase::get_actual_qos() const { return qos_; }

size_t PublisherBase::get_queue_size() const { return qos_.depth(); }

void PublisherBase::deliver(const std::shared_ptr<const void>& message) {
  // As with a real middleware, publishing after shutdown is silently dropped.
  if (!entry_ || !context_->is_valid()) return;
  detail::TopicRegistry::publish(*entry_, *this, message);
}

}  // namespace rclcpp
