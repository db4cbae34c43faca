#include "rclcpp/detail/subscription_base.hpp"

#include <algorithm>
#include <stdexcept>

#include "rclcpp/detail/dds_reader.hpp"
#include "rclcpp/detail/node_core.hpp"
#include "rclcpp/detail/topic_registry.hpp"

namespace rclcpp {
namespace {

// The keep-last depth of a subscription queue; 0 for keep-all.
size_t queue_depth_of(const QoS& qos) {
  if (qos.history() == HistoryPolicy::KeepAll) return 0;
  return std::max<size_t>(qos.depth(), 1);
}

}  // namespace

SubscriptionBase::SubscriptionBase(const std::shared_ptr<detail::NodeCore>& node,
                                   const std::string& topic_name, const QoS& qos,
                                   std::type_index message_type, const char* message_type_name)
    : node_(node),
      registry_(node->registry()),
      topic_name_(topic_name),
      qos_(qos),
      message_type_(message_type),
      message_type_name_(message_type_name),
      queue_depth_(queue_depth_of(qos)) {}

SubscriptionBase::~SubscriptionBase() {
  detach_dds();
  registry_->remove_expired(topic_name_);
}

void SubscriptionBase::attach_dds(
    const rosidl_typesupport_velmora::MessageTypeSupport* type_support) {
  const auto node = node_.lock();
  auto participant = node ? node->context()->dds_participant() : nullptr;
  if (!participant) return;
  if (type_support == nullptr) {
    throw std::invalid_argument("cannot subscribe to messages of type '" + message_type_name_ +
                                "' on topic '" + topic_name_ +
                                "' with the DDS transport: the type has no DDS type support");
  }
  dds_reader_ = std::make_unique<detail::DdsReader>(
      participant, topic_name_, qos_, *type_support,
      [this](const std::shared_ptr<const void>& message) { receive(message); });
}

void SubscriptionBase::detach_dds() { dds_reader_.reset(); }

uint64_t SubscriptionBase::refused_sample_count() const {
  return dds_reader_ ? dds_reader_->refused_samples() : 0;
}

uint64_t SubscriptionBase::lost_sample_count() const {
  return dds_reader_ ? dds_reader_->lost_samples() : 0;
}

const char* SubscriptionBase::get_topic_name() const { return topic_name_.c_str(); }

QoS SubscriptionBase::get_actual_qos() const { return qos_; }

size_t SubscriptionBase::get_publisher_count() const {
  return entry_ ? detail::TopicRegistry::matched_publishers(*entry_, *this) : 0;
}

void SubscriptionBase::receive(const std::shared_ptr<const void>& message) {
  if (deliver_inline_.load()) {
    execute(message);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    if (queue_depth_ > 0 && queue_.size() >= queue_depth_) queue_.pop_front();
    queue_.push_back(message);
  }
  if (const auto node = node_.lock()) node->notify_executor();
}

std::shared_ptr<const void> SubscriptionBase::take() {
  std::lock_guard<std::mutex> lock(queue_mutex_);
  if (queue_.empty()) return nullptr;
  auto message = std::move(queue_.front());
  queue_.pop_front();
  return message;
}

void SubscriptionBase::execute(const std::shared_ptr<const void>& message) {
  handle_message(message);
}

}  // namespace rclcpp
