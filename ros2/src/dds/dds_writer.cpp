#include "rclcpp/detail/dds_writer.hpp"

#include <dds/dds.h>

#include <stdexcept>
#include <utility>

#include "dds_qos.hpp"
#include "dds_topic.hpp"
#include "rclcpp/logging.hpp"

namespace rclcpp {
namespace detail {
namespace {

void on_offered_incompatible_qos(dds_entity_t, const dds_offered_incompatible_qos_status_t status,
                                 void* topic_name) {
  RCLCPP_WARN(get_logger("rclcpp"),
              "New subscription discovered on topic '%s', requesting incompatible QoS. No "
              "messages will be sent to it. Last incompatible policy: %s",
              static_cast<const std::string*>(topic_name)->c_str(),
              qos_policy_name(static_cast<dds_qos_policy_id_t>(status.last_policy_id)));
}

}  // namespace

DdsWriter::DdsWriter(std::shared_ptr<DdsParticipant> participant, const std::string& topic_name,
                     const QoS& qos,
                     const rosidl_typesupport_velmora::MessageTypeSupport& type_support)
    : participant_(std::move(participant)), topic_name_(topic_name) {
  topic_ = create_dds_topic(participant_->handle(), topic_name_, type_support, "publisher");
  DdsListenerPtr listener(dds_create_listener(const_cast<std::string*>(&topic_name_)));
  dds_lset_offered_incompatible_qos(listener.get(), on_offered_incompatible_qos);
  writer_ =
      dds_create_writer(participant_->handle(), topic_, to_dds_qos(qos).get(), listener.get());
  if (writer_ < 0) {
    dds_delete(topic_);
    throw std::runtime_error("cannot create a DDS writer on topic '" + topic_name_ +
                             "': " + dds_strretcode(writer_));
  }
}

DdsWriter::~DdsWriter() {
  dds_delete(writer_);
  dds_delete(topic_);
}

void DdsWriter::write(const void* message) {
  const dds_return_t result = dds_write(writer_, message);
  if (result < 0) {
    throw std::runtime_error("cannot publish on '" + topic_name_ + "': " + dds_strretcode(result) +
                             " (a sequence longer than its bound?)");
  }
}

bool DdsWriter::wait_for_acks(int64_t timeout_ns) const {
  return dds_wait_for_acks(writer_, timeout_ns < 0 ? DDS_INFINITY : timeout_ns) == DDS_RETCODE_OK;
}

size_t DdsWriter::matched_subscriptions() const {
  dds_publication_matched_status_t status{};
  if (dds_get_publication_matched_status(writer_, &status) < 0) return 0;
  return status.current_count;
}

}  // namespace detail
}  // namespace rclcpp
