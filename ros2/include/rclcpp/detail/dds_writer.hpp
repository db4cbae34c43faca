#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "rclcpp/detail/dds_participant.hpp"
#include "rclcpp/qos.hpp"
#include "rosidl_typesupport_velmora/message_type_support.hpp"

namespace rclcpp {
namespace detail {

/// The DDS side of a publisher: a data writer on topic "rt" + `topic_name` with the DDS type of
/// `type_support`. Warns, as ROS 2 does, when a subscription with incompatible QoS appears.
/// Thread-safe.
class DdsWriter {
 public:
  /// Throws std::runtime_error if the topic carries another type or Cyclone DDS refuses.
  DdsWriter(std::shared_ptr<DdsParticipant> participant, const std::string& topic_name,
            const QoS& qos, const rosidl_typesupport_velmora::MessageTypeSupport& type_support);
  ~DdsWriter();
  DdsWriter(const DdsWriter&) = delete;
  DdsWriter& operator=(const DdsWriter&) = delete;

  /// Publishes `message` (of the writer's type); throws std::runtime_error if it cannot be
  /// serialised (a bounded sequence too long) or sent.
  void write(const void* message);

  /// Waits up to `timeout_ns` (negative: no limit) for all matched readers to acknowledge
  /// everything written; true if they did.
  bool wait_for_acks(int64_t timeout_ns) const;

  /// The number of matched subscriptions.
  size_t matched_subscriptions() const;

 private:
  const std::shared_ptr<DdsParticipant> participant_;
  const std::string topic_name_;
  int32_t topic_ = 0;
  int32_t writer_ = 0;
};

}  // namespace detail
}  // namespace rclcpp
