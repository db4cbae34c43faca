#pragma once

/// rcl_interfaces/msg/SetParametersResult: the outcome of setting one parameter.

#include <memory>
#include <string>

#include "rosidl_runtime_cpp/message_initialization.hpp"
#include "rosidl_runtime_cpp/traits.hpp"

namespace rcl_interfaces {
namespace msg {

/// `successful` tells whether the parameter was set; `reason` says why not.
template <class ContainerAllocator>
struct SetParametersResult_ {
  using Type = SetParametersResult_<ContainerAllocator>;

  explicit SetParametersResult_(rosidl_runtime_cpp::MessageInitialization init =
                                    rosidl_runtime_cpp::MessageInitialization::ALL) {
    if (init != rosidl_runtime_cpp::MessageInitialization::SKIP) successful = false;
  }

  using _successful_type = bool;
  _successful_type successful;
  using _reason_type = std::string;
  _reason_type reason;

  using SharedPtr = std::shared_ptr<Type>;
  using ConstSharedPtr = std::shared_ptr<const Type>;
  using UniquePtr = std::unique_ptr<Type>;

  bool operator==(const SetParametersResult_& other) const {
    return successful == other.successful && reason == other.reason;
  }
  bool operator!=(const SetParametersResult_& other) const { return !(*this == other); }
};

using SetParametersResult = SetParametersResult_<std::allocator<void>>;

}  // namespace msg
}  // namespace rcl_interfaces

namespace rosidl_generator_traits {
template <>
inline const char* data_type<rcl_interfaces::msg::SetParametersResult>() {
  return "rcl_interfaces::msg::SetParametersResult";
}
template <>
inline const char* name<rcl_interfaces::msg::SetParametersResult>() {
  return "rcl_interfaces/msg/SetParametersResult";
}
template <>
struct is_message<rcl_interfaces::msg::SetParametersResult> : std::true_type {};
}  // namespace rosidl_generator_traits
