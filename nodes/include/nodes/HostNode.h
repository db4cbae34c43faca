#pragma once

// The ready-made host: the ROS 2 node a user runs next to the robot's driver. It feeds the
// measured state, the gait planner's schedule and references to a MotionController, which
// publishes the joint commands.

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>

#include <rclcpp/rclcpp.hpp>

#include "control/MotionController.h"
#include "geometry_msgs/msg/twist.hpp"
#include "nav_msgs/msg/odometry.hpp"
#include "planner/GaitPlanner.h"
#include "sensor_msgs/msg/joint_state.hpp"

namespace velmora {
namespace nodes {

/// The robot and how the host drives it.
struct HostNodeConfig {
  std::string robot_urdf;         ///< the robot's URDF
  std::string robot_description;  ///< description .info (feet, joints, standing pose)
  std::string params;             ///< the controller's parameter file (.info)
  std::string gait = "trot";      ///< gait of the gait table the robot walks with
};

/// Subscribes `joint_states` (sensor_msgs/JointState), `odom` (nav_msgs/Odometry, pose in the
/// world frame, twist in base axes) and `cmd_vel` (geometry_msgs/Twist: linear.x, linear.y
/// [m/s] in the yaw-rotated base axes, angular.z [rad/s]); a cmd_vel older than 0.5 s counts
/// as zero. Each joint_states message, with the newest odom, becomes the controller's state;
/// `run` plans at 100 Hz on the node clock. The MotionController publishes `actuators_cmds`.
/// When no joint_states arrived for 30 ms the host withdraws the state, and the controller
/// publishes nothing until they come back (torques stop within 50 ms of the last message). A
/// message with wrong joint names or sizes or a non-finite value is dropped with an error naming
/// the topic and the field.
class HostNode {
 public:
  /// Loads the robot and the parameter file and starts the controller on `node`.
  /// @throws std::invalid_argument naming the gait, a file or a parameter that is rejected.
  HostNode(std::shared_ptr<rclcpp::Node> node, const HostNodeConfig& config);
  /// Stops the controller's loops. Stop the executor spinning `node` and `run` first.
  ~HostNode();
  HostNode(const HostNode&) = delete;
  HostNode& operator=(const HostNode&) = delete;

  /// Watches joint_states every 5 ms and plans every 10 ms until `stop` becomes true or rclcpp
  /// shuts down. The node's subscriptions are served by an executor the caller spins.
  void run(const std::atomic<bool>& stop);

  /// Messages dropped so far for bad content.
  size_t rejectedMessages() const { return rejected_.load(); }

 private:
  void onJointState(const sensor_msgs::msg::JointState& message);
  void onOdometry(const nav_msgs::msg::Odometry& message);
  void onCommand(const geometry_msgs::msg::Twist& message);
  void reject(const std::exception& error);

  std::shared_ptr<rclcpp::Node> node_;
  std::shared_ptr<PinocchioInterface> model_;
  std::shared_ptr<ModelInfo> info_;
  planner::Gait gait_;
  planner::GaitPlanner planner_;
  std::unique_ptr<MotionController> controller_;
  std::shared_ptr<rclcpp::Subscription<sensor_msgs::msg::JointState>> joint_state_sub_;
  std::shared_ptr<rclcpp::Subscription<nav_msgs::msg::Odometry>> odom_sub_;
  std::shared_ptr<rclcpp::Subscription<geometry_msgs::msg::Twist>> cmd_vel_sub_;

  std::mutex mutex_;  ///< guards the values below (written by callbacks, read by run)
  bool have_odom_ = false;
  vector_t base_qpos_, base_qvel_;               ///< newest odom
  std::shared_ptr<const vector_t> qpos_, qvel_;  ///< newest full state (null: none or lost)
  std::chrono::steady_clock::time_point last_joint_state_;  ///< arrival of the newest
  planner::VelocityCommand command_;
  double command_time_s_ = -1e9;  ///< node time the newest cmd_vel arrived
  std::atomic<size_t> rejected_{0};
};

}  // namespace nodes
}  // namespace velmora
