#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace rclcpp {
namespace detail {

/// True if the environment selects the DDS transport: RMW_IMPLEMENTATION=rmw_cyclonedds_cpp.
/// Unset or empty keeps the in-process transport; any other value throws std::runtime_error
/// naming the variable and the values this runtime knows.
bool dds_transport_selected();

/// The domain id of ROS_DOMAIN_ID (0 if unset); throws std::runtime_error unless it is an
/// integer in [0, 232].
uint32_t ros_domain_id();

/// The built-in Cyclone DDS configuration: every participant on the loopback interface only
/// (127.0.0.1), no multicast, discovery by unicast to the local ports.
const char* dds_loopback_config();

/// The DDS topic name of a fully qualified ROS topic name: "rt" + name ("/clock" -> "rt/clock").
std::string dds_topic_name(const std::string& ros_topic_name);

/// One Cyclone DDS domain participant of a context. Its traffic stays on the loopback interface
/// (dds_loopback_config) unless the user opts out with their own CYCLONEDDS_URI or with
/// ROS_LOCALHOST_ONLY=0. Thread-safe; endpoints keep it alive.
class DdsParticipant {
 public:
  /// Joins `domain_id`; throws std::runtime_error if Cyclone DDS refuses.
  explicit DdsParticipant(uint32_t domain_id);
  ~DdsParticipant();
  DdsParticipant(const DdsParticipant&) = delete;
  DdsParticipant& operator=(const DdsParticipant&) = delete;

  /// The Cyclone entity handle of the participant.
  int32_t handle() const { return handle_; }
  /// The DDS domain id.
  uint32_t domain_id() const { return domain_id_; }

 private:
  const uint32_t domain_id_;
  int32_t handle_ = 0;
};

}  // namespace detail
}  // namespace rclcpp
