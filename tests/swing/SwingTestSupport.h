#pragma once

// Shared setup of the swing-optimisation tests: the bundled robot, a node whose clock the test
// drives through simulation time, reference sets and a capture of standard output.

#include <cmath>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <rclcpp/rclcpp.hpp>
#include <rosgraph_msgs/msg/clock.hpp>

#include "BundledRobot.h"
#include "common/TrajectoriesBuffer.h"
#include "core/trajectory/CubicSplineTrajectory.h"
#include "description/ModelInfoLoader.h"
#include "pinocchio/Orientation.h"
#include "pinocchio/PinocchioInterface.h"

namespace velmora::test {

/// Effort limit of every revolute joint of a URDF, read straight from the file's text.
inline std::map<std::string, double> urdfEffortLimits(const std::string& urdf_path) {
  std::ifstream file(urdf_path);
  std::stringstream text;
  text << file.rdbuf();
  const std::string urdf = text.str();
  const std::regex joint_re(
      R"re(<joint\s+name="([^"]+)"\s+type="revolute">[\s\S]*?effort="([^"]+)")re");
  std::map<std::string, double> limits;
  for (auto it = std::sregex_iterator(urdf.begin(), urdf.end(), joint_re);
       it != std::sregex_iterator(); ++it) {
    limits[(*it)[1]] = std::stod((*it)[2]);
  }
  return limits;
}

/// A copy of the bundled URDF in the temporary directory whose revolute joints have distinct
/// effort limits (20, 21.5, 23, ... N m in file order), so that a bound paired with the wrong
/// joint shows. Returns its path.
inline std::string kestrelUrdfWithDistinctEfforts() {
  std::ifstream file(kestrelFile("robot.urdf"));
  std::stringstream text;
  text << file.rdbuf();
  const std::string urdf = text.str();
  const std::regex effort_re(R"re(effort="[^"]+")re");
  std::string out;
  auto last = urdf.cbegin();
  int count = 0;
  for (auto it = std::sregex_iterator(urdf.begin(), urdf.end(), effort_re);
       it != std::sregex_iterator(); ++it, ++count) {
    out.append(last, urdf.cbegin() + it->position());
    out += "effort=\"" + std::to_string(20.0 + 1.5 * count) + "\"";
    last = urdf.cbegin() + it->position() + it->length();
  }
  out.append(last, urdf.cend());
  const std::string path = ::testing::TempDir() + "kestrel_distinct_efforts.urdf";
  std::ofstream(path) << out;
  return path;
}

/// Drives a node's clock through "/clock" simulation time.
class SimClock {
 public:
  explicit SimClock(const std::shared_ptr<rclcpp::Node>& node) {
    node->set_parameter(rclcpp::Parameter("use_sim_time", true));
    publisher_ = node->create_publisher<rosgraph_msgs::msg::Clock>("/clock", rclcpp::QoS(10));
  }
  /// Sets the time to `t_s` seconds (rounded to whole nanoseconds).
  void set(double t_s) {
    rosgraph_msgs::msg::Clock msg;
    msg.clock = rclcpp::Time(static_cast<int64_t>(std::llround(t_s * 1e9)), RCL_ROS_TIME);
    publisher_->publish(msg);
  }

 private:
  rclcpp::Publisher<rosgraph_msgs::msg::Clock>::SharedPtr publisher_;
};

/// Replaces std::cout's buffer while alive.
class CoutCapture {
 public:
  CoutCapture() : previous_(std::cout.rdbuf(captured_.rdbuf())) {}
  ~CoutCapture() { std::cout.rdbuf(previous_); }
  std::string text() const { return captured_.str(); }

 private:
  std::ostringstream captured_;
  std::streambuf* previous_;
};

using TrajectoryPtr = std::shared_ptr<CubicSplineTrajectory>;

inline TrajectoryPtr constantTrajectory(const vector_t& value, double t0, double t1) {
  return std::make_shared<CubicSplineTrajectory>(CubicSplineTrajectory::constant(value, t0, t1));
}

inline TrajectoryPtr rampTrajectory(const vector_t& start, const vector_t& rate, double t0,
                                    double t1) {
  return std::make_shared<CubicSplineTrajectory>(
      CubicSplineTrajectory::linearRamp(start, start + rate * (t1 - t0), t0, t1));
}

/// q(t) = q0 + v0 s + a s^2 / 2 with s = t - t0, exactly (a cubic Hermite segment reproduces
/// every quadratic).
inline TrajectoryPtr parabolaTrajectory(const vector_t& q0, const vector_t& v0, const vector_t& a,
                                        double t0, double t1) {
  const double T = t1 - t0;
  return std::make_shared<CubicSplineTrajectory>(
      std::vector<scalar_t>{t0, t1}, std::vector<vector_t>{q0, q0 + v0 * T + 0.5 * a * T * T}, v0,
      v0 + a * T);
}

inline std::shared_ptr<TrajectoriesBuffer> makeReferences(TrajectoryPtr base_pos,
                                                          TrajectoryPtr base_rpy,
                                                          TrajectoryPtr joint_pos) {
  auto references = std::make_shared<TrajectoriesBuffer>();
  references->set_base_pos_traj(std::move(base_pos));
  references->set_base_rpy_traj(std::move(base_rpy));
  references->set_joint_pos_traj(std::move(joint_pos));
  return references;
}

/// The bundled robot, a node on simulation time and helpers around them.
class KestrelSwingTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!rclcpp::ok()) {
      rclcpp::init(0, nullptr);
    }
  }

  KestrelSwingTest()
      : node(std::make_shared<rclcpp::Node>("test")),
        clock(node),
        model(kestrelFile("robot.urdf")),
        info(loadModelInfo(kestrelFile("description.info"), model)),
        nj(static_cast<Eigen::Index>(info.joints_name.size())) {
    clock.set(t0);
  }

  vector_t standingBasePos() const { return vector3_t(0.0, 0.0, 0.3); }

  /// References with the base standing still at `rpy` and the joints held at `joints`, over
  /// [t0, t0 + duration].
  std::shared_ptr<TrajectoriesBuffer> stationaryReferences(
      const vector_t& joints, double duration, const vector3_t& rpy = vector3_t::Zero()) {
    return makeReferences(constantTrajectory(standingBasePos(), t0, t0 + duration),
                          constantTrajectory(rpy, t0, t0 + duration),
                          constantTrajectory(joints, t0, t0 + duration));
  }

  /// References with the base standing still, level, over the joint trajectory's interval.
  std::shared_ptr<TrajectoriesBuffer> standingBaseWith(const TrajectoryPtr& joints) const {
    const double start = joints->startTime(), end = joints->endTime();
    return makeReferences(constantTrajectory(standingBasePos(), start, end),
                          constantTrajectory(vector3_t::Zero(), start, end), joints);
  }

  /// Full generalised state with the base at rest at the standing position, level.
  std::pair<std::shared_ptr<vector_t>, std::shared_ptr<vector_t>> measuredState(
      const vector_t& joint_pos, const vector_t& joint_vel) const {
    auto qpos = std::make_shared<vector_t>(vector_t::Zero(7 + nj));
    auto qvel = std::make_shared<vector_t>(vector_t::Zero(6 + nj));
    qpos->head<3>() = standingBasePos();
    (*qpos)(6) = 1.0;  // quaternion x, y, z, w
    qpos->tail(nj) = joint_pos;
    qvel->tail(nj) = joint_vel;
    return {qpos, qvel};
  }

  /// A non-trivial joint configuration near the standing pose.
  vector_t bentJoints() const {
    vector_t q = info.joints_nominal_pos;
    for (Eigen::Index i = 0; i < nj; ++i) {
      q(i) += 0.05 * static_cast<double>((i % 3) + 1) * ((i % 2) ? -1.0 : 1.0);
    }
    return q;
  }

  static constexpr double t0 = 100.0;  // simulation time at the start of each test [s]
  std::shared_ptr<rclcpp::Node> node;
  SimClock clock;
  PinocchioInterface model;
  ModelInfo info;
  Eigen::Index nj;
};

}  // namespace velmora::test
