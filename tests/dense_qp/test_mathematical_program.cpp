// MathematicalProgram: block assembly over arbitrary variable groups against a known optimum,
// the 1/2 of the quadratic cost, bounds and multipliers, solution access, and every rejected
// input.

#include <functional>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "DenseQpTestSupport.h"
#include "core/optimization/MathematicalProgram.h"

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

/// The columns (or rows and columns) of M picked by `vars`.
Eigen::MatrixXd cols(const Eigen::MatrixXd& M, const Eigen::VectorXi& vars) {
  Eigen::MatrixXd out(M.rows(), vars.size());
  for (Eigen::Index c = 0; c < vars.size(); ++c) out.col(c) = M.col(vars[c]);
  return out;
}

TEST(MathematicalProgram, BlocksOverPermutedGroupsAssembleTheProblem) {
  // A problem with known optimum written as blocks over a permutation of all variables and a
  // second, smaller group: the solution and the multipliers of every row are recovered.
  std::mt19937 rng(11);
  const dense_qp::test::KnownOptimum k =
      dense_qp::test::makeKnownOptimum(rng, {9, 3, 3, 8, 3, 0, 0, -1});
  MathematicalProgram program;
  EXPECT_EQ(program.newVectorVariables(4), indices({0, 1, 2, 3}));
  EXPECT_EQ(program.newVectorVariables(5), indices({4, 5, 6, 7, 8}));
  const Eigen::VectorXi perm = indices({7, 2, 0, 8, 4, 1, 6, 3, 5});
  const Eigen::VectorXi part = indices({5, 3, 0});
  program.addLinearEqualityConstraints(cols(k.qp.A.topRows(2), perm), k.qp.b.head(2), perm);
  program.addLinearEqualityConstraints(cols(k.qp.A.bottomRows(1), perm), k.qp.b.tail(1), perm);
  program.addLinearInEqualityConstraints(cols(k.qp.C, perm), k.qp.l, k.qp.u, perm);
  // The Hessian split into 1.5 I over `part` and the rest over all variables.
  Eigen::MatrixXd H_rest = k.qp.H;
  for (int i = 0; i < 3; ++i) H_rest(part[i], part[i]) -= 1.5;
  program.addQuadraticCost(cols(cols(H_rest, perm).transpose(), perm),
                           cols(k.qp.g.transpose(), perm).transpose(), perm);
  program.addQuadraticCost(1.5 * Eigen::MatrixXd::Identity(3, 3), Eigen::VectorXd::Zero(3), part);
  EXPECT_EQ(program.numEqualityConstraints(), 3u);
  EXPECT_EQ(program.numInequalityConstraints(), 8u);

  ASSERT_TRUE(program.solve());
  EXPECT_LE((program.getSolution() - k.x).cwiseAbs().maxCoeff(), 1e-8);
  EXPECT_LE((program.getInequalityDuals() - k.z).cwiseAbs().maxCoeff(), 1e-8);
  EXPECT_LE((program.getEqualityDuals() - k.y).cwiseAbs().maxCoeff(), 1e-8);
  const Eigen::VectorXd picked = program.getSolution(indices({8, 0, 4}));
  EXPECT_LE((picked - Eigen::Vector3d(k.x[8], k.x[0], k.x[4])).cwiseAbs().maxCoeff(), 1e-8);
}

TEST(MathematicalProgram, QuadraticCostHalfAndBoundingBoxMultipliers) {
  // min 1/2 x'(2I)x + g'x = (x0 - 3)^2 + (x1 + 2)^2 + c on [0, 1] x [-1, 5]: x = (1, -1) (-g/4
  // without the 1/2), multipliers 2 (x - target) of the active sides.
  MathematicalProgram program;
  const VectorVariables x = program.newVectorVariables(2);
  program.addQuadraticCost(2.0 * Eigen::MatrixXd::Identity(2, 2), Eigen::Vector2d(-6.0, 4.0), x);
  program.addBoundingBoxConstraints(Eigen::Vector2d(0.0, -1.0), Eigen::Vector2d(1.0, 5.0), x);
  ASSERT_TRUE(program.solve());
  EXPECT_LE((program.getSolution() - Eigen::Vector2d(1.0, -1.0)).cwiseAbs().maxCoeff(), 1e-10);
  EXPECT_LE((program.getInequalityDuals() - Eigen::Vector2d(4.0, -2.0)).cwiseAbs().maxCoeff(),
            1e-8);
}

TEST(MathematicalProgram, SolutionOnlyAfterASuccessfulSolveOfTheCurrentBlocks) {
  MathematicalProgram program;
  const VectorVariables x = program.newVectorVariables(2);
  EXPECT_THROW(program.getSolution(), std::logic_error);
  program.addQuadraticCost(Eigen::MatrixXd::Identity(2, 2), Eigen::Vector2d::Ones(), x);
  ASSERT_TRUE(program.solve());
  EXPECT_NEAR(program.getSolution()[0], -1.0, 1e-12);
  // A new block makes the old solution stale; a failed solve gives none.
  program.addLinearEqualityConstraints(Eigen::RowVector2d(1.0, 1.0), Eigen::VectorXd::Ones(1), x);
  EXPECT_THROW(program.getSolution(), std::logic_error);
  program.addLinearInEqualityConstraints(Eigen::RowVector2d(1.0, 1.0),
                                         Eigen::VectorXd::Constant(1, 2.0),
                                         Eigen::VectorXd::Constant(1, 3.0), x);
  EXPECT_FALSE(program.solve());
  EXPECT_EQ(program.status(), dense_qp::DenseQpStatus::kPrimalInfeasible);
  EXPECT_THROW(program.getSolution(x), std::logic_error);
  EXPECT_THROW(program.getInequalityDuals(), std::logic_error);

  MathematicalProgram nothing;  // no variables, no cost: trivially solved, index 0 unknown
  EXPECT_TRUE(nothing.solve());
  EXPECT_EQ(nothing.getSolution().size(), 0);
  EXPECT_THROW(nothing.getSolution(indices({0})), std::invalid_argument);
}

TEST(MathematicalProgram, BadBlocksAreRejectedNamingTheArgumentAndSizes) {
  using Eigen::MatrixXd;
  using Eigen::VectorXd;
  using Call = std::function<void(MathematicalProgram&, const VectorVariables&)>;
  MatrixXd nan_A = MatrixXd::Ones(2, 4);
  nan_A(1, 0) = kNaN;
  const std::vector<std::pair<Call, std::vector<const char*>>> cases = {
      {[](auto& p, auto& x) {
         p.addLinearEqualityConstraints(MatrixXd::Ones(3, 4), VectorXd::Zero(2), x);
       },
       {"addLinearEqualityConstraints", "b has 2 entries", "A has 3 rows"}},
      {[](auto& p, auto& x) {
         p.addLinearInEqualityConstraints(MatrixXd::Ones(3, 4), VectorXd::Zero(3),
                                          VectorXd::Zero(3), x.head(2));
       },
       {"addLinearInEqualityConstraints", "C is 3 x 4", "vars lists 2 variables"}},
      {[](auto& p, auto& x) { p.addQuadraticCost(MatrixXd::Identity(3, 3), VectorXd::Zero(3), x); },
       {"addQuadraticCost", "H is 3 x 3", "vars.size() = 4"}},
      {[](auto& p, auto&) {
         p.addLinearEqualityConstraints(MatrixXd::Ones(1, 2), VectorXd::Ones(1), indices({0, 4}));
       },
       {"variable index 4", "position 1", "4 variables"}},
      {[](auto& p, auto&) {
         p.addQuadraticCost(MatrixXd::Identity(2, 2), VectorXd::Zero(2), indices({2, 2}));
       },
       {"variable 2 appears twice", "positions 0 and 1"}},
      {[&](auto& p, auto& x) { p.addLinearEqualityConstraints(nan_A, VectorXd::Zero(2), x); },
       {"A(1, 0) is not finite"}},
  };
  for (const auto& [call, fragments] : cases) {
    MathematicalProgram program;
    const VectorVariables x = program.newVectorVariables(4);
    try {
      call(program, x);
      ADD_FAILURE() << "no exception for " << fragments.front();
    } catch (const std::invalid_argument& e) {
      for (const char* fragment : fragments) EXPECT_THAT(e.what(), HasSubstr(fragment));
    }
    // Nothing of a rejected block is kept.
    EXPECT_EQ(program.numEqualityConstraints() + program.numInequalityConstraints(), 0u);
  }
}

}  // namespace
}  // namespace velmora
