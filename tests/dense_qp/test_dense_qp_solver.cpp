// DenseQpSolver: random QPs with an optimum known by construction across problem classes (among
// them the whole-body QP's sizes, rank and degeneracy), and every kind of problem without a
// solution or with bad data.

#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <sstream>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "DenseQpTestSupport.h"
#include "dense_qp/DenseQpSolver.h"

namespace velmora::dense_qp {
namespace {

using test::KnownOptimum;
using test::RandomQpOptions;
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double maxAbs(const Eigen::VectorXd& v) { return v.size() > 0 ? v.cwiseAbs().maxCoeff() : 0.0; }

DenseQpSolution solveFresh(const DenseQp& qp, const DenseQpSettings& settings = {}) {
  DenseQpSolver solver(qp.numVariables(), qp.numEqualities(), qp.numInequalities(), settings);
  DenseQpSolution solution;
  solver.solve(qp, solution);
  return solution;
}

/// x, A'y, z and the active set of `s` match the constructed optimum, and the reported
/// diagnostics describe the returned point.
void expectRecovered(const KnownOptimum& k, const DenseQpSolution& s, double tol) {
  ASSERT_EQ(s.info.status, DenseQpStatus::kSolved);
  const DenseQp& qp = k.qp;
  // Per component: badly scaled variables differ by orders of magnitude.
  EXPECT_LE(((s.x - k.x).array().abs() / (1.0 + k.x.array().abs())).maxCoeff(), tol);
  // y is unique only up to the null space of A' when A is rank deficient; A'y is unique.
  const Eigen::VectorXd Aty_ref = qp.A.transpose() * k.y;
  EXPECT_LE(maxAbs(qp.A.transpose() * s.y - Aty_ref), tol * (1.0 + maxAbs(Aty_ref)));
  for (Eigen::Index i = 0; i < k.z.size(); ++i) {
    EXPECT_NEAR(s.z[i], k.z[i], tol * (1.0 + std::abs(k.z[i]))) << "row " << i;
  }
  const test::KktReport kkt = test::checkKkt(qp, s.x, s.y, s.z);
  EXPECT_LE(kkt.stationarity, 1e-9);
  EXPECT_LE(std::max({kkt.equality, kkt.bound_violation, kkt.wrong_sign}), 1e-12);
  const Eigen::VectorXd stat = qp.H * s.x + qp.g + qp.A.transpose() * s.y + qp.C.transpose() * s.z;
  EXPECT_NEAR(s.info.dual_residual, maxAbs(stat), 1e-12 * (1.0 + maxAbs(qp.g)));
  EXPECT_NEAR(s.info.equality_residual, maxAbs(qp.A * s.x - qp.b), 1e-12 * (1.0 + maxAbs(qp.b)));
  const double objective = 0.5 * s.x.dot(qp.H * s.x) + qp.g.dot(s.x);
  EXPECT_NEAR(s.info.objective, objective, 1e-9 * (1.0 + std::abs(objective)));
  EXPECT_LE(s.info.duality_gap, 1e-7 * (1.0 + std::abs(objective)));
}

/// Variables 10^-4 to 10^4 units apart, rows scaled alike and the cost by 1e6: the optimum moves
/// by the change of variables only, which equilibration must absorb.
void scaleBadly(KnownOptimum& k, std::mt19937& rng) {
  std::uniform_int_distribution<int> exponent(-4, 4);
  Eigen::VectorXd s(k.x.size()), r(k.z.size());
  for (Eigen::Index j = 0; j < s.size(); ++j) s[j] = std::pow(10.0, exponent(rng));
  for (Eigen::Index i = 0; i < r.size(); ++i) r[i] = std::pow(10.0, exponent(rng));
  const double cost = 1e6;
  k.qp.H = cost * s.asDiagonal() * k.qp.H * s.asDiagonal();
  k.qp.g = cost * s.asDiagonal() * k.qp.g;
  k.qp.A = k.qp.A * s.asDiagonal();
  k.qp.C = r.asDiagonal() * k.qp.C * s.asDiagonal();
  k.qp.l = r.asDiagonal() * k.qp.l;
  k.qp.u = r.asDiagonal() * k.qp.u;
  k.x = k.x.cwiseQuotient(s);
  k.y *= cost;
  k.z = cost * k.z.cwiseQuotient(r);
}

struct ProblemClass {
  const char* name;
  RandomQpOptions options;
  bool polish = true;
  bool badly_scaled = false;
  /// Stopping tolerance of the interior point; polishing starts only once it is met. A loose one
  /// leaves rows the first active-set guess misses: the polishing must add them on their
  /// violated side and still return the exact optimum.
  double ipm_tolerance = DenseQpSettings{}.eps_abs;
};

void PrintTo(const ProblemClass& problem_class, std::ostream* out) { *out << problem_class.name; }

class DenseQpKnownOptimum : public ::testing::TestWithParam<ProblemClass> {};

TEST_P(DenseQpKnownOptimum, RecoversSolutionMultipliersAndActiveSet) {
  const ProblemClass& c = GetParam();
  DenseQpSettings settings;
  settings.polish = c.polish;
  if (c.ipm_tolerance != settings.eps_abs) {
    settings.eps_abs = settings.eps_rel = c.ipm_tolerance;
    settings.polish_start = 0.0;
  }
  // One solver object for all seeds: its reused storage must not carry state between problems.
  DenseQpSolver solver(c.options.n, c.options.m_eq, c.options.m_in, settings);
  for (int seed = 0; seed < 12; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(1000 + seed);
    KnownOptimum k = test::makeKnownOptimum(rng, c.options);
    if (c.badly_scaled) scaleBadly(k, rng);
    DenseQpSolution s;
    solver.solve(k.qp, s);
    expectRecovered(k, s, c.polish ? 1e-7 : 1e-6);
    EXPECT_EQ(s.info.polished, c.polish && c.options.n > c.options.eq_rank);
    EXPECT_EQ(s.info.equality_rank, c.options.eq_rank);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Classes, DenseQpKnownOptimum,
    ::testing::Values(
        ProblemClass{"unconstrained", RandomQpOptions{15, 0, 0, 0, 0, 0, 0, -1}},
        ProblemClass{"equalities_only", RandomQpOptions{20, 8, 8, 0, 0, 0, 0, -1}},
        ProblemClass{"equalities_fix_every_variable", RandomQpOptions{8, 8, 8, 6, 0, 0, 0, -1}},
        ProblemClass{"inequalities_only", RandomQpOptions{20, 0, 0, 40, 8, 0, 0, -1}},
        ProblemClass{"mixed", RandomQpOptions{30, 10, 10, 45, 12, 0, 0, -1}},
        ProblemClass{"mixed_without_polishing", RandomQpOptions{20, 5, 5, 30, 7, 0, 0, -1}, false},
        ProblemClass{"mixed_polished_from_a_loose_iterate",
                     RandomQpOptions{30, 10, 10, 45, 12, 0, 0, -1}, true, false, 1e-3},
        ProblemClass{"mixed_badly_scaled", RandomQpOptions{20, 6, 6, 30, 8, 0, 0, -1}, true, true},
        ProblemClass{"rank_deficient_equalities", RandomQpOptions{25, 14, 8, 30, 6, 0, 0, -1}},
        ProblemClass{"weakly_active_rows", RandomQpOptions{20, 4, 4, 30, 5, 6, 0, -1}},
        ProblemClass{"rows_with_l_equal_u", RandomQpOptions{20, 3, 3, 25, 4, 0, 5, -1}},
        ProblemClass{"semidefinite_hessian", RandomQpOptions{24, 6, 6, 30, 10, 0, 0, 10}},
        ProblemClass{"linear_programme_at_a_vertex", RandomQpOptions{16, 4, 4, 30, 12, 0, 0, 0}},
        ProblemClass{"whole_body_size", RandomQpOptions{42, 24, 18, 32, 10, 2, 0, 30}}),
    [](const auto& info) { return std::string(info.param.name); });

struct FailureCase {
  const char* name;
  std::function<void(DenseQp&, const Eigen::VectorXd&, std::mt19937&)> mutate;  ///< of (qp, x*)
  DenseQpStatus status;
};

TEST(DenseQpSolver, ProblemsWithoutSolutionOrWithBadDataReportTheirStatus) {
  const std::vector<FailureCase> cases = {
      {"inconsistent equalities",
       [](DenseQp& qp, auto&, auto&) {
         qp.A.row(2) = 0.5 * qp.A.row(0) - 2.0 * qp.A.row(1);
         qp.b[2] = 0.5 * qp.b[0] - 2.0 * qp.b[1] + 1e-3;
       },
       DenseQpStatus::kPrimalInfeasible},
      {"inequality row constant on the equality set, outside its bounds",
       [](DenseQp& qp, auto&, auto&) {
         qp.C.row(0) = qp.A.row(0);
         qp.l[0] = qp.b[0] + 1.0;
         qp.u[0] = kInf;
       },
       DenseQpStatus::kPrimalInfeasible},
      {"empty set from a Farkas combination of rows",
       [](DenseQp& qp, auto&, auto& rng) {
         // c_i'x >= l_i (i = 0..5) imply (sum a_i c_i)'x >= sum a_i l_i for a >= 0.
         const Eigen::VectorXd a = test::gaussianMatrix(rng, 6, 1).cwiseAbs();
         qp.l.head(6) = test::gaussianMatrix(rng, 6, 1);
         qp.u.head(6).setConstant(kInf);
         qp.C.row(6) = a.transpose() * qp.C.topRows(6);
         qp.l[6] = -1e16;
         qp.u[6] = a.dot(qp.l.head(6)) - 0.1;
       },
       DenseQpStatus::kPrimalInfeasible},
      {"crossed bounds", [](DenseQp& qp, auto&, auto&) { qp.l[5] = qp.u[5] + 1.0; },
       DenseQpStatus::kPrimalInfeasible},
      {"unbounded ray along a flat direction the rows allow",
       [](DenseQp& qp, auto&, auto& rng) {
         const Eigen::MatrixXd B = test::gaussianMatrix(rng, 6, 10);
         const Eigen::VectorXd d = B.fullPivLu().kernel().col(0).normalized();
         qp.H = B.transpose() * B;
         qp.g -= (qp.g.dot(d) + 1.0) * d;  // g'd = -1
         qp.A -= (qp.A * d) * d.transpose();
         for (Eigen::Index i = 0; i < qp.C.rows(); ++i) {  // keep the side d moves away from
           const bool away_from_lower = qp.C.row(i).dot(d) > 0;
           qp.l[i] = away_from_lower ? -3.0 : -kInf;
           qp.u[i] = away_from_lower ? kInf : 3.0;
         }
       },
       DenseQpStatus::kDualInfeasible},
      {"negative definite Hessian", [](DenseQp& qp, auto&, auto&) { qp.H = -qp.H; },
       DenseQpStatus::kNonConvex},
      {"negative curvature only off the equality set",
       [](DenseQp& qp, const auto& x, auto&) {
         qp.A.row(0) = Eigen::RowVectorXd::Unit(10, 9);  // x_9 fixed: its curvature is irrelevant
         qp.b[0] = x[9];
         qp.H.row(9).setZero();
         qp.H.col(9).setZero();
         qp.H(9, 9) = -1.0;
       },
       DenseQpStatus::kSolved},
      {"NaN in H", [](DenseQp& qp, auto&, auto&) { qp.H(2, 3) = kNaN; },
       DenseQpStatus::kInvalidInput},
      {"NaN in l", [](DenseQp& qp, auto&, auto&) { qp.l[0] = kNaN; }, DenseQpStatus::kInvalidInput},
  };
  for (const FailureCase& c : cases) {
    for (int seed = 0; seed < 5; ++seed) {
      SCOPED_TRACE(std::string(c.name) + ", seed " + std::to_string(seed));
      std::mt19937 rng(100 + seed);
      KnownOptimum k = test::makeKnownOptimum(rng, RandomQpOptions{10, 3, 3, 12, 3, 0, 0, -1});
      c.mutate(k.qp, k.x, rng);
      const DenseQpSolution s = solveFresh(k.qp);
      EXPECT_EQ(s.info.status, c.status);
      EXPECT_TRUE(s.x.allFinite() && s.y.allFinite() && s.z.allFinite());
    }
  }
}

TEST(DenseQpSolver, LimitsAndSizes) {
  std::mt19937 rng(5);
  const DenseQp qp = test::makeKnownOptimum(rng, RandomQpOptions{10, 3, 3, 12, 3, 0, 0, -1}).qp;
  DenseQpSettings one_iteration;
  one_iteration.max_iterations = 1;
  one_iteration.polish = false;
  const DenseQpSolution s = solveFresh(qp, one_iteration);
  EXPECT_EQ(s.info.status, DenseQpStatus::kMaxIterationsReached);
  EXPECT_EQ(s.info.iterations, 1);
  EXPECT_TRUE(s.x.allFinite() && s.z.allFinite());

  DenseQpSolution out;
  EXPECT_THROW(DenseQpSolver(10, 3, 13).solve(qp, out), std::invalid_argument);
  EXPECT_THROW(DenseQpSolver(-1, 0, 0), std::invalid_argument);
  DenseQp broken = qp;
  broken.g.resize(9);
  try {
    DenseQpSolver(10, 3, 12).solve(broken, out);
    ADD_FAILURE() << "no exception";
  } catch (const std::invalid_argument& e) {
    EXPECT_THAT(e.what(), ::testing::HasSubstr("g.size() is 9"));
  }
}

TEST(DenseQpSolver, StatusPrintsItsName) {
  const char* const names[] = {
      "Solved",           "PrimalInfeasible", "DualInfeasible", "MaxIterationsReached",
      "NumericalFailure", "NonConvex",        "InvalidInput",   "NotSolved"};
  for (int status = 0; status < 8; ++status) {
    std::ostringstream os;
    os << static_cast<DenseQpStatus>(status);
    EXPECT_EQ(os.str(), names[status]);
  }
}

}  // namespace
}  // namespace velmora::dense_qp
