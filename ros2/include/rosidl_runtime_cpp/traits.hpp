#pragma once

/// Compile-time facts about message types, specialised by every message header.

#include <type_traits>

namespace rosidl_generator_traits {

/// The C++ spelling of a message type, e.g. "std_msgs::msg::Header".
template <typename T>
inline const char* data_type();

/// The interface name of a message type, e.g. "std_msgs/msg/Header".
template <typename T>
inline const char* name();

/// True for message types.
template <typename T>
struct is_message : std::false_type {};

/// True if the message has no unbounded or bounded sequence or string.
template <typename T>
struct has_fixed_size : std::false_type {};

/// True if every sequence and string of the message is bounded.
template <typename T>
struct has_bounded_size : std::false_type {};

}  // namespace rosidl_generator_traits
