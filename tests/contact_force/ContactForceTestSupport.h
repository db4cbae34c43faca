#pragma once

// Shared set-up of the contact force optimisation tests: the bundled robot standing, a node on
// simulation time, reference sets on the node clock's time axis, gait schedules, parameter files
// and output capture.

#include <gtest/gtest.h>

#include <fstream>
#include <iostream>
#include <limits>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "BundledRobot.h"
#include "common/ModeSchedule.h"
#include "common/TrajectoriesBuffer.h"
#include "control/ContactForceOptimization.h"
#include "core/trajectory/CubicSplineTrajectory.h"
#include "description/ModelInfoLoader.h"
#include "pinocchio/PinocchioInterface.h"
#include "rclcpp/rclcpp.hpp"
#include "rosgraph_msgs/msg/clock.hpp"

namespace velmora::test {

/// Redirects a stream into a string for the lifetime of the object.
class CaptureStream {
 public:
  explicit CaptureStream(std::ostream& stream)
      : stream_(stream), old_(stream.rdbuf(buffer_.rdbuf())) {}
  ~CaptureStream() { stream_.rdbuf(old_); }
  std::string str() const { return buffer_.str(); }

 private:
  std::ostream& stream_;
  std::ostringstream buffer_;
  std::streambuf* old_;
};

/// Writes an INFO parameter file for the optimiser into the test's temporary directory, with a
/// diagonal state weight (every entry written so nothing defaults).
inline std::string writeParams(const std::string& name, double mu, double dt,
                               const std::vector<double>& weight_diagonal = {40, 40, 120, 4, 4, 8,
                                                                             60, 60, 30, 1, 1, 1}) {
  const std::string path = ::testing::TempDir() + "/" + name + ".info";
  std::ofstream file(path);
  file << "friction_coefficient " << mu << "\nforce_optimization_dt " << dt << "\n";
  file << "weights\n{\n  force_optmization\n  {\n";
  for (size_t i = 0; i < 12; ++i) {
    for (size_t j = 0; j < 12; ++j) {
      file << "    (" << i << "," << j << ") " << (i == j ? weight_diagonal.at(i) : 0.0) << "\n";
    }
  }
  file << "  }\n}\n";
  return path;
}

/// Gait schedules (phase 0 = the moment of the optimisation).
inline std::shared_ptr<ModeSchedule> makeSchedule(double duration, std::vector<double> phases,
                                                  std::vector<size_t> modes) {
  return std::make_shared<ModeSchedule>(duration, phases, modes);
}
inline std::shared_ptr<ModeSchedule> standSchedule() { return makeSchedule(0.5, {0.0, 1.0}, {15}); }
/// Trot with a 0.5 s cycle: FL + RR (mode 9), then FR + RL (mode 6).
inline std::shared_ptr<ModeSchedule> trotSchedule() {
  return makeSchedule(0.5, {0.0, 0.5, 1.0}, {9, 6});
}

using TrajectoryPtr = std::shared_ptr<CubicSplineTrajectory>;

/// `value` (any dimension) held over [t0, t0 + duration].
inline TrajectoryPtr constantTrajectory(const vector_t& value, double t0, double duration) {
  return std::make_shared<CubicSplineTrajectory>(
      CubicSplineTrajectory::constant(value, t0, t0 + duration));
}

/// A trajectory type of the host's making (the spline's evaluation is virtual) whose values and
/// derivatives are NaN; the spline itself rejects non-finite knots.
class NanTrajectory : public CubicSplineTrajectory {
 public:
  NanTrajectory(double t0, double duration)
      : CubicSplineTrajectory({t0, t0 + duration}, {vector_t::Zero(3), vector_t::Zero(3)}) {}
  vector_t evaluate(scalar_t) const override { return nan(); }
  vector_t derivative(scalar_t, int) const override { return nan(); }

 private:
  static vector_t nan() { return vector_t::Constant(3, std::numeric_limits<double>::quiet_NaN()); }
};

/// The bundled robot, a node on simulation time and the standing pose.
class ContactForceTest : public ::testing::Test {
 protected:
  static constexpr double kStartTime = 100.0;  ///< simulation time of the tests [s]

  static void SetUpTestSuite() {
    if (!rclcpp::ok()) rclcpp::init(0, nullptr);
  }

  ContactForceTest() {
    model_ = std::make_shared<PinocchioInterface>(kestrelFile("robot.urdf"));
    info_ = std::make_shared<ModelInfo>(loadModelInfo(kestrelFile("description.info"), *model_));
    node_ = std::make_shared<rclcpp::Node>("test");
    node_->set_parameter(rclcpp::Parameter("use_sim_time", true));
    clock_pub_ = node_->create_publisher<rosgraph_msgs::msg::Clock>("/clock", 10);
    rosgraph_msgs::msg::Clock msg;  // the node clock (simulation time) at kStartTime
    msg.clock.sec = static_cast<int32_t>(kStartTime);
    clock_pub_->publish(msg);

    qpos_ = vector_t::Zero(model_->Nq());
    qpos_ << info_->base_init_pos, info_->base_init_quat, info_->joints_init_pos;
    qvel_ = vector_t::Zero(model_->Nv());
    model_->updateRobotState(qpos_, qvel_);
    for (const auto& foot : info_->foot_name) {
      foot_pos_[foot] = model_->getFramePose(foot).translation();
    }
    base_pos_ = model_->getFramePose(info_->base_name).translation();
  }

  std::shared_ptr<ContactForceOptimization> makeOptimizer(
      const std::string& params = kestrelFile("params.info")) const {
    auto optimizer = std::make_shared<ContactForceOptimization>(node_, info_, model_);
    const CaptureStream quiet(std::cerr);  // the bundled file lists only the diagonal: a warning
    optimizer->loadParamsSetting(params, false);
    return optimizer;
  }

  /// Constant references over `duration` from now: the base at `base_pos` (default: standing)
  /// with roll-pitch-yaw `rpy`, each foot at its standing position.
  std::shared_ptr<TrajectoriesBuffer> references(double duration,
                                                 const vector3_t& rpy = vector3_t::Zero()) const {
    const double t0 = node_->now().seconds();
    auto refs = std::make_shared<TrajectoriesBuffer>();
    refs->set_base_pos_traj(constantTrajectory(base_pos_, t0, duration));
    refs->set_base_rpy_traj(constantTrajectory(rpy, t0, duration));
    std::map<std::string, TrajectoryPtr> feet;
    for (const auto& [name, pos] : foot_pos_) feet[name] = constantTrajectory(pos, t0, duration);
    refs->set_foot_pos_traj(feet);
    return refs;
  }

  /// Gives the optimiser the state (qpos, qvel), the references and the schedule.
  void feed(ContactForceOptimization& optimizer, const vector_t& qpos, const vector_t& qvel,
            std::shared_ptr<const TrajectoriesBuffer> refs,
            std::shared_ptr<ModeSchedule> schedule) const {
    optimizer.update_state(std::make_shared<vector_t>(qpos), std::make_shared<vector_t>(qvel));
    optimizer.update_trajectory_reference(std::move(refs));
    optimizer.update_mode_schedule(std::move(schedule));
  }

  /// Sum of the vertical forces of all feet in the input of one stage [N].
  static double verticalForceSum(const vector_t& u) {
    double sum = 0.0;
    for (Eigen::Index i = 0; i < u.size() / 3; ++i) sum += u(3 * i + 2);
    return sum;
  }

  double weight() const { return model_->total_mass() * 9.81; }
  matrix3_t centroidalInertia() const { return model_->getData().Ig.inertia(); }

  std::shared_ptr<PinocchioInterface> model_;
  std::shared_ptr<ModelInfo> info_;
  std::shared_ptr<rclcpp::Node> node_;
  rclcpp::Publisher<rosgraph_msgs::msg::Clock>::SharedPtr clock_pub_;
  vector_t qpos_, qvel_;
  vector3_t base_pos_;
  std::map<std::string, vector3_t> foot_pos_;
};

}  // namespace velmora::test
