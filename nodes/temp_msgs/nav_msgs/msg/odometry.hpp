#pragma once
// Stand-in until the generated message headers land.
#include <string>
#include "geometry_msgs/msg/twist.hpp"
#include "std_msgs/msg/header.hpp"
namespace nav_msgs {
namespace msg {
struct Odometry {
  std_msgs::msg::Header header;
  std::string child_frame_id;
  geometry_msgs::msg::PoseWithCovariance pose;
  geometry_msgs::msg::TwistWithCovariance twist;
  using SharedPtr = std::shared_ptr<Odometry>;
  using ConstSharedPtr = std::shared_ptr<const Odometry>;
};
}  // namespace msg
}  // namespace nav_msgs
namespace rosidl_generator_traits {
template <>
inline const char* data_type<nav_msgs::msg::Odometry>() { return "nav_msgs::msg::Odometry"; }
template <>
inline const char* name<nav_msgs::msg::Odometry>() { return "nav_msgs/msg/Odometry"; }
template <>
struct is_message<nav_msgs::msg::Odometry> : std::true_type {};
}  // namespace rosidl_generator_traits
