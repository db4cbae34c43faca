// The whole-body QP of a 12-joint quadruped (WholeBodyQpInstance.h): 42 variables, dynamics
// and zero-force equalities, torque limits and friction pyramids, a task Hessian with a 1e-8
// diagonal only on directions no task touches. Checked against an independent active-set
// solver in long double, and for robustness under acceleration demands scaled up 15x, where a
// feasible point (zero forces and torques, qdd = -M^-1 h) always exists.

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "QpChecks.h"
#include "ReferenceActiveSet.h"
#include "WholeBodyQpInstance.h"
#include "core/optimization/MathematicalProgram.h"
#include "dense_qp/DenseQpSolver.h"

namespace velmora::dense_qp {
namespace {

using test::WholeBodyQp;
using Stance = std::array<bool, 4>;

constexpr Stance kAllStance{true, true, true, true};
constexpr Stance kTrotA{true, false, false, true};
constexpr Stance kTrotB{false, true, true, false};

WholeBodyQp makeInstance(std::mt19937& rng, const Stance& stance, double demand_scale) {
  test::WholeBodyQpOptions options;
  options.stance = stance;
  options.demand_scale = demand_scale;
  return test::makeWholeBodyQp(rng, options);
}

DenseQpSolution solve(const DenseQp& qp) {
  DenseQpSolver solver(qp.numVariables(), qp.numEqualities(), qp.numInequalities());
  DenseQpSolution solution;
  solver.solve(qp, solution);
  return solution;
}

/// The requirements on every solution of a whole-body instance.
void expectAccurateAndFeasible(const WholeBodyQp& w, const DenseQp& qp, const DenseQpSolution& s) {
  ASSERT_EQ(s.info.status, DenseQpStatus::kSolved);
  ASSERT_TRUE(s.x.allFinite());
  EXPECT_LT((qp.A * s.x - qp.b).cwiseAbs().maxCoeff(), 1e-9);
  EXPECT_LT(s.info.equality_residual, 1e-9);
  const auto kkt = test::checkKkt(qp, s.x, s.y, s.z);
  EXPECT_LE(kkt.bound_violation, 1e-9);
  EXPECT_LE(kkt.stationarity, 1e-9);
  EXPECT_LE(kkt.wrong_sign, 1e-12);
  // Swing feet carry no force, stance feet stay inside their pyramid.
  for (int foot = 0; foot < 4; ++foot) {
    const Eigen::Vector3d f = s.x.segment<3>(WholeBodyQp::kNv + 3 * foot);
    if (!w.stance[foot]) {
      EXPECT_LT(f.cwiseAbs().maxCoeff(), 1e-9);
      continue;
    }
    EXPECT_GE(f.z(), -1e-9);
    EXPECT_LE(std::abs(f.x()), w.mu * f.z() + 1e-9 * (1.0 + f.z()));
    EXPECT_LE(std::abs(f.y()), w.mu * f.z() + 1e-9 * (1.0 + f.z()));
  }
}

TEST(WholeBodyQp, StackedBlocksHaveTheControllersShape) {
  std::mt19937 rng(1);
  const WholeBodyQp stance = makeInstance(rng, kAllStance, 1.0);
  EXPECT_EQ(stance.A.rows(), 18);
  EXPECT_EQ(stance.C.rows(), 32);
  const WholeBodyQp trot = makeInstance(rng, kTrotA, 1.0);
  EXPECT_EQ(trot.A.rows(), 24);
  EXPECT_EQ(trot.C.rows(), 22);
  for (const WholeBodyQp* w : {&stance, &trot}) {
    EXPECT_EQ(w->A.cols(), 42);
    EXPECT_EQ(w->H.rows(), 42);
    // The stated feasible point is feasible.
    EXPECT_LT((w->A * w->feasible_x - w->b).cwiseAbs().maxCoeff(), 1e-9);
    const Eigen::VectorXd Cx = w->C * w->feasible_x;
    EXPECT_TRUE(((Cx - w->lb).array() >= 0.0).all());
    EXPECT_TRUE(((w->ub - Cx).array() >= 0.0).all());
  }
}

struct ReferenceCase {
  const char* name;
  Stance stance;
  double demand_scale;
};

class WholeBodyReferenceTest : public ::testing::TestWithParam<ReferenceCase> {};

TEST_P(WholeBodyReferenceTest, ForcesAndTorquesMatchTheActiveSetReference) {
  const ReferenceCase& c = GetParam();
  std::mt19937 rng(2024);
  for (int instance = 0; instance < 6; ++instance) {
    SCOPED_TRACE(std::string(c.name) + " instance " + std::to_string(instance));
    const WholeBodyQp w = makeInstance(rng, c.stance, c.demand_scale);
    const DenseQp qp = w.toDenseQp();
    const test::ReferenceSolution ref = test::referenceActiveSet(qp, w.feasible_x);
    ASSERT_TRUE(ref.converged);
    // The reference is itself a KKT point to long-double accuracy.
    const auto ref_kkt = test::checkKkt(qp, ref.x, ref.y, ref.z);
    ASSERT_LE(ref_kkt.stationarity, 1e-13);
    ASSERT_LE(ref_kkt.bound_violation, 1e-12);
    ASSERT_LE(ref_kkt.wrong_sign, 1e-14);

    const DenseQpSolution s = solve(qp);
    expectAccurateAndFeasible(w, qp, s);
    const Eigen::VectorXd x_ref = ref.x.cast<double>();
    const Eigen::VectorXd f_ref = x_ref.segment(WholeBodyQp::kNv, 12);
    const Eigen::VectorXd tau_ref = x_ref.tail(12);
    const Eigen::VectorXd f = s.x.segment(WholeBodyQp::kNv, 12);
    const Eigen::VectorXd tau = s.x.tail(12);
    EXPECT_LE((f - f_ref).cwiseAbs().maxCoeff(), 1e-6 * std::max(1.0, f_ref.cwiseAbs().maxCoeff()));
    EXPECT_LE((tau - tau_ref).cwiseAbs().maxCoeff(),
              1e-6 * std::max(1.0, tau_ref.cwiseAbs().maxCoeff()));
    // Same active set. Multipliers of a foot at zero force (five pyramid rows meeting in
    // three dimensions) are not unique, so compare activity: a row with a clearly non-zero
    // multiplier in either solution is at its bound in both.
    const Eigen::VectorXd Cx = qp.C * s.x, Cx_ref = qp.C * x_ref;
    auto distanceToBound = [&](Eigen::Index i, double value) {
      double d = std::numeric_limits<double>::infinity();
      if (qp.l[i] > -1e16) d = std::min(d, std::abs(value - qp.l[i]));
      if (qp.u[i] < 1e16) d = std::min(d, std::abs(value - qp.u[i]));
      return d / (1.0 + std::abs(value));
    };
    const double z_scale = std::max(s.z.cwiseAbs().maxCoeff(), 1e-300);
    for (Eigen::Index i = 0; i < qp.C.rows(); ++i) {
      const double z_ref = static_cast<double>(ref.z[i]);
      if (std::abs(z_ref) > 1e-6 * z_scale || std::abs(s.z[i]) > 1e-6 * z_scale) {
        EXPECT_LE(distanceToBound(i, Cx[i]), 1e-7) << "row " << i;
        EXPECT_LE(distanceToBound(i, Cx_ref[i]), 1e-7) << "row " << i;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Gaits, WholeBodyReferenceTest,
    ::testing::Values(ReferenceCase{"all_stance", kAllStance, 1.0},
                      ReferenceCase{"trot", kTrotA, 1.0},
                      ReferenceCase{"all_stance_15x", kAllStance, 15.0},
                      ReferenceCase{"trot_15x", kTrotB, 15.0},
                      ReferenceCase{"three_feet_15x", Stance{true, true, false, true}, 15.0}),
    [](const ::testing::TestParamInfo<ReferenceCase>& info) { return info.param.name; });

TEST(WholeBodyQp, NeverFailsOnFeasibleInstancesWithFifteenfoldDemands) {
  // Every contact configuration, many instances, demands scaled up 15x.
  std::mt19937 rng(7);
  int solved = 0, total = 0;
  for (int instance = 0; instance < 480; ++instance) {
    const int mode = instance % 16;
    const Stance stance{(mode & 1) != 0, (mode & 2) != 0, (mode & 4) != 0, (mode & 8) != 0};
    const WholeBodyQp w = makeInstance(rng, stance, 15.0);
    const DenseQp qp = w.toDenseQp();
    const DenseQpSolution s = solve(qp);
    ++total;
    if (s.info.status == DenseQpStatus::kSolved) ++solved;
    SCOPED_TRACE("instance " + std::to_string(instance) + " mode " + std::to_string(mode));
    expectAccurateAndFeasible(w, qp, s);
  }
  EXPECT_EQ(solved, total);
}

TEST(WholeBodyQp, NominalDemandsSolveQuicklyAndAccurately) {
  std::mt19937 rng(8);
  for (int instance = 0; instance < 200; ++instance) {
    const WholeBodyQp w = makeInstance(rng, instance % 2 ? kAllStance : kTrotA, 1.0);
    const DenseQp qp = w.toDenseQp();
    const DenseQpSolution s = solve(qp);
    SCOPED_TRACE("instance " + std::to_string(instance));
    expectAccurateAndFeasible(w, qp, s);
    EXPECT_TRUE(s.info.polished);
    EXPECT_LE(s.info.iterations, 15);
  }
}

TEST(WholeBodyQp, MathematicalProgramBuiltLikeTheControllerGivesTheSolversAnswer) {
  std::mt19937 rng(9);
  for (const Stance& stance : {kAllStance, kTrotA}) {
    const WholeBodyQp w = makeInstance(rng, stance, 1.0);
    MathematicalProgram program;
    const VectorVariables vars = program.newVectorVariables(WholeBodyQp::kNvar);
    program.addLinearEqualityConstraints(w.A, w.b, vars);
    program.addLinearInEqualityConstraints(w.C, w.lb, w.ub, vars);
    program.addQuadraticCost(w.H, w.g, vars);
    ASSERT_TRUE(program.solve());
    const DenseQpSolution s = solve(w.toDenseQp());
    EXPECT_LE((program.getSolution() - s.x).cwiseAbs().maxCoeff(), 1e-12);
    const Eigen::VectorXi tau_vars = vars.tail(12);
    EXPECT_LE((program.getSolution(tau_vars) - s.x.tail(12)).cwiseAbs().maxCoeff(), 1e-12);
  }
}

}  // namespace
}  // namespace velmora::dense_qp
