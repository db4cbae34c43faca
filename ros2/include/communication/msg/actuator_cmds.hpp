#pragma once

/// communication/msg/ActuatorCmds: one joint-level command per listed actuator.
/// The message definition is ros2/msg/ActuatorCmds.msg.

#include <memory>
#include <string>

#include "rosidl_runtime_cpp/bounded_vector.hpp"
#include "rosidl_runtime_cpp/message_initialization.hpp"
#include "rosidl_runtime_cpp/traits.hpp"
#include "std_msgs/msg/header.hpp"

namespace communication {
namespace msg {

/// Commands for up to 30 actuators. Entry i of `kp`, `pos`, `kd`, `vel` and `torque` belongs to
/// the joint `actuators_name[i]`: stiffness (N m/rad), desired position (rad), damping
/// (N m s/rad), desired velocity (rad/s) and feed-forward torque (N m). Fields in wire order.
template <class ContainerAllocator>
struct ActuatorCmds_ {
  using Type = ActuatorCmds_<ContainerAllocator>;
  using _string_allocator =
      typename std::allocator_traits<ContainerAllocator>::template rebind_alloc<char>;
  using _string_type = std::basic_string<char, std::char_traits<char>, _string_allocator>;
  using _float_allocator =
      typename std::allocator_traits<ContainerAllocator>::template rebind_alloc<float>;
  using _float_sequence = rosidl_runtime_cpp::BoundedVector<float, 30, _float_allocator>;

  explicit ActuatorCmds_(rosidl_runtime_cpp::MessageInitialization init =
                             rosidl_runtime_cpp::MessageInitialization::ALL)
      : header(init) {}
  explicit ActuatorCmds_(const ContainerAllocator& alloc,
                         rosidl_runtime_cpp::MessageInitialization init =
                             rosidl_runtime_cpp::MessageInitialization::ALL)
      : header(alloc, init) {}

  using _header_type = std_msgs::msg::Header_<ContainerAllocator>;
  _header_type header;
  using _actuators_name_type = rosidl_runtime_cpp::BoundedVector<
      _string_type, 30,
      typename std::allocator_traits<ContainerAllocator>::template rebind_alloc<_string_type>>;
  _actuators_name_type actuators_name;
  using _kp_type = _float_sequence;
  _kp_type kp;
  using _pos_type = _float_sequence;
  _pos_type pos;
  using _kd_type = _float_sequence;
  _kd_type kd;
  using _vel_type = _float_sequence;
  _vel_type vel;
  using _torque_type = _float_sequence;
  _torque_type torque;

  Type& set__header(const _header_type& value) {
    header = value;
    return *this;
  }
  Type& set__actuators_name(const _actuators_name_type& value) {
    actuators_name = value;
    return *this;
  }
  Type& set__kp(const _kp_type& value) {
    kp = value;
    return *this;
  }
  Type& set__pos(const _pos_type& value) {
    pos = value;
    return *this;
  }
  Type& set__kd(const _kd_type& value) {
    kd = value;
    return *this;
  }
  Type& set__vel(const _vel_type& value) {
    vel = value;
    return *this;
  }
  Type& set__torque(const _torque_type& value) {
    torque = value;
    return *this;
  }

  using RawPtr = Type*;
  using ConstRawPtr = const Type*;
  using SharedPtr = std::shared_ptr<Type>;
  using ConstSharedPtr = std::shared_ptr<const Type>;
  using UniquePtr = std::unique_ptr<Type>;
  using ConstUniquePtr = std::unique_ptr<const Type>;
  using WeakPtr = std::weak_ptr<Type>;
  using ConstWeakPtr = std::weak_ptr<const Type>;

  bool operator==(const ActuatorCmds_& other) const {
    return header == other.header && actuators_name == other.actuators_name && kp == other.kp &&
           pos == other.pos && kd == other.kd && vel == other.vel && torque == other.torque;
  }
  bool operator!=(const ActuatorCmds_& other) const { return !(*this == other); }
};

using ActuatorCmds = ActuatorCmds_<std::allocator<void>>;

}  // namespace msg
}  // namespace communication

namespace rosidl_generator_traits {
template <>
inline const char* data_type<communication::msg::ActuatorCmds>() {
  return "communication::msg::ActuatorCmds";
}
template <>
inline const char* name<communication::msg::ActuatorCmds>() {
  return "communication/msg/ActuatorCmds";
}
template <>
struct is_message<communication::msg::ActuatorCmds> : std::true_type {};
}  // namespace rosidl_generator_traits
