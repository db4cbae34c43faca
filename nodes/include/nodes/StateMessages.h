#pragma once

// The robot's measured state as ROS 2 messages and back.
//
// joint_states (sensor_msgs/JointState): name, position [rad], velocity [rad/s], effort [N m]
// per actuated joint, in any order. odom (nav_msgs/Odometry): header.frame_id "odom",
// child_frame_id "base"; pose = base position [m] and orientation in the world (odom) frame;
// twist = base linear [m/s] and angular [rad/s] velocity in base axes.
// Controller coordinates: qpos = (base position, quaternion x, y, z, w, joint angles in the
// order of ModelInfo::joints_name), qvel = (linear, angular velocity in base axes, joint rates).

#include <string>
#include <vector>

#include "core/Types.h"
#include "nav_msgs/msg/odometry.hpp"
#include "sensor_msgs/msg/joint_state.hpp"

namespace velmora {
namespace nodes {

/// joint_states for controller state `qpos`, `qvel` (joints named `joint_names`, controller
/// order) and the applied torques `effort` [N m], stamped `stamp`.
/// @throws std::invalid_argument when the sizes disagree.
sensor_msgs::msg::JointState toJointState(const std::vector<std::string>& joint_names,
                                          const vector_t& qpos, const vector_t& qvel,
                                          const vector_t& effort,
                                          const builtin_interfaces::msg::Time& stamp);

/// odom for the base part of controller state `qpos`, `qvel`, stamped `stamp`.
/// @throws std::invalid_argument when qpos has fewer than 7 or qvel fewer than 6 entries.
nav_msgs::msg::Odometry toOdometry(const vector_t& qpos, const vector_t& qvel,
                                   const builtin_interfaces::msg::Time& stamp);

/// Joint positions and velocities of a joint_states message, in the order of `joint_names`.
struct JointVectors {
  vector_t position;  ///< [rad]
  vector_t velocity;  ///< [rad/s]
};

/// Reads `message` (topic joint_states) for the joints `joint_names`: every joint must appear
/// exactly once, no other name may appear, position and velocity must have one finite value
/// per name (effort is not read).
/// @throws std::invalid_argument naming the topic, the field and the joint or sizes at fault.
JointVectors readJointState(const sensor_msgs::msg::JointState& message,
                            const std::vector<std::string>& joint_names);

/// Base part of the controller state from `message` (topic odom): qpos (7: position, unit
/// quaternion x, y, z, w) and qvel (6: linear and angular velocity, base axes).
/// @throws std::invalid_argument naming the topic and field with a non-finite value or a
///         quaternion of zero length.
void readOdometry(const nav_msgs::msg::Odometry& message, vector_t& base_qpos, vector_t& base_qvel);

}  // namespace nodes
}  // namespace velmora
