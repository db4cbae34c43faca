#include "OcpQpTestSupport.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <limits>
#include <map>
#include <sstream>
#include <string>

#include "../BundledRobot.h"
#include "control/ContactForceOptimization.h"
#include "core/trajectory/CubicSplineTrajectory.h"
#include "description/ModelInfoLoader.h"

namespace velmora::ocp_qp::test {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

Eigen::MatrixXd randn(int rows, int cols, std::mt19937& rng, double scale = 1.0) {
  std::normal_distribution<double> nd(0.0, scale);
  Eigen::MatrixXd M(rows, cols);
  for (int j = 0; j < cols; ++j) {
    for (int i = 0; i < rows; ++i) M(i, j) = nd(rng);
  }
  return M;
}

// An empty field stands for zeros.
Eigen::MatrixXd orZero(const Eigen::MatrixXd& M, int rows, int cols) {
  return M.size() == 0 ? Eigen::MatrixXd::Zero(rows, cols) : M;
}
Eigen::VectorXd orZero(const Eigen::VectorXd& v, int n) {
  return v.size() == 0 ? Eigen::VectorXd::Zero(n) : v;
}
// A bound side counts when its mask is absent or non-zero and the bound is finite.
double sideOrInf(const Eigen::VectorXd& mask, int j, double bound, double inf) {
  return (mask.size() == 0 || mask[j] != 0.0) && std::isfinite(bound) ? bound : inf;
}

int stateSize(const std::vector<OcpQp>& qp, int k) {
  const int N = static_cast<int>(qp.size()) - 1;
  if (k < N) return static_cast<int>(qp[k].A.cols());
  return N > 0 ? static_cast<int>(qp[N - 1].A.rows()) : static_cast<int>(qp[N].Q.rows());
}
int inputSize(const std::vector<OcpQp>& qp, int k) {
  return k + 1 < static_cast<int>(qp.size()) ? static_cast<int>(qp[k].B.cols()) : 0;
}

// Bounds ref -/+ a random half-width in [0.2, 2): the optimum, pulled away from the random
// feasible values `ref`, meets some of them. About a fifth of the sides are masked out, with a
// bound that `ref` violates.
void fillBounds(const Eigen::VectorXd& ref, bool masks, std::mt19937& rng, Eigen::VectorXd& lb,
                Eigen::VectorXd& ub, Eigen::VectorXd& lb_mask, Eigen::VectorXd& ub_mask) {
  const Eigen::Index n = ref.size();
  std::uniform_real_distribution<double> width(0.2, 2.0);
  std::bernoulli_distribution masked(masks ? 0.2 : 0.0);
  lb.resize(n);
  ub.resize(n);
  lb_mask = ub_mask = Eigen::VectorXd::Ones(n);
  for (Eigen::Index j = 0; j < n; ++j) {
    lb[j] = ref[j] - width(rng);
    ub[j] = ref[j] + width(rng);
    if (masked(rng)) {
      lb_mask[j] = 0.0;
      lb[j] = ref[j] + 5.0;
    }
    if (masked(rng)) {
      ub_mask[j] = 0.0;
      ub[j] = ref[j] - 5.0;
    }
  }
}

}  // namespace

OcpQpIpmSolverSettings tightSettings(double tol, int iter_max) {
  OcpQpIpmSolverSettings s;
  s.tol_stat = s.tol_eq = s.tol_ineq = s.tol_comp = tol;
  s.iter_max = iter_max;
  return s;
}

std::vector<OcpQp> randomProblem(const RandomShape& shape, std::mt19937& rng, Eigen::VectorXd& x0) {
  const int N = shape.N, nx = shape.nx, nu = shape.nu;
  std::vector<OcpQp> qp(N + 1);
  // A feasible trajectory (x_ref, u_ref) is simulated along; bounds go around its values.
  x0 = randn(nx, 1, rng);
  std::vector<Eigen::VectorXd> x_ref(N + 1, x0), u_ref(N);
  for (int k = 0; k <= N; ++k) {
    OcpQp& st = qp[k];
    const int nv = (k < N ? nu : 0) + nx;
    const Eigen::MatrixXd L = randn(nv, nv, rng, 0.5);
    const Eigen::MatrixXd H = L * L.transpose() + 0.2 * Eigen::MatrixXd::Identity(nv, nv);
    st.Q = H.bottomRightCorner(nx, nx);
    st.q = randn(nx, 1, rng);
    if (k == N) break;
    st.R = H.topLeftCorner(nu, nu);
    if (shape.cross_terms) st.S = H.topRightCorner(nu, nx);
    st.r = randn(nu, 1, rng);
    st.A = Eigen::MatrixXd::Identity(nx, nx) + randn(nx, nx, rng, 0.15);
    st.B = randn(nx, nu, rng, 0.5);
    st.b = randn(nx, 1, rng, 0.1);
    u_ref[k] = randn(nu, 1, rng, 0.5);
    x_ref[k + 1] = st.A * x_ref[k] + st.B * u_ref[k] + st.b;
  }
  for (int k = 0; k <= N; ++k) {
    OcpQp& st = qp[k];
    if (k < N && shape.nbu > 0) {
      Eigen::VectorXd ref(shape.nbu);
      for (int j = 0; j < shape.nbu; ++j) st.idxbu.push_back((j + k) % nu);
      for (int j = 0; j < shape.nbu; ++j) ref[j] = u_ref[k][st.idxbu[j]];
      fillBounds(ref, shape.masks, rng, st.lbu, st.ubu, st.lbu_mask, st.ubu_mask);
    }
    if (shape.nbx > 0) {
      Eigen::VectorXd ref(shape.nbx);
      for (int j = 0; j < shape.nbx; ++j) st.idxbx.push_back((2 * j + k) % nx);
      for (int j = 0; j < shape.nbx; ++j) ref[j] = x_ref[k][st.idxbx[j]];
      fillBounds(ref, shape.masks, rng, st.lbx, st.ubx, st.lbx_mask, st.ubx_mask);
    }
    if (shape.ng > 0) {
      st.C = randn(shape.ng, nx, rng);
      Eigen::VectorXd ref = st.C * x_ref[k];
      if (k < N) {
        st.D = randn(shape.ng, nu, rng);
        ref += st.D * u_ref[k];
      }
      fillBounds(ref, shape.masks, rng, st.lg, st.ug, st.lg_mask, st.ug_mask);
      if (shape.equality_rows && k > 0) {
        st.lg[0] = st.ug[0] = ref[0];
        st.lg_mask[0] = st.ug_mask[0] = 1.0;
      }
    }
  }
  return qp;
}

KktErrors kktErrors(const std::vector<OcpQp>& qp, const Eigen::VectorXd& x0,
                    const std::vector<OcpQpSolution>& sol) {
  KktErrors e;
  const int N = static_cast<int>(qp.size()) - 1;
  e.x0 = (sol[0].x - x0).cwiseAbs().maxCoeff();
  auto note = [](double err, double& field) { field = std::max(field, err); };
  auto side = [&](double value, const Eigen::VectorXd& mask, int j, double bound, bool lower,
                  double lam) {
    note(-lam, e.dual);
    if (sideOrInf(mask, j, bound, kInf) == kInf) return note(std::abs(lam), e.dual);
    const double gap = lower ? value - bound : bound - value;
    note(-gap, e.primal);
    note(std::abs(lam * gap), e.complementarity);
  };
  for (int k = 0; k <= N; ++k) {
    const OcpQp& st = qp[k];
    const OcpQpSolution& s = sol[k];
    const int nx = stateSize(qp, k), nu = inputSize(qp, k);
    const Eigen::MatrixXd Q = orZero(st.Q, nx, nx);
    Eigen::VectorXd gu = Eigen::VectorXd::Zero(nu);
    Eigen::VectorXd gx = 0.5 * (Q + Q.transpose()) * s.x + orZero(st.q, nx);
    if (k < N) {
      const int nx1 = stateSize(qp, k + 1);
      const Eigen::MatrixXd R = orZero(st.R, nu, nu), S = orZero(st.S, nu, nx);
      const Eigen::MatrixXd B = orZero(st.B, nx1, nu);
      gu = 0.5 * (R + R.transpose()) * s.u + S * s.x + orZero(st.r, nu) + B.transpose() * s.pi;
      gx += S.transpose() * s.u + st.A.transpose() * s.pi;
      note((st.A * s.x + B * s.u + orZero(st.b, nx1) - sol[k + 1].x).cwiseAbs().maxCoeff(),
           e.dynamics);
      for (int j = 0; j < static_cast<int>(st.idxbu.size()); ++j) {
        const int i = st.idxbu[j];
        gu[i] -= s.lam_lbu[j] - s.lam_ubu[j];
        side(s.u[i], st.lbu_mask, j, st.lbu[j], true, s.lam_lbu[j]);
        side(s.u[i], st.ubu_mask, j, st.ubu[j], false, s.lam_ubu[j]);
      }
    }
    if (k > 0) gx -= sol[k - 1].pi;
    for (int j = 0; j < static_cast<int>(st.idxbx.size()); ++j) {
      const int i = st.idxbx[j];
      gx[i] -= s.lam_lbx[j] - s.lam_ubx[j];
      side(s.x[i], st.lbx_mask, j, st.lbx[j], true, s.lam_lbx[j]);
      side(s.x[i], st.ubx_mask, j, st.ubx[j], false, s.lam_ubx[j]);
    }
    const int ng = static_cast<int>(st.lg.size());
    if (ng > 0) {
      const Eigen::MatrixXd C = orZero(st.C, ng, nx);
      Eigen::VectorXd value = C * s.x;
      const Eigen::VectorXd dlam = s.lam_lg - s.lam_ug;
      gx -= C.transpose() * dlam;
      if (k < N) {
        const Eigen::MatrixXd D = orZero(st.D, ng, nu);
        value += D * s.u;
        gu -= D.transpose() * dlam;
      }
      for (int j = 0; j < ng; ++j) {
        side(value[j], st.lg_mask, j, st.lg[j], true, s.lam_lg[j]);
        side(value[j], st.ug_mask, j, st.ug[j], false, s.lam_ug[j]);
      }
    }
    if (nu > 0) note(gu.cwiseAbs().maxCoeff(), e.stationarity);
    if (k > 0) note(gx.cwiseAbs().maxCoeff(), e.stationarity);
  }
  return e;
}

std::vector<Eigen::MatrixXd> riccatiGains(const std::vector<OcpQp>& qp) {
  const int N = static_cast<int>(qp.size()) - 1;
  std::vector<Eigen::MatrixXd> K(N);
  Eigen::MatrixXd P = qp[N].Q;
  for (int k = N - 1; k >= 0; --k) {
    const OcpQp& st = qp[k];
    const Eigen::MatrixXd S = orZero(st.S, st.B.cols(), st.A.cols());
    const Eigen::MatrixXd Sux = S + st.B.transpose() * P * st.A;
    K[k] = -(st.R + st.B.transpose() * P * st.B).ldlt().solve(Sux);
    P = st.Q + st.A.transpose() * P * st.A + Sux.transpose() * K[k];
  }
  return K;
}

struct ContactForceProblems::Rig {
  std::shared_ptr<rclcpp::Node> node;
  std::shared_ptr<PinocchioInterface> model;
  std::shared_ptr<ModelInfo> info;
  std::unique_ptr<ContactForceOptimization> optimizer;
  vector_t qpos;
  vector3_t base_pos;
  std::map<std::string, vector3_t> feet;
  std::mt19937 rng{2024};
};

ContactForceProblems::ContactForceProblems() : rig_(std::make_unique<Rig>()) {
  if (!rclcpp::ok()) rclcpp::init(0, nullptr);
  Rig& r = *rig_;
  r.node = std::make_shared<rclcpp::Node>("contact_force_problems");
  r.model = std::make_shared<PinocchioInterface>(velmora::test::kestrelFile("robot.urdf"));
  r.info = std::make_shared<ModelInfo>(
      loadModelInfo(velmora::test::kestrelFile("description.info"), *r.model));
  r.qpos = vector_t::Zero(r.model->Nq());
  r.qpos << r.info->base_init_pos, r.info->base_init_quat, r.info->joints_init_pos;
  r.model->updateRobotState(r.qpos, vector_t::Zero(r.model->Nv()));
  r.base_pos = r.model->getFramePose(r.info->base_name).translation();
  for (const auto& foot : r.info->foot_name)
    r.feet[foot] = r.model->getFramePose(foot).translation();
  r.optimizer = std::make_unique<ContactForceOptimization>(r.node, r.info, r.model);
  std::ostringstream quiet;  // the bundled file lists only the weight's diagonal: a warning
  std::streambuf* const old = std::cerr.rdbuf(quiet.rdbuf());
  r.optimizer->loadParamsSetting(velmora::test::kestrelFile("params.info"), false);
  std::cerr.rdbuf(old);
}

ContactForceProblems::~ContactForceProblems() = default;

OcpQpIpmSolverSettings ContactForceProblems::settings() const {
  OcpQpIpmSolverSettings s = rig_->optimizer->settings();
  s.warm_start = 0;
  return s;
}

void ContactForceProblems::build(int N, int period, double disturbance, std::vector<OcpQp>& qp,
                                 Eigen::VectorXd& x0) {
  Rig& r = *rig_;
  const double dt = r.optimizer->dt(), now = r.node->now().seconds();
  // References slightly longer than N steps (the horizon is their duration cut to whole steps).
  auto hold = [&](const vector3_t& value) {
    return std::make_shared<CubicSplineTrajectory>(
        CubicSplineTrajectory::constant(vector_t(value), now - 0.2 * dt, now + (N + 0.5) * dt));
  };
  auto references = std::make_shared<TrajectoriesBuffer>();
  references->set_base_pos_traj(hold(r.base_pos));
  references->set_base_rpy_traj(hold(vector3_t::Zero()));
  std::map<std::string, std::shared_ptr<CubicSplineTrajectory>> feet;
  for (const auto& [name, pos] : r.feet) feet[name] = hold(pos);
  references->set_foot_pos_traj(feet);

  // Trot of 0.25 s half-cycles, `period` steps into the gait, over the whole horizon.
  const double span = std::max(1.0, (N + 1) * dt), offset = std::fmod(period * dt, 0.5);
  std::vector<double> phases{0.0};
  std::vector<size_t> modes;
  for (double t = 0.0; t < span;) {
    const int half = static_cast<int>(std::floor((t + offset) / 0.25 + 1e-9));
    modes.push_back(half % 2 == 0 ? 9 : 6);
    t = std::min(span, (half + 1) * 0.25 - offset);
    phases.push_back(t / span);
  }

  std::uniform_real_distribution<double> unit(-disturbance, disturbance);
  auto q = std::make_shared<vector_t>(r.qpos);
  auto v = std::make_shared<vector_t>(vector_t::Zero(r.model->Nv()));
  for (int j = 0; j < 3; ++j) (*q)(j) += 0.002 * unit(r.rng);
  const Eigen::Vector3d tilt(unit(r.rng), unit(r.rng), unit(r.rng));  // rotation vector / 0.01
  q->segment<4>(3) =
      Eigen::Quaterniond(Eigen::AngleAxisd(0.01 * tilt.norm(), tilt.normalized())).coeffs();
  for (int j = 0; j < 6; ++j) (*v)(j) = (j < 3 ? 0.05 : 0.1) * unit(r.rng);

  r.optimizer->update_state(q, v);
  r.optimizer->update_trajectory_reference(references);
  r.optimizer->update_mode_schedule(std::make_shared<ModeSchedule>(span, phases, modes));
  r.optimizer->optimize();
  qp = r.optimizer->ocp();
  x0 = r.optimizer->solution().at(0).x;  // the solver fixes x_0 to the optimiser's error state
}

}  // namespace velmora::ocp_qp::test
