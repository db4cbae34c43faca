// MathematicalProgram: variables, block assembly over arbitrary variable groups, the 1/2 of
// the quadratic cost, solution access and every rejected input.

#include <limits>
#include <random>
#include <stdexcept>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "RandomQp.h"
#include "core/optimization/MathematicalProgram.h"
#include "dense_qp/DenseQpSolver.h"

namespace velmora {
namespace {

using ::testing::HasSubstr;
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

Eigen::VectorXi indices(std::initializer_list<int> list) {
  Eigen::VectorXi v(static_cast<Eigen::Index>(list.size()));
  Eigen::Index k = 0;
  for (int i : list) v[k++] = i;
  return v;
}

/// Expects `call` to throw std::invalid_argument whose message contains every fragment.
template <typename Call>
void expectInvalid(Call&& call, std::initializer_list<const char*> fragments) {
  try {
    call();
    FAIL() << "no exception";
  } catch (const std::invalid_argument& e) {
    for (const char* fragment : fragments) EXPECT_THAT(e.what(), HasSubstr(fragment));
  }
}

TEST(MathematicalProgram, VariablesAreNumberedInOrderOfCreation) {
  MathematicalProgram program;
  EXPECT_EQ(program.newVectorVariables(3), indices({0, 1, 2}));
  EXPECT_EQ(program.newVectorVariables(2), indices({3, 4}));
  EXPECT_EQ(program.newVectorVariables(0).size(), 0);
  EXPECT_EQ(program.numVariables(), 5u);
}

TEST(MathematicalProgram, QuadraticCostCarriesTheFactorOneHalf) {
  // 1/2 x'(2I)x + g'x is minimal at x = -g/2; without the 1/2 it would be -g/4.
  MathematicalProgram program;
  const VectorVariables x = program.newVectorVariables(2);
  program.addQuadraticCost(2.0 * Eigen::MatrixXd::Identity(2, 2), Eigen::Vector2d(-2.0, -4.0), x);
  ASSERT_TRUE(program.solve());
  EXPECT_NEAR(program.getSolution()[0], 1.0, 1e-12);
  EXPECT_NEAR(program.getSolution()[1], 2.0, 1e-12);
}

TEST(MathematicalProgram, LeastSquaresObjectiveAsTheControllerPassesIt) {
  // H = A'A, g = -A'b minimises 1/2 ||A x - b||^2: the least-squares solution.
  std::mt19937 rng(3);
  const Eigen::MatrixXd A = dense_qp::test::gaussianMatrix(rng, 8, 5);
  const Eigen::VectorXd b = dense_qp::test::gaussianMatrix(rng, 8, 1);
  MathematicalProgram program;
  const VectorVariables x = program.newVectorVariables(5);
  program.addQuadraticCost(A.transpose() * A, -A.transpose() * b, x);
  ASSERT_TRUE(program.solve());
  const Eigen::VectorXd expected = A.colPivHouseholderQr().solve(b);
  EXPECT_LE((program.getSolution() - expected).cwiseAbs().maxCoeff(), 1e-10);
}

TEST(MathematicalProgram, BlocksOverPermutedGroupsAssembleTheSameProblem) {
  // The same problem, once written as blocks over shuffled, overlapping variable groups and
  // once assembled by hand into a DenseQp: identical solutions and multipliers.
  std::mt19937 rng(11);
  const int n = 9;
  dense_qp::test::RandomQpOptions o;
  o.n = n;
  o.m_eq = 3;
  o.eq_rank = 3;
  o.m_in = 8;
  o.strictly_active = 3;
  const dense_qp::test::KnownOptimum k = dense_qp::test::makeKnownOptimum(rng, o);

  MathematicalProgram program;
  const VectorVariables first = program.newVectorVariables(4);
  const VectorVariables second = program.newVectorVariables(5);
  (void)first;
  (void)second;
  // A permutation of all variables, and a second group with a different order.
  const Eigen::VectorXi perm = indices({7, 2, 0, 8, 4, 1, 6, 3, 5});
  const Eigen::VectorXi part = indices({5, 3, 0});
  auto permuteCols = [&](const Eigen::MatrixXd& M, const Eigen::VectorXi& vars) {
    Eigen::MatrixXd out(M.rows(), vars.size());
    for (Eigen::Index c = 0; c < vars.size(); ++c) out.col(c) = M.col(vars[c]);
    return out;
  };
  // Equalities in two blocks: rows 0-1 over all variables, row 2 split into two calls? No:
  // each block covers its own rows; row 2 only touches variables in `part`.
  program.addLinearEqualityConstraints(permuteCols(k.qp.A.topRows(2), perm), k.qp.b.head(2), perm);
  program.addLinearEqualityConstraints(permuteCols(k.qp.A.bottomRows(1), perm), k.qp.b.tail(1),
                                       perm);
  program.addLinearInEqualityConstraints(permuteCols(k.qp.C, perm), k.qp.l, k.qp.u, perm);
  // The Hessian split into a part over all variables and a part over the group `part`.
  Eigen::MatrixXd H_part = Eigen::MatrixXd::Zero(3, 3);
  H_part(0, 0) = 1.5;
  H_part(1, 2) = H_part(2, 1) = 0.25;
  Eigen::MatrixXd H_rest = k.qp.H;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) H_rest(part[i], part[j]) -= H_part(i, j);
  Eigen::MatrixXd H_perm(n, n);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) H_perm(i, j) = H_rest(perm[i], perm[j]);
  Eigen::VectorXd g_perm(n);
  for (int i = 0; i < n; ++i) g_perm[i] = k.qp.g[perm[i]];
  program.addQuadraticCost(H_perm, g_perm, perm);
  program.addQuadraticCost(H_part, Eigen::VectorXd::Zero(3), part);
  EXPECT_EQ(program.numEqualityConstraints(), 3u);
  EXPECT_EQ(program.numInequalityConstraints(), 8u);

  ASSERT_TRUE(program.solve());
  EXPECT_LE((program.getSolution() - k.x).cwiseAbs().maxCoeff(), 1e-8);
  EXPECT_LE((program.getInequalityDuals() - k.z).cwiseAbs().maxCoeff(), 1e-8);
  EXPECT_LE((program.getEqualityDuals() - k.y).cwiseAbs().maxCoeff(), 1e-8);
  // getSolution(vars) follows the order of vars.
  const Eigen::VectorXd picked = program.getSolution(indices({8, 0, 4}));
  EXPECT_DOUBLE_EQ(picked[0], program.getSolution()[8]);
  EXPECT_DOUBLE_EQ(picked[1], program.getSolution()[0]);
  EXPECT_DOUBLE_EQ(picked[2], program.getSolution()[4]);
}

TEST(MathematicalProgram, BoundingBoxActsLikeIdentityRows) {
  // min (x0 - 3)^2 + (x1 + 2)^2 on [0, 1] x [-1, 5]: x = (1, -1), multipliers 2*(x - target).
  MathematicalProgram program;
  const VectorVariables x = program.newVectorVariables(2);
  program.addQuadraticCost(2.0 * Eigen::MatrixXd::Identity(2, 2), Eigen::Vector2d(-6.0, 4.0), x);
  program.addBoundingBoxConstraints(Eigen::Vector2d(0.0, -1.0), Eigen::Vector2d(1.0, 5.0), x);
  ASSERT_TRUE(program.solve());
  EXPECT_NEAR(program.getSolution()[0], 1.0, 1e-10);
  EXPECT_NEAR(program.getSolution()[1], -1.0, 1e-10);
  EXPECT_NEAR(program.getInequalityDuals()[0], 4.0, 1e-8);   // upper bound of x0 active
  EXPECT_NEAR(program.getInequalityDuals()[1], -2.0, 1e-8);  // lower bound of x1 active
}

TEST(MathematicalProgram, AbsentBoundsInAnySpelling) {
  for (const double big : {1e16, 1e20, kInf}) {
    MathematicalProgram program;
    const VectorVariables x = program.newVectorVariables(1);
    program.addQuadraticCost(Eigen::MatrixXd::Identity(1, 1), Eigen::VectorXd::Constant(1, -5.0),
                             x);
    program.addLinearInEqualityConstraints(Eigen::MatrixXd::Ones(1, 1),
                                           Eigen::VectorXd::Constant(1, -big),
                                           Eigen::VectorXd::Constant(1, big), x);
    ASSERT_TRUE(program.solve()) << big;
    EXPECT_NEAR(program.getSolution()[0], 5.0, 1e-10);
  }
}

TEST(MathematicalProgram, FailedSolveReportsFalseAndLocksTheSolution) {
  MathematicalProgram program;
  const VectorVariables x = program.newVectorVariables(2);
  program.addQuadraticCost(Eigen::MatrixXd::Identity(2, 2), Eigen::Vector2d::Zero(), x);
  program.addLinearEqualityConstraints(Eigen::RowVector2d(1.0, 1.0), Eigen::VectorXd::Ones(1), x);
  program.addLinearInEqualityConstraints(Eigen::RowVector2d(1.0, 1.0),
                                         Eigen::VectorXd::Constant(1, 2.0),
                                         Eigen::VectorXd::Constant(1, 3.0), x);
  EXPECT_FALSE(program.solve());
  EXPECT_EQ(program.status(), dense_qp::DenseQpStatus::kPrimalInfeasible);
  EXPECT_THROW(program.getSolution(), std::logic_error);
  EXPECT_THROW(program.getSolution(x), std::logic_error);
  EXPECT_THROW(program.getInequalityDuals(), std::logic_error);
}

TEST(MathematicalProgram, SolutionIsUnavailableBeforeSolveAndAfterChanges) {
  MathematicalProgram program;
  const VectorVariables x = program.newVectorVariables(1);
  EXPECT_EQ(program.status(), dense_qp::DenseQpStatus::kNotSolved);
  try {
    program.getSolution();
    FAIL() << "no exception";
  } catch (const std::logic_error& e) {
    EXPECT_THAT(e.what(), HasSubstr("no successful solve()"));
  }
  program.addQuadraticCost(Eigen::MatrixXd::Identity(1, 1), Eigen::VectorXd::Ones(1), x);
  ASSERT_TRUE(program.solve());
  EXPECT_NEAR(program.getSolution()[0], -1.0, 1e-12);
  // A new block makes the old solution stale.
  program.addBoundingBoxConstraints(Eigen::VectorXd::Zero(1), Eigen::VectorXd::Ones(1), x);
  EXPECT_THROW(program.getSolution(), std::logic_error);
  ASSERT_TRUE(program.solve());
  EXPECT_NEAR(program.getSolution()[0], 0.0, 1e-9);
}

TEST(MathematicalProgram, UnboundedProgrammeIsAFailure) {
  MathematicalProgram program;
  const VectorVariables x = program.newVectorVariables(2);
  program.addQuadraticCost(Eigen::MatrixXd::Zero(2, 2), Eigen::Vector2d(1.0, 0.0), x);
  EXPECT_FALSE(program.solve());
  EXPECT_EQ(program.status(), dense_qp::DenseQpStatus::kDualInfeasible);
}

TEST(MathematicalProgram, MismatchedBlockSizesAreRejectedWithTheSizes) {
  MathematicalProgram program;
  const VectorVariables x = program.newVectorVariables(4);
  const Eigen::MatrixXd A34 = Eigen::MatrixXd::Ones(3, 4);
  expectInvalid([&] { program.addLinearEqualityConstraints(A34, Eigen::VectorXd::Zero(2), x); },
                {"addLinearEqualityConstraints", "b has 2 entries", "A has 3 rows"});
  expectInvalid(
      [&] { program.addLinearEqualityConstraints(A34, Eigen::VectorXd::Zero(3), x.head(3)); },
      {"A is 3 x 4", "vars lists 3 variables"});
  expectInvalid(
      [&] {
        program.addLinearInEqualityConstraints(A34, Eigen::VectorXd::Zero(3),
                                               Eigen::VectorXd::Zero(4), x);
      },
      {"addLinearInEqualityConstraints", "ub has 4 entries", "C has 3 rows"});
  expectInvalid(
      [&] {
        program.addLinearInEqualityConstraints(A34, Eigen::VectorXd::Zero(1),
                                               Eigen::VectorXd::Zero(3), x);
      },
      {"lb has 1 entries"});
  expectInvalid(
      [&] {
        program.addLinearInEqualityConstraints(A34, Eigen::VectorXd::Zero(3),
                                               Eigen::VectorXd::Zero(3), x.head(2));
      },
      {"C is 3 x 4", "vars lists 2 variables"});
  expectInvalid(
      [&] {
        program.addQuadraticCost(Eigen::MatrixXd::Identity(4, 3), Eigen::VectorXd::Zero(4), x);
      },
      {"addQuadraticCost", "H is 4 x 3"});
  expectInvalid(
      [&] {
        program.addQuadraticCost(Eigen::MatrixXd::Identity(3, 3), Eigen::VectorXd::Zero(3), x);
      },
      {"H is 3 x 3", "vars.size() = 4"});
  expectInvalid(
      [&] {
        program.addQuadraticCost(Eigen::MatrixXd::Identity(4, 4), Eigen::VectorXd::Zero(5), x);
      },
      {"g has 5 entries", "vars has 4 entries"});
  expectInvalid(
      [&] {
        program.addBoundingBoxConstraints(Eigen::VectorXd::Zero(4), Eigen::VectorXd::Zero(2), x);
      },
      {"addBoundingBoxConstraints", "ub has 2 entries", "vars has 4 entries"});
  // Nothing was added by the rejected calls.
  EXPECT_EQ(program.numEqualityConstraints(), 0u);
  EXPECT_EQ(program.numInequalityConstraints(), 0u);
}

TEST(MathematicalProgram, UnknownOrRepeatedVariablesAreRejected) {
  MathematicalProgram program;
  const VectorVariables x = program.newVectorVariables(3);
  (void)x;
  const Eigen::MatrixXd row = Eigen::MatrixXd::Ones(1, 2);
  const Eigen::VectorXd one = Eigen::VectorXd::Ones(1);
  expectInvalid(
      [&] {
        program.addLinearEqualityConstraints(row, one, indices({0, 3}));
      },
      {"variable index 3", "position 1", "3 variables"});
  expectInvalid(
      [&] {
        program.addLinearEqualityConstraints(row, one, indices({-1, 0}));
      },
      {"variable index -1"});
  expectInvalid(
      [&] {
        program.addLinearInEqualityConstraints(row, one, one, indices({2, 2}));
      },
      {"variable 2 appears twice", "positions 0 and 1"});
  expectInvalid(
      [&] {
        program.addQuadraticCost(Eigen::MatrixXd::Identity(2, 2), Eigen::VectorXd::Zero(2),
                                 indices({1, 1}));
      },
      {"appears twice"});
  expectInvalid(
      [&] {
        program.addBoundingBoxConstraints(Eigen::VectorXd::Zero(1), Eigen::VectorXd::Zero(1),
                                          indices({7}));
      },
      {"variable index 7"});
  program.addQuadraticCost(Eigen::MatrixXd::Identity(3, 3), Eigen::VectorXd::Zero(3),
                           indices({0, 1, 2}));
  ASSERT_TRUE(program.solve());
  expectInvalid([&] { program.getSolution(indices({0, 5})); }, {"getSolution", "variable index 5"});
}

TEST(MathematicalProgram, NonFiniteDataIsRejectedWithItsPosition) {
  MathematicalProgram program;
  const VectorVariables x = program.newVectorVariables(2);
  Eigen::MatrixXd A = Eigen::MatrixXd::Ones(2, 2);
  A(1, 0) = kNaN;
  expectInvalid([&] { program.addLinearEqualityConstraints(A, Eigen::Vector2d::Zero(), x); },
                {"A(1, 0) is not finite"});
  expectInvalid(
      [&] {
        program.addLinearEqualityConstraints(Eigen::MatrixXd::Ones(2, 2), Eigen::Vector2d(0, kInf),
                                             x);
      },
      {"b(1) is not finite"});
  Eigen::MatrixXd H = Eigen::MatrixXd::Identity(2, 2);
  H(0, 1) = -kInf;
  expectInvalid([&] { program.addQuadraticCost(H, Eigen::Vector2d::Zero(), x); },
                {"H(0, 1) is not finite"});
  expectInvalid(
      [&] {
        program.addQuadraticCost(Eigen::MatrixXd::Identity(2, 2), Eigen::Vector2d(kNaN, 0), x);
      },
      {"g(0) is not finite"});
  expectInvalid(
      [&] {
        program.addLinearInEqualityConstraints(Eigen::MatrixXd::Ones(1, 2),
                                               Eigen::VectorXd::Constant(1, kNaN),
                                               Eigen::VectorXd::Ones(1), x);
      },
      {"lb(0) is NaN"});
  expectInvalid(
      [&] {
        program.addBoundingBoxConstraints(Eigen::Vector2d::Zero(), Eigen::Vector2d(1.0, kNaN), x);
      },
      {"ub(1) is NaN"});
  expectInvalid(
      [&] {
        Eigen::MatrixXd C = Eigen::MatrixXd::Ones(1, 2);
        C(0, 1) = kInf;
        program.addLinearInEqualityConstraints(C, Eigen::VectorXd::Zero(1),
                                               Eigen::VectorXd::Ones(1), x);
      },
      {"C(0, 1) is not finite"});
}

TEST(MathematicalProgram, EmptyProgrammes) {
  MathematicalProgram nothing;
  EXPECT_TRUE(nothing.solve());
  EXPECT_EQ(nothing.getSolution().size(), 0);
  MathematicalProgram free_variables;
  free_variables.newVectorVariables(3);
  // No cost at all: every point is optimal, the solver returns one.
  EXPECT_TRUE(free_variables.solve());
  EXPECT_TRUE(free_variables.getSolution().allFinite());
}

TEST(MathematicalProgram, SettingsReachTheSolver) {
  MathematicalProgram program;
  const VectorVariables x = program.newVectorVariables(3);
  program.addQuadraticCost(Eigen::MatrixXd::Identity(3, 3), Eigen::Vector3d(-4, 1, 2), x);
  program.addBoundingBoxConstraints(Eigen::Vector3d::Zero(), Eigen::Vector3d::Ones(), x);
  dense_qp::DenseQpSettings settings;
  settings.max_iterations = 0;
  settings.polish = false;
  program.setSolverSettings(settings);
  EXPECT_FALSE(program.solve());
  EXPECT_EQ(program.status(), dense_qp::DenseQpStatus::kMaxIterationsReached);
  program.setSolverSettings(dense_qp::DenseQpSettings());
  ASSERT_TRUE(program.solve());
  EXPECT_GT(program.info().iterations, 0);
  EXPECT_NEAR(program.getSolution()[0], 1.0, 1e-9);
}

}  // namespace
}  // namespace velmora
