// Constrained OCP QPs: KKT conditions from the stage data, and agreement with the dense QP
// solver on the same problem written out in full.

#include <cmath>
#include <limits>
#include <random>

#include <gtest/gtest.h>

#include "ContactForceProblem.h"
#include "OcpQpTestUtils.h"
#include "dense_qp/DenseQpSolver.h"
#include "ocp_qp/OcpQpIpmSolver.h"

namespace velmora::ocp_qp::test {
namespace {

void expectKkt(const std::vector<OcpQp>& qp, const Eigen::VectorXd& x0,
               const std::vector<OcpQpSolution>& sol, double tol) {
  const KktErrors e = kktErrors(qp, x0, sol);
  EXPECT_LT(e.stationarity, tol) << e.worst;
  EXPECT_LT(e.dynamics, tol);
  EXPECT_LT(e.primal, tol);
  EXPECT_LT(e.complementarity, tol);
  EXPECT_EQ(e.dual_sign, 0.0);
  EXPECT_EQ(e.masked_multiplier, 0.0);
  EXPECT_EQ(e.x0, 0.0);
}

// Solves the written-out problem with the dense solver; fills per-stage x, u.
void solveDense(const std::vector<OcpQp>& qp, const Eigen::VectorXd& x0,
                std::vector<Eigen::VectorXd>& x, std::vector<Eigen::VectorXd>& u,
                dense_qp::DenseQpSolution& dense_sol) {
  const dense_qp::DenseQp dense = denseProblem(qp, x0);
  dense_qp::DenseQpSolver solver(dense.numVariables(), dense.numEqualities(),
                                 dense.numInequalities());
  ASSERT_EQ(solver.solve(dense, dense_sol), dense_qp::DenseQpStatus::kSolved);
  splitDense(qp, x0, dense_sol.x, x, u);
}

// The two solvers' answers z_ocp, z_dense (both feasible up to their tolerances) describe the
// same optimum: their objectives agree to `rel_tol` (relative), and since the objective f is
// strictly convex with Hessian H, 1/2 |z_ocp - z*|_H^2 <= f(z_ocp) - f(z*) bounds the distance
// of the answers by the objective gap (plus the reference's own duality gap).
void expectSameOptimum(const std::vector<OcpQp>& qp, const Eigen::VectorXd& x0,
                       const std::vector<OcpQpSolution>& sol,
                       const dense_qp::DenseQpSolution& dense_sol, double rel_tol) {
  const dense_qp::DenseQp d = denseProblem(qp, x0);
  const int N = static_cast<int>(qp.size()) - 1;
  Eigen::VectorXd z(d.numVariables());
  for (int k = 0, n = 0; k < N; ++k) {
    z.segment(n, sol[k].u.size()) = sol[k].u;
    n += static_cast<int>(sol[k].u.size());
    z.segment(n, sol[k + 1].x.size()) = sol[k + 1].x;
    n += static_cast<int>(sol[k + 1].x.size());
  }
  auto objective = [&d](const Eigen::VectorXd& v) { return 0.5 * v.dot(d.H * v) + d.g.dot(v); };
  const double f_ocp = objective(z), f_dense = objective(dense_sol.x);
  const double slack = rel_tol * (1.0 + std::abs(f_dense)) + dense_sol.info.duality_gap;
  EXPECT_LE(std::abs(f_ocp - f_dense), slack) << "f_ocp " << f_ocp << ", f_dense " << f_dense;
  const Eigen::VectorXd dz = z - dense_sol.x;
  EXPECT_LE(0.5 * dz.dot(d.H * dz), std::abs(f_ocp - f_dense) + slack);
}

// Active-side count over the whole problem (multiplier clearly above its slack).
int countActive(const std::vector<OcpQpSolution>& sol) {
  int active = 0;
  for (const OcpQpSolution& s : sol) {
    for (const Eigen::VectorXd* lam :
         {&s.lam_lbu, &s.lam_ubu, &s.lam_lbx, &s.lam_ubx, &s.lam_lg, &s.lam_ug}) {
      active += static_cast<int>((lam->array() > 1e-6).count());
    }
  }
  return active;
}

struct ShapeCase {
  const char* name;
  RandomShape shape;
};

std::vector<ShapeCase> shapeCases() {
  std::vector<ShapeCase> cases;
  RandomShape base;
  cases.push_back({"default", base});
  RandomShape boxes_only = base;
  boxes_only.ng = 0;
  cases.push_back({"boxes only", boxes_only});
  RandomShape general_only = base;
  general_only.nbu = general_only.nbx = 0;
  general_only.ng = 3;
  cases.push_back({"general rows only", general_only});
  RandomShape no_masks = base;
  no_masks.masks = false;
  no_masks.equality_rows = false;
  no_masks.cross_terms = false;
  cases.push_back({"no masks, no equality rows, no S", no_masks});
  RandomShape bigger = base;
  bigger.N = 20;
  bigger.nx = 6;
  bigger.nu = 4;
  bigger.nbu = 4;
  bigger.nbx = 3;
  bigger.ng = 3;
  cases.push_back({"bigger", bigger});
  // The contact-force sizes, which take the fixed-size stage kernels.
  RandomShape contact_sized = base;
  contact_sized.N = 10;
  contact_sized.nx = 12;
  contact_sized.nu = 12;
  contact_sized.nbu = 4;
  contact_sized.nbx = 3;
  contact_sized.ng = 6;
  cases.push_back({"12 states, 12 inputs", contact_sized});
  return cases;
}

TEST(OcpQpConstrained, RandomProblemsSatisfyKktAndAgreeWithDenseSolver) {
  std::mt19937 rng(11);
  for (const ShapeCase& c : shapeCases()) {
    for (int trial = 0; trial < 4; ++trial) {
      SCOPED_TRACE(std::string(c.name) + ", trial " + std::to_string(trial));
      Eigen::VectorXd x0;
      std::vector<OcpQp> qp = randomProblem(c.shape, rng, x0);
      std::vector<OcpQpSolution> sol;
      OcpQpIpmSolver solver(qp, tightSettings(1e-7));
      ASSERT_EQ(solver.solve(x0, qp, sol), SolverStatus::Success) << solver.getStatistics().message;
      expectKkt(qp, x0, sol, 1e-6);
      EXPECT_GT(countActive(sol), 0) << "the generator should produce active bounds";

      std::vector<Eigen::VectorXd> x_ref, u_ref;
      dense_qp::DenseQpSolution dense_sol;
      solveDense(qp, x0, x_ref, u_ref, dense_sol);
      const int N = static_cast<int>(qp.size()) - 1;
      expectSameOptimum(qp, x0, sol, dense_sol, 1e-6);
      for (int k = 0; k <= N; ++k) {
        EXPECT_LT((sol[k].x - x_ref[k]).cwiseAbs().maxCoeff(), 1e-4) << "stage " << k;
        if (k < N) {
          EXPECT_LT((sol[k].u - u_ref[k]).cwiseAbs().maxCoeff(), 1e-4) << "stage " << k;
        }
      }
      // Inequality multipliers: the dense solver reports z = lam_upper - lam_lower per row, in
      // the row order of denseProblem (input bounds, state bounds except stage 0, general rows).
      int row = 0;
      for (int k = 0; k <= N; ++k) {
        const OcpQpSolution& s = sol[k];
        Eigen::VectorXd z(0);
        if (k < N) z = s.lam_ubu - s.lam_lbu;
        auto append = [&z](const Eigen::VectorXd& more) {
          Eigen::VectorXd joined(z.size() + more.size());
          joined << z, more;
          z = joined;
        };
        if (k > 0) append(s.lam_ubx - s.lam_lbx);
        append(s.lam_ug - s.lam_lg);
        EXPECT_LT((z - dense_sol.z.segment(row, z.size())).cwiseAbs().maxCoeff(), 1e-3)
            << "stage " << k;
        row += static_cast<int>(z.size());
      }
    }
  }
}

TEST(OcpQpConstrained, MaskedSidesAreAbsent) {
  // The generator gives masked sides values that the reference trajectory violates. Removing
  // those sides altogether (infinite bound, mask 1) must give the same solution.
  std::mt19937 rng(5);
  RandomShape shape;
  shape.masks = true;
  int masked_sides = 0;
  for (int trial = 0; trial < 5; ++trial) {
    Eigen::VectorXd x0;
    std::vector<OcpQp> masked = randomProblem(shape, rng, x0);
    std::vector<OcpQp> removed = masked;
    const double inf = std::numeric_limits<double>::infinity();
    auto unmask = [&](Eigen::VectorXd& mask, Eigen::VectorXd& bound, double value) {
      for (int j = 0; j < mask.size(); ++j) {
        if (mask[j] == 0.0) {
          mask[j] = 1.0;
          bound[j] = value;
          ++masked_sides;
        }
      }
    };
    for (OcpQp& st : removed) {
      unmask(st.lbu_mask, st.lbu, -inf);
      unmask(st.ubu_mask, st.ubu, inf);
      unmask(st.lbx_mask, st.lbx, -inf);
      unmask(st.ubx_mask, st.ubx, inf);
      unmask(st.lg_mask, st.lg, -inf);
      unmask(st.ug_mask, st.ug, inf);
    }
    std::vector<OcpQpSolution> sol_masked, sol_removed;
    OcpQpIpmSolver a(masked, tightSettings(1e-7)), b(removed, tightSettings(1e-7));
    ASSERT_EQ(a.solve(x0, masked, sol_masked), SolverStatus::Success);
    ASSERT_EQ(b.solve(x0, removed, sol_removed), SolverStatus::Success);
    for (size_t k = 0; k < masked.size(); ++k) {
      EXPECT_LT((sol_masked[k].x - sol_removed[k].x).cwiseAbs().maxCoeff(), 1e-6);
    }
    expectKkt(masked, x0, sol_masked, 1e-6);
  }
  EXPECT_GT(masked_sides, 10);
}

// Contact-force problem with a disturbed initial state large enough to saturate forces.
std::vector<OcpQp> saturatedContactForceProblem(int N, Eigen::VectorXd& x0) {
  ContactForceProblem gen;
  x0 = Eigen::VectorXd::Zero(12);
  x0 << 0.05, -0.03, -0.04, 0.6, -0.4, -0.5, 0.15, -0.1, 0.2, 0.3, -0.2, 0.1;
  std::vector<OcpQp> qp;
  gen.build(N, 0.13, x0.segment<3>(6), {}, qp);
  return qp;
}

TEST(OcpQpConstrained, ContactForceShape) {
  ContactForceProblem gen;
  Eigen::VectorXd x0;
  std::vector<OcpQp> qp = saturatedContactForceProblem(25, x0);
  ASSERT_EQ(qp[0].C.rows(), 20);
  ASSERT_EQ(qp[0].D.cols(), 12);
  std::vector<OcpQpSolution> sol;
  OcpQpIpmSolver solver(qp, tightSettings(1e-8));
  ASSERT_EQ(solver.solve(x0, qp, sol), SolverStatus::Success) << solver.getStatistics().message;
  expectKkt(qp, x0, sol, 1e-6);

  // Swing feet carry no force; stance forces lie in the friction pyramid under 400 N, and some
  // limits are active (the disturbance asks for more than the pyramid allows).
  int saturated = 0;
  for (int k = 0; k < 25; ++k) {
    for (int foot = 0; foot < 4; ++foot) {
      const Eigen::Vector3d f = sol[k].u.segment<3>(3 * foot);
      if (!gen.inStance(foot, 0.13 + k * gen.dt_s)) {
        EXPECT_LT(f.cwiseAbs().maxCoeff(), 1e-7) << "stage " << k << " foot " << foot;
        continue;
      }
      EXPECT_GE(f.z(), -1e-9);
      EXPECT_LE(f.z(), 400.0 + 1e-9);
      EXPECT_LE(std::abs(f.x()), 0.5 * f.z() + 1e-9);
      EXPECT_LE(std::abs(f.y()), 0.5 * f.z() + 1e-9);
      saturated += (f.z() < 1e-4 || f.z() > 400 - 1e-4 || std::abs(f.x()) > 0.5 * f.z() - 1e-4 ||
                    std::abs(f.y()) > 0.5 * f.z() - 1e-4);
    }
  }
  EXPECT_GT(saturated, 0);

  // The dense solver on the written-out problem. Both points are feasible, so for the strictly
  // convex objective f with Hessian H: 1/2 |z_dense - z*|_H^2 <= f(z_dense) - f(z*), and the
  // distance of the two answers is bounded by their objective gap (the forces have a curvature
  // of only 1e-4, so a small gap still allows visible force differences).
  std::vector<Eigen::VectorXd> x_ref, u_ref;
  dense_qp::DenseQpSolution dense_sol;
  solveDense(qp, x0, x_ref, u_ref, dense_sol);
  expectSameOptimum(qp, x0, sol, dense_sol, 1e-8);
  EXPECT_LT(dense_sol.info.duality_gap, 1e-4) << "the reference itself is not accurate";
  for (int k = 1; k <= 25; ++k) {
    EXPECT_LT((sol[k].x - x_ref[k]).cwiseAbs().maxCoeff(), 1e-3) << "stage " << k;
  }
}

TEST(OcpQpConstrained, ContactForceSettingsMeetTheirTolerances) {
  // The contact-force optimiser's settings (tolerances 1e-4): the KKT errors computed from the
  // data stay within a small multiple of them.
  Eigen::VectorXd x0;
  std::vector<OcpQp> qp = saturatedContactForceProblem(50, x0);
  OcpQpIpmSolverSettings settings = tightSettings(1e-4, 30);
  std::vector<OcpQpSolution> sol;
  OcpQpIpmSolver solver(qp, settings);
  ASSERT_EQ(solver.solve(x0, qp, sol), SolverStatus::Success) << solver.getStatistics().message;
  const OcpQpIpmResiduals& r = solver.getResiduals();
  EXPECT_LE(r.stationarity, 1e-4);
  EXPECT_LE(r.equality, 1e-4);
  EXPECT_LE(r.inequality, 1e-4);
  EXPECT_LE(r.complementarity, 1e-4);
  const KktErrors e = kktErrors(qp, x0, sol);
  EXPECT_LT(e.stationarity, 1e-4);
  EXPECT_LT(e.dynamics, 1e-4);
  EXPECT_LT(e.primal, 1e-4);
  EXPECT_EQ(e.dual_sign, 0.0);
}

}  // namespace
}  // namespace velmora::ocp_qp::test
