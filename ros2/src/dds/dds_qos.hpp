#pragma once

// Conversions between rclcpp QoS profiles and Cyclone DDS QoS.

#include <dds/dds.h>

#include <memory>

#include "rclcpp/qos.hpp"

namespace rclcpp {
namespace detail {

/// Deletes a dds_qos_t.
struct DdsQosDeleter {
  void operator()(dds_qos_t* qos) const { dds_delete_qos(qos); }
};
using DdsQosPtr = std::unique_ptr<dds_qos_t, DdsQosDeleter>;

/// The DDS QoS of an endpoint with `qos`: reliability, durability and history as given (system
/// defaults: reliable, volatile, keep last), XCDR1 data representation.
DdsQosPtr to_dds_qos(const QoS& qos);

/// The ROS 2 name of a DDS QoS policy id ("RELIABILITY_QOS_POLICY", ...).
const char* qos_policy_name(dds_qos_policy_id_t policy);

}  // namespace detail
}  // namespace rclcpp
