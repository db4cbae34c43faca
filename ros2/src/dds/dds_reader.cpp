#include "rclcpp/detail/dds_reader.hpp"

#include <dds/dds.h>
#include <dds/ddsi/ddsi_serdata.h>

#include <array>
#include <exception>
#include <stdexcept>
#include <utility>

#include "dds_qos.hpp"
#include "dds_topic.hpp"
#include "rclcpp/logging.hpp"
#include "serialized_type.hpp"

namespace rclcpp {
namespace detail {
namespace {

void on_data_available(dds_entity_t, void* reader) {
  static_cast<DdsReader*>(reader)->on_data_available();
}

void on_sample_lost(dds_entity_t, const dds_sample_lost_status_t status, void* reader) {
  static_cast<DdsReader*>(reader)->on_sample_lost(status.total_count_change);
}

void on_requested_incompatible_qos(dds_entity_t,
                                   const dds_requested_incompatible_qos_status_t status,
                                   void* reader) {
  static_cast<DdsReader*>(reader)->on_incompatible_publisher(status.last_policy_id);
}

}  // namespace

DdsReader::DdsReader(std::shared_ptr<DdsParticipant> participant, const std::string& topic_name,
                     const QoS& qos,
                     const rosidl_typesupport_velmora::MessageTypeSupport& type_support,
                     MessageHandler on_message)
    : participant_(std::move(participant)),
      topic_name_(topic_name),
      type_support_(type_support),
      on_message_(std::move(on_message)) {
  topic_ = create_dds_topic(participant_->handle(), topic_name_, type_support, "subscription");
  DdsListenerPtr listener(dds_create_listener(this));
  dds_lset_data_available(listener.get(), rclcpp::detail::on_data_available);
  dds_lset_sample_lost(listener.get(), rclcpp::detail::on_sample_lost);
  dds_lset_requested_incompatible_qos(listener.get(), on_requested_incompatible_qos);
  reader_ =
      dds_create_reader(participant_->handle(), topic_, to_dds_qos(qos).get(), listener.get());
  if (reader_ < 0) {
    dds_delete(topic_);
    throw std::runtime_error("cannot create a DDS reader on topic '" + topic_name_ +
                             "': " + dds_strretcode(reader_));
  }
}

DdsReader::~DdsReader() {
  dds_delete(reader_);  // waits for a running listener
  dds_delete(topic_);
}

size_t DdsReader::matched_publishers() const {
  dds_subscription_matched_status_t status{};
  if (dds_get_subscription_matched_status(reader_, &status) < 0) return 0;
  return status.current_count;
}

void DdsReader::on_data_available() {
  constexpr size_t kBatch = 16;
  std::array<struct ddsi_serdata*, kBatch> samples{};
  std::array<dds_sample_info_t, kBatch> infos{};
  while (true) {
    const dds_return_t count =
        dds_takecdr(reader_, samples.data(), kBatch, infos.data(), DDS_ANY_STATE);
    if (count <= 0) return;
    for (dds_return_t i = 0; i < count; ++i) {
      if (infos[i].valid_data) {
        const std::vector<uint8_t>& bytes = serialized_bytes(samples[i]);
        std::shared_ptr<void> message = type_support_.create();
        try {
          type_support_.deserialize(bytes.data(), bytes.size(), message.get());
        } catch (const std::exception& error) {
          refused_samples_.fetch_add(1);
          RCLCPP_ERROR(get_logger("rclcpp"), "refused a sample of type '%s' on topic '%s': %s",
                       type_support_.interface_name, topic_name_.c_str(), error.what());
          message.reset();
        }
        if (message) on_message_(message);
      }
      ddsi_serdata_unref(samples[i]);
    }
  }
}

void DdsReader::on_sample_lost(uint32_t total_count_change) {
  lost_samples_.fetch_add(total_count_change);
}

void DdsReader::on_incompatible_publisher(uint32_t policy_id) {
  RCLCPP_WARN(get_logger("rclcpp"),
              "New publisher discovered on topic '%s', offering incompatible QoS. No messages "
              "will be received from it. Last incompatible policy: %s",
              topic_name_.c_str(), qos_policy_name(static_cast<dds_qos_policy_id_t>(policy_id)));
}

}  // namespace detail
}  // namespace rclcpp
