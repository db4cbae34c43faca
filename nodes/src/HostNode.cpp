#include "nodes/HostNode.h"

#include <chrono>
#include <cmath>
#include <stdexcept>
#include <thread>

#include "description/ModelInfoLoader.h"
#include "nodes/StateMessages.h"
#include "planner/GaitTable.h"

namespace velmora {
namespace nodes {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kTick = std::chrono::milliseconds(5);
constexpr int kTicksPerPlan = 2;  ///< plans every 10 ms
constexpr double kCommandTimeoutS = 0.5;
/// Without joint_states for this long the controller gets "no state" and publishes nothing:
/// with the tick and one publication period the torques stop within 50 ms.
constexpr auto kJointStateTimeout = std::chrono::milliseconds(30);

std::shared_ptr<PinocchioInterface> loadModel(const HostNodeConfig& config) {
  return std::make_shared<PinocchioInterface>(config.robot_urdf);
}

}  // namespace

HostNode::HostNode(std::shared_ptr<rclcpp::Node> node, const HostNodeConfig& config)
    : node_(std::move(node)),
      model_(loadModel(config)),
      info_(std::make_shared<ModelInfo>(loadModelInfo(config.robot_description, *model_))),
      gait_(planner::gaitNamed(config.gait)),
      planner_(*info_, *model_, planner::PlannerSettings{}) {
  planner_.setCommand(gait_, command_);
  controller_ = std::make_unique<MotionController>(node_, info_, model_, config.params, "");
  const rclcpp::QoS sensor_qos(rclcpp::KeepLast(1), rmw_qos_profile_sensor_data);
  odom_sub_ = node_->create_subscription<nav_msgs::msg::Odometry>(
      "odom", sensor_qos,
      [this](std::shared_ptr<const nav_msgs::msg::Odometry> m) { onOdometry(*m); });
  joint_state_sub_ = node_->create_subscription<sensor_msgs::msg::JointState>(
      "joint_states", sensor_qos,
      [this](std::shared_ptr<const sensor_msgs::msg::JointState> m) { onJointState(*m); });
  // Best effort takes reliable and best-effort publishers alike (a lost cmd_vel is soon
  // replaced, and one older than 0.5 s counts as zero anyway).
  cmd_vel_sub_ = node_->create_subscription<geometry_msgs::msg::Twist>(
      "cmd_vel", rclcpp::QoS(rclcpp::KeepLast(1)).best_effort(),
      [this](std::shared_ptr<const geometry_msgs::msg::Twist> m) { onCommand(*m); });
}

HostNode::~HostNode() { controller_.reset(); }

void HostNode::reject(const std::exception& error) {
  ++rejected_;
  RCLCPP_ERROR_THROTTLE(node_->get_logger(), *node_->get_clock(), 1000, "%s; message dropped",
                        error.what());
}

void HostNode::onOdometry(const nav_msgs::msg::Odometry& message) {
  vector_t qpos, qvel;
  try {
    readOdometry(message, qpos, qvel);
  } catch (const std::invalid_argument& error) {
    reject(error);
    return;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  base_qpos_ = qpos;
  base_qvel_ = qvel;
  have_odom_ = true;
}

void HostNode::onJointState(const sensor_msgs::msg::JointState& message) {
  JointVectors joints;
  try {
    joints = readJointState(message, info_->joints_name);
  } catch (const std::invalid_argument& error) {
    reject(error);
    return;
  }
  const Eigen::Index n = joints.position.size();
  auto qpos = std::make_shared<vector_t>(7 + n);
  auto qvel = std::make_shared<vector_t>(6 + n);
  std::lock_guard<std::mutex> lock(mutex_);
  if (!have_odom_) return;
  *qpos << base_qpos_, joints.position;
  *qvel << base_qvel_, joints.velocity;
  qpos_ = qpos;
  qvel_ = qvel;
  last_joint_state_ = Clock::now();
  controller_->update_current_state(qpos, qvel);
}

void HostNode::onCommand(const geometry_msgs::msg::Twist& message) {
  const double values[] = {message.linear.x, message.linear.y, message.angular.z};
  static const char* const kFields[] = {"linear.x", "linear.y", "angular.z"};
  for (size_t k = 0; k < 3; ++k) {
    if (!std::isfinite(values[k])) {
      reject(std::invalid_argument(std::string("cmd_vel: ") + kFields[k] + " is not finite"));
      return;
    }
  }
  const double now = node_->now().seconds();
  std::lock_guard<std::mutex> lock(mutex_);
  command_ = planner::VelocityCommand{values[0], values[1], values[2]};
  command_time_s_ = now;
}

void HostNode::run(const std::atomic<bool>& stop) {
  planner::VelocityCommand planned;
  bool lost_reported = false;
  auto next = Clock::now();
  for (long tick = 0; !stop.load() && rclcpp::ok(); ++tick) {
    next += kTick;
    std::shared_ptr<const vector_t> qpos, qvel;
    planner::VelocityCommand wanted;
    const double now = node_->now().seconds();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (qpos_ && Clock::now() - last_joint_state_ > kJointStateTimeout) {
        qpos_.reset();
        qvel_.reset();
        controller_->update_current_state(nullptr, nullptr);
        RCLCPP_WARN(node_->get_logger(),
                    "joint_states: none for %lld ms; no commands until they come back",
                    static_cast<long long>(kJointStateTimeout.count()));
        lost_reported = true;
      } else if (qpos_ && lost_reported) {
        RCLCPP_INFO(node_->get_logger(), "joint_states: back; commands resume");
        lost_reported = false;
      }
      qpos = qpos_;
      qvel = qvel_;
      if (now - command_time_s_ <= kCommandTimeoutS) wanted = command_;
    }
    if (qpos && tick % kTicksPerPlan == 0) {
      if (wanted.vx != planned.vx || wanted.vy != planned.vy ||
          wanted.yaw_rate != planned.yaw_rate) {
        planned = wanted;
        planner_.setCommand(gait_, planned);
      }
      const planner::PlannerOutput plan = planner_.plan(now, *qpos, *qvel);
      controller_->update_mode_schedule(plan.mode_schedule);
      controller_->update_trajectory_reference(plan.trajectories);
    }
    std::this_thread::sleep_until(next);
  }
}

}  // namespace nodes
}  // namespace velmora
