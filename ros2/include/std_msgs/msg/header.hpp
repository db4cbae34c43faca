#pragma once

/// std_msgs/msg/Header: time stamp and coordinate frame of stamped data.

#include <memory>
#include <string>

#include "builtin_interfaces/msg/time.hpp"
#include "rosidl_runtime_cpp/message_initialization.hpp"
#include "rosidl_runtime_cpp/traits.hpp"

namespace std_msgs {
namespace msg {

/// `stamp`: when the data was produced; `frame_id`: the frame it is expressed in.
template <class ContainerAllocator>
struct Header_ {
  using Type = Header_<ContainerAllocator>;
  using _string_allocator =
      typename std::allocator_traits<ContainerAllocator>::template rebind_alloc<char>;

  explicit Header_(rosidl_runtime_cpp::MessageInitialization init =
                       rosidl_runtime_cpp::MessageInitialization::ALL)
      : stamp(init) {}
  explicit Header_(const ContainerAllocator& alloc,
                   rosidl_runtime_cpp::MessageInitialization init =
                       rosidl_runtime_cpp::MessageInitialization::ALL)
      : stamp(alloc, init), frame_id(_string_allocator(alloc)) {}

  using _stamp_type = builtin_interfaces::msg::Time_<ContainerAllocator>;
  _stamp_type stamp;
  using _frame_id_type = std::basic_string<char, std::char_traits<char>, _string_allocator>;
  _frame_id_type frame_id;

  Type& set__stamp(const _stamp_type& value) {
    stamp = value;
    return *this;
  }
  Type& set__frame_id(const _frame_id_type& value) {
    frame_id = value;
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

  bool operator==(const Header_& other) const {
    return stamp == other.stamp && frame_id == other.frame_id;
  }
  bool operator!=(const Header_& other) const { return !(*this == other); }
};

using Header = Header_<std::allocator<void>>;

}  // namespace msg
}  // namespace std_msgs

namespace rosidl_generator_traits {
template <>
inline const char* data_type<std_msgs::msg::Header>() {
  return "std_msgs::msg::Header";
}
template <>
inline const char* name<std_msgs::msg::Header>() {
  return "std_msgs/msg/Header";
}
template <>
struct is_message<std_msgs::msg::Header> : std::true_type {};
}  // namespace rosidl_generator_traits
