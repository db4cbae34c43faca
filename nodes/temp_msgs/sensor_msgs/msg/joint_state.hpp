#pragma once
// Stand-in until the generated message headers land.
#include <string>
#include <vector>
#include "std_msgs/msg/header.hpp"
namespace sensor_msgs {
namespace msg {
struct JointState {
  std_msgs::msg::Header header;
  std::vector<std::string> name;
  std::vector<double> position, velocity, effort;
  using SharedPtr = std::shared_ptr<JointState>;
  using ConstSharedPtr = std::shared_ptr<const JointState>;
};
}  // namespace msg
}  // namespace sensor_msgs
namespace rosidl_generator_traits {
template <>
inline const char* data_type<sensor_msgs::msg::JointState>() { return "sensor_msgs::msg::JointState"; }
template <>
inline const char* name<sensor_msgs::msg::JointState>() { return "sensor_msgs/msg/JointState"; }
template <>
struct is_message<sensor_msgs::msg::JointState> : std::true_type {};
}  // namespace rosidl_generator_traits
