#pragma once
// Stand-in until the generated message headers land.
#include <array>
#include <memory>
#include "rosidl_runtime_cpp/traits.hpp"
namespace geometry_msgs {
namespace msg {
struct Vector3 { double x = 0, y = 0, z = 0; };
struct Point { double x = 0, y = 0, z = 0; };
struct Quaternion { double x = 0, y = 0, z = 0, w = 1; };
struct Pose { Point position; Quaternion orientation; };
struct PoseWithCovariance { Pose pose; std::array<double, 36> covariance{}; };
struct Twist { Vector3 linear, angular; using SharedPtr = std::shared_ptr<Twist>; using ConstSharedPtr = std::shared_ptr<const Twist>; };
struct TwistWithCovariance { Twist twist; std::array<double, 36> covariance{}; };
}  // namespace msg
}  // namespace geometry_msgs
namespace rosidl_generator_traits {
template <>
inline const char* data_type<geometry_msgs::msg::Twist>() { return "geometry_msgs::msg::Twist"; }
template <>
inline const char* name<geometry_msgs::msg::Twist>() { return "geometry_msgs/msg/Twist"; }
template <>
struct is_message<geometry_msgs::msg::Twist> : std::true_type {};
}  // namespace rosidl_generator_traits
