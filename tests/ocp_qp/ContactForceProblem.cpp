#include "ContactForceProblem.h"

#include <cmath>

namespace velmora::ocp_qp::test {

namespace {

Eigen::Matrix3d skew(const Eigen::Vector3d& v) {
  Eigen::Matrix3d S;
  S << 0, -v.z(), v.y(), v.z(), 0, -v.x(), -v.y(), v.x(), 0;
  return S;
}

// Maps a world angular velocity to roll-pitch-yaw rates (ZYX angles).
Eigen::Matrix3d omegaToRpyRates(const Eigen::Vector3d& rpy) {
  const double cp = std::cos(rpy.y()), sp = std::sin(rpy.y());
  const double cy = std::cos(rpy.z()), sy = std::sin(rpy.z());
  Eigen::Matrix3d E;  // omega = E * rpy_dot
  E << cy * cp, -sy, 0, sy * cp, cy, 0, -sp, 0, 1;
  return E.inverse();
}

const Eigen::Vector3d kFootOffset[4] = {
    {0.19, 0.11, -0.30}, {0.19, -0.11, -0.30}, {-0.19, 0.11, -0.30}, {-0.19, -0.11, -0.30}};

}  // namespace

ContactForceProblem::ContactForceProblem() {
  Eigen::Matrix<double, 12, 1> diag;
  diag << 100, 100, 100, 10, 10, 10, 100, 100, 100, 1, 1, 1;
  weight = diag.asDiagonal();
}

bool ContactForceProblem::inStance(int foot, double t_s) const {
  double phase = std::fmod(t_s, gait_cycle_s) / gait_cycle_s;
  if (phase < 0) phase += 1.0;
  const int mode = phase < 0.5 ? 9 : 6;
  return (mode >> (3 - foot)) & 1;
}

void ContactForceProblem::build(int N, double t_s, const Eigen::Vector3d& rpy,
                                const std::vector<OcpQpSolution>& previous,
                                std::vector<OcpQp>& qp) const {
  qp.assign(N + 1, OcpQp());
  const Eigen::Matrix3d inertia_inv = inertia.inverse();
  const Eigen::Matrix3d rpy_map = omegaToRpyRates(rpy);
  const double m = 1.0 / friction;
  Eigen::Matrix<double, 5, 3> pyramid;
  pyramid << m, 0, 1, -m, 0, 1, 0, m, 1, 0, -m, 1, 0, 0, 1;
  const Eigen::Vector3d weight_force(0, 0, mass_kg * gravity);
  const bool has_previous = static_cast<int>(previous.size()) == N + 1;

  for (int k = 0; k <= N; ++k) {
    OcpQp& st = qp[k];
    const double t = t_s + k * dt_s;
    st.Q = weight;
    st.q = Eigen::VectorXd::Zero(12);
    st.S = Eigen::MatrixXd::Zero(12, 12);
    if (k == N) {
      st.Q *= 100.0;
      st.S.resize(0, 0);
      break;
    }
    bool stance[4];
    int nc = 0;
    for (int i = 0; i < 4; ++i) {
      stance[i] = inStance(i, t);
      nc += stance[i];
    }
    // Dynamics.
    Eigen::Vector3d force_ff = weight_force;
    if (has_previous && previous[k].u.size() == 12) {
      force_ff.setZero();
      for (int i = 0; i < 4; ++i) force_ff += previous[k].u.segment<3>(3 * i);
    }
    st.A = Eigen::MatrixXd::Identity(12, 12);
    st.A(0, 3) = st.A(1, 4) = st.A(2, 5) = dt_s;
    st.A.block<3, 3>(6, 9) = dt_s * rpy_map * inertia_inv;
    st.A.block<3, 3>(9, 0) = skew(dt_s * force_ff);
    st.B = Eigen::MatrixXd::Zero(12, 12);
    for (int i = 0; i < 4; ++i) {
      if (!stance[i]) continue;
      st.B.block<3, 3>(3, 3 * i) = (dt_s / mass_kg) * Eigen::Matrix3d::Identity();
      // Foot reference relative to the body reference; sways a little along the stride.
      const Eigen::Vector3d lever =
          kFootOffset[i] + Eigen::Vector3d(0.05 * std::sin(2.0 * M_PI * t / gait_cycle_s), 0, 0);
      st.B.block<3, 3>(9, 3 * i) = skew(dt_s * lever);
    }
    st.b = Eigen::VectorXd::Zero(12);
    st.b(5) = -dt_s * gravity;
    // Friction pyramid and normal force limits.
    st.C = Eigen::MatrixXd::Zero(20, 12);
    st.D = Eigen::MatrixXd::Zero(20, 12);
    st.lg = Eigen::VectorXd::Zero(20);
    st.ug = Eigen::VectorXd::Zero(20);
    st.lg_mask = Eigen::VectorXd::Ones(20);
    st.ug_mask = Eigen::VectorXd::Ones(20);
    for (int i = 0; i < 4; ++i) {
      st.D.block<5, 3>(5 * i, 3 * i) = pyramid;
      st.ug(5 * i + 4) = stance[i] ? max_normal_force_n : 0.0;
      st.ug_mask.segment<4>(5 * i).setZero();
    }
    // Costs: pull the forces towards an equal share of the weight.
    st.R = 1e-4 * Eigen::MatrixXd::Identity(12, 12);
    Eigen::VectorXd force_des = Eigen::VectorXd::Zero(12);
    for (int i = 0; i < 4; ++i) {
      if (stance[i]) force_des.segment<3>(3 * i) = weight_force / std::max(nc, 1);
    }
    st.r = -st.R * force_des;
  }
}

OcpQpIpmSolverSettings contactForceSettings() {
  OcpQpIpmSolverSettings s;
  s.mode = SolverMode::Speed;
  s.iter_max = 30;
  s.alpha_min = 1e-8;
  s.mu0 = 100.0;
  s.tol_stat = s.tol_eq = s.tol_ineq = s.tol_comp = 1e-4;
  s.reg_prim = 1e-12;
  s.pred_corr = 1;
  s.split_step = 1;
  return s;
}

Eigen::VectorXd propagate(const OcpQp& stage0, const Eigen::VectorXd& x0, const Eigen::VectorXd& u0,
                          const Eigen::VectorXd& disturbance) {
  return stage0.A * x0 + stage0.B * u0 + stage0.b + disturbance;
}

}  // namespace velmora::ocp_qp::test
