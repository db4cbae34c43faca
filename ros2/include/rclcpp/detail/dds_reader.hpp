#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "rclcpp/detail/dds_participant.hpp"
#include "rclcpp/qos.hpp"
#include "rosidl_typesupport_velmora/message_type_support.hpp"

namespace rclcpp {
namespace detail {

/// The DDS side of a subscription: a data reader on topic "rt" + `topic_name` that decodes every
/// sample as it arrives (on a Cyclone DDS thread) and hands the message to `on_message`. A sample
/// that does not decode is refused with an error naming the topic and the field; lost samples
/// (best effort) are counted. Warns, as ROS 2 does, when a publisher with incompatible QoS
/// appears. Thread-safe.
class DdsReader {
 public:
  using MessageHandler = std::function<void(const std::shared_ptr<const void>&)>;

  /// Throws std::runtime_error if the topic carries another type or Cyclone DDS refuses.
  DdsReader(std::shared_ptr<DdsParticipant> participant, const std::string& topic_name,
            const QoS& qos, const rosidl_typesupport_velmora::MessageTypeSupport& type_support,
            MessageHandler on_message);
  ~DdsReader();
  DdsReader(const DdsReader&) = delete;
  DdsReader& operator=(const DdsReader&) = delete;

  /// The number of matched publishers.
  size_t matched_publishers() const;
  /// Samples refused because they did not decode.
  uint64_t refused_samples() const { return refused_samples_.load(); }
  /// Samples the middleware reported lost.
  uint64_t lost_samples() const { return lost_samples_.load(); }

  // Listener entry points (runtime internals).
  void on_data_available();
  void on_sample_lost(uint32_t total_count_change);
  void on_incompatible_publisher(uint32_t policy_id);

 private:
  const std::shared_ptr<DdsParticipant> participant_;
  const std::string topic_name_;
  const rosidl_typesupport_velmora::MessageTypeSupport& type_support_;
  const MessageHandler on_message_;
  std::atomic<uint64_t> refused_samples_{0};
  std::atomic<uint64_t> lost_samples_{0};
  int32_t topic_ = 0;
  int32_t reader_ = 0;
};

}  // namespace detail
}  // namespace rclcpp
