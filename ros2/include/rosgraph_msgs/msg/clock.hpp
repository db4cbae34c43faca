#pragma once

/// rosgraph_msgs/msg/Clock: the simulation time, published on "/clock" by a simulator.

#include <memory>

#include "builtin_interfaces/msg/time.hpp"
#include "rosidl_runtime_cpp/message_initialization.hpp"
#include "rosidl_runtime_cpp/traits.hpp"

namespace rosgraph_msgs {
namespace msg {

/// `clock`: the current simulation time. Nodes with "use_sim_time" set read it as their time.
template <class ContainerAllocator>
struct Clock_ {
  using Type = Clock_<ContainerAllocator>;

  explicit Clock_(rosidl_runtime_cpp::MessageInitialization init =
                      rosidl_runtime_cpp::MessageInitialization::ALL)
      : clock(init) {}
  explicit Clock_(const ContainerAllocator& alloc,
                  rosidl_runtime_cpp::MessageInitialization init =
                      rosidl_runtime_cpp::MessageInitialization::ALL)
      : clock(alloc, init) {}

  using _clock_type = builtin_interfaces::msg::Time_<ContainerAllocator>;
  _clock_type clock;

  Type& set__clock(const _clock_type& value) {
    clock = value;
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

  bool operator==(const Clock_& other) const { return clock == other.clock; }
  bool operator!=(const Clock_& other) const { return !(*this == other); }
};

using Clock = Clock_<std::allocator<void>>;

}  // namespace msg
}  // namespace rosgraph_msgs

namespace rosidl_generator_traits {
template <>
inline const char* data_type<rosgraph_msgs::msg::Clock>() {
  return "rosgraph_msgs::msg::Clock";
}
template <>
inline const char* name<rosgraph_msgs::msg::Clock>() {
  return "rosgraph_msgs/msg/Clock";
}
template <>
struct is_message<rosgraph_msgs::msg::Clock> : std::true_type {};
template <>
struct has_fixed_size<rosgraph_msgs::msg::Clock> : std::true_type {};
template <>
struct has_bounded_size<rosgraph_msgs::msg::Clock> : std::true_type {};
}  // namespace rosidl_generator_traits
