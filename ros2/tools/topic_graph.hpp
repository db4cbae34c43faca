#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "rclcpp/detail/dds_participant.hpp"

namespace velmora_topic {

/// The ROS 2 topics of a DDS domain as discovered from its built-in publication and
/// subscription topics: every DDS topic "rt/<name>" becomes ROS topic "/<name>", every DDS type
/// "<pkg>::msg::dds_::<Msg>_" the interface "<pkg>/msg/<Msg>". Other DDS topics are left out.
class TopicGraph {
 public:
  explicit TopicGraph(std::shared_ptr<rclcpp::detail::DdsParticipant> participant);

  /// Collects endpoints for `duration` (discovery takes a moment) and returns the topics with
  /// the DDS type names announced for them.
  std::map<std::string, std::set<std::string>> discover(std::chrono::milliseconds duration);

 private:
  const std::shared_ptr<rclcpp::detail::DdsParticipant> participant_;
};

/// The ROS 2 interface name of a DDS type name ("a::msg::dds_::B_" -> "a/msg/B"); other names
/// unchanged.
std::string interface_name(const std::string& dds_type_name);

}  // namespace velmora_topic
