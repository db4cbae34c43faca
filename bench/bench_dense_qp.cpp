// Whole-body QP as the whole-body controller solves it every cycle: a fresh MathematicalProgram
// built from the stacked constraint blocks and the task Hessian, solved from scratch.

#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "../tests/dense_qp/WholeBodyQpInstance.h"
#include "core/optimization/MathematicalProgram.h"

namespace {

using velmora::dense_qp::test::makeWholeBodyQp;
using velmora::dense_qp::test::WholeBodyQp;
using velmora::dense_qp::test::WholeBodyQpOptions;

/// A sequence of different instances: all four feet in stance, or a trot (one diagonal in
/// swing, alternating), with acceleration demands scaled by demand_scale.
std::vector<WholeBodyQp> makeSequence(bool trot, double demand_scale, int count) {
  std::mt19937 rng(trot ? 2024 : 1990);
  std::vector<WholeBodyQp> sequence;
  for (int k = 0; k < count; ++k) {
    WholeBodyQpOptions options;
    options.demand_scale = demand_scale;
    if (trot) {
      options.stance = (k % 2 == 0) ? std::array<bool, 4>{true, false, false, true}
                                    : std::array<bool, 4>{false, true, true, false};
    }
    sequence.push_back(makeWholeBodyQp(rng, options));
  }
  return sequence;
}

/// Arguments: 0 = all stance (18 equality, 32 inequality rows), 1 = trot (24, 22); demand
/// scale 1 or 15.
void BM_DenseQpWholeBodyShape(benchmark::State& state) {
  const bool trot = state.range(0) == 1;
  const double demand_scale = static_cast<double>(state.range(1));
  const std::vector<WholeBodyQp> sequence = makeSequence(trot, demand_scale, 64);
  size_t next = 0;
  int64_t failures = 0, iterations = 0, solves = 0;
  for (auto _ : state) {
    const WholeBodyQp& w = sequence[next];
    next = (next + 1) % sequence.size();
    velmora::MathematicalProgram program;
    const velmora::VectorVariables vars = program.newVectorVariables(WholeBodyQp::kNvar);
    program.addLinearEqualityConstraints(w.A, w.b, vars);
    program.addLinearInEqualityConstraints(w.C, w.lb, w.ub, vars);
    program.addQuadraticCost(w.H, w.g, vars);
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
