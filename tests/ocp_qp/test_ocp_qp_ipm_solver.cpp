// OcpQpIpmSolver: the KKT conditions computed from the stage data (sufficient for optimality),
// the textbook Riccati recursion for the feedback gains, the contact-force problems of the
// bundled robot, warm starts, and every kind of bad input.

#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <sstream>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "OcpQpTestSupport.h"
#include "ocp_qp/OcpQpIpmSolver.h"

namespace velmora::ocp_qp::test {
namespace {

using ::testing::HasSubstr;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

void expectKkt(const std::vector<OcpQp>& qp, const Eigen::VectorXd& x0,
               const std::vector<OcpQpSolution>& sol, double tol) {
  const KktErrors e = kktErrors(qp, x0, sol);
  EXPECT_LT(std::max({e.stationarity, e.dynamics, e.primal, e.complementarity}), tol);
  EXPECT_EQ(std::max(e.dual, e.x0), 0.0);
}

SolverStatus solveWith(std::vector<OcpQp>& qp, const Eigen::VectorXd& x0,
                       const OcpQpIpmSolverSettings& settings, std::vector<OcpQpSolution>& sol,
                       int* iterations = nullptr) {
  OcpQpIpmSolver solver(qp, settings);
  const SolverStatus status = solver.solve(x0, qp, sol);
  if (iterations != nullptr) *iterations = solver.getNumIterations();
  return status;
}

TEST(OcpQpIpmSolver, WithoutInequalitiesOneNewtonStepGivesTheRiccatiPolicy) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 4; ++trial) {
    RandomShape shape{6 + trial, 4, 2, 0, 0, 0};
    shape.cross_terms = trial % 2 == 0;
    Eigen::VectorXd x0;
    std::vector<OcpQp> qp = randomProblem(shape, rng, x0);
    for (size_t k = 0; trial % 2 == 1 && k + 1 < qp.size(); ++k) {
      qp[k].r.resize(0);  // odd trials: S, r and b empty, meaning zeros
      qp[k].b.resize(0);
    }
    std::vector<OcpQpSolution> sol;
    int iterations = 0;
    ASSERT_EQ(solveWith(qp, x0, tightSettings(), sol, &iterations), SolverStatus::Success);
    EXPECT_LE(iterations, 2);
    expectKkt(qp, x0, sol, 1e-9);
    const std::vector<Eigen::MatrixXd> K = riccatiGains(qp);
    for (size_t k = 0; k + 1 < qp.size(); ++k) {
      EXPECT_TRUE(sol[k].K.isApprox(K[k], 1e-8)) << "stage " << k;
      EXPECT_TRUE((sol[k].K * sol[k].x + sol[k].k).isApprox(sol[k].u, 1e-10)) << "stage " << k;
    }
  }
}

struct ShapeCase {
  const char* name;
  RandomShape shape;
  std::function<void(OcpQpIpmSolverSettings&)> options;
};

void PrintTo(const ShapeCase& shape_case, std::ostream* out) { *out << shape_case.name; }

class OcpQpIpmSolverShapes : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(OcpQpIpmSolverShapes, SolutionsSatisfyKktOnOwnOrSharedStorage) {
  std::mt19937 rng(11);
  OcpQpIpmSolverSettings settings = tightSettings(1e-7);
  GetParam().options(settings);
  OcpQpIpmWorkspace workspace;
  for (int trial = 0; trial < 3; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    RandomShape shape = GetParam().shape;
    shape.N += 2 * trial;  // the shared workspace is resized between trials
    Eigen::VectorXd x0;
    std::vector<OcpQp> qp = randomProblem(shape, rng, x0);
    std::vector<OcpQpSolution> sol, shared;
    OcpQpIpmSolver solver(qp, settings);
    ASSERT_EQ(solver.solve(x0, qp, sol), SolverStatus::Success) << solver.getStatistics().message;
    expectKkt(qp, x0, sol, 1e-6);
    OcpQpIpmSolver on_workspace(qp, settings, workspace);
    ASSERT_EQ(on_workspace.solve(x0, qp, shared), SolverStatus::Success);
    for (size_t k = 0; k < qp.size(); ++k) EXPECT_EQ(sol[k].x, shared[k].x) << "stage " << k;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, OcpQpIpmSolverShapes,
    ::testing::Values(ShapeCase{"default", RandomShape{}, [](auto&) {}},
                      ShapeCase{"boxes_only_robust", RandomShape{8, 4, 3, 2, 2, 0},
                                [](auto& s) { s.mode = SolverMode::Robust; }},
                      ShapeCase{"general_rows_only_no_predictor_corrector",
                                RandomShape{8, 4, 3, 0, 0, 3}, [](auto& s) { s.pred_corr = 0; }},
                      ShapeCase{"no_masks_no_equalities_no_S_one_step_length",
                                RandomShape{8, 4, 3, 2, 2, 2, false, false, false},
                                [](auto& s) { s.split_step = 0; }},
                      // The contact-force sizes take the fixed-size stage kernels.
                      ShapeCase{"12_states_12_inputs", RandomShape{10, 12, 12, 4, 3, 6},
                                [](auto&) {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(OcpQpIpmSolver, ContactForceProblemsOfTheBundledRobot) {
  ContactForceProblems problems;
  std::vector<OcpQp> qp;
  std::vector<OcpQpSolution> sol;
  Eigen::VectorXd x0;
  for (int period = 0; period < 30; ++period) {  // the optimiser's closed loop, cold starts
    problems.build(50, period, 1.0, qp, x0);
    ASSERT_EQ(solveWith(qp, x0, problems.settings(), sol), SolverStatus::Success) << period;
    const KktErrors e = kktErrors(qp, x0, sol);
    EXPECT_LT(std::max({e.stationarity, e.dynamics, e.primal}), 1e-4) << "period " << period;
    EXPECT_EQ(e.dual, 0.0);
  }
  problems.build(25, 7, 20.0, qp, x0);  // large initial errors saturate forces
  ASSERT_EQ(solveWith(qp, x0, tightSettings(1e-7), sol), SolverStatus::Success);
  expectKkt(qp, x0, sol, 1e-5);
}

TEST(OcpQpIpmSolver, WarmStarts) {
  ContactForceProblems problems;
  OcpQpIpmSolverSettings cold = problems.settings(), warm = cold;
  warm.warm_start = 1;
  std::vector<OcpQp> qp;
  Eigen::VectorXd x0;
  // From the solution of a nearby problem (same gait, both states close to standing): fewer
  // iterations than cold starts, same accuracy.
  std::vector<OcpQpSolution> previous, cold_sol;
  int cold_total = 0, warm_total = 0, iterations = 0;
  for (int period = 0; period < 10; ++period) {
    problems.build(50, period, 0.2, qp, x0);
    ASSERT_EQ(solveWith(qp, x0, cold, previous), SolverStatus::Success);
    problems.build(50, period, 0.2, qp, x0);
    ASSERT_EQ(solveWith(qp, x0, cold, cold_sol, &iterations), SolverStatus::Success);
    cold_total += iterations;
    ASSERT_EQ(solveWith(qp, x0, warm, previous, &iterations), SolverStatus::Success);
    warm_total += iterations;
    const KktErrors e = kktErrors(qp, x0, previous);
    EXPECT_LT(std::max({e.stationarity, e.dynamics, e.primal}), 1e-4) << "period " << period;
  }
  EXPECT_LT(warm_total, cold_total);
  // A solution of other sizes falls back to the cold start; a converged one needs no step.
  std::mt19937 rng(8);
  qp = randomProblem(RandomShape{}, rng, x0);
  std::vector<OcpQpSolution> sol(3);
  sol[0].u = Eigen::VectorXd::Constant(7, kNaN);
  warm = tightSettings(1e-8);
  warm.warm_start = 1;
  ASSERT_EQ(solveWith(qp, x0, warm, sol), SolverStatus::Success);
  expectKkt(qp, x0, sol, 1e-7);
  ASSERT_EQ(solveWith(qp, x0, warm, sol, &iterations), SolverStatus::Success);
  EXPECT_EQ(iterations, 0);
}

// Double integrator, N stages, |u| <= 1 as input bounds and |u_2| <= 1 as a general row.
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
  qp[2].C = Eigen::MatrixXd::Zero(1, 2);
  qp[2].D = Eigen::MatrixXd::Ones(1, 1);
  qp[2].lg = Eigen::VectorXd::Constant(1, -1.0);
  qp[2].ug = Eigen::VectorXd::Constant(1, 1.0);
  return qp;
}

using Mutation = std::function<void(std::vector<OcpQp>&)>;

TEST(OcpQpIpmSolver, InconsistentProblemsAreRejectedNamingStageAndField) {
  const std::vector<std::pair<Mutation, std::vector<std::string>>> cases = {
      {[](auto& qp) { qp[3].A = Eigen::MatrixXd::Identity(3, 3); }, {"stage 3", "A"}},
      {[](auto& qp) { qp[4].idxbu = {1}; }, {"stage 4", "idxbu"}},
      {[](auto& qp) { qp[4].lbu.resize(2); }, {"stage 4", "lbu"}},
      {[](auto& qp) { qp[4].ubu_mask = Eigen::VectorXd::Ones(3); }, {"stage 4", "ubu_mask"}},
      {[](auto& qp) { qp[2].D = Eigen::MatrixXd::Ones(1, 2); }, {"stage 2", "D"}},
      {[](auto& qp) {
         qp[5].idxbx = {2};
         qp[5].lbx = qp[5].ubx = Eigen::VectorXd::Zero(1);
       },
       {"stage 5", "idxbx"}},
      {[](auto& qp) { qp[1].Zl = Eigen::MatrixXd::Identity(1, 1); }, {"stage 1", "Zl"}},
      {[](auto& qp) { qp.clear(); }, {"no stage"}},
  };
  for (const auto& [mutate, expected] : cases) {
    std::vector<OcpQp> qp = doubleIntegrator(6);
    mutate(qp);
    try {
      OcpQpIpmSolver solver(qp, tightSettings());
      ADD_FAILURE() << "no exception for " << expected.front();
    } catch (const std::invalid_argument& e) {
      for (const std::string& s : expected) EXPECT_THAT(e.what(), HasSubstr(s));
    }
  }
  // solve() checks x0 and that the problem still has the sizes the solver was built for.
  std::vector<OcpQp> qp = doubleIntegrator(6), longer = doubleIntegrator(7);
  std::vector<OcpQpSolution> sol;
  OcpQpIpmSolver solver(qp, tightSettings());
  EXPECT_THROW(solver.solve(Eigen::VectorXd::Zero(3), qp, sol), std::invalid_argument);
  EXPECT_THROW(solver.solve(Eigen::VectorXd::Zero(2), longer, sol), std::invalid_argument);
}

TEST(OcpQpIpmSolver, FailuresReportTheirStatusAndWhere) {
  struct Case {
    const char* name;
    Mutation mutate;
    SolverStatus status;  ///< Success stands for "any failure" (infeasible problems)
    const char* where;
  };
  const std::vector<Case> cases = {
      {"NaN in Q", [](auto& qp) { qp[3].Q(1, 1) = kNaN; }, SolverStatus::NaNDetected, "stage 3"},
      {"non-convex Q", [](auto& qp) { qp[2].Q = -Eigen::Matrix2d::Identity(); },
       SolverStatus::UnknownFailure, "stage 2"},
      {"crossed bounds", [](auto& qp) { qp[4].lbu[0] = 2.0; }, SolverStatus::UnknownFailure,
       "stage 4"},
      {"x0 outside a stage-0 bound",
       [](auto& qp) {  // x0 = (1, 0)
         qp[0].idxbx = {1};
         qp[0].lbx = qp[0].ubx = Eigen::VectorXd::Constant(1, 1.0);
       },
       SolverStatus::UnknownFailure, "stage 0"},
      {"unreachable state bound",
       [](auto& qp) {
         qp[5].idxbx = {0};
         qp[5].lbx = qp[5].ubx = Eigen::VectorXd::Constant(1, 100.0);
       },
       SolverStatus::Success, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<OcpQp> qp = doubleIntegrator(10);
    c.mutate(qp);
    std::vector<OcpQpSolution> sol(1);
    sol[0].x = Eigen::VectorXd::Constant(1, 42.0);
    OcpQpIpmSolver solver(qp, tightSettings(1e-8, 30));
    const SolverStatus status = solver.solve(Eigen::Vector2d(1.0, 0.0), qp, sol);
    if (c.status == SolverStatus::Success) {
      EXPECT_NE(status, SolverStatus::Success);
      for (const OcpQpSolution& s : sol) EXPECT_TRUE(s.x.allFinite() && s.u.allFinite());
    } else {
      EXPECT_EQ(status, c.status);
    }
    EXPECT_THAT(solver.getStatistics().message, HasSubstr(c.where));
    EXPECT_FALSE(solver.getStatistics().message.empty());
    if (status == SolverStatus::NaNDetected) {
      EXPECT_EQ(sol.at(0).x[0], 42.0) << "unchanged";
    }
  }
  std::vector<OcpQp> qp = doubleIntegrator(10);
  std::vector<OcpQpSolution> sol;
  EXPECT_EQ(solveWith(qp, Eigen::Vector2d(kNaN, 0.0), tightSettings(), sol),
            SolverStatus::NaNDetected);
}

TEST(OcpQpIpmSolver, ActiveInputBoundsFlattenTheFeedbackGain) {
  // u_0 pinned at its upper bound: the final-iterate barrier weight makes its gain vanish
  // (without the bounds it would be the LQR gain).
  std::vector<OcpQp> qp = doubleIntegrator(30);
  const Eigen::VectorXd x0 = Eigen::Vector2d(-20.0, 0.0);  // asks for u far above 1
  std::vector<OcpQpSolution> sol;
  ASSERT_EQ(solveWith(qp, x0, tightSettings(1e-8), sol), SolverStatus::Success);
  EXPECT_NEAR(sol[0].u[0], 1.0, 1e-6);
  EXPECT_LT(sol[0].K.norm(), 1e-3 * riccatiGains(qp)[0].norm());
  EXPECT_NEAR((sol[0].K * sol[0].x + sol[0].k)[0], sol[0].u[0], 1e-12);
}

TEST(OcpQpIpmSolver, StatusPrintsItsNameAndKeepsItsCode) {
  const char* const names[] = {"Success", "MaxIterReached", "MinStepLengthReached", "NaNDetected",
                               "UnknownFailure"};
  for (int code = 0; code < 5; ++code) {
    std::ostringstream os;
    os << static_cast<SolverStatus>(code);
    EXPECT_EQ(os.str(), names[code]);
  }
}

}  // namespace
}  // namespace velmora::ocp_qp::test
