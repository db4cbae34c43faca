#pragma once

// Shared set-up of the swing-optimisation tests: the bundled robot, a node whose clock the test
// drives through simulation time, reference sets, a capture of standard output, and MuJoCo as
// the independent reference for the robot's joint-space dynamics.

#include <mujoco/mujoco.h>

#include <cmath>
#include <cstdint>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <rclcpp/rclcpp.hpp>
#include <rosgraph_msgs/msg/clock.hpp>

#include "BundledRobot.h"
#include "common/TrajectoriesBuffer.h"
#include "control/SwingOptimization.h"
#include "core/trajectory/CubicSplineTrajectory.h"
#include "description/ModelInfoLoader.h"
#include "pinocchio/PinocchioInterface.h"

namespace velmora::test {

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

/// MuJoCo's view of the bundled robot with the base held: the actuated-joint block of the mass
/// matrix and the joint rows of the bias forces. MuJoCo's free joint takes the orientation as
/// w, x, y, z, the linear velocity in world axes and the angular velocity in base axes.
class MujocoJointDynamics {
 public:
  explicit MujocoJointDynamics(const std::string& urdf_path) {
    char error[1000] = "";
    model_.reset(mj_loadXML(urdf_path.c_str(), nullptr, error, sizeof(error)));
    if (!model_ || model_->jnt_type[0] != mjJNT_FREE) {
      throw std::runtime_error("MuJoCo cannot load a floating robot from " + urdf_path + error);
    }
    data_.reset(mj_makeData(model_.get()));
  }

  /// Evaluates the dynamics at base pose (`base_pos`, `orientation` base to world), base
  /// velocity (`lin_vel`, `ang_vel`, world axes) and joint state (`q`, `v`).
  void setState(const vector3_t& base_pos, const Eigen::Quaterniond& orientation,
                const vector3_t& lin_vel, const vector3_t& ang_vel, const vector_t& q,
                const vector_t& v) {
    const int nv = model_->nv, nj = nv - 6;
    mj_resetData(model_.get(), data_.get());
    Eigen::Map<vector_t> qpos(data_->qpos, model_->nq), qvel(data_->qvel, nv);
    qpos << base_pos, orientation.w(), orientation.x(), orientation.y(), orientation.z(), q;
    const matrix3_t R = orientation.toRotationMatrix();
    qvel << lin_vel, R.transpose() * ang_vel, v;
    mj_forward(model_.get(), data_.get());
    Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor> dense(nv, nv);
    mj_fullM(model_.get(), dense.data(), data_->qM);
    mass_ = dense;
    // MuJoCo's bias holds the base origin at zero world acceleration; the free-flyer convention
    // holds the spatial acceleration at zero, where the origin accelerates by R (w_b x v_b).
    const vector3_t origin_acc = R * ((R.transpose() * ang_vel).cross(R.transpose() * lin_vel));
    bias_ = Eigen::Map<const vector_t>(data_->qfrc_bias, nv).tail(nj) +
            mass_.bottomLeftCorner(nj, 3) * origin_acc;
  }

  /// Actuated-joint block of the joint-space inertia matrix [kg m^2].
  matrix_t jointMass() const { return mass_.bottomRightCorner(model_->nv - 6, model_->nv - 6); }
  /// Joint rows of the bias forces at zero spatial base acceleration [N m].
  const vector_t& jointBias() const { return bias_; }

 private:
  struct ModelDeleter {
    void operator()(mjModel* m) const { mj_deleteModel(m); }
  };
  struct DataDeleter {
    void operator()(mjData* d) const { mj_deleteData(d); }
  };
  std::unique_ptr<mjModel, ModelDeleter> model_;
  std::unique_ptr<mjData, DataDeleter> data_;
  matrix_t mass_;
  vector_t bias_;
};

using TrajectoryPtr = std::shared_ptr<CubicSplineTrajectory>;

inline TrajectoryPtr constantTrajectory(const vector_t& value, double t0, double t1) {
  return std::make_shared<CubicSplineTrajectory>(CubicSplineTrajectory::constant(value, t0, t1));
}

/// q(t) = q0 + v0 s + a s^2 / 2 with s = t - t0, exactly (a cubic Hermite segment reproduces
/// every quadratic; a = 0 gives a ramp).
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
    if (!rclcpp::ok()) rclcpp::init(0, nullptr);
  }

  KestrelSwingTest()
      : node(std::make_shared<rclcpp::Node>("test")),
        model(kestrelFile("robot.urdf")),
        info(loadModelInfo(kestrelFile("description.info"), model)),
        nj(static_cast<Eigen::Index>(info.joints_name.size())) {
    node->set_parameter(rclcpp::Parameter("use_sim_time", true));
    clock_ = node->create_publisher<rosgraph_msgs::msg::Clock>("/clock", rclcpp::QoS(10));
    rosgraph_msgs::msg::Clock msg;  // the node's simulation time at t0
    msg.clock.sec = static_cast<int32_t>(t0);
    clock_->publish(msg);
  }

  static vector_t standingBasePos() { return vector3_t(0.0, 0.0, 0.3); }

  /// References with the base standing still at `rpy` and the joints held at `joints`, over
  /// [t0, t0 + duration].
  std::shared_ptr<TrajectoriesBuffer> stationaryReferences(
      const vector_t& joints, double duration, const vector3_t& rpy = vector3_t::Zero()) const {
    return makeReferences(constantTrajectory(standingBasePos(), t0, t0 + duration),
                          constantTrajectory(rpy, t0, t0 + duration),
                          constantTrajectory(joints, t0, t0 + duration));
  }

  /// Gives `swing` the full generalised state with the base at rest, standing, level.
  void setJointState(SwingOptimization& swing, const vector_t& joint_pos,
                     const vector_t& joint_vel) const {
    auto qpos = std::make_shared<vector_t>(vector_t::Zero(7 + nj));
    auto qvel = std::make_shared<vector_t>(vector_t::Zero(6 + nj));
    *qpos << standingBasePos(), 0.0, 0.0, 0.0, 1.0, joint_pos;  // quaternion x, y, z, w
    qvel->tail(nj) = joint_vel;
    swing.update_state(qpos, qvel);
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
  PinocchioInterface model;
  ModelInfo info;
  Eigen::Index nj;

 private:
  rclcpp::Publisher<rosgraph_msgs::msg::Clock>::SharedPtr clock_;
};

}  // namespace velmora::test
