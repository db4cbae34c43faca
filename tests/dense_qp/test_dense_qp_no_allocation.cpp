// Built with the solver's sources compiled under EIGEN_RUNTIME_NO_MALLOC and with assertions on:
// any heap allocation by Eigen inside the interior-point iterations or the polishing aborts.

#include <random>

#include <gtest/gtest.h>

#include "DenseQpTestSupport.h"
#include "IterationAllocationGuard.h"
#include "dense_qp/DenseQpSolver.h"

namespace velmora::dense_qp {
namespace {

#ifndef EIGEN_RUNTIME_NO_MALLOC
#error "this test must be compiled with EIGEN_RUNTIME_NO_MALLOC"
#endif

TEST(DenseQpNoAllocationDeathTest, GuardTurnsAnAllocationIntoAnAbort) {
  // Positive control: the mechanism the test below relies on does catch allocations.
  EXPECT_DEATH(
      {
        const internal::IterationAllocationGuard guard;
        Eigen::VectorXd v(1000);
        v.setZero();
      },
      "");
}

TEST(DenseQpNoAllocation, SolvedAndFailingProblemsDoNotAllocateInIterations) {
  // Problems of the whole-body size (rank-deficient equalities, weakly active rows, a
  // semidefinite Hessian), solved; then the same data made unbounded.
  std::mt19937 rng(13);
  for (int seed = 0; seed < 20; ++seed) {
    DenseQp qp = test::makeKnownOptimum(rng, {42, 24, 18, 32, 10, 2, 0, 30}).qp;
    DenseQpSolver solver(42, 24, 32);
    DenseQpSolution solution;
    EXPECT_EQ(solver.solve(qp, solution), DenseQpStatus::kSolved);
    EXPECT_GT(solution.info.iterations, 0);
    qp.H.setZero();
    qp.l.setConstant(-1e16);
    qp.u.setConstant(1e16);
    EXPECT_NE(solver.solve(qp, solution), DenseQpStatus::kSolved);
  }
}

}  // namespace
}  // namespace velmora::dense_qp
