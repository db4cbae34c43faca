#include "rclcpp/detail/publisher_base.hpp"

#include <stdexcept>

#include "rclcpp/detail/dds_writer.hpp"
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
  if (dds_writer_) return dds_writer_->matched_subscriptions();
  return entry_ ? detail::TopicRegistry::matched_subscriptions(*entry_, *this) : 0;
}

QoS PublisherBase::get_actual_qos() const { return qos_; }

size_t PublisherBase::get_queue_size() const { return qos_.depth(); }

void PublisherBase::deliver(const std::shared_ptr<const void>& message) {
  // As with a real middleware, publishing after shutdown is silently dropped.
  if (dds_writer_) {
    write_dds(message.get());
    return;
  }
  if (!entry_ || !context_->is_valid()) return;
  detail::TopicRegistry::publish(*entry_, *this, message);
}

bool PublisherBase::wait_for_all_acked_ns(std::chrono::nanoseconds timeout) const {
  if (!dds_writer_ || qos_.reliability() == ReliabilityPolicy::BestEffort) return true;
  return dds_writer_->wait_for_acks(timeout.count());
}

void PublisherBase::write_dds(const void* message) {
  if (context_->is_valid()) dds_writer_->write(message);
}

void PublisherBase::attach_dds(const rosidl_typesupport_velmora::MessageTypeSupport* type_support) {
  auto participant = context_->dds_participant();
  if (!participant) return;
  if (type_support == nullptr) {
    throw std::invalid_argument("cannot publish messages of type '" + message_type_name_ +
                                "' on topic '" + topic_name_ +
                                "' with the DDS transport: the type has no DDS type support");
  }
  dds_writer_ = std::make_unique<detail::DdsWriter>(participant, topic_name_, qos_, *type_support);
}

}  // namespace rclcpp
