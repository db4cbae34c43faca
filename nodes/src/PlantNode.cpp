#include "nodes/PlantNode.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "description/ModelInfoLoader.h"
#include "nodes/StateMessages.h"
#include "pinocchio/PinocchioInterface.h"

namespace velmora {
namespace nodes {
namespace {

constexpr double kStepS = 0.001;

ModelInfo loadInfo(const PlantNodeConfig& config) {
  const PinocchioInterface model(config.robot_urdf);
  return loadModelInfo(config.robot_description, model);
}

/// True when `message` carries a gain or a torque (the held robot waits for such a command).
bool isLive(const communication::msg::ActuatorCmds& message) {
  for (size_t i = 0; i < message.torque.size(); ++i) {
    if (message.kp[i] != 0.0f || message.kd[i] != 0.0f || message.torque[i] != 0.0f) return true;
  }
  return false;
}

}  // namespace

PlantNode::PlantNode(std::shared_ptr<rclcpp::Node> node, const PlantNodeConfig& config)
    : node_(std::move(node)), plant_(config.robot_urdf, loadInfo(config), kStepS, config.terrain) {
  plant_.setFloorFriction(config.floor_friction);
  const rclcpp::QoS sensor_qos(rclcpp::KeepLast(1), rmw_qos_profile_sensor_data);
  joint_state_pub_ =
      node_->create_publisher<sensor_msgs::msg::JointState>("joint_states", sensor_qos);
  odom_pub_ = node_->create_publisher<nav_msgs::msg::Odometry>("odom", sensor_qos);
  command_sub_ = node_->create_subscription<communication::msg::ActuatorCmds>(
      "actuators_cmds", sensor_qos,
      [this](std::shared_ptr<const communication::msg::ActuatorCmds> message) {
        if (!accepts(*message)) return;
        std::lock_guard<std::mutex> lock(command_mutex_);
        pending_ = std::move(message);
      });
}

bool PlantNode::accepts(const communication::msg::ActuatorCmds& message) {
  const size_t n = message.actuators_name.size();
  std::string problem;
  if (message.kp.size() != n || message.pos.size() != n || message.kd.size() != n ||
      message.vel.size() != n || message.torque.size() != n) {
    problem = "kp, pos, kd, vel and torque must have one entry per actuators_name entry (" +
              std::to_string(n) + ")";
  }
  const auto& joints = plant_.jointNames();
  for (size_t i = 0; i < n && problem.empty(); ++i) {
    if (std::find(joints.begin(), joints.end(), message.actuators_name[i]) == joints.end()) {
      problem = "actuators_name[" + std::to_string(i) + "] '" + message.actuators_name[i] +
                "' is not a joint of the robot";
    }
  }
  if (problem.empty()) return true;
  ++refused_;
  RCLCPP_ERROR_THROTTLE(node_->get_logger(), *node_->get_clock(), 1000,
                        "actuators_cmds: %s; message refused", problem.c_str());
  return false;
}

void PlantNode::publishState() {
  const vector_t qpos = plant_.controllerQpos();
  const vector_t qvel = plant_.controllerQvel();
  const auto stamp = node_->now();
  builtin_interfaces::msg::Time time;
  time.sec = static_cast<int32_t>(stamp.nanoseconds() / 1000000000);
  time.nanosec = static_cast<uint32_t>(stamp.nanoseconds() % 1000000000);
  joint_state_pub_->publish(
      toJointState(plant_.jointNames(), qpos, qvel, plant_.appliedJointTorques(), time));
  odom_pub_->publish(toOdometry(qpos, qvel, time));
}

void PlantNode::run(const std::atomic<bool>& stop) {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  std::shared_ptr<const communication::msg::ActuatorCmds> applied;
  for (long step = 0; !stop.load() && rclcpp::ok(); ++step) {
    std::shared_ptr<const communication::msg::ActuatorCmds> command;
    {
      std::lock_guard<std::mutex> lock(command_mutex_);
      command = pending_;
    }
    if (command && command != applied) {
      if (plant_.released() || isLive(*command)) plant_.applyCommand(*command);
      applied = command;
    }
    plant_.step();
    publishState();
    std::this_thread::sleep_until(start + std::chrono::microseconds((step + 1) * 1000));
  }
}

}  // namespace nodes
}  // namespace velmora
