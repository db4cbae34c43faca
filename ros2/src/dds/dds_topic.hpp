#pragma once

// Creation of DDS topics and listeners shared by writers and readers.

#include <dds/dds.h>

#include <string>

#include "rosidl_typesupport_velmora/message_type_support.hpp"

namespace rclcpp {
namespace detail {

/// Creates the DDS topic of ROS topic `topic_name` with the type of `type_support` on
/// `participant`; throws std::runtime_error naming both if Cyclone DDS refuses (another type
/// on the topic). `endpoint_kind` ("publisher", "subscription") goes into the message.
dds_entity_t create_dds_topic(dds_entity_t participant, const std::string& topic_name,
                              const rosidl_typesupport_velmora::MessageTypeSupport& type_support,
                              const char* endpoint_kind);

/// Deletes a listener.
struct DdsListenerDeleter {
  void operator()(dds_listener_t* listener) const { dds_delete_listener(listener); }
};
using DdsListenerPtr = std::unique_ptr<dds_listener_t, DdsListenerDeleter>;

}  // namespace detail
}  // namespace rclcpp
