// Random convex QPs whose optimum is fixed by construction (RandomQp.h): the solver must
// recover x*, the multipliers and the active set, across problem classes.

#include <cmath>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "QpChecks.h"
#include "RandomQp.h"
#include "dense_qp/DenseQpSolver.h"

namespace velmora::dense_qp {
namespace {

using test::KnownOptimum;
using test::RandomQpOptions;
using test::RowState;

double maxAbs(const Eigen::VectorXd& v) { return v.size() > 0 ? v.cwiseAbs().maxCoeff() : 0.0; }

DenseQpSolution solveFresh(const DenseQp& qp, const DenseQpSettings& settings = {}) {
  DenseQpSolver solver(qp.numVariables(), qp.numEqualities(), qp.numInequalities(), settings);
  DenseQpSolution solution;
  solver.solve(qp, solution);
  return solution;
}

/// x, A'y, z and the active set of `solution` match the constructed optimum.
void expectRecovered(const KnownOptimum& k, const DenseQpSolution& s, double tol,
                     const std::string& what) {
  SCOPED_TRACE(what);
  ASSERT_EQ(s.info.status, DenseQpStatus::kSolved);
  const double x_scale = 1.0 + k.x.cwiseAbs().maxCoeff();
  EXPECT_LE((s.x - k.x).cwiseAbs().maxCoeff(), tol * x_scale);
  if (k.qp.A.rows() > 0) {
    // y is unique only up to the null space of A' when A is rank deficient; A'y is unique.
    const Eigen::VectorXd Aty = k.qp.A.transpose() * s.y;
    const Eigen::VectorXd Aty_ref = k.qp.A.transpose() * k.y;
    EXPECT_LE((Aty - Aty_ref).cwiseAbs().maxCoeff(), tol * (1.0 + maxAbs(Aty_ref)));
  }
  const double z_scale = 1.0 + maxAbs(k.z);
  for (Eigen::Index i = 0; i < k.z.size(); ++i) {
    SCOPED_TRACE("row " + std::to_string(i));
    EXPECT_NEAR(s.z[i], k.z[i], tol * z_scale);
    switch (k.state[i]) {
      case RowState::kLowerActive:
        EXPECT_LT(s.z[i], 0.0);
        break;
      case RowState::kUpperActive:
        EXPECT_GT(s.z[i], 0.0);
        break;
      default:
        break;
    }
  }
  const auto kkt = test::checkKkt(k.qp, s.x, s.y, s.z);
  EXPECT_LE(kkt.stationarity, 1e-9);
  EXPECT_LE(kkt.equality, 1e-12);
  EXPECT_LE(kkt.bound_violation, 1e-12);
  EXPECT_LE(kkt.wrong_sign, 1e-12);
  // The reported residuals describe the returned point.
  EXPECT_LE(s.info.equality_residual, 1e-9 * (1.0 + maxAbs(k.qp.b) + x_scale));
}

struct ProblemClass {
  const char* name;
  RandomQpOptions options;
};

class KnownOptimumTest : public ::testing::TestWithParam<ProblemClass> {};

TEST_P(KnownOptimumTest, RecoversSolutionMultipliersAndActiveSet) {
  const ProblemClass& c = GetParam();
  for (int seed = 0; seed < 25; ++seed) {
    std::mt19937 rng(1000 + seed);
    const KnownOptimum k = test::makeKnownOptimum(rng, c.options);
    const DenseQpSolution s = solveFresh(k.qp);
    expectRecovered(k, s, 1e-7, std::string(c.name) + " seed " + std::to_string(seed));
    if (c.options.m_eq > 0) {
      EXPECT_EQ(s.info.equality_rank, c.options.eq_rank);
    }
  }
}

RandomQpOptions make(int n, int m_eq, int eq_rank, int m_in, int active, int weak, int fixed,
                     int hessian_rank) {
  RandomQpOptions o;
  o.n = n;
  o.m_eq = m_eq;
  o.eq_rank = eq_rank;
  o.m_in = m_in;
  o.strictly_active = active;
  o.weakly_active = weak;
  o.fixed_rows = fixed;
  o.hessian_rank = hessian_rank;
  return o;
}

INSTANTIATE_TEST_SUITE_P(
    Classes, KnownOptimumTest,
    ::testing::Values(ProblemClass{"unconstrained", make(15, 0, 0, 0, 0, 0, 0, -1)},
                      ProblemClass{"equalities only", make(20, 8, 8, 0, 0, 0, 0, -1)},
                      ProblemClass{"inequalities only", make(20, 0, 0, 40, 8, 0, 0, -1)},
                      ProblemClass{"mixed", make(30, 10, 10, 45, 12, 0, 0, -1)},
                      ProblemClass{"rank-deficient equalities", make(25, 14, 8, 30, 6, 0, 0, -1)},
                      ProblemClass{"weakly active rows", make(20, 4, 4, 30, 5, 6, 0, -1)},
                      ProblemClass{"rows with l = u", make(20, 3, 3, 25, 4, 0, 5, -1)},
                      ProblemClass{"semidefinite Hessian", make(24, 6, 6, 30, 10, 0, 0, 10)},
                      ProblemClass{"linear programme at a vertex", make(16, 4, 4, 30, 12, 0, 0, 0)},
                      ProblemClass{"whole-body size", make(42, 24, 18, 32, 10, 2, 0, 30)}),
    [](const ::testing::TestParamInfo<ProblemClass>& info) {
      std::string name = info.param.name;
      for (char& ch : name) {
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      }
      return name;
    });

TEST(DenseQpKnownOptimum, BadlyScaledRowsColumnsAndObjective) {
  // Variables in units 10^k apart, rows multiplied by 10^k: same optimum up to the change of
  // variables, which equilibration must absorb.
  for (int seed = 0; seed < 20; ++seed) {
    std::mt19937 rng(77 + seed);
    KnownOptimum k = test::makeKnownOptimum(rng, make(20, 6, 6, 30, 8, 0, 0, -1));
    std::uniform_int_distribution<int> exponent(-4, 4);
    Eigen::VectorXd s(k.x.size());
    for (Eigen::Index j = 0; j < s.size(); ++j) s[j] = std::pow(10.0, exponent(rng));
    // x = S x' : H' = S H S, g' = S g, A' = A S, C' = C S, x'* = S^-1 x*.
    k.qp.H = s.asDiagonal() * k.qp.H * s.asDiagonal();
    k.qp.g = s.asDiagonal() * k.qp.g;
    k.qp.A = k.qp.A * s.asDiagonal();
    k.qp.C = k.qp.C * s.asDiagonal();
    k.x = k.x.cwiseQuotient(s);
    for (Eigen::Index i = 0; i < k.qp.C.rows(); ++i) {
      const double r = std::pow(10.0, exponent(rng));
      k.qp.C.row(i) *= r;
      k.qp.l[i] *= r;
      k.qp.u[i] *= r;
      k.z[i] /= r;
    }
    const double cost = 1e6;
    k.qp.H *= cost;
    k.qp.g *= cost;
    k.y *= cost;
    k.z *= cost;
    const DenseQpSolution sol = solveFresh(k.qp);
    ASSERT_EQ(sol.info.status, DenseQpStatus::kSolved) << "seed " << seed;
    for (Eigen::Index j = 0; j < k.x.size(); ++j) {
      EXPECT_NEAR(sol.x[j], k.x[j], 1e-7 * (1.0 + std::abs(k.x[j]))) << "seed " << seed;
    }
    const auto kkt = test::checkKkt(k.qp, sol.x, sol.y, sol.z);
    EXPECT_LE(kkt.stationarity, 1e-9);
    EXPECT_LE(kkt.bound_violation, 1e-12);
  }
}

TEST(DenseQpKnownOptimum, WithoutPolishingTheInteriorPointAloneConverges) {
  DenseQpSettings settings;
  settings.polish = false;
  for (int seed = 0; seed < 15; ++seed) {
    std::mt19937 rng(500 + seed);
    const KnownOptimum k = test::makeKnownOptimum(rng, make(20, 5, 5, 30, 7, 0, 0, -1));
    const DenseQpSolution s = solveFresh(k.qp, settings);
    ASSERT_EQ(s.info.status, DenseQpStatus::kSolved);
    EXPECT_FALSE(s.info.polished);
    EXPECT_LE((s.x - k.x).cwiseAbs().maxCoeff(), 1e-6 * (1.0 + k.x.cwiseAbs().maxCoeff()));
    EXPECT_LE((s.z - k.z).cwiseAbs().maxCoeff(), 1e-6 * (1.0 + k.z.cwiseAbs().maxCoeff()));
  }
}

TEST(DenseQpKnownOptimum, ReportedResidualsMatchAnIndependentEvaluation) {
  std::mt19937 rng(9);
  const KnownOptimum k = test::makeKnownOptimum(rng, make(18, 5, 5, 25, 6, 0, 0, -1));
  const DenseQpSolution s = solveFresh(k.qp);
  ASSERT_EQ(s.info.status, DenseQpStatus::kSolved);
  const Eigen::VectorXd stat =
      k.qp.H * s.x + k.qp.g + k.qp.A.transpose() * s.y + k.qp.C.transpose() * s.z;
  EXPECT_NEAR(s.info.dual_residual, stat.cwiseAbs().maxCoeff(), 1e-12);
  EXPECT_NEAR(s.info.equality_residual, (k.qp.A * s.x - k.qp.b).cwiseAbs().maxCoeff(), 1e-12);
  EXPECT_NEAR(s.info.objective, 0.5 * s.x.dot(k.qp.H * s.x) + k.qp.g.dot(s.x),
              1e-9 * (1.0 + std::abs(s.info.objective)));
  // At the optimum the dual objective equals the primal one.
  EXPECT_LE(s.info.duality_gap, 1e-8 * (1.0 + std::abs(s.info.objective)));
  EXPECT_GE(s.info.iterations, 1);
}

TEST(DenseQpKnownOptimum, OneSolverObjectSolvesASequenceOfProblems) {
  // Workspace reuse must not leak state from one problem into the next.
  std::mt19937 rng(31);
  const RandomQpOptions o = make(20, 6, 6, 30, 8, 0, 0, -1);
  const KnownOptimum first = test::makeKnownOptimum(rng, o);
  const KnownOptimum second = test::makeKnownOptimum(rng, o);
  DenseQpSolver solver(20, 6, 30);
  DenseQpSolution s1, s2, s3;
  solver.solve(first.qp, s1);
  solver.solve(second.qp, s2);
  solver.solve(first.qp, s3);
  expectRecovered(first, s1, 1e-7, "first");
  expectRecovered(second, s2, 1e-7, "second");
  EXPECT_EQ(s1.x, s3.x);
  EXPECT_EQ(s1.z, s3.z);
}

TEST(DenseQpKnownOptimum, EqualitiesFixingEveryVariable) {
  // No freedom left: the solution is the unique solution of A x = b, bounds only checked.
  std::mt19937 rng(4);
  KnownOptimum k = test::makeKnownOptimum(rng, make(8, 8, 8, 6, 0, 0, 0, -1));
  const DenseQpSolution s = solveFresh(k.qp);
  ASSERT_EQ(s.info.status, DenseQpStatus::kSolved);
  EXPECT_LE((s.x - k.x).cwiseAbs().maxCoeff(), 1e-9 * (1.0 + k.x.cwiseAbs().maxCoeff()));
  EXPECT_EQ(s.info.iterations, 0);
  // Its multipliers are those of the equalities alone.
  EXPECT_LE((s.y - k.y).cwiseAbs().maxCoeff(), 1e-8 * (1.0 + k.y.cwiseAbs().maxCoeff()));
}

}  // namespace
}  // namespace velmora::dense_qp
