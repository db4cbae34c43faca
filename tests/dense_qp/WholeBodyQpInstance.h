#pragma once

// Physically shaped instances of the whole-body QP of a 12-joint quadruped, built the way the
// whole-body controller builds them: decision x = [qdd (18); f (12); tau (12)], equality rows
// M qdd + h = Jc' f + S tau (18) and f_i = 0 for swing feet (3 each), inequality rows
// |tau| <= tau_max (12) and a friction pyramid with 0 <= f_z <= 400 per stance foot (5 each,
// -1e16 for "no lower bound"), objective 1/2 ||A_task x - b_task||^2 + 1e-8/2 ||x||^2 with
// H = A'A + 1e-8 I and g = -A'b.
//
// The model is a random but physically consistent floating-base quadruped: trunk and three
// links per leg (abduction about x, thigh and knee about y, 0.2 m segments), masses and
// inertias of a 12.5 kg robot, a random leg configuration and base orientation. M is assembled
// from the link Jacobians (sum of m Jv'Jv + Jw' I Jw), h holds gravity plus random velocity
// terms, Jc the world-aligned linear foot Jacobians.

#include <array>
#include <cmath>
#include <random>

#include <Eigen/Dense>

#include "dense_qp/DenseQp.h"

namespace velmora::dense_qp::test {

struct WholeBodyQp {
  static constexpr int kNv = 18, kNj = 12, kFeet = 4, kNvar = 42;
  std::array<bool, kFeet> stance{};
  double mu = 0.5;
  Eigen::MatrixXd M, Jc;  ///< 18 x 18, 12 x 18
  Eigen::VectorXd h;      ///< 18
  Eigen::VectorXd tau_max;
  // Stacked blocks as the controller hands them to the programme.
  Eigen::MatrixXd A, C, H;
  Eigen::VectorXd b, lb, ub, g;
  /// q_dd = -M^-1 h, f = 0, tau = 0: satisfies every constraint.
  Eigen::VectorXd feasible_x;

  int numStance() const {
    int count = 0;
    for (bool s : stance) count += s ? 1 : 0;
    return count;
  }

  DenseQp toDenseQp() const {
    DenseQp qp;
    qp.H = H;
    qp.g = g;
    qp.A = A;
    qp.b = b;
    qp.C = C;
    qp.l = lb;
    qp.u = ub;
    return qp;
  }
};

namespace whole_body_detail {

inline Eigen::Matrix3d skew(const Eigen::Vector3d& v) {
  Eigen::Matrix3d S;
  S << 0, -v.z(), v.y(), v.z(), 0, -v.x(), -v.y(), v.x(), 0;
  return S;
}

/// Adds m Jv'Jv + Jw' I_world Jw of one body to M.
inline void addBody(Eigen::MatrixXd& M, double mass, const Eigen::Matrix3d& inertia_world,
                    const Eigen::MatrixXd& Jv, const Eigen::MatrixXd& Jw) {
  M += mass * Jv.transpose() * Jv + Jw.transpose() * inertia_world * Jw;
}

}  // namespace whole_body_detail

struct WholeBodyQpOptions {
  std::array<bool, 4> stance{true, true, true, true};
  double demand_scale = 1.0;  ///< scales the base and swing acceleration demands
  double contact_weight = 1000.0;
  double base_weight = 100.0;
  double swing_weight = 200.0;
  double force_weight = 0.01;
};

/// One random instance.
inline WholeBodyQp makeWholeBodyQp(std::mt19937& rng, const WholeBodyQpOptions& options) {
  using Eigen::Matrix3d;
  using Eigen::MatrixXd;
  using Eigen::Vector3d;
  using Eigen::VectorXd;
  using whole_body_detail::addBody;
  using whole_body_detail::skew;
  constexpr int nv = WholeBodyQp::kNv, nj = WholeBodyQp::kNj, nvar = WholeBodyQp::kNvar;
  std::normal_distribution<double> normal(0.0, 1.0);
  auto uniform = [&rng](double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(rng);
  };

  WholeBodyQp w;
  w.stance = options.stance;
  w.mu = uniform(0.4, 0.9);

  // Base pose: small roll and pitch, any yaw, 0.3 m high.
  const Matrix3d R = (Eigen::AngleAxisd(uniform(-M_PI, M_PI), Vector3d::UnitZ()) *
                      Eigen::AngleAxisd(uniform(-0.15, 0.15), Vector3d::UnitY()) *
                      Eigen::AngleAxisd(uniform(-0.15, 0.15), Vector3d::UnitX()))
                         .toRotationMatrix();
  const Vector3d p_base(uniform(-1, 1), uniform(-1, 1), uniform(0.25, 0.33));

  w.M.setZero(nv, nv);
  w.h.setZero(nv);
  w.Jc.setZero(12, nv);
  const Vector3d gravity_up(0.0, 0.0, 9.81);

  // Jacobians of a point p (world) rigidly attached after the listed joints.
  auto pointJacobian = [&](const Vector3d& p_world, int leg, int num_joints,
                           const std::array<Vector3d, 3>& axes,
                           const std::array<Vector3d, 3>& joint_pos) {
    MatrixXd Jv = MatrixXd::Zero(3, nv), Jw = MatrixXd::Zero(3, nv);
    Jv.block<3, 3>(0, 0).setIdentity();
    Jv.block<3, 3>(0, 3) = -skew(p_world - p_base);
    Jw.block<3, 3>(0, 3).setIdentity();
    for (int j = 0; j < num_joints; ++j) {
      Jv.col(6 + 3 * leg + j) = axes[j].cross(p_world - joint_pos[j]);
      Jw.col(6 + 3 * leg + j) = axes[j];
    }
    return std::make_pair(Jv, Jw);
  };

  // Trunk.
  {
    const Vector3d com = p_base + R * Vector3d(0.01, 0.0, 0.0);
    const Matrix3d inertia = R * Vector3d(0.03, 0.08, 0.09).asDiagonal() * R.transpose();
    const auto [Jv, Jw] = pointJacobian(com, 0, 0, {}, {});
    addBody(w.M, 6.0, inertia, Jv, Jw);
    w.h += 6.0 * Jv.transpose() * gravity_up;
  }

  const std::array<Vector3d, 4> hip = {Vector3d(0.19, 0.05, 0), Vector3d(0.19, -0.05, 0),
                                       Vector3d(-0.19, 0.05, 0), Vector3d(-0.19, -0.05, 0)};
  for (int leg = 0; leg < 4; ++leg) {
    const double side = (leg % 2 == 0) ? 1.0 : -1.0;
    const double q0 = uniform(-0.3, 0.3), q1 = uniform(0.5, 1.1), q2 = uniform(-2.2, -1.1);
    const Matrix3d R_hip = R * Eigen::AngleAxisd(q0, Vector3d::UnitX()).toRotationMatrix();
    const Matrix3d R_thigh = R_hip * Eigen::AngleAxisd(q1, Vector3d::UnitY()).toRotationMatrix();
    const Matrix3d R_calf = R_thigh * Eigen::AngleAxisd(q2, Vector3d::UnitY()).toRotationMatrix();
    const Vector3d p_hip = p_base + R * hip[leg];
    const Vector3d p_thigh = p_hip + R_hip * Vector3d(0, side * 0.08, 0);
    const Vector3d p_knee = p_thigh + R_thigh * Vector3d(0, 0, -0.2);
    const Vector3d p_foot = p_knee + R_calf * Vector3d(0, 0, -0.2);
    const std::array<Vector3d, 3> axes = {R * Vector3d::UnitX(), R_hip * Vector3d::UnitY(),
                                          R_thigh * Vector3d::UnitY()};
    const std::array<Vector3d, 3> joints = {p_hip, p_thigh, p_knee};

    struct Link {
      double mass;
      Vector3d com;
      Matrix3d inertia;
      int joints;
    };
    const Link links[3] = {
        {0.7, p_hip + R_hip * Vector3d(0, side * 0.04, 0),
         R_hip * Vector3d(0.0005, 0.0008, 0.0005).asDiagonal() * R_hip.transpose(), 1},
        {1.0, 0.5 * (p_thigh + p_knee),
         R_thigh * Vector3d(0.005, 0.005, 0.001).asDiagonal() * R_thigh.transpose(), 2},
        {0.2, 0.5 * (p_knee + p_foot),
         R_calf * Vector3d(0.001, 0.001, 0.0001).asDiagonal() * R_calf.transpose(), 3}};
    for (const Link& link : links) {
      const auto [Jv, Jw] = pointJacobian(link.com, leg, link.joints, axes, joints);
      addBody(w.M, link.mass, link.inertia, Jv, Jw);
      w.h += link.mass * Jv.transpose() * gravity_up;
    }
    w.Jc.middleRows(3 * leg, 3) = pointJacobian(p_foot, leg, 3, axes, joints).first;
  }
  w.M = 0.5 * (w.M + w.M.transpose());
  for (int i = 0; i < nv; ++i) w.h[i] += 0.3 * normal(rng);  // velocity-dependent terms

  // Equality rows: dynamics, then zero force for every swing foot.
  const int ns = 4 - w.numStance();
  w.A.setZero(nv + 3 * ns, nvar);
  w.A.topLeftCorner(nv, nv) = w.M;
  w.A.block(0, nv, nv, 12) = -w.Jc.transpose();
  w.A.block(6, nv + 12, nj, nj) = -MatrixXd::Identity(nj, nj);
  w.b.setZero(nv + 3 * ns);
  w.b.head(nv) = -w.h;
  for (int i = 0, k = 0; i < 4; ++i) {
    if (w.stance[i]) continue;
    w.A.block(nv + 3 * k, nv + 3 * i, 3, 3).setIdentity();
    ++k;
  }

  // Inequality rows: torque limits, then the pyramid of every stance foot.
  const int nc = w.numStance();
  w.tau_max.resize(nj);
  for (int j = 0; j < nj; ++j) w.tau_max[j] = (j % 3 == 2) ? 45.0 : 33.5;
  w.C.setZero(nj + 5 * nc, nvar);
  w.lb.resize(nj + 5 * nc);
  w.ub.resize(nj + 5 * nc);
  w.C.block(0, nv + 12, nj, nj).setIdentity();
  w.lb.head(nj) = -w.tau_max;
  w.ub.head(nj) = w.tau_max;
  Eigen::Matrix<double, 5, 3> pyramid;
  pyramid << 0, 0, 1, 1, 0, -w.mu, -1, 0, -w.mu, 0, 1, -w.mu, 0, -1, -w.mu;
  for (int i = 0, k = 0; i < 4; ++i) {
    if (!w.stance[i]) continue;
    const int row = nj + 5 * k;
    w.C.block(row, nv + 3 * i, 5, 3) = pyramid;
    w.lb.segment(row, 5).setConstant(-1e16);
    w.ub.segment(row, 5).setZero();
    w.lb[row] = 0.0;
    w.ub[row] = 400.0;
    ++k;
  }

  // Weighted least-squares tasks: stance feet still, base acceleration demand, swing feet
  // tracking, small forces.
  const int task_rows = 3 * nc + 6 + 3 * ns + 12;
  MatrixXd At = MatrixXd::Zero(task_rows, nvar);
  VectorXd bt = VectorXd::Zero(task_rows);
  int row = 0;
  for (int i = 0; i < 4; ++i) {
    if (!w.stance[i]) continue;
    At.block(row, 0, 3, nv) = options.contact_weight * w.Jc.middleRows(3 * i, 3);
    for (int r = 0; r < 3; ++r) bt[row + r] = -options.contact_weight * 0.5 * normal(rng);
    row += 3;
  }
  Eigen::Matrix<double, 6, 1> acc;
  for (int r = 0; r < 6; ++r) acc[r] = normal(rng) * (r < 3 ? 2.0 : 4.0);
  if (acc.norm() > 20.0) acc *= 20.0 / acc.norm();
  acc *= options.demand_scale;
  At.block(row, 0, 3, 3) = options.base_weight * R.transpose();
  At.block(row + 3, 3, 3, 3) = options.base_weight * R.transpose();
  for (int r = 0; r < 6; ++r) bt[row + r] = options.base_weight * (acc[r] - 0.5 * normal(rng));
  row += 6;
  for (int i = 0; i < 4; ++i) {
    if (w.stance[i]) continue;
    At.block(row, 0, 3, nv) = options.swing_weight * w.Jc.middleRows(3 * i, 3);
    for (int r = 0; r < 3; ++r)
      bt[row + r] =
          options.swing_weight * (options.demand_scale * 15.0 * normal(rng) - 0.5 * normal(rng));
    row += 3;
  }
  At.block(row, nv, 12, 12) = options.force_weight * MatrixXd::Identity(12, 12);
  w.H = At.transpose() * At;
  w.H.diagonal().array() += 1e-8;
  w.g = -At.transpose() * bt;

  w.feasible_x.setZero(nvar);
  w.feasible_x.head(nv) = -w.M.ldlt().solve(w.h);
  return w;
}

}  // namespace velmora::dense_qp::test
