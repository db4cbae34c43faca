#pragma once

/// rcl_interfaces/msg/ParameterDescriptor: how a declared parameter may be used.

#include <cstdint>
#include <memory>
#include <string>

#include "rosidl_runtime_cpp/message_initialization.hpp"
#include "rosidl_runtime_cpp/traits.hpp"

namespace rcl_interfaces {
namespace msg {

/// Name, type and documentation of a parameter; `read_only` forbids setting it after
/// declaration; `dynamic_typing` allows its type to change.
template <class ContainerAllocator>
struct ParameterDescriptor_ {
  using Type = ParameterDescriptor_<ContainerAllocator>;

  explicit ParameterDescriptor_(rosidl_runtime_cpp::MessageInitialization init =
                                    rosidl_runtime_cpp::MessageInitialization::ALL) {
    if (init != rosidl_runtime_cpp::MessageInitialization::SKIP) {
      type = 0;
      read_only = false;
      dynamic_typing = false;
    }
  }

  using _name_type = std::string;
  _name_type name;
  using _type_type = uint8_t;
  _type_type type;
  using _description_type = std::string;
  _description_type description;
  using _additional_constraints_type = std::string;
  _additional_constraints_type additional_constraints;
  using _read_only_type = bool;
  _read_only_type read_only;
  using _dynamic_typing_type = bool;
  _dynamic_typing_type dynamic_typing;

  using SharedPtr = std::shared_ptr<Type>;
  using ConstSharedPtr = std::shared_ptr<const Type>;
  using UniquePtr = std::unique_ptr<Type>;
};

using ParameterDescriptor = ParameterDescriptor_<std::allocator<void>>;

}  // namespace msg
}  // namespace rcl_interfaces

namespace rosidl_generator_traits {
template <>
inline const char* data_type<rcl_interfaces::msg::ParameterDescriptor>() {
  return "rcl_interfaces::msg::ParameterDescriptor";
}
template <>
inline const char* name<rcl_interfaces::msg::ParameterDescriptor>() {
  return "rcl_interfaces/msg/ParameterDescriptor";
}
template <>
struct is_message<rcl_interfaces::msg::ParameterDescriptor> : std::true_type {};
}  // namespace rosidl_generator_traits
