// OCP QP solver on the contact-force problem shape, built by the solver tests' generator
// (tests/ocp_qp/ContactForceProblem.h): 12-state centroidal error dynamics of a
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
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include <Eigen/Dense>

#include "../tests/ocp_qp/ContactForceProblem.h"
#include "ocp_qp/OcpQpIpmSolver.h"

namespace {

using velmora::ocp_qp::OcpQp;
using velmora::ocp_qp::OcpQpIpmSolver;
using velmora::ocp_qp::OcpQpIpmSolverSettings;
using velmora::ocp_qp::OcpQpIpmWorkspace;
using velmora::ocp_qp::OcpQpSolution;
using velmora::ocp_qp::SolverStatus;
using velmora::ocp_qp::test::ContactForceProblem;
using velmora::ocp_qp::test::contactForceSettings;
using velmora::ocp_qp::test::propagate;

constexpr int kCyclesPerRun = 250;

void runClosedLoop(benchmark::State& state, bool warm) {
  const int N = static_cast<int>(state.range(0));
  const ContactForceProblem problem;
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
    problem.build(N, (cycle % kCyclesPerRun) * problem.dt_s, x0.segment<3>(6), solution, qp);
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
    x0 = propagate(qp[0], x0, solution[0].u, disturbance);
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
