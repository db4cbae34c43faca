#pragma once

// Generator of contact-force-shaped OCP QPs for the solver tests: 12-state centroidal error
// dynamics of a 12.5 kg body (position, velocity, roll-pitch-yaw, angular momentum errors, world
// axes), 12 inputs (one force per foot, feet 0..3), 20 rows per stage (friction pyramid with
// mu = 0.5 and 0 <= fz <= 400 N in stance, zero force in swing), trot gait alternating modes 9
// (feet 0, 3 in stance) and 6 (feet 1, 2) with a 0.5 s cycle, dt = 0.02 s.

#include <vector>

#include <Eigen/Dense>

#include "ocp_qp/OcpQp.h"
#include "ocp_qp/OcpQpIpmSolverSettings.h"
#include "ocp_qp/OcpQpSolution.h"

namespace velmora::ocp_qp::test {

struct ContactForceProblem {
  double dt_s = 0.02;
  double mass_kg = 12.5;
  double friction = 0.5;
  double max_normal_force_n = 400.0;
  double gravity = 9.81;
  double gait_cycle_s = 0.5;
  Eigen::Matrix3d inertia = Eigen::Vector3d(0.1, 0.25, 0.3).asDiagonal();
  Eigen::Matrix<double, 12, 12> weight = Eigen::Matrix<double, 12, 12>::Zero();

  ContactForceProblem();

  /// Stance flag of foot i at time t_s (gait phase 0 at t_s = 0).
  bool inStance(int foot, double t_s) const;

  /// Fills `qp` (resized to N + 1) for the horizon starting at t_s with measured roll-pitch-yaw
  /// `rpy`; `previous` (if non-empty with N + 1 stages) provides the force estimate of the
  /// angular-momentum coupling. The last stage carries only its cost.
  void build(int N, double t_s, const Eigen::Vector3d& rpy,
             const std::vector<OcpQpSolution>& previous, std::vector<OcpQp>& qp) const;
};

/// The contact-force optimiser's solver settings (Speed mode, 30 iterations, tolerances 1e-4).
OcpQpIpmSolverSettings contactForceSettings();

/// The next initial error state: stage 0's dynamics applied to (x0, u0) plus `disturbance`.
Eigen::VectorXd propagate(const OcpQp& stage0, const Eigen::VectorXd& x0, const Eigen::VectorXd& u0,
                          const Eigen::VectorXd& disturbance);

}  // namespace velmora::ocp_qp::test
