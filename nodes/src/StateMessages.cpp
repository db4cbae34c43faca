#include "nodes/StateMessages.h"

#include <cmath>
#include <stdexcept>

namespace velmora {
namespace nodes {
namespace {

void requireFinite(double value, const char* topic, const std::string& field) {
  if (!std::isfinite(value)) {
    throw std::invalid_argument(std::string(topic) + ": " + field + " is not finite");
  }
}

}  // namespace

sensor_msgs::msg::JointState toJointState(const std::vector<std::string>& joint_names,
                                          const vector_t& qpos, const vector_t& qvel,
                                          const vector_t& effort,
                                          const builtin_interfaces::msg::Time& stamp) {
  const auto n = static_cast<Eigen::Index>(joint_names.size());
  if (qpos.size() != 7 + n || qvel.size() != 6 + n || effort.size() != n) {
    throw std::invalid_argument("toJointState: " + std::to_string(n) +
                                " joints need qpos 7 + n, qvel 6 + n and n efforts");
  }
  sensor_msgs::msg::JointState message;
  message.header.stamp = stamp;
  message.name = joint_names;
  message.position.assign(qpos.data() + 7, qpos.data() + qpos.size());
  message.velocity.assign(qvel.data() + 6, qvel.data() + qvel.size());
  message.effort.assign(effort.data(), effort.data() + effort.size());
  return message;
}

nav_msgs::msg::Odometry toOdometry(const vector_t& qpos, const vector_t& qvel,
                                   const builtin_interfaces::msg::Time& stamp) {
  if (qpos.size() < 7 || qvel.size() < 6) {
    throw std::invalid_argument("toOdometry: qpos needs 7 and qvel 6 base entries");
  }
  nav_msgs::msg::Odometry message;
  message.header.stamp = stamp;
  message.header.frame_id = "odom";
  message.child_frame_id = "base";
  auto& pose = message.pose.pose;
  pose.position.x = qpos(0);
  pose.position.y = qpos(1);
  pose.position.z = qpos(2);
  pose.orientation.x = qpos(3);
  pose.orientation.y = qpos(4);
  pose.orientation.z = qpos(5);
  pose.orientation.w = qpos(6);
  auto& twist = message.twist.twist;
  twist.linear.x = qvel(0);
  twist.linear.y = qvel(1);
  twist.linear.z = qvel(2);
  twist.angular.x = qvel(3);
  twist.angular.y = qvel(4);
  twist.angular.z = qvel(5);
  return message;
}

JointVectors readJointState(const sensor_msgs::msg::JointState& message,
                            const std::vector<std::string>& joint_names) {
  constexpr const char* kTopic = "joint_states";
  const size_t n = message.name.size();
  if (message.position.size() != n || message.velocity.size() != n) {
    throw std::invalid_argument(std::string(kTopic) + ": name has " + std::to_string(n) +
                                " entries but position has " +
                                std::to_string(message.position.size()) + " and velocity " +
                                std::to_string(message.velocity.size()));
  }
  JointVectors joints{vector_t::Constant(static_cast<Eigen::Index>(joint_names.size()), NAN),
                      vector_t::Constant(static_cast<Eigen::Index>(joint_names.size()), NAN)};
  std::vector<bool> seen(joint_names.size(), false);
  for (size_t i = 0; i < n; ++i) {
    const std::string& name = message.name[i];
    size_t j = 0;
    while (j < joint_names.size() && joint_names[j] != name) ++j;
    if (j == joint_names.size()) {
      throw std::invalid_argument(std::string(kTopic) + ": name[" + std::to_string(i) + "] '" +
                                  name + "' is not a joint of the robot");
    }
    if (seen[j]) {
      throw std::invalid_argument(std::string(kTopic) + ": name lists the joint '" + name +
                                  "' twice");
    }
    seen[j] = true;
    requireFinite(message.position[i], kTopic, "position of '" + name + "'");
    requireFinite(message.velocity[i], kTopic, "velocity of '" + name + "'");
    joints.position(static_cast<Eigen::Index>(j)) = message.position[i];
    joints.velocity(static_cast<Eigen::Index>(j)) = message.velocity[i];
  }
  for (size_t j = 0; j < joint_names.size(); ++j) {
    if (!seen[j]) {
      throw std::invalid_argument(std::string(kTopic) + ": name lacks the joint '" +
                                  joint_names[j] + "'");
    }
  }
  return joints;
}

void readOdometry(const nav_msgs::msg::Odometry& message, vector_t& base_qpos,
                  vector_t& base_qvel) {
  constexpr const char* kTopic = "odom";
  const auto& p = message.pose.pose.position;
  const auto& o = message.pose.pose.orientation;
  const auto& v = message.twist.twist.linear;
  const auto& w = message.twist.twist.angular;
  const double values[] = {p.x, p.y, p.z, o.x, o.y, o.z, o.w, v.x, v.y, v.z, w.x, w.y, w.z};
  static const char* const kFields[] = {
      "pose.pose.position.x",    "pose.pose.position.y",    "pose.pose.position.z",
      "pose.pose.orientation.x", "pose.pose.orientation.y", "pose.pose.orientation.z",
      "pose.pose.orientation.w", "twist.twist.linear.x",    "twist.twist.linear.y",
      "twist.twist.linear.z",    "twist.twist.angular.x",   "twist.twist.angular.y",
      "twist.twist.angular.z"};
  for (size_t k = 0; k < 13; ++k) requireFinite(values[k], kTopic, kFields[k]);
  const double norm = std::sqrt(o.x * o.x + o.y * o.y + o.z * o.z + o.w * o.w);
  if (!(norm > 1e-6)) {
    throw std::invalid_argument(std::string(kTopic) +
                                ": pose.pose.orientation is not a rotation (zero length)");
  }
  base_qpos.resize(7);
  base_qpos << p.x, p.y, p.z, o.x / norm, o.y / norm, o.z / norm, o.w / norm;
  base_qvel.resize(6);
  base_qvel << v.x, v.y, v.z, w.x, w.y, w.z;
}

}  // namespace nodes
}  // namespace velmora
