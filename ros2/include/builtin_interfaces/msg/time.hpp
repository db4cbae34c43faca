#pragma once

/// builtin_interfaces/msg/Time: a point in time as whole seconds and nanoseconds.

#include <cstdint>
#include <memory>

#include "rosidl_runtime_cpp/message_initialization.hpp"
#include "rosidl_runtime_cpp/traits.hpp"

namespace builtin_interfaces {
namespace msg {

/// A time point: `sec` seconds plus `nanosec` nanoseconds (0 <= nanosec < 1e9) since the epoch.
template <class ContainerAllocator>
struct Time_ {
  using Type = Time_<ContainerAllocator>;

  explicit Time_(rosidl_runtime_cpp::MessageInitialization init =
                     rosidl_runtime_cpp::MessageInitialization::ALL) {
    if (init != rosidl_runtime_cpp::MessageInitialization::SKIP) {
      sec = 0;
      nanosec = 0u;
    }
  }
  explicit Time_(const ContainerAllocator&, rosidl_runtime_cpp::MessageInitialization init =
                                                rosidl_runtime_cpp::MessageInitialization::ALL)
      : Time_(init) {}

  using _sec_type = int32_t;
  _sec_type sec;
  using _nanosec_type = uint32_t;
  _nanosec_type nanosec;

  Type& set__sec(const int32_t& value) {
    sec = value;
    return *this;
  }
  Type& set__nanosec(const uint32_t& value) {
    nanosec = value;
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

  bool operator==(const Time_& other) const { return sec == other.sec && nanosec == other.nanosec; }
  bool operator!=(const Time_& other) const { return !(*this == other); }
};

using Time = Time_<std::allocator<void>>;

}  // namespace msg
}  // namespace builtin_interfaces

namespace rosidl_generator_traits {
template <>
inline const char* data_type<builtin_interfaces::msg::Time>() {
  return "builtin_interfaces::msg::Time";
}
template <>
inline const char* name<builtin_interfaces::msg::Time>() {
  return "builtin_interfaces/msg/Time";
}
template <>
struct is_message<builtin_interfaces::msg::Time> : std::true_type {};
template <>
struct has_fixed_size<builtin_interfaces::msg::Time> : std::true_type {};
template <>
struct has_bounded_size<builtin_interfaces::msg::Time> : std::true_type {};
}  // namespace rosidl_generator_traits
