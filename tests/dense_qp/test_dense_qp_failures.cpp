// Problems without a solution, bad data and limits: the solver must report a failure with the
// right status, never kSolved, and never hand out non-finite numbers.

#include <cmath>
#include <limits>
#include <random>
#include <sstream>
#include <stdexcept>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "RandomQp.h"
#include "dense_qp/DenseQpSolver.h"

namespace velmora::dense_qp {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

DenseQpSolution solveFresh(const DenseQp& qp, const DenseQpSettings& settings = {}) {
  DenseQpSolver solver(qp.numVariables(), qp.numEqualities(), qp.numInequalities(), settings);
  DenseQpSolution solution;
  solver.solve(qp, solution);
  return solution;
}

void expectFiniteOutput(const DenseQpSolution& s) {
  EXPECT_TRUE(s.x.allFinite());
  EXPECT_TRUE(s.y.allFinite());
  EXPECT_TRUE(s.z.allFinite());
}

/// A well-posed random problem to break in the tests below.
DenseQp feasibleProblem(std::mt19937& rng, int n = 10, int m_eq = 3, int m_in = 12) {
  test::RandomQpOptions o;
  o.n = n;
  o.m_eq = m_eq;
  o.eq_rank = m_eq;
  o.m_in = m_in;
  o.strictly_active = std::min(m_in, 3);
  return test::makeKnownOptimum(rng, o).qp;
}

TEST(DenseQpInfeasible, InconsistentEqualities) {
  std::mt19937 rng(1);
  for (int seed = 0; seed < 10; ++seed) {
    DenseQp qp = feasibleProblem(rng, 10, 4, 6);
    // A fifth row that repeats a combination of the others with a different right-hand side.
    qp.A.conservativeResize(5, Eigen::NoChange);
    qp.b.conservativeResize(5);
    qp.A.row(4) = 0.5 * qp.A.row(0) - 2.0 * qp.A.row(2);
    qp.b[4] = 0.5 * qp.b[0] - 2.0 * qp.b[2] + 1e-3 * (1.0 + seed);
    const DenseQpSolution s = solveFresh(qp);
    EXPECT_EQ(s.info.status, DenseQpStatus::kPrimalInfeasible);
    EXPECT_EQ(s.info.equality_rank, 4);
    expectFiniteOutput(s);
    // The same row with a consistent right-hand side is merely redundant.
    qp.b[4] = 0.5 * qp.b[0] - 2.0 * qp.b[2];
    EXPECT_EQ(solveFresh(qp).info.status, DenseQpStatus::kSolved);
  }
}

TEST(DenseQpInfeasible, MoreIndependentEqualitiesThanVariables) {
  std::mt19937 rng(2);
  DenseQp qp(4, 6, 0);
  qp.H.setIdentity();
  qp.A = test::gaussianMatrix(rng, 6, 4);
  qp.b = test::gaussianMatrix(rng, 6, 1);
  const DenseQpSolution s = solveFresh(qp);
  EXPECT_EQ(s.info.status, DenseQpStatus::kPrimalInfeasible);
  expectFiniteOutput(s);
}

TEST(DenseQpInfeasible, InequalityRowFixedByEqualitiesOutsideItsBounds) {
  // x0 + x1 = 1 and x0 + x1 >= 2: the row is constant on the equality set.
  DenseQp qp(3, 1, 1);
  qp.H.setIdentity();
  qp.A << 1, 1, 0;
  qp.b << 1;
  qp.C << 1, 1, 0;
  qp.l << 2;
  EXPECT_EQ(solveFresh(qp).info.status, DenseQpStatus::kPrimalInfeasible);
  qp.l << 0.5;  // now satisfied everywhere on the equality set
  EXPECT_EQ(solveFresh(qp).info.status, DenseQpStatus::kSolved);
}

TEST(DenseQpInfeasible, EmptyInequalitySetFromAFarkasCombination) {
  // Rows c_i'x >= l_i imply (sum a_i c_i)'x >= sum a_i l_i for a >= 0; a last row asking
  // (sum a_i c_i)'x <= sum a_i l_i - gap leaves no feasible point.
  for (int seed = 0; seed < 20; ++seed) {
    std::mt19937 rng(100 + seed);
    const int n = 12, k = 6;
    DenseQp qp = feasibleProblem(rng, n, 2, 8);
    const Eigen::MatrixXd rows = test::gaussianMatrix(rng, k, n);
    Eigen::VectorXd lower = test::gaussianMatrix(rng, k, 1);
    Eigen::VectorXd weights(k);
    for (int i = 0; i < k; ++i) weights[i] = test::uniform(rng, 0.2, 2.0);
    const int m = static_cast<int>(qp.C.rows());
    qp.C.conservativeResize(m + k + 1, Eigen::NoChange);
    qp.l.conservativeResize(m + k + 1);
    qp.u.conservativeResize(m + k + 1);
    qp.C.middleRows(m, k) = rows;
    qp.l.segment(m, k) = lower;
    qp.u.segment(m, k).setConstant(kInf);
    qp.C.row(m + k) = weights.transpose() * rows;
    qp.l[m + k] = -1e16;
    qp.u[m + k] = weights.dot(lower) - test::uniform(rng, 0.01, 1.0);
    const DenseQpSolution s = solveFresh(qp);
    EXPECT_EQ(s.info.status, DenseQpStatus::kPrimalInfeasible) << "seed " << seed;
    expectFiniteOutput(s);
  }
}

TEST(DenseQpInfeasible, ImpossibleBounds) {
  std::mt19937 rng(3);
  const DenseQp base = feasibleProblem(rng);
  for (const auto& [lo, hi] : {std::pair{1.0, 0.0}, std::pair{kInf, kInf}, std::pair{1e16, 2e16},
                               std::pair{-kInf, -kInf}, std::pair{-2e16, -1e16}}) {
    DenseQp qp = base;
    qp.l[5] = lo;
    qp.u[5] = hi;
    const DenseQpSolution s = solveFresh(qp);
    EXPECT_EQ(s.info.status, DenseQpStatus::kPrimalInfeasible) << lo << " " << hi;
    expectFiniteOutput(s);
  }
}

TEST(DenseQpUnbounded, LinearObjectiveWithoutConstraints) {
  DenseQp qp(3, 0, 0);
  qp.g << 1, -2, 0.5;
  const DenseQpSolution s = solveFresh(qp);
  EXPECT_EQ(s.info.status, DenseQpStatus::kDualInfeasible);
  expectFiniteOutput(s);
}

TEST(DenseQpUnbounded, RayAlongAFlatDirectionThatTheConstraintsAllow) {
  // H = B'B with a null space; g decreases along d in that null space; rows that bound x from
  // one side only are oriented so that d never leaves them; equalities contain d.
  for (int seed = 0; seed < 20; ++seed) {
    std::mt19937 rng(200 + seed);
    const int n = 10;
    const Eigen::MatrixXd B = test::gaussianMatrix(rng, 6, n);
    Eigen::FullPivLU<Eigen::MatrixXd> lu(B);
    const Eigen::VectorXd d = lu.kernel().col(0).normalized();
    DenseQp qp(n, 2, 8);
    qp.H = B.transpose() * B;
    qp.g = test::gaussianMatrix(rng, n, 1);
    qp.g -= (qp.g.dot(d) + 1.0) * d;  // g'd = -1
    // Equalities with d in their null space.
    qp.A = test::gaussianMatrix(rng, 2, n);
    qp.A -= (qp.A * d) * d.transpose();
    qp.b = qp.A * test::gaussianMatrix(rng, n, 1);
    qp.C = test::gaussianMatrix(rng, 8, n);
    for (int i = 0; i < 8; ++i) {
      const double cd = qp.C.row(i).dot(d);
      // Keep only the side that d does not approach: lower if C d > 0, upper if C d < 0.
      qp.l[i] = cd > 0 ? -3.0 : -1e16;
      qp.u[i] = cd > 0 ? 1e16 : 3.0;
    }
    const DenseQpSolution s = solveFresh(qp);
    EXPECT_EQ(s.info.status, DenseQpStatus::kDualInfeasible) << "seed " << seed;
    expectFiniteOutput(s);
  }
}

TEST(DenseQpUnbounded, BoundedByOneRowIsNotUnbounded) {
  // The same flat direction, but a row now caps it: the problem has a solution.
  DenseQp qp(2, 0, 1);
  qp.H << 1, 0, 0, 0;
  qp.g << 0, -1;
  qp.C << 0, 1;
  qp.l << -1e16;
  qp.u << 4.0;
  DenseQpSolution s = solveFresh(qp);
  ASSERT_EQ(s.info.status, DenseQpStatus::kSolved);
  EXPECT_NEAR(s.x[1], 4.0, 1e-9);
  EXPECT_NEAR(s.z[0], 1.0, 1e-9);  // g + C'z = 0 in the flat direction
  qp.u << kInf;
  s = solveFresh(qp);
  EXPECT_EQ(s.info.status, DenseQpStatus::kDualInfeasible);
}

TEST(DenseQpNonConvex, IndefiniteHessianIsRejected) {
  // A saddle on a box: a KKT point exists (the origin) but it is not a minimum.
  DenseQp qp(2, 0, 2);
  qp.H << 1, 0, 0, -1;
  qp.C.setIdentity();
  qp.l << -1, -1;
  qp.u << 1, 1;
  const DenseQpSolution s = solveFresh(qp);
  EXPECT_EQ(s.info.status, DenseQpStatus::kNonConvex);
  expectFiniteOutput(s);
}

TEST(DenseQpNonConvex, NegativeCurvatureOnlyOutsideTheEqualitySetIsAccepted) {
  // H is indefinite, but on x1 = 0 the objective is convex in x0.
  DenseQp qp(2, 1, 0);
  qp.H << 2, 0, 0, -1;
  qp.g << -2, 0;
  qp.A << 0, 1;
  qp.b << 0;
  const DenseQpSolution s = solveFresh(qp);
  ASSERT_EQ(s.info.status, DenseQpStatus::kSolved);
  EXPECT_NEAR(s.x[0], 1.0, 1e-12);
  EXPECT_NEAR(s.x[1], 0.0, 1e-12);
}

TEST(DenseQpInvalidInput, NonFiniteDataIsReportedNotSolved) {
  std::mt19937 rng(4);
  const DenseQp base = feasibleProblem(rng);
  auto expectInvalid = [](const DenseQp& qp, const char* what) {
    const DenseQpSolution s = solveFresh(qp);
    EXPECT_EQ(s.info.status, DenseQpStatus::kInvalidInput) << what;
    expectFiniteOutput(s);
  };
  DenseQp qp = base;
  qp.H(2, 3) = kNaN;
  expectInvalid(qp, "H NaN");
  qp = base;
  qp.g[1] = kInf;
  expectInvalid(qp, "g inf");
  qp = base;
  qp.A(0, 0) = -kInf;
  expectInvalid(qp, "A -inf");
  qp = base;
  qp.b[2] = kNaN;
  expectInvalid(qp, "b NaN");
  qp = base;
  qp.C(4, 1) = kNaN;
  expectInvalid(qp, "C NaN");
  qp = base;
  qp.l[0] = kNaN;
  expectInvalid(qp, "l NaN");
  qp = base;
  qp.u[3] = kNaN;
  expectInvalid(qp, "u NaN");
  // Infinite bounds are legitimate.
  qp = base;
  qp.l[0] = -kInf;
  qp.u[1] = kInf;
  EXPECT_EQ(solveFresh(qp).info.status, DenseQpStatus::kSolved);
}

TEST(DenseQpLimits, IterationLimitIsAFailureWithFiniteOutput) {
  std::mt19937 rng(5);
  test::RandomQpOptions o;
  o.n = 20;
  o.m_in = 40;
  o.strictly_active = 10;
  const DenseQp qp = test::makeKnownOptimum(rng, o).qp;
  DenseQpSettings settings;
  settings.max_iterations = 1;
  settings.polish = false;
  const DenseQpSolution s = solveFresh(qp, settings);
  EXPECT_EQ(s.info.status, DenseQpStatus::kMaxIterationsReached);
  EXPECT_EQ(s.info.iterations, 1);
  expectFiniteOutput(s);
}

TEST(DenseQpLimits, SizesDifferentFromTheSolversAreRejected) {
  std::mt19937 rng(6);
  const DenseQp qp = feasibleProblem(rng, 10, 3, 12);
  DenseQpSolution s;
  DenseQpSolver wrong_n(11, 3, 12), wrong_eq(10, 2, 12), wrong_in(10, 3, 13);
  EXPECT_THROW(wrong_n.solve(qp, s), std::invalid_argument);
  EXPECT_THROW(wrong_eq.solve(qp, s), std::invalid_argument);
  try {
    wrong_in.solve(qp, s);
    FAIL() << "no exception";
  } catch (const std::invalid_argument& e) {
    EXPECT_THAT(e.what(), ::testing::HasSubstr("m_in = 12"));
    EXPECT_THAT(e.what(), ::testing::HasSubstr("m_in = 13"));
  }
  DenseQp broken = qp;
  broken.g.resize(9);
  DenseQpSolver right(10, 3, 12);
  try {
    right.solve(broken, s);
    FAIL() << "no exception";
  } catch (const std::invalid_argument& e) {
    EXPECT_THAT(e.what(), ::testing::HasSubstr("g.size() is 9"));
  }
  EXPECT_THROW(DenseQpSolver(-1, 0, 0), std::invalid_argument);
}

TEST(DenseQpStatusNames, PrintAsTheirNames) {
  std::ostringstream os;
  os << DenseQpStatus::kSolved << ' ' << DenseQpStatus::kPrimalInfeasible << ' '
     << DenseQpStatus::kDualInfeasible << ' ' << DenseQpStatus::kMaxIterationsReached << ' '
     << DenseQpStatus::kNumericalFailure << ' ' << DenseQpStatus::kNonConvex << ' '
     << DenseQpStatus::kInvalidInput << ' ' << DenseQpStatus::kNotSolved;
  EXPECT_EQ(os.str(),
            "Solved PrimalInfeasible DualInfeasible MaxIterationsReached NumericalFailure "
            "NonConvex InvalidInput NotSolved");
}

TEST(DenseQpEdgeCases, NoVariables) {
  DenseQp qp(0, 1, 1);
  qp.l << -1;
  qp.u << 1;
  EXPECT_EQ(solveFresh(qp).info.status, DenseQpStatus::kSolved);
  qp.b << 1;  // 0 = 1
  EXPECT_EQ(solveFresh(qp).info.status, DenseQpStatus::kPrimalInfeasible);
}

}  // namespace
}  // namespace velmora::dense_qp
