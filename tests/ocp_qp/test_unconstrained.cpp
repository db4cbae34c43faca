// Unconstrained OCP QPs: the solver against closed forms (textbook Riccati gains, the stationary
// discrete-time LQR gain, and a dense KKT solve of the whole problem).

#include <random>

#include <gtest/gtest.h>

#include "OcpQpTestUtils.h"
#include "ocp_qp/OcpQpIpmSolver.h"

namespace velmora::ocp_qp::test {
namespace {

RandomShape unconstrainedShape(int N, int nx, int nu) {
  RandomShape shape;
  shape.N = N;
  shape.nx = nx;
  shape.nu = nu;
  shape.nbu = shape.nbx = shape.ng = 0;
  return shape;
}

// Dense KKT solve of the equality-constrained problem: z and the equality multipliers y of
// [H A'; A 0] [z; y] = [-g; b].
void denseKkt(const dense_qp::DenseQp& d, Eigen::VectorXd& z, Eigen::VectorXd& y) {
  const int n = static_cast<int>(d.H.rows()), m = static_cast<int>(d.A.rows());
  Eigen::MatrixXd K = Eigen::MatrixXd::Zero(n + m, n + m);
  K.topLeftCorner(n, n) = d.H;
  K.topRightCorner(n, m) = d.A.transpose();
  K.bottomLeftCorner(m, n) = d.A;
  Eigen::VectorXd rhs(n + m);
  rhs << -d.g, d.b;
  const Eigen::VectorXd sol = K.fullPivLu().solve(rhs);
  z = sol.head(n);
  y = sol.tail(m);
}

TEST(OcpQpUnconstrained, MatchesDenseKktSolveAndRiccatiGains) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 5; ++trial) {
    Eigen::VectorXd x0;
    const std::vector<OcpQp> qp_in = randomProblem(unconstrainedShape(6 + trial, 4, 2), rng, x0);
    std::vector<OcpQp> qp = qp_in;
    std::vector<OcpQpSolution> sol;
    OcpQpIpmSolver solver(qp, tightSettings());
    ASSERT_EQ(solver.solve(x0, qp, sol), SolverStatus::Success);
    EXPECT_LE(solver.getNumIterations(), 2) << "an LQ problem needs one Newton step";

    const dense_qp::DenseQp dense = denseProblem(qp, x0);
    Eigen::VectorXd z, y;
    denseKkt(dense, z, y);
    std::vector<Eigen::VectorXd> x_ref, u_ref;
    splitDense(qp, x0, z, x_ref, u_ref);
    const int N = static_cast<int>(qp.size()) - 1;
    const std::vector<Eigen::MatrixXd> K_ref = riccatiGains(qp);
    int eq = 0;
    for (int k = 0; k <= N; ++k) {
      EXPECT_TRUE(sol[k].x.isApprox(x_ref[k], 1e-8)) << "stage " << k;
      if (k == N) break;
      EXPECT_TRUE(sol[k].u.isApprox(u_ref[k], 1e-8)) << "stage " << k;
      // The dense rows read x_{k+1} - A x_k - B u_k = b_k, so their multiplier is -pi_k.
      EXPECT_TRUE(sol[k].pi.isApprox(-y.segment(eq, 4), 1e-7)) << "stage " << k;
      eq += 4;
      EXPECT_TRUE(sol[k].K.isApprox(K_ref[k], 1e-8)) << "stage " << k << "\n"
                                                     << sol[k].K << "\n\n"
                                                     << K_ref[k];
      // The affine policy reproduces the returned trajectory.
      EXPECT_TRUE((sol[k].K * sol[k].x + sol[k].k).isApprox(sol[k].u, 1e-10));
    }
    const KktErrors e = kktErrors(qp, x0, sol);
    EXPECT_LT(e.stationarity, 1e-9);
    EXPECT_LT(e.dynamics, 1e-10);
    EXPECT_EQ(e.x0, 0.0);
  }
}

// Stationary discrete-time LQR gain by iterating the Riccati difference equation to a fixed
// point, independently of the solver.
Eigen::MatrixXd stationaryLqrGain(const Eigen::MatrixXd& A, const Eigen::MatrixXd& B,
                                  const Eigen::MatrixXd& Q, const Eigen::MatrixXd& R) {
  Eigen::MatrixXd P = Q;
  for (int it = 0; it < 10000; ++it) {
    const Eigen::MatrixXd BtP = B.transpose() * P;
    const Eigen::MatrixXd next =
        Q + A.transpose() * P * A - A.transpose() * P * B * (R + BtP * B).ldlt().solve(BtP * A);
    if ((next - P).norm() < 1e-13 * P.norm()) {
      P = next;
      break;
    }
    P = next;
  }
  return -(R + B.transpose() * P * B).ldlt().solve(B.transpose() * P * A);
}

TEST(OcpQpUnconstrained, LongHorizonFirstGainIsTheStationaryLqrGain) {
  // Double integrator pair, dt = 0.05, terminal weight equal to the stage weight.
  const double dt = 0.05;
  Eigen::MatrixXd A = Eigen::MatrixXd::Identity(4, 4);
  A.topRightCorner(2, 2) = dt * Eigen::MatrixXd::Identity(2, 2);
  Eigen::MatrixXd B = Eigen::MatrixXd::Zero(4, 2);
  B.topRows(2) = 0.5 * dt * dt * Eigen::MatrixXd::Identity(2, 2);
  B.bottomRows(2) = dt * Eigen::MatrixXd::Identity(2, 2);
  const Eigen::MatrixXd Q = Eigen::Vector4d(10, 5, 1, 1).asDiagonal();
  const Eigen::MatrixXd R = Eigen::Vector2d(0.1, 0.3).asDiagonal();
  const int N = 400;
  std::vector<OcpQp> qp(N + 1);
  for (int k = 0; k <= N; ++k) {
    qp[k].Q = Q;
    if (k < N) {
      qp[k].A = A;
      qp[k].B = B;
      qp[k].R = R;
    }
  }
  std::vector<OcpQpSolution> sol;
  OcpQpIpmSolver solver(qp, tightSettings());
  const Eigen::VectorXd x0 = Eigen::Vector4d(1.0, -0.5, 0.2, 0.0);
  ASSERT_EQ(solver.solve(x0, qp, sol), SolverStatus::Success);
  const Eigen::MatrixXd K_lqr = stationaryLqrGain(A, B, Q, R);
  EXPECT_TRUE(sol[0].K.isApprox(K_lqr, 1e-8)) << sol[0].K << "\n\n" << K_lqr;
  EXPECT_TRUE(sol[0].k.isZero(1e-9)) << "no affine terms: zero feed-forward";
  // The optimal input at stage 0 is the LQR feedback of x0.
  EXPECT_TRUE(sol[0].u.isApprox(K_lqr * x0, 1e-8));
}

TEST(OcpQpUnconstrained, EmptyFieldsMeanZeros) {
  // Same problem once with explicit zero S, r, q, b and once with those fields empty.
  std::mt19937 rng(3);
  RandomShape shape = unconstrainedShape(5, 3, 2);
  shape.cross_terms = false;
  Eigen::VectorXd x0;
  std::vector<OcpQp> full = randomProblem(shape, rng, x0);
  std::vector<OcpQp> sparse = full;
  for (size_t k = 0; k < full.size(); ++k) {
    full[k].q.setZero();
    sparse[k].q.resize(0);
    if (k + 1 < full.size()) {
      full[k].S.setZero();
      full[k].r.setZero();
      full[k].b.setZero();
      sparse[k].S.resize(0, 0);
      sparse[k].r.resize(0);
      sparse[k].b.resize(0);
    }
  }
  std::vector<OcpQpSolution> sol_full, sol_sparse;
  OcpQpIpmSolver solver_full(full, tightSettings()), solver_sparse(sparse, tightSettings());
  ASSERT_EQ(solver_full.solve(x0, full, sol_full), SolverStatus::Success);
  ASSERT_EQ(solver_sparse.solve(x0, sparse, sol_sparse), SolverStatus::Success);
  for (size_t k = 0; k < full.size(); ++k) {
    EXPECT_TRUE(sol_full[k].x.isApprox(sol_sparse[k].x, 1e-12));
  }
}

}  // namespace
}  // namespace velmora::ocp_qp::test
