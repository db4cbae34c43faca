// Built with the solver's sources compiled under EIGEN_RUNTIME_NO_MALLOC and with assertions on:
// any heap allocation by Eigen inside the interior-point iterations or the polishing aborts.

#include <random>

#include <gtest/gtest.h>

#include "IterationAllocationGuard.h"
#include "RandomQp.h"
#include "WholeBodyQpInstance.h"
#include "dense_qp/DenseQpSolver.h"

namespace velmora::dense_qp {
namespace {

#ifndef EIGEN_RUNTIME_NO_MALLOC
#error "this test must be compiled with EIGEN_RUNTIME_NO_MALLOC"
#endif

TEST(DenseQpNoAllocationDeathTest, GuardTurnsAnAllocationIntoAnAbort) {
  // Positive control: the mechanism the tests below rely on does catch allocations.
  EXPECT_DEATH(
      {
        const internal::IterationAllocationGuard guard;
        Eigen::VectorXd v(1000);
        v.setZero();
      },
      "");
}

TEST(DenseQpNoAllocation, WholeBodyInstancesSolveWithoutAllocatingInIterations) {
  std::mt19937 rng(12);
  for (int instance = 0; instance < 40; ++instance) {
    test::WholeBodyQpOptions options;
    options.demand_scale = instance % 2 ? 15.0 : 1.0;
    if (instance % 4 >= 2) options.stance = {true, false, false, true};
    const test::WholeBodyQp w = test::makeWholeBodyQp(rng, options);
    const DenseQp qp = w.toDenseQp();
    DenseQpSolver solver(qp.numVariables(), qp.numEqualities(), qp.numInequalities());
    DenseQpSolution solution;
    EXPECT_EQ(solver.solve(qp, solution), DenseQpStatus::kSolved);
    EXPECT_GT(solution.info.iterations, 0);
  }
}

TEST(DenseQpNoAllocation, RandomProblemsIncludingFailuresDoNotAllocateInIterations) {
  std::mt19937 rng(13);
  for (int seed = 0; seed < 20; ++seed) {
    test::RandomQpOptions o;
    o.n = 15;
    o.m_eq = 4;
    o.eq_rank = 3;
    o.m_in = 20;
    o.strictly_active = 5;
    o.weakly_active = 2;
    DenseQp qp = test::makeKnownOptimum(rng, o).qp;
    DenseQpSolver solver(15, 4, 20);
    DenseQpSolution solution;
    EXPECT_EQ(solver.solve(qp, solution), DenseQpStatus::kSolved);
    // Unbounded variant: drop the curvature and all bounds.
    qp.H.setZero();
    qp.l.setConstant(-1e16);
    qp.u.setConstant(1e16);
    EXPECT_NE(solver.solve(qp, solution), DenseQpStatus::kSolved);
  }
}

}  // namespace
}  // namespace velmora::dense_qp
