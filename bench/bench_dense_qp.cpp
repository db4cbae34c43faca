// Whole-body QP as the whole-body controller solves it every cycle: a fresh MathematicalProgram
// built from the controller's stacked constraint rows and task Hessian, solved from scratch.
// The instances come from WholeBodyController on the bundled robot (random states near the
// standing pose; see tests/dense_qp/DenseQpTestSupport.h).

#include <vector>

#include <benchmark/benchmark.h>

#include "../tests/dense_qp/DenseQpTestSupport.h"
#include "core/optimization/MathematicalProgram.h"

namespace {

using velmora::dense_qp::DenseQp;

/// 64 instances: all four feet in stance (mode 15), or a trot alternating modes 9 and 6, with
/// the base acceleration demand scaled by `demand`.
std::vector<DenseQp> makeSequence(bool trot, double demand) {
  velmora::dense_qp::test::WholeBodyProblems problems;
  std::vector<DenseQp> sequence;
  Eigen::VectorXd feasible;
  for (int k = 0; k < 64; ++k) {
    sequence.push_back(problems.build(trot ? (k % 2 == 0 ? 9 : 6) : 15, demand, feasible));
  }
  return sequence;
}

/// Arguments: trot 0 = all stance (18 equality, 32 inequality rows), 1 = trot (24, 22); demand
/// scale 1 or 15.
void BM_DenseQpWholeBodyShape(benchmark::State& state) {
  const bool trot = state.range(0) == 1;
  const std::vector<DenseQp> sequence = makeSequence(trot, static_cast<double>(state.range(1)));
  size_t next = 0;
  int64_t failures = 0, iterations = 0, solves = 0;
  for (auto _ : state) {
    const DenseQp& qp = sequence[next];
    next = (next + 1) % sequence.size();
    velmora::MathematicalProgram program;
    const velmora::VectorVariables vars = program.newVectorVariables(qp.numVariables());
    program.addLinearEqualityConstraints(qp.A, qp.b, vars);
    program.addLinearInEqualityConstraints(qp.C, qp.l, qp.u, vars);
    program.addQuadraticCost(qp.H, qp.g, vars);
    if (program.solve()) {
      benchmark::DoNotOptimize(program.getSolution(vars));
    } else {
      ++failures;
    }
    iterations += program.info().iterations;
    ++solves;
  }
  state.counters["failures"] = static_cast<double>(failures);
  state.counters["ipm_iterations"] =
      solves > 0 ? static_cast<double>(iterations) / static_cast<double>(solves) : 0.0;
  state.SetLabel(trot ? "trot" : "all stance");
}
BENCHMARK(BM_DenseQpWholeBodyShape)
    ->ArgNames({"trot", "demand"})
    ->Args({0, 1})
    ->Args({1, 1})
    ->Args({0, 15})
    ->Args({1, 15})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
