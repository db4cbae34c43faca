#pragma once

// A Cyclone DDS type ("sertype") for generated ROS 2 messages, carrying samples as their XCDR1
// bytes. Like ROS 2's own Cyclone middleware it announces no XTypes type information, so peers
// match by type name alone. Writers pass the C++ message to dds_write; readers take the bytes
// with dds_takecdr and decode them with `deserialize`, which reports malformed samples instead
// of dropping them silently.

#include <dds/dds.h>

#include <cstdint>
#include <vector>

#include "rosidl_typesupport_velmora/message_type_support.hpp"

namespace rclcpp {
namespace detail {

/// A new sertype for `type_support` (reference count one, handed to dds_create_topic_sertype).
struct ddsi_sertype* make_serialized_type(
    const rosidl_typesupport_velmora::MessageTypeSupport& type_support);

/// The serialised bytes (header included) of a sample created by a serialized type.
const std::vector<uint8_t>& serialized_bytes(const struct ddsi_serdata* sample);

}  // namespace detail
}  // namespace rclcpp
