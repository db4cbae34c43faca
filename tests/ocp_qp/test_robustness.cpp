// Robustness and error paths of the OCP QP solver: closed-loop contact-force sequences, warm
// starts, infeasible and malformed problems, stale last-stage fields, workspace reuse.

#include <cmath>
#include <limits>
#include <random>
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ContactForceProblem.h"
#include "OcpQpTestUtils.h"
#include "ocp_qp/OcpQpIpmSolver.h"

namespace velmora::ocp_qp::test {
namespace {

using ::testing::HasSubstr;

Eigen::VectorXd disturbance(std::mt19937& rng, double scale) {
  std::normal_distribution<double> nd(0.0, 1.0);
  Eigen::VectorXd d(12);
  for (int i = 0; i < 12; ++i) d[i] = nd(rng);
  d.segment<3>(0) *= 0.002 * scale;
  d.segment<3>(3) *= 0.02 * scale;
  d.segment<3>(6) *= 0.01 * scale;
  d.segment<3>(9) *= 0.01 * scale;
  return d;
}

TEST(OcpQpRobustness, EveryColdClosedLoopSolveAtHorizon100Converges) {
  // 200 different problems: the gait shifts by one stage per step and the initial state follows
  // the first optimal input plus a disturbance.
  ContactForceProblem gen;
  std::mt19937 rng(2024);
  std::vector<OcpQp> qp;
  std::vector<OcpQpSolution> sol;
  Eigen::VectorXd x0 = Eigen::VectorXd::Zero(12);
  OcpQpIpmWorkspace workspace;
  int max_iterations = 0;
  for (int step = 0; step < 200; ++step) {
    gen.build(100, step * gen.dt_s, x0.segment<3>(6), sol, qp);
    OcpQpIpmSolver solver(qp, contactForceSettings(), workspace);
    ASSERT_EQ(solver.solve(x0, qp, sol), SolverStatus::Success)
        << "step " << step << ": " << solver.getStatistics().message;
    max_iterations = std::max(max_iterations, solver.getNumIterations());
    x0 = propagate(qp[0], x0, sol[0].u, disturbance(rng, 1.0));
  }
  EXPECT_LE(max_iterations, 30);
}

TEST(OcpQpRobustness, SaturatingInitialStatesConverge) {
  // Initial errors 20 times the closed-loop disturbance, drawn independently: many forces hit
  // their limits. All solves converge within the contact-force iteration budget.
  ContactForceProblem gen;
  std::mt19937 rng(99);
  std::vector<OcpQp> qp;
  std::vector<OcpQpSolution> sol;
  for (int step = 0; step < 40; ++step) {
    const Eigen::VectorXd x0 = disturbance(rng, 20.0);
    gen.build(50, step * gen.dt_s, x0.segment<3>(6), {}, qp);
    OcpQpIpmSolver solver(qp, contactForceSettings());
    EXPECT_EQ(solver.solve(x0, qp, sol), SolverStatus::Success)
        << "step " << step << ": " << solver.getStatistics().message;
  }
}

TEST(OcpQpRobustness, WarmStartFromThePreviousSolutionNeedsFewerIterations) {
  ContactForceProblem gen;
  std::mt19937 rng(5);
  std::vector<OcpQp> qp;
  int cold_total = 0, warm_total = 0;
  for (int trial = 0; trial < 10; ++trial) {
    Eigen::VectorXd x0 = disturbance(rng, 3.0);
    gen.build(50, 0.02 * trial, x0.segment<3>(6), {}, qp);
    std::vector<OcpQpSolution> previous;
    OcpQpIpmSolver first(qp, contactForceSettings());
    ASSERT_EQ(first.solve(x0, qp, previous), SolverStatus::Success);
    // A nearby problem: the measured state moved a little.
    x0 += 0.05 * disturbance(rng, 1.0);
    std::vector<OcpQpSolution> cold_sol, warm_sol = previous;
    OcpQpIpmSolver cold(qp, contactForceSettings());
    ASSERT_EQ(cold.solve(x0, qp, cold_sol), SolverStatus::Success);
    OcpQpIpmSolverSettings warm_settings = contactForceSettings();
    warm_settings.warm_start = 1;
    OcpQpIpmSolver warm(qp, warm_settings);
    ASSERT_EQ(warm.solve(x0, qp, warm_sol), SolverStatus::Success);
    cold_total += cold.getNumIterations();
    warm_total += warm.getNumIterations();
    const KktErrors e = kktErrors(qp, x0, warm_sol);
    EXPECT_LT(e.stationarity, 1e-3);
    EXPECT_LT(e.primal, 1e-4);
    EXPECT_LT(e.dynamics, 1e-4);
  }
  EXPECT_LT(warm_total, cold_total);
}

TEST(OcpQpRobustness, WarmStartAfterALargeJumpOfTheInitialStateConverges) {
  // The previous solution respects the new bounds (all feet in stance in both problems), so the
  // warm start is accepted, but the body now sits below its reference, falls and slides fast:
  // the new optimum saturates the normal forces, far from the previous point. Started from
  // there, the iterates stall; the solve must still converge (to the cold solve's optimum).
  ContactForceProblem gen;
  gen.gait_cycle_s = 1e9;  // first half of the cycle only: feet 0 and 3 in stance throughout
  std::vector<OcpQp> qp;
  std::vector<OcpQpSolution> previous;
  Eigen::VectorXd x0 = Eigen::VectorXd::Zero(12);
  gen.build(50, 0.0, x0.segment<3>(6), {}, qp);
  OcpQpIpmSolver first(qp, contactForceSettings());
  ASSERT_EQ(first.solve(x0, qp, previous), SolverStatus::Success);

  x0(2) = -0.075;  // m
  x0(5) = -2.0;    // m/s
  x0(4) = 1.5;     // m/s
  gen.build(50, 0.0, x0.segment<3>(6), previous, qp);
  std::vector<OcpQpSolution> cold_sol, warm_sol = previous;
  OcpQpIpmSolver cold(qp, contactForceSettings());
  ASSERT_EQ(cold.solve(x0, qp, cold_sol), SolverStatus::Success);
  OcpQpIpmSolverSettings warm_settings = contactForceSettings();
  warm_settings.warm_start = 1;
  OcpQpIpmSolver warm(qp, warm_settings);
  ASSERT_EQ(warm.solve(x0, qp, warm_sol), SolverStatus::Success) << warm.getStatistics().message;
  const KktErrors e = kktErrors(qp, x0, warm_sol);
  EXPECT_LT(e.stationarity, 1e-3);
  EXPECT_LT(e.primal, 1e-4);
  EXPECT_LT(e.dynamics, 1e-4);
  double max_fz = 0.0;
  for (size_t k = 0; k + 1 < warm_sol.size(); ++k) {
    EXPECT_LT((warm_sol[k].u - cold_sol[k].u).cwiseAbs().maxCoeff(), 1e-2) << "stage " << k;
    for (int i = 0; i < 4; ++i) max_fz = std::max(max_fz, warm_sol[k].u(3 * i + 2));
  }
  EXPECT_GT(max_fz, 399.0) << "the case should saturate the normal forces";
}

TEST(OcpQpRobustness, WarmStartWithMismatchedSolutionFallsBackToColdStart) {
  std::mt19937 rng(8);
  Eigen::VectorXd x0;
  std::vector<OcpQp> qp = randomProblem(RandomShape{}, rng, x0);
  OcpQpIpmSolverSettings settings = tightSettings(1e-8);
  settings.warm_start = 1;
  std::vector<OcpQpSolution> sol(3);  // wrong number of stages
  sol[0].u = Eigen::VectorXd::Constant(7, std::nan(""));
  OcpQpIpmSolver solver(qp, settings);
  ASSERT_EQ(solver.solve(x0, qp, sol), SolverStatus::Success);
  ASSERT_EQ(sol.size(), qp.size());
  EXPECT_LT(kktErrors(qp, x0, sol).stationarity, 1e-7);
  // A second warm solve from that solution converges at once.
  OcpQpIpmSolver again(qp, settings);
  ASSERT_EQ(again.solve(x0, qp, sol), SolverStatus::Success);
  EXPECT_EQ(again.getNumIterations(), 0);
}

// Double integrator, |u| <= 1, N stages.
std::vector<OcpQp> doubleIntegrator(int N) {
  std::vector<OcpQp> qp(N + 1);
  for (int k = 0; k <= N; ++k) {
    qp[k].Q = Eigen::Matrix2d::Identity();
    if (k == N) break;
    qp[k].A = (Eigen::Matrix2d() << 1, 0.1, 0, 1).finished();
    qp[k].B = Eigen::Vector2d(0.005, 0.1);
    qp[k].R = Eigen::MatrixXd::Identity(1, 1);
    qp[k].idxbu = {0};
    qp[k].lbu = Eigen::VectorXd::Constant(1, -1.0);
    qp[k].ubu = Eigen::VectorXd::Constant(1, 1.0);
  }
  return qp;
}

TEST(OcpQpRobustness, InfeasibleProblemsAreNotReportedAsSuccess) {
  const Eigen::VectorXd x0 = Eigen::Vector2d(0.0, 0.0);
  std::vector<OcpQpSolution> sol;
  {  // Unreachable state bound: position 100 after 5 steps with |u| <= 1.
    std::vector<OcpQp> qp = doubleIntegrator(10);
    qp[5].idxbx = {0};
    qp[5].lbx = Eigen::VectorXd::Constant(1, 100.0);
    qp[5].ubx = Eigen::VectorXd::Constant(1, 200.0);
    OcpQpIpmSolver solver(qp, contactForceSettings());
    const SolverStatus status = solver.solve(x0, qp, sol);
    EXPECT_NE(status, SolverStatus::Success);
    EXPECT_FALSE(solver.getStatistics().message.empty());
    for (const OcpQpSolution& s : sol) EXPECT_TRUE(s.x.allFinite() && s.u.allFinite());
  }
  {  // Contradicting general rows: u_3 >= 0.5 and u_3 <= -0.5 through two rows.
    std::vector<OcpQp> qp = doubleIntegrator(10);
    qp[3].C = Eigen::MatrixXd::Zero(2, 2);
    qp[3].D = Eigen::MatrixXd::Ones(2, 1);
    qp[3].lg = Eigen::Vector2d(0.5, -10.0);
    qp[3].ug = Eigen::Vector2d(10.0, -0.5);
    OcpQpIpmSolver solver(qp, contactForceSettings());
    EXPECT_NE(solver.solve(x0, qp, sol), SolverStatus::Success);
  }
  {  // Crossed bounds on one row: detected before iterating.
    std::vector<OcpQp> qp = doubleIntegrator(10);
    qp[4].lbu[0] = 2.0;
    OcpQpIpmSolver solver(qp, contactForceSettings());
    EXPECT_EQ(solver.solve(x0, qp, sol), SolverStatus::UnknownFailure);
    EXPECT_THAT(solver.getStatistics().message, HasSubstr("stage 4"));
    EXPECT_EQ(solver.getNumIterations(), 0);
  }
  {  // x0 violates a state bound of stage 0 (a constant row).
    std::vector<OcpQp> qp = doubleIntegrator(10);
    qp[0].idxbx = {1};
    qp[0].lbx = Eigen::VectorXd::Constant(1, 1.0);
    qp[0].ubx = Eigen::VectorXd::Constant(1, 2.0);
    OcpQpIpmSolver solver(qp, contactForceSettings());
    EXPECT_EQ(solver.solve(x0, qp, sol), SolverStatus::UnknownFailure);
    EXPECT_THAT(solver.getStatistics().message, HasSubstr("stage 0"));
  }
}

TEST(OcpQpRobustness, StaleFieldsOfTheLastStageAreIgnored) {
  // A terminal stage that was an inner stage of a longer horizon keeps dynamics, input cost,
  // input rows and input bounds, even of inconsistent sizes; none of it may matter.
  std::mt19937 rng(21);
  Eigen::VectorXd x0;
  std::vector<OcpQp> clean = randomProblem(RandomShape{}, rng, x0);
  std::vector<OcpQp> stale = clean;
  OcpQp& last = stale.back();
  last.A = Eigen::MatrixXd::Random(3, 5);
  last.B = Eigen::MatrixXd::Random(4, 7);
  last.b = Eigen::VectorXd::Random(9);
  last.R = -Eigen::MatrixXd::Identity(2, 2);
  last.S = Eigen::MatrixXd::Random(6, 1);
  last.r = Eigen::VectorXd::Random(3);
  last.D = Eigen::MatrixXd::Random(last.lg.size(), 5);
  last.idxbu = {0, 17, -3};
  last.lbu = Eigen::VectorXd::Constant(1, 1e3);
  last.ubu = Eigen::VectorXd::Constant(4, -1e3);
  last.lbu_mask = Eigen::VectorXd::Constant(2, std::nan(""));
  std::vector<OcpQpSolution> sol_clean, sol_stale;
  OcpQpIpmSolver a(clean, tightSettings(1e-8));
  ASSERT_EQ(a.solve(x0, clean, sol_clean), SolverStatus::Success);
  OcpQpIpmSolver b(stale, tightSettings(1e-8));
  ASSERT_EQ(b.solve(x0, stale, sol_stale), SolverStatus::Success);
  for (size_t k = 0; k < clean.size(); ++k) {
    EXPECT_EQ(sol_clean[k].x, sol_stale[k].x) << "stage " << k;
    EXPECT_EQ(sol_clean[k].u, sol_stale[k].u) << "stage " << k;
  }
  EXPECT_EQ(sol_stale.back().u.size(), 0);
  EXPECT_EQ(sol_stale.back().K.size(), 0);
}

// Runs `mutate` on a valid problem and expects the constructor to throw std::invalid_argument
// whose message contains every string of `expected`.
void expectRejected(const std::function<void(std::vector<OcpQp>&)>& mutate,
                    const std::vector<std::string>& expected) {
  std::vector<OcpQp> qp = doubleIntegrator(6);
  qp[2].C = Eigen::MatrixXd::Zero(1, 2);
  qp[2].D = Eigen::MatrixXd::Ones(1, 1);
  qp[2].lg = Eigen::VectorXd::Constant(1, -1.0);
  qp[2].ug = Eigen::VectorXd::Constant(1, 1.0);
  mutate(qp);
  try {
    OcpQpIpmSolver solver(qp, contactForceSettings());
    ADD_FAILURE() << "no exception for " << expected.front();
  } catch (const std::invalid_argument& e) {
    for (const std::string& s : expected) EXPECT_THAT(e.what(), HasSubstr(s));
  }
}

TEST(OcpQpRobustness, InconsistentSizesAreRejectedNamingStageAndField) {
  expectRejected([](auto& qp) { qp[3].A = Eigen::MatrixXd::Identity(3, 3); }, {"stage 3", "A"});
  expectRejected([](auto& qp) { qp[1].B = Eigen::MatrixXd::Zero(3, 1); }, {"stage 1", "B"});
  expectRejected([](auto& qp) { qp[2].R = Eigen::MatrixXd::Identity(2, 2); }, {"stage 2", "R"});
  expectRejected([](auto& qp) { qp[6].Q = Eigen::MatrixXd::Identity(3, 3); }, {"stage 6", "Q"});
  expectRejected([](auto& qp) { qp[0].S = Eigen::MatrixXd::Zero(2, 2); }, {"stage 0", "S"});
  expectRejected([](auto& qp) { qp[4].idxbu = {1}; }, {"stage 4", "idxbu"});
  expectRejected([](auto& qp) { qp[4].lbu.resize(2); }, {"stage 4", "lbu"});
  expectRejected([](auto& qp) { qp[4].ubu_mask = Eigen::VectorXd::Ones(3); },
                 {"stage 4", "ubu_mask"});
  expectRejected([](auto& qp) { qp[2].ug.resize(2); }, {"stage 2", "ug"});
  expectRejected([](auto& qp) { qp[2].D = Eigen::MatrixXd::Ones(1, 2); }, {"stage 2", "D"});
  expectRejected([](auto& qp) { qp[2].C = Eigen::MatrixXd::Ones(2, 2); }, {"stage 2", "C"});
  expectRejected(
      [](auto& qp) {
        qp[5].idxbx = {2};
        qp[5].lbx = qp[5].ubx = Eigen::VectorXd::Zero(1);
      },
      {"stage 5", "idxbx"});
  expectRejected([](auto& qp) { qp[1].Zl = Eigen::MatrixXd::Identity(1, 1); },
                 {"stage 1", "soft constraints", "Zl"});
  expectRejected([](auto& qp) { qp[3].idxs = {0}; }, {"stage 3", "idxs"});
  expectRejected([](auto& qp) { qp.clear(); }, {"no stage"});

  // solve() checks x0 and that the problem still has the sizes the solver was built for.
  std::vector<OcpQp> qp = doubleIntegrator(6);
  std::vector<OcpQpSolution> sol;
  OcpQpIpmSolver solver(qp, contactForceSettings());
  EXPECT_THROW(solver.solve(Eigen::VectorXd::Zero(3), qp, sol), std::invalid_argument);
  std::vector<OcpQp> longer = doubleIntegrator(7);
  EXPECT_THROW(solver.solve(Eigen::VectorXd::Zero(2), longer, sol), std::invalid_argument);
}

TEST(OcpQpRobustness, NonFiniteInputGivesNaNDetectedAndLeavesTheSolution) {
  std::vector<OcpQpSolution> sol(1);
  sol[0].x = Eigen::VectorXd::Constant(1, 42.0);
  const Eigen::VectorXd x0 = Eigen::Vector2d(0.3, -0.1);
  {
    std::vector<OcpQp> qp = doubleIntegrator(6);
    qp[3].Q(1, 1) = std::nan("");
    OcpQpIpmSolver solver(qp, contactForceSettings());
    EXPECT_EQ(solver.solve(x0, qp, sol), SolverStatus::NaNDetected);
    EXPECT_THAT(solver.getStatistics().message, HasSubstr("stage 3"));
    EXPECT_THAT(solver.getStatistics().message, HasSubstr("Q"));
  }
  {
    std::vector<OcpQp> qp = doubleIntegrator(6);
    qp[1].A(0, 1) = std::numeric_limits<double>::infinity();
    OcpQpIpmSolver solver(qp, contactForceSettings());
    EXPECT_EQ(solver.solve(x0, qp, sol), SolverStatus::NaNDetected);
    EXPECT_THAT(solver.getStatistics().message, HasSubstr("stage 1"));
  }
  {
    std::vector<OcpQp> qp = doubleIntegrator(6);
    qp[2].lbu[0] = std::nan("");
    OcpQpIpmSolver solver(qp, contactForceSettings());
    EXPECT_EQ(solver.solve(x0, qp, sol), SolverStatus::NaNDetected);
  }
  {
    std::vector<OcpQp> qp = doubleIntegrator(6);
    OcpQpIpmSolver solver(qp, contactForceSettings());
    EXPECT_EQ(solver.solve(Eigen::Vector2d(std::nan(""), 0.0), qp, sol), SolverStatus::NaNDetected);
  }
  ASSERT_EQ(sol.size(), 1u);
  EXPECT_EQ(sol[0].x[0], 42.0);
}

TEST(OcpQpRobustness, NonConvexStageIsReportedNotSolved) {
  std::vector<OcpQp> qp = doubleIntegrator(6);
  qp[2].Q = -Eigen::Matrix2d::Identity();
  std::vector<OcpQpSolution> sol;
  OcpQpIpmSolver solver(qp, contactForceSettings());
  EXPECT_EQ(solver.solve(Eigen::Vector2d(1.0, 0.0), qp, sol), SolverStatus::UnknownFailure);
  EXPECT_THAT(solver.getStatistics().message, HasSubstr("stage 2"));
  EXPECT_THAT(solver.getStatistics().message, HasSubstr("Q"));
}

TEST(OcpQpRobustness, HorizonZeroHasOnlyTheFixedState) {
  std::vector<OcpQp> qp(1);
  qp[0].Q = Eigen::Matrix3d::Identity();
  qp[0].idxbx = {1};
  qp[0].lbx = Eigen::VectorXd::Constant(1, -1.0);
  qp[0].ubx = Eigen::VectorXd::Constant(1, 1.0);
  std::vector<OcpQpSolution> sol;
  OcpQpIpmSolver solver(qp, contactForceSettings());
  const Eigen::Vector3d x0(0.1, 0.2, 0.3);
  ASSERT_EQ(solver.solve(x0, qp, sol), SolverStatus::Success);
  ASSERT_EQ(sol.size(), 1u);
  EXPECT_EQ(sol[0].x, Eigen::VectorXd(x0));
  EXPECT_EQ(sol[0].u.size(), 0);
  EXPECT_EQ(sol[0].K.size(), 0);
  EXPECT_EQ(sol[0].lam_lbx[0], 0.0);
}

TEST(OcpQpRobustness, ActiveInputBoundsFlattenTheFeedbackGain) {
  // With u_0 pinned at its upper bound the final-iterate barrier weight makes the gain of that
  // input vanish; without the bound the gain is the LQR gain.
  std::vector<OcpQp> bounded = doubleIntegrator(30);
  std::vector<OcpQp> free = bounded;
  for (OcpQp& st : free) {
    st.idxbu.clear();
    st.lbu.resize(0);
    st.ubu.resize(0);
  }
  const Eigen::VectorXd x0 = Eigen::Vector2d(-20.0, 0.0);  // asks for u far above 1
  std::vector<OcpQpSolution> sol_b, sol_f;
  OcpQpIpmSolver a(bounded, tightSettings(1e-8)), b(free, tightSettings(1e-8));
  ASSERT_EQ(a.solve(x0, bounded, sol_b), SolverStatus::Success);
  ASSERT_EQ(b.solve(x0, free, sol_f), SolverStatus::Success);
  EXPECT_NEAR(sol_b[0].u[0], 1.0, 1e-6);
  EXPECT_GT(sol_f[0].K.norm(), 0.1);
  EXPECT_LT(sol_b[0].K.norm(), 1e-3 * sol_f[0].K.norm());
  for (int k = 0; k < 30; ++k) {
    EXPECT_NEAR((sol_b[k].K * sol_b[k].x + sol_b[k].k)[0], sol_b[k].u[0], 1e-12);
  }
}

TEST(OcpQpRobustness, SharedWorkspaceGivesTheSameResultsAsOwnStorage) {
  std::mt19937 rng(77);
  OcpQpIpmWorkspace workspace;
  for (int trial = 0; trial < 6; ++trial) {
    RandomShape shape;
    shape.N = trial % 2 == 0 ? 6 : 9;  // sizes change between uses of the workspace
    shape.nx = 3 + trial % 3;
    Eigen::VectorXd x0;
    std::vector<OcpQp> qp = randomProblem(shape, rng, x0);
    std::vector<OcpQpSolution> own, shared;
    OcpQpIpmSolver a(qp, tightSettings(1e-8));
    OcpQpIpmSolver b(qp, tightSettings(1e-8), workspace);
    ASSERT_EQ(a.solve(x0, qp, own), SolverStatus::Success);
    ASSERT_EQ(b.solve(x0, qp, shared), SolverStatus::Success);
    ASSERT_EQ(a.getNumIterations(), b.getNumIterations());
    for (size_t k = 0; k < qp.size(); ++k) {
      EXPECT_EQ(own[k].x, shared[k].x);
      EXPECT_EQ(own[k].lam_lg, shared[k].lam_lg);
    }
  }
}

TEST(OcpQpRobustness, OtherModesAndOptionsConverge) {
  std::mt19937 rng(31);
  Eigen::VectorXd x0;
  const std::vector<OcpQp> original = randomProblem(RandomShape{}, rng, x0);
  for (int variant = 0; variant < 4; ++variant) {
    OcpQpIpmSolverSettings s = tightSettings(1e-7);
    if (variant == 0) s.mode = SolverMode::Robust;
    if (variant == 1) s.pred_corr = 0;
    if (variant == 2) s.split_step = 0;
    if (variant == 3) s.mode = SolverMode::SpeedAbs;
    std::vector<OcpQp> qp = original;
    std::vector<OcpQpSolution> sol;
    OcpQpIpmSolver solver(qp, s);
    ASSERT_EQ(solver.solve(x0, qp, sol), SolverStatus::Success) << "variant " << variant;
    EXPECT_LT(kktErrors(qp, x0, sol).stationarity, 1e-6) << "variant " << variant;
  }
}

TEST(OcpQpRobustness, StatusPrintsItsName) {
  auto name = [](SolverStatus s) {
    std::ostringstream os;
    os << s;
    return os.str();
  };
  EXPECT_EQ(name(SolverStatus::Success), "Success");
  EXPECT_EQ(name(SolverStatus::MaxIterReached), "MaxIterReached");
  EXPECT_EQ(name(SolverStatus::MinStepLengthReached), "MinStepLengthReached");
  EXPECT_EQ(name(SolverStatus::NaNDetected), "NaNDetected");
  EXPECT_EQ(name(SolverStatus::UnknownFailure), "UnknownFailure");
  EXPECT_EQ(static_cast<int>(SolverStatus::NaNDetected), 3);
}

}  // namespace
}  // namespace velmora::ocp_qp::test
