// OCP QP solver on the contact-force problem shape: 12-state centroidal error dynamics of a
// 12.5 kg body at dt = 0.02 s, 12 inputs (one force per foot), 20 rows per stage (friction
// pyramid mu = 0.5, 0 <= fz <= 400 N in stance, zero force in swing), trot gait (modes 9 and 6,
// 0.5 s cycle), weights 100 (position), 10 (velocity), 100 (orientation), 1 (momentum),
// R = 1e-4 I, terminal weight 100x.
//
// Each benchmark iteration is one control cycle of a closed loop: the problem is rebuilt with
// the gait shifted by one stage, the solver is constructed on a reused workspace and solves from
// the current initial state, and the next initial state is stage 0's dynamics applied to the
// first optimal input plus a small random disturbance. Only construction and solve are timed.
// The loop restarts from rest every 250 cycles. Counters: mean and largest iteration count and
// the number of solves that did not return Success.
//
//   BM_OcpQpSolveContactForce/N       cold start every cycle
//   BM_OcpQpSolveContactForceWarm/N   warm start from the previous cycle's solution (unshifted
//                                     in time, as the contact-force optimiser passes it)

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include <Eigen/Dense>

#include "ocp_qp/OcpQpIpmSolver.h"

namespace {

using velmora::ocp_qp::OcpQp;
using velmora::ocp_qp::OcpQpIpmSolver;
using velmora::ocp_qp::OcpQpIpmSolverSettings;
using velmora::ocp_qp::OcpQpIpmWorkspace;
using velmora::ocp_qp::OcpQpSolution;
using velmora::ocp_qp::SolverMode;
using velmora::ocp_qp::SolverStatus;

constexpr double kDt = 0.02;
constexpr double kMass = 12.5;
constexpr double kGravity = 9.81;
constexpr double kFriction = 0.5;
constexpr double kMaxNormalForce = 400.0;
constexpr double kGaitCycle = 0.5;
constexpr int kCyclesPerRun = 250;

Eigen::Matrix3d skew(const Eigen::Vector3d& v) {
  Eigen::Matrix3d S;
  S << 0, -v.z(), v.y(), v.z(), 0, -v.x(), -v.y(), v.x(), 0;
  return S;
}

bool inStance(int foot, double t) {
  const double phase = std::fmod(t, kGaitCycle) / kGaitCycle;
  const int mode = phase < 0.5 ? 9 : 6;  // trot: feet 0 and 3, then feet 1 and 2
  return (mode >> (3 - foot)) & 1;
}

// Stages 0..N of the contact-force problem at time t with measured roll-pitch-yaw `rpy`;
// `previous` (N + 1 stages or empty) provides the force estimate of the momentum coupling.
void buildProblem(int N, double t0, const Eigen::Vector3d& rpy,
                  const std::vector<OcpQpSolution>& previous, std::vector<OcpQp>& qp) {
  static const Eigen::Vector3d kFootOffset[4] = {
      {0.19, 0.11, -0.30}, {0.19, -0.11, -0.30}, {-0.19, 0.11, -0.30}, {-0.19, -0.11, -0.30}};
  const Eigen::Matrix3d inertia_inv = Eigen::Vector3d(0.1, 0.25, 0.3).asDiagonal().inverse();
  Eigen::Matrix3d omega_from_rates;  // world angular velocity from roll-pitch-yaw rates
  omega_from_rates << std::cos(rpy.z()) * std::cos(rpy.y()), -std::sin(rpy.z()), 0,
      std::sin(rpy.z()) * std::cos(rpy.y()), std::cos(rpy.z()), 0, -std::sin(rpy.y()), 0, 1;
  const Eigen::Matrix3d rates_from_omega = omega_from_rates.inverse();
  Eigen::Matrix<double, 12, 1> weight_diag;
  weight_diag << 100, 100, 100, 10, 10, 10, 100, 100, 100, 1, 1, 1;
  const double m = 1.0 / kFriction;
  Eigen::Matrix<double, 5, 3> pyramid;
  pyramid << m, 0, 1, -m, 0, 1, 0, m, 1, 0, -m, 1, 0, 0, 1;
  const Eigen::Vector3d weight_force(0, 0, kMass * kGravity);
  const bool has_previous = static_cast<int>(previous.size()) == N + 1;

  qp.resize(N + 1);
  for (int k = 0; k <= N; ++k) {
    OcpQp& st = qp[k];
    const double t = t0 + k * kDt;
    st.Q = weight_diag.asDiagonal();
    st.q = Eigen::VectorXd::Zero(12);
    if (k == N) {  // terminal stage: cost only
      st.Q *= 100.0;
      continue;
    }
    bool stance[4];
    int nc = 0;
    for (int i = 0; i < 4; ++i) nc += stance[i] = inStance(i, t);
    Eigen::Vector3d force_ff = weight_force;
    if (has_previous) {
      force_ff.setZero();
      for (int i = 0; i < 4; ++i) force_ff += previous[k].u.segment<3>(3 * i);
    }
    st.A = Eigen::MatrixXd::Identity(12, 12);
    st.A(0, 3) = st.A(1, 4) = st.A(2, 5) = kDt;
    st.A.block<3, 3>(6, 9) = kDt * rates_from_omega * inertia_inv;
    st.A.block<3, 3>(9, 0) = skew(kDt * force_ff);
    st.B = Eigen::MatrixXd::Zero(12, 12);
    for (int i = 0; i < 4; ++i) {
      if (!stance[i]) continue;
      st.B.block<3, 3>(3, 3 * i) = (kDt / kMass) * Eigen::Matrix3d::Identity();
      const Eigen::Vector3d lever =
          kFootOffset[i] + Eigen::Vector3d(0.05 * std::sin(2.0 * M_PI * t / kGaitCycle), 0, 0);
      st.B.block<3, 3>(9, 3 * i) = skew(kDt * lever);
    }
    st.b = Eigen::VectorXd::Zero(12);
    st.b(5) = -kDt * kGravity;
    st.C = Eigen::MatrixXd::Zero(20, 12);
    st.D = Eigen::MatrixXd::Zero(20, 12);
    st.lg = Eigen::VectorXd::Zero(20);
    st.ug = Eigen::VectorXd::Zero(20);
    st.lg_mask = Eigen::VectorXd::Ones(20);
    st.ug_mask = Eigen::VectorXd::Ones(20);
    for (int i = 0; i < 4; ++i) {
      st.D.block<5, 3>(5 * i, 3 * i) = pyramid;
      st.ug(5 * i + 4) = stance[i] ? kMaxNormalForce : 0.0;
      st.ug_mask.segment<4>(5 * i).setZero();
    }
    st.S = Eigen::MatrixXd::Zero(12, 12);
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
  s.ric_alg = 0;
  s.split_step = 1;
  return s;
}

void runClosedLoop(benchmark::State& state, bool warm) {
  const int N = static_cast<int>(state.range(0));
  OcpQpIpmSolverSettings settings = contactForceSettings();
  OcpQpIpmWorkspace workspace;
  std::vector<OcpQp> qp;
  std::vector<OcpQpSolution> solution;
  Eigen::VectorXd x0 = Eigen::VectorXd::Zero(12);
  std::mt19937 rng(12345);
  std::normal_distribution<double> noise(0.0, 1.0);
  Eigen::Matrix<double, 12, 1> noise_scale;
  noise_scale << 0.002, 0.002, 0.002, 0.02, 0.02, 0.02, 0.01, 0.01, 0.01, 0.01, 0.01, 0.01;
  long cycle = 0, solves = 0, iterations = 0, failures = 0;
  int max_iterations = 0;
  for (auto _ : state) {
    state.PauseTiming();
    if (cycle % kCyclesPerRun == 0) {
      x0.setZero();
      solution.clear();
    }
    buildProblem(N, (cycle % kCyclesPerRun) * kDt, x0.segment<3>(6), solution, qp);
    settings.warm_start = warm && static_cast<int>(solution.size()) == N + 1 ? 1 : 0;
    state.ResumeTiming();

    OcpQpIpmSolver solver(qp, settings, workspace);
    const SolverStatus status = solver.solve(x0, qp, solution);

    state.PauseTiming();
    ++solves;
    iterations += solver.getNumIterations();
    max_iterations = std::max(max_iterations, solver.getNumIterations());
    failures += status != SolverStatus::Success;
    Eigen::VectorXd disturbance(12);
    for (int i = 0; i < 12; ++i) disturbance[i] = noise_scale[i] * noise(rng);
    x0 = qp[0].A * x0 + qp[0].B * solution[0].u + qp[0].b + disturbance;
    ++cycle;
    state.ResumeTiming();
  }
  state.counters["iterations"] = static_cast<double>(iterations) / std::max(solves, 1L);
  state.counters["max_iterations"] = max_iterations;
  state.counters["failures"] = static_cast<double>(failures);
}

void BM_OcpQpSolveContactForce(benchmark::State& state) { runClosedLoop(state, false); }
void BM_OcpQpSolveContactForceWarm(benchmark::State& state) { runClosedLoop(state, true); }

BENCHMARK(BM_OcpQpSolveContactForce)
    ->Arg(10)
    ->Arg(25)
    ->Arg(50)
    ->Arg(100)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OcpQpSolveContactForceWarm)
    ->Arg(10)
    ->Arg(25)
    ->Arg(50)
    ->Arg(100)
    ->Unit(benchmark::kMillisecond);

}  // namespace
