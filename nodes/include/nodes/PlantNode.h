#pragma once

// The simulated robot as a ROS 2 node: a MuJoCo plant stepped in real time that publishes what
// a robot's driver would and applies the joint commands it receives.

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include <rclcpp/rclcpp.hpp>

#include "communication/msg/actuator_cmds.hpp"
#include "nav_msgs/msg/odometry.hpp"
#include "sensor_msgs/msg/joint_state.hpp"
#include "sim/MujocoPlant.h"
#include "sim/TerrainSpec.h"

namespace velmora {
namespace nodes {

/// What the plant simulates.
struct PlantNodeConfig {
  std::string robot_urdf;         ///< the robot's URDF (MuJoCo loads it)
  std::string robot_description;  ///< description .info (feet, joints, standing pose)
  sim::TerrainSpec terrain;       ///< the ground (flat by default)
  double floor_friction = 1.0;    ///< sliding friction coefficient of the ground (> 0)
};

/// Steps a MujocoPlant every 1 ms of wall-clock time and after each step publishes
/// `joint_states` (name, position [rad], velocity [rad/s], effort = applied torque [N m]) and
/// `odom` (frame "odom", child "base"; pose in the world frame, twist in base axes), stamped
/// with the node clock. Every `actuators_cmds` message is applied from the next step on
/// (tau = kp (pos - q) + kd (vel - dq) + torque, clamped to the URDF effort limit); the robot
/// is held in its standing pose until the first command with a non-zero gain or torque. A
/// message naming a joint the robot lacks, or with sequences of different lengths, is refused
/// with an error naming it; the plant goes on with the last command.
class PlantNode {
 public:
  /// Loads the robot on `node` (topics relative to its namespace).
  /// @throws std::invalid_argument / std::runtime_error naming a file that cannot be loaded.
  PlantNode(std::shared_ptr<rclcpp::Node> node, const PlantNodeConfig& config);

  /// Steps in real time until `stop` becomes true or rclcpp shuts down. The node's
  /// subscription is served by an executor the caller spins.
  void run(const std::atomic<bool>& stop);

  /// Messages refused so far (unknown joint names, inconsistent sizes).
  size_t refusedCommands() const { return refused_.load(); }

 private:
  /// True when `message` can be applied; otherwise logs why not (throttled) and counts it.
  bool accepts(const communication::msg::ActuatorCmds& message);
  void publishState();

  std::shared_ptr<rclcpp::Node> node_;
  sim::MujocoPlant plant_;
  std::shared_ptr<rclcpp::Publisher<sensor_msgs::msg::JointState>> joint_state_pub_;
  std::shared_ptr<rclcpp::Publisher<nav_msgs::msg::Odometry>> odom_pub_;
  std::shared_ptr<rclcpp::Subscription<communication::msg::ActuatorCmds>> command_sub_;
  std::mutex command_mutex_;
  std::shared_ptr<const communication::msg::ActuatorCmds> pending_;  ///< guarded
  std::atomic<size_t> refused_{0};
};

}  // namespace nodes
}  // namespace velmora
