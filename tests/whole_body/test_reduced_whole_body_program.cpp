// The reduced whole-body QP against the full one it replaces: the same minimiser on random
// programs of the whole-body layout and on the controller's own cycles (the full programme solved
// directly, as a second path), absent bounds kept absent, and layout errors.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>

#include "WholeBodyTestSupport.h"
#include "control/ReducedWholeBodyProgram.h"
#include "dense_qp/DenseQpSolver.h"

namespace velmora::test {
namespace {

using ::testing::HasSubstr;
constexpr double kRegularisation = 1e-8;  // the full programme's Hessian regularisation
constexpr double kInfinite = 1e16;

/// The full programme over x: tasks as least squares plus the regularisation on every variable.
dense_qp::DenseQp fullProgram(const MatrixDB& constraints, const MatrixDB& tasks) {
  const Eigen::Index n = tasks.A.cols();
  dense_qp::DenseQp qp(n, constraints.A.rows(), constraints.C.rows());
  qp.H = tasks.A.transpose() * tasks.A;
  qp.H.diagonal().array() += kRegularisation;
  qp.g = -tasks.A.transpose() * tasks.b;
  qp.A = constraints.A;
  qp.b = constraints.b;
  if (constraints.C.rows() > 0) qp.C = constraints.C;
  qp.l = constraints.lb;
  qp.u = constraints.ub;
  return qp;
}

vector_t solveOrFail(const dense_qp::DenseQp& qp) {
  dense_qp::DenseQpSolver solver(qp.numVariables(), qp.numEqualities(), qp.numInequalities());
  dense_qp::DenseQpSolution solution;
  EXPECT_EQ(solver.solve(qp, solution), dense_qp::DenseQpStatus::kSolved);
  return solution.x;
}

double objective(const dense_qp::DenseQp& qp, const vector_t& x) {
  return 0.5 * x.dot(qp.H * x) + qp.g.dot(x);
}

/// A random programme with the whole-body layout: nv = 6 + nJ, x = [qdd; f (12); tau (nJ)].
struct RandomLayout {
  MatrixDB constraints{"constraints"};
  MatrixDB tasks{"tasks"};
};

RandomLayout randomLayout(std::mt19937& rng, const contact_flag_t& contact, Eigen::Index nJ) {
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  const auto random = [&](Eigen::Index rows, Eigen::Index cols) {
    return matrix_t(matrix_t::NullaryExpr(rows, cols, [&] { return unit(rng); }));
  };
  const Eigen::Index nv = 6 + nJ, nF = 12, n = nv + nF + nJ;
  Eigen::Index nc = 0;
  for (bool c : contact) nc += c ? 1 : 0;
  const Eigen::Index nS = 4 - nc;
  RandomLayout p;
  // Equations of motion [M, -J', -S'] = -h, then the swing-force rows.
  const matrix_t root = random(nv, nv);
  p.constraints.A.setZero(nv + 3 * nS, n);
  p.constraints.A.topLeftCorner(nv, nv) = root * root.transpose() + matrix_t::Identity(nv, nv);
  p.constraints.A.block(0, nv, nv, nF) = random(nv, nF);
  p.constraints.A.block(6, nv + nF, nJ, nJ) = -matrix_t::Identity(nJ, nJ);
  p.constraints.b = random(nv + 3 * nS, 1);
  p.constraints.b.tail(3 * nS).setZero();
  Eigen::Index row = nv;
  for (Eigen::Index foot = 0; foot < 4; ++foot) {
    if (contact[static_cast<size_t>(foot)]) continue;
    p.constraints.A.block(row, nv + 3 * foot, 3, 3).setIdentity();
    row += 3;
  }
  // Torque limits, then rows on the stance forces (a normal-force range and one-sided cone rows).
  p.constraints.C.setZero(nJ + 3 * nc, n);
  p.constraints.C.rightCols(nJ).setIdentity();
  p.constraints.lb.setConstant(nJ + 3 * nc, -5.0);
  p.constraints.ub.setConstant(nJ + 3 * nc, 5.0);
  row = nJ;
  for (Eigen::Index foot = 0; foot < 4; ++foot) {
    if (!contact[static_cast<size_t>(foot)]) continue;
    const Eigen::Index col = nv + 3 * foot;
    p.constraints.C.row(row).segment<3>(col) << 0, 0, 1;
    p.constraints.lb[row] = 0.0;
    p.constraints.ub[row] = 50.0;
    p.constraints.C.row(row + 1).segment<3>(col) << 1, 0, -0.5;
    p.constraints.C.row(row + 2).segment<3>(col) << -1, 0, -0.5;
    p.constraints.lb.segment<2>(row + 1).setConstant(-2.0 * kInfinite);
    p.constraints.ub.segment<2>(row + 1).setZero();
    row += 3;
  }
  // Tasks on qdd and every force, none on tau.
  p.tasks.A.setZero(nv + nF, n);
  p.tasks.A.leftCols(nv + nF) = random(nv + nF, nv + nF);
  p.tasks.b = 3.0 * random(nv + nF, 1);
  return p;
}

TEST(ReducedWholeBodyProgram, HasTheFullProgrammesMinimiserOnRandomProgrammes) {
  std::mt19937 rng(11);
  const Eigen::Index nJ = 12, nv = 18;
  const std::vector<contact_flag_t> modes{{true, true, true, true},
                                          {true, false, false, true},
                                          {false, true, true, false},
                                          {true, true, true, false},
                                          {false, false, false, false}};
  ReducedWholeBodyProgram reduction(nv, 4);
  for (size_t trial = 0; trial < 3 * modes.size(); ++trial) {
    const contact_flag_t& contact = modes[trial % modes.size()];
    SCOPED_TRACE("trial " + std::to_string(trial));
    const RandomLayout p = randomLayout(rng, contact, nJ);
    const dense_qp::DenseQp full = fullProgram(p.constraints, p.tasks);
    const vector_t x_full = solveOrFail(full);

    dense_qp::DenseQp reduced;
    reduction.build(p.constraints, p.tasks, contact, kRegularisation, kInfinite, reduced);
    Eigen::Index nc = 0;
    for (bool c : contact) nc += c ? 1 : 0;
    ASSERT_EQ(reduced.numVariables(), nv + 3 * nc);
    ASSERT_EQ(reduced.numEqualities(), 6);
    // One-sided rows stay one-sided.
    EXPECT_EQ((reduced.l.array() <= -kInfinite).count(),
              (p.constraints.lb.array() <= -kInfinite).count());
    vector_t x;
    reduction.expand(solveOrFail(reduced), x);

    ASSERT_EQ(x.size(), x_full.size());
    EXPECT_LT((p.constraints.A * x - p.constraints.b).cwiseAbs().maxCoeff(), 1e-8)
        << (p.constraints.A * x - p.constraints.b).transpose();
    const vector_t Cx = p.constraints.C * x;
    EXPECT_TRUE(((Cx - p.constraints.lb).array() >= -1e-8).all());
    EXPECT_TRUE(((p.constraints.ub - Cx).array() >= -1e-8).all());
    EXPECT_LT((x - x_full).cwiseAbs().maxCoeff(),
              1e-6 * std::max(1.0, x_full.cwiseAbs().maxCoeff()))
        << "reduced " << x.transpose() << "\nfull    " << x_full.transpose();
    EXPECT_NEAR(objective(full, x), objective(full, x_full),
                1e-8 * std::max(1.0, std::abs(objective(full, x_full))));
  }
}

TEST(ReducedWholeBodyProgram, ControllerCyclesMatchTheFullProgrammeSolvedDirectly) {
  std::mt19937 rng(5);
  const auto random = [&](int n, double scale) { return randomVector(rng, n, scale); };
  Rig rig;
  for (const size_t mode : {15, 9, 6, 14, 3, 0}) {
    SCOPED_TRACE("mode " + std::to_string(mode));
    vector_t qpos = rig.standingQpos(random(3, 0.1), random(3, 0.02));
    qpos.tail(rig.nJ()) += random(rig.nJ(), 0.15);
    rig.setState(qpos, random(rig.nv(), 0.3));
    rig.cycle(mode, rig.holdReferences(), Rig::constantPolicy(random(6, 1.5)));
    ASSERT_EQ(rig.wbc->numFailedSolves(), 0u);
    const dense_qp::DenseQp full =
        fullProgram(rig.wbc->constraintBlock(), rig.wbc->weighedTaskBlock());
    const vector_t x_full = solveOrFail(full);
    const vector_t& x = rig.wbc->lastSolution();
    ASSERT_EQ(x.size(), x_full.size());
    const double scale = std::max(1.0, x_full.cwiseAbs().maxCoeff());
    EXPECT_LT((x - x_full).cwiseAbs().maxCoeff(), 1e-6 * scale)
        << "controller " << x.transpose() << "\nfull       " << x_full.transpose();
  }
}

TEST(ReducedWholeBodyProgram, LayoutErrorsNameTheSizes) {
  std::mt19937 rng(3);
  const contact_flag_t trot{true, false, false, true};
  const RandomLayout p = randomLayout(rng, trot, 12);
  ReducedWholeBodyProgram reduction(18, 4);
  dense_qp::DenseQp qp;
  // Swing rows of a different contact pattern.
  try {
    reduction.build(p.constraints, p.tasks, {true, true, true, true}, kRegularisation, kInfinite,
                    qp);
    ADD_FAILURE() << "a programme with swing rows accepted as all-stance";
  } catch (const std::invalid_argument& error) {
    EXPECT_THAT(error.what(), HasSubstr("0 swing feet"));
    EXPECT_THAT(error.what(), HasSubstr("equalities 24 x 42"));
  }
  MatrixDB short_tasks = p.tasks;
  short_tasks.A.conservativeResize(Eigen::NoChange, 41);
  EXPECT_THROW(reduction.build(p.constraints, short_tasks, trot, kRegularisation, kInfinite, qp),
               std::invalid_argument);
  reduction.build(p.constraints, p.tasks, trot, kRegularisation, kInfinite, qp);
  vector_t x;
  EXPECT_THROW(reduction.expand(vector_t::Zero(25), x), std::invalid_argument);
  EXPECT_THROW(ReducedWholeBodyProgram(5, 4), std::invalid_argument);
  EXPECT_THROW(ReducedWholeBodyProgram(18, 5), std::invalid_argument);
}

}  // namespace
}  // namespace velmora::test
