#pragma once

/// builtin_interfaces/msg/Duration: a signed span of time as seconds and nanoseconds.

#include <cstdint>
#include <memory>

#include "rosidl_runtime_cpp/message_initialization.hpp"
#include "rosidl_runtime_cpp/traits.hpp"

namespace builtin_interfaces {
namespace msg {

/// A span of `sec` seconds plus `nanosec` nanoseconds (0 <= nanosec < 1e9); `sec` may be negative.
template <class ContainerAllocator>
struct Duration_ {
  using Type = Duration_<ContainerAllocator>;

  explicit Duration_(rosidl_runtime_cpp::MessageInitialization init =
                         rosidl_runtime_cpp::MessageInitialization::ALL) {
    if (init != rosidl_runtime_cpp::MessageInitialization::SKIP) {
      sec = 0;
      nanosec = 0u;
    }
  }
  explicit Duration_(const ContainerAllocator&, rosidl_runtime_cpp::MessageInitialization init =
                                                    rosidl_runtime_cpp::MessageInitialization::ALL)
      : Duration_(init) {}

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

  bool operator==(const Duration_& other) const {
    return sec == other.sec && nanosec == other.nanosec;
  }
  bool operator!=(const Duration_& other) const { return !(*this == other); }
};

using Duration = Duration_<std::allocator<void>>;

}  // namespace msg
}  // namespace builtin_interfaces

namespace rosidl_generator_traits {
template <>
inline const char* data_type<builtin_interfaces::msg::Duration>() {
  return "builtin_interfaces::msg::Duration";
}
template <>
inline const char* name<builtin_interfaces::msg::Duration>() {
  return "builtin_interfaces/msg/Duration";
}
template <>
struct is_message<builtin_interfaces::msg::Duration> : std::true_type {};
template <>
struct has_fixed_size<builtin_interfaces::msg::Duration> : std::true_type {};
template <>
struct has_bounded_size<builtin_interfaces::msg::Duration> : std::true_type {};
}  // namespace rosidl_generator_traits
