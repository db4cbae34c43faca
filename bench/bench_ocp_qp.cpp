// OCP QP solver on the contact-force problems of the bundled robot, as ContactForceOptimization
// builds them (trot, constant standing references, a measured state perturbed at random every
// period; see tests/ocp_qp/OcpQpTestSupport.h). A sequence of 50 consecutive periods is built
// once per horizon; each benchmark iteration constructs the solver on a reused workspace and
// solves the next problem of the sequence. Counters: mean and largest iteration count and the
// number of solves that did not return Success.
//
//   BM_OcpQpSolveContactForce/N       cold start every period
//   BM_OcpQpSolveContactForceWarm/N   warm start from the previous period's solution (unshifted
//                                     in time, as the contact-force optimiser passes it)

#include <algorithm>
#include <vector>

#include <benchmark/benchmark.h>

#include <Eigen/Dense>

#include "../tests/ocp_qp/OcpQpTestSupport.h"
#include "ocp_qp/OcpQpIpmSolver.h"

namespace {

using velmora::ocp_qp::OcpQp;
using velmora::ocp_qp::OcpQpIpmSolver;
using velmora::ocp_qp::OcpQpIpmSolverSettings;
using velmora::ocp_qp::OcpQpIpmWorkspace;
using velmora::ocp_qp::OcpQpSolution;
using velmora::ocp_qp::SolverStatus;

constexpr int kPeriods = 50;

void runSequence(::benchmark::State& state, bool warm) {
  const int N = static_cast<int>(state.range(0));
  velmora::ocp_qp::test::ContactForceProblems problems;
  std::vector<std::vector<OcpQp>> qp(kPeriods);
  std::vector<Eigen::VectorXd> x0(kPeriods);
  for (int period = 0; period < kPeriods; ++period) {
    problems.build(N, period, 1.0, qp[period], x0[period]);
  }
  OcpQpIpmSolverSettings settings = problems.settings();
  OcpQpIpmWorkspace workspace;
  std::vector<OcpQpSolution> solution;
  long solves = 0, iterations = 0, failures = 0;
  int max_iterations = 0;
  for (auto _ : state) {
    const int period = static_cast<int>(solves % kPeriods);
    settings.warm_start = warm && period > 0 ? 1 : 0;
    OcpQpIpmSolver solver(qp[period], settings, workspace);
    const SolverStatus status = solver.solve(x0[period], qp[period], solution);
    ++solves;
    iterations += solver.getNumIterations();
    max_iterations = std::max(max_iterations, solver.getNumIterations());
    failures += status != SolverStatus::Success;
  }
  state.counters["iterations"] = static_cast<double>(iterations) / std::max(solves, 1L);
  state.counters["max_iterations"] = max_iterations;
  state.counters["failures"] = static_cast<double>(failures);
}

void BM_OcpQpSolveContactForce(::benchmark::State& state) { runSequence(state, false); }
void BM_OcpQpSolveContactForceWarm(::benchmark::State& state) { runSequence(state, true); }

BENCHMARK(BM_OcpQpSolveContactForce)
    ->Arg(10)
    ->Arg(25)
    ->Arg(50)
    ->Arg(100)
    ->Unit(::benchmark::kMillisecond);
BENCHMARK(BM_OcpQpSolveContactForceWarm)
    ->Arg(10)
    ->Arg(25)
    ->Arg(50)
    ->Arg(100)
    ->Unit(::benchmark::kMillisecond);

}  // namespace
