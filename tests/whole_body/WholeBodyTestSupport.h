#pragma once

// Shared set-up of the whole-body controller tests: the bundled robot, a node, a controller,
// an independent model copy at the same state for reference computations, reference
// trajectories and parameter files written on the fly.

#include <fstream>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>

#include <gtest/gtest.h>
#include <rclcpp/rclcpp.hpp>

#include "BundledRobot.h"
#include "common/TrajectoriesBuffer.h"
#include "control/WholeBodyController.h"
#include "core/trajectory/CubicSplineTrajectory.h"
#include "description/ModelInfoLoader.h"
#include "pinocchio/Orientation.h"
#include "pinocchio/PinocchioInterface.h"

namespace velmora::test {

/// Diagonal entries of the matrices and the scalars of a whole-body parameter file.
struct ParamValues {
  double base_weight = 100.0, swing_weight = 200.0, contact_force_weight = 0.01;
  double friction = 0.5, wbc_dt = 0.002;
  double swing_kp = 350.0, swing_kd = 37.0, base_kp = 100.0, base_kd = 20.0;
  bool with_wbc_dt = true;
  double damping_kd = -1.0;  ///< written as safety.damping_kd when not negative
};

/// Writes an INFO parameter file with the given values and returns its path.
inline std::string writeParams(const ParamValues& values, const std::string& tag) {
  const auto diagonal = [](const std::string& name, int n, double value) {
    std::ostringstream out;
    out << name << "\n{\n";
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) out << "(" << i << "," << j << ") " << (i == j) * value << "\n";
    }
    return out.str() + "}\n";
  };
  const std::string path = ::testing::TempDir() + "wbc_params_" + tag + ".info";
  std::ofstream file(path);
  file.precision(17);
  file << "friction_coefficient " << values.friction << "\n";
  if (values.with_wbc_dt) file << "wbc_dt " << values.wbc_dt << "\n";
  file << "weights\n{\n"
       << diagonal("floatingbase", 6, values.base_weight)
       << diagonal("leg_swing", 3, values.swing_weight) << "contact_force "
       << values.contact_force_weight << "\n}\n";
  file << "feedback_gain\n{\n leg_swing\n {\n"
       << diagonal("kp", 3, values.swing_kp) << diagonal("kd", 3, values.swing_kd)
       << " }\n floatingbase\n {\n"
       << diagonal("kp", 6, values.base_kp) << diagonal("kd", 6, values.base_kd) << " }\n}\n";
  if (values.damping_kd >= 0.0) file << "safety\n{\n damping_kd " << values.damping_kd << "\n}\n";
  return path;
}

/// n entries drawn uniformly from [-scale, scale].
inline vector_t randomVector(std::mt19937& rng, int n, double scale) {
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  vector_t v(n);
  for (int k = 0; k < n; ++k) v(k) = scale * unit(rng);
  return v;
}

/// A trajectory holding `value` (any dimension) for a long time around `now_s`.
inline std::shared_ptr<CubicSplineTrajectory> constantTraj(const vector_t& value, double now_s) {
  return std::make_shared<CubicSplineTrajectory>(
      CubicSplineTrajectory::constant(value, now_s - 100.0, now_s + 100.0));
}

/// A trajectory type of the host's making (the spline's evaluation is virtual) whose values and
/// derivatives are NaN; the spline itself rejects non-finite knots.
class NanTrajectory : public CubicSplineTrajectory {
 public:
  explicit NanTrajectory(double now_s)
      : CubicSplineTrajectory({now_s - 100.0, now_s + 100.0},
                              {vector_t::Zero(3), vector_t::Zero(3)}) {}
  vector_t evaluate(scalar_t) const override { return nan(); }
  vector_t derivative(scalar_t, int) const override { return nan(); }

 private:
  static vector_t nan() { return vector_t::Constant(3, std::numeric_limits<double>::quiet_NaN()); }
};

/// Foot trajectories keyed by frame name.
using FootMap = std::map<std::string, std::shared_ptr<CubicSplineTrajectory>>;

/// A node, initialising the ROS 2 context once per test program.
inline std::shared_ptr<rclcpp::Node> makeNode() {
  if (!rclcpp::ok()) rclcpp::init(0, nullptr);
  return std::make_shared<rclcpp::Node>("test");
}

/// Robot, node, controller and an independent model at the same state.
class Rig {
 public:
  explicit Rig(const std::string& param_file = kestrelFile("params.info"))
      : node(makeNode()),
        model(std::make_shared<PinocchioInterface>(kestrelFile("robot.urdf"))),
        info(std::make_shared<ModelInfo>(loadModelInfo(kestrelFile("description.info"), *model))),
        wbc(std::make_shared<WholeBodyController>(node, info, model)) {
    wbc->loadParamsSetting(param_file, false);
    setState(standingQpos(), vector_t::Zero(model->Nv()));
  }

  int nv() const { return model->Nv(); }
  int nJ() const { return static_cast<int>(info->joints_name.size()); }
  double now() const { return node->now().seconds(); }
  double weight() const { return model->total_mass() * 9.81; }

  /// The description's standing pose, with base roll-pitch-yaw and position offset as given.
  vector_t standingQpos(const vector3_t& rpy = vector3_t::Zero(),
                        const vector3_t& base_offset = vector3_t::Zero()) const {
    vector_t qpos(model->Nq());
    const Eigen::Quaterniond quat = toQuaternion(rpy);
    qpos << info->base_init_pos + base_offset, quat.x(), quat.y(), quat.z(), quat.w(),
        info->joints_init_pos;
    return qpos;
  }

  /// Gives the state to the controller and to the test's own model.
  void setState(const vector_t& qpos, const vector_t& qvel) {
    wbc->update_state(std::make_shared<vector_t>(qpos), std::make_shared<vector_t>(qvel));
    model->updateRobotState(qpos, qvel);
  }

  /// A policy demanding the constant body acceleration `acc` (world axes, linear first).
  static std::shared_ptr<CtrlData> constantPolicy(const vector6_t& acc) {
    auto policy = std::make_shared<CtrlData>();
    policy->a = matrix_t::Zero(6, 12);
    policy->b = acc;
    return policy;
  }

  /// References holding the current base pose and every foot where it is now.
  std::shared_ptr<TrajectoriesBuffer> holdReferences() const {
    auto refs = std::make_shared<TrajectoriesBuffer>();
    const auto base = model->getFramePose(info->base_name);
    refs->set_base_pos_traj(constantTraj(base.translation(), now()));
    refs->set_base_pos_ref_traj(constantTraj(base.translation(), now()));
    refs->set_base_rpy_traj(constantTraj(toEulerAngles(base.rotation()), now()));
    FootMap feet;
    for (const auto& foot : info->foot_name) {
      feet[foot] = constantTraj(model->getFramePose(foot).translation(), now());
    }
    refs->set_foot_pos_traj(feet);
    return refs;
  }

  /// One cycle with contact mode `mode`, references `refs` (default: hold the present pose) and
  /// the policy (default: no acceleration demanded).
  std::shared_ptr<ActuatorCommands> cycle(size_t mode,
                                          std::shared_ptr<const TrajectoriesBuffer> refs = {},
                                          std::shared_ptr<CtrlData> policy = {}) {
    wbc->update_mode(mode);
    wbc->update_trajectory_reference(refs ? refs : holdReferences());
    wbc->update_control_data(policy ? policy : constantPolicy(vector6_t::Zero()));
    return wbc->optimize();
  }

  /// Linear world-aligned Jacobian (3 x nv) of a frame from the test's model.
  matrix_t linearJacobian(const std::string& frame) const {
    matrix6x_t J = matrix6x_t::Zero(6, model->Nv());
    model->getJacobia_localWorldAligned(frame, J);
    return J.topRows(3);
  }

  /// Stacked linear foot Jacobians (12 x nv), foot order.
  matrix_t contactJacobian() const {
    matrix_t Jc(3 * info->foot_name.size(), model->Nv());
    for (size_t i = 0; i < info->foot_name.size(); ++i) {
      Jc.middleRows(3 * i, 3) = linearJacobian(info->foot_name[i]);
    }
    return Jc;
  }

  std::shared_ptr<rclcpp::Node> node;
  std::shared_ptr<PinocchioInterface> model;
  std::shared_ptr<ModelInfo> info;
  std::shared_ptr<WholeBodyController> wbc;
};

}  // namespace velmora::test
