// The building blocks of the dense QP solver, each against an independent computation:
// power-of-two equilibration, variable-reduction elimination, the in-place factorisations.

#include <cmath>
#include <limits>
#include <random>

#include <gtest/gtest.h>

#include "DenseCholesky.h"
#include "DenseQpTestSupport.h"
#include "Equilibration.h"
#include "NullSpaceElimination.h"
#include "QuasiDefiniteLdlt.h"

namespace velmora::dense_qp::internal {
namespace {

using test::gaussianMatrix;

TEST(Equilibration, FactorsArePowersOfTwoNearTheInverseSquareRoot) {
  for (double norm = 1e-30; norm < 1e30; norm *= 3.7) {
    const double f = inverseSqrtPowerOfTwo(norm);
    int exponent = 0;
    EXPECT_EQ(std::frexp(f, &exponent), 0.5) << norm;  // exactly a power of two
    if (norm >= std::ldexp(1.0, -40) && norm < std::ldexp(1.0, 40)) {
      const double scaled = f * f * norm;
      EXPECT_GE(scaled, 0.5) << norm;
      EXPECT_LT(scaled, 2.0) << norm;
    } else {
      // One call moves a norm by at most 2^40 (the next sweep continues).
      EXPECT_EQ(f, norm < 1.0 ? std::ldexp(1.0, 20) : std::ldexp(1.0, -20)) << norm;
    }
  }
  EXPECT_EQ(inverseSqrtPowerOfTwo(0.0), 1.0);
  EXPECT_EQ(inverseSqrtPowerOfTwo(-4.0), 1.0);
  EXPECT_EQ(inverseSqrtPowerOfTwo(std::numeric_limits<double>::infinity()), 1.0);
  EXPECT_EQ(inverseSqrtPowerOfTwo(std::numeric_limits<double>::quiet_NaN()), 1.0);
  EXPECT_EQ(inverseSqrtPowerOfTwo(std::numeric_limits<double>::denorm_min()), 1.0);
}

TEST(Equilibration, ScalesExactlyAndBalancesTheKktMatrix) {
  std::mt19937 rng(5);
  test::RandomQpOptions o;
  o.n = 12;
  o.m_eq = 4;
  o.eq_rank = 4;
  o.m_in = 9;
  DenseQp qp = test::makeKnownOptimum(rng, o).qp;
  // Wildly scaled rows and columns.
  for (int j = 0; j < o.n; ++j) {
    const double s = std::pow(10.0, (j % 7) - 3);
    qp.H.col(j) *= s;
    qp.H.row(j) *= s;
    qp.A.col(j) *= s;
    qp.C.col(j) *= s;
  }
  qp.C.row(2) *= 1e5;
  qp.A.row(1) *= 1e-4;
  qp.l[3] = -std::numeric_limits<double>::infinity();
  const DenseQp original = qp;

  Equilibration e;
  e.resize(o.n, o.m_eq, o.m_in);
  e.apply(qp, 50);
  const Eigen::VectorXd& D = e.D();
  const double c = e.costScale();
  // Exact: every scaled entry equals the formula, bit for bit.
  for (int j = 0; j < o.n; ++j) {
    for (int i = 0; i < o.n; ++i) EXPECT_EQ(qp.H(i, j), c * D[i] * original.H(i, j) * D[j]);
    for (int i = 0; i < o.m_eq; ++i) EXPECT_EQ(qp.A(i, j), e.E()[i] * original.A(i, j) * D[j]);
    for (int i = 0; i < o.m_in; ++i) EXPECT_EQ(qp.C(i, j), e.F()[i] * original.C(i, j) * D[j]);
    EXPECT_EQ(qp.g[j], c * D[j] * original.g[j]);
  }
  EXPECT_EQ(qp.l[3], -std::numeric_limits<double>::infinity());
  // Balanced: every column of [H/c; A; C] and every row of A and C has max-norm in [0.5, 2).
  for (int j = 0; j < o.n; ++j) {
    const double norm =
        std::max({(qp.H.col(j) / c).cwiseAbs().maxCoeff(), qp.A.col(j).cwiseAbs().maxCoeff(),
                  qp.C.col(j).cwiseAbs().maxCoeff()});
    EXPECT_GE(norm, 0.5);
    EXPECT_LT(norm, 2.0);
  }
  for (int i = 0; i < o.m_eq; ++i) EXPECT_GE(qp.A.row(i).cwiseAbs().maxCoeff(), 0.5);
  for (int i = 0; i < o.m_in; ++i) EXPECT_LT(qp.C.row(i).cwiseAbs().maxCoeff(), 2.0);
}

TEST(NullSpaceElimination, ParametrisesTheSolutionSetOfConsistentEqualities) {
  for (int seed = 0; seed < 20; ++seed) {
    std::mt19937 rng(40 + seed);
    const int n = 15, rank = 3 + seed % 6, m = rank + seed % 4;
    Eigen::MatrixXd T = gaussianMatrix(rng, m, rank);
    T.topRows(rank).setIdentity();
    const Eigen::MatrixXd A = T * gaussianMatrix(rng, rank, n);
    const Eigen::VectorXd b = A * gaussianMatrix(rng, n, 1);

    NullSpaceElimination e;
    e.resize(n, m);
    ASSERT_TRUE(e.compute(A, b, 1e-11, 1e-10, 1e-10)) << seed;
    EXPECT_EQ(e.rank(), rank);
    EXPECT_LE((A * e.particular() - b).cwiseAbs().maxCoeff(), 1e-10);
    // A Z = 0 and Z has full column rank n - r.
    Eigen::MatrixXd AZ, Z;
    e.multiplyZ(A, AZ);
    EXPECT_LE(AZ.cwiseAbs().maxCoeff(), 1e-10);
    e.multiplyZ(Eigen::MatrixXd::Identity(n, n), Z);
    EXPECT_EQ(Z.cols(), n - rank);
    EXPECT_EQ(Z.colPivHouseholderQr().rank(), n - rank);
    // Z' products and expand() agree with Z.
    const Eigen::VectorXd v = gaussianMatrix(rng, n, 1);
    Eigen::VectorXd Ztv;
    e.multiplyZTranspose(v, Ztv);
    EXPECT_LE((Ztv - Z.transpose() * v).cwiseAbs().maxCoeff(), 1e-12);
    const Eigen::VectorXd y = gaussianMatrix(rng, n - rank, 1);
    Eigen::VectorXd x;
    e.expand(y, x);
    EXPECT_LE((x - e.particular() - Z * y).cwiseAbs().maxCoeff(), 1e-12);
    // Multipliers: A'lambda = v for v in the range of A'.
    const Eigen::VectorXd lambda_true = gaussianMatrix(rng, m, 1);
    const Eigen::VectorXd w = A.transpose() * lambda_true;
    Eigen::VectorXd lambda;
    e.multipliers(w, lambda);
    EXPECT_LE((A.transpose() * lambda - w).cwiseAbs().maxCoeff(), 1e-9);
  }
}

TEST(NullSpaceElimination, HandlesNoFreeAndNoBasicVariables) {
  std::mt19937 rng(5);
  // Full rank n (square, then with more rows than columns): a single point, empty null space.
  for (const int m : {6, 9}) {
    const Eigen::MatrixXd A = gaussianMatrix(rng, m, 6);
    const Eigen::VectorXd x_true = gaussianMatrix(rng, 6, 1);
    NullSpaceElimination e;
    e.resize(6, m);
    ASSERT_TRUE(e.compute(A, A * x_true, 1e-11, 1e-10, 1e-10)) << m;
    EXPECT_EQ(e.nullity(), 0);
    EXPECT_LE((e.particular() - x_true).cwiseAbs().maxCoeff(), 1e-10) << m;
    Eigen::MatrixXd Z;
    e.multiplyZ(Eigen::MatrixXd::Identity(6, 6), Z);
    EXPECT_EQ(Z.cols(), 0);
    Eigen::VectorXd x;
    e.expand(Eigen::VectorXd(0), x);
    EXPECT_LE((x - x_true).cwiseAbs().maxCoeff(), 1e-10) << m;
  }
  // Rank 0 (all-zero rows): every x solves 0 x = 0, nothing solves 0 x = 1.
  const Eigen::MatrixXd zero = Eigen::MatrixXd::Zero(2, 5);
  NullSpaceElimination e;
  e.resize(5, 2);
  ASSERT_TRUE(e.compute(zero, Eigen::VectorXd::Zero(2), 1e-11, 1e-10, 1e-10));
  EXPECT_EQ(e.rank(), 0);
  EXPECT_EQ(e.nullity(), 5);
  EXPECT_EQ(e.particular(), Eigen::VectorXd::Zero(5));
  EXPECT_FALSE(e.compute(zero, Eigen::VectorXd::Ones(2), 1e-11, 1e-10, 1e-10));
}

TEST(NullSpaceElimination, DetectsInconsistentRightHandSides) {
  std::mt19937 rng(3);
  const Eigen::MatrixXd A0 = gaussianMatrix(rng, 3, 8);
  Eigen::MatrixXd A(4, 8);
  A << A0, A0.row(0) + A0.row(1);
  Eigen::VectorXd b = A * gaussianMatrix(rng, 8, 1);
  NullSpaceElimination e;
  e.resize(8, 4);
  EXPECT_TRUE(e.compute(A, b, 1e-11, 1e-10, 1e-10));
  b[3] += 1e-6;
  EXPECT_FALSE(e.compute(A, b, 1e-11, 1e-10, 1e-10));
  EXPECT_NEAR(e.residual(), 1e-6 / 3.0, 1e-6);  // spread over the dependent rows
}

TEST(DenseFactorisations, CholeskyMatchesTheReferenceAndRejectsIndefiniteMatrices) {
  std::mt19937 rng(8);
  const int k = 11;
  const Eigen::MatrixXd B = gaussianMatrix(rng, k, k);
  const Eigen::MatrixXd S = B * B.transpose() + 0.1 * Eigen::MatrixXd::Identity(k, k);
  Eigen::MatrixXd storage = Eigen::MatrixXd::Constant(k + 4, k + 4, 7.0);  // larger storage
  storage.topLeftCorner(k, k) = S;
  ASSERT_TRUE(choleskyInPlace(storage, k));
  const Eigen::VectorXd rhs = gaussianMatrix(rng, k, 1);
  Eigen::VectorXd x = rhs;
  choleskySolveInPlace(storage, k, x);
  EXPECT_LE((S * x - rhs).cwiseAbs().maxCoeff(), 1e-10);
  Eigen::MatrixXd indefinite = S;
  indefinite(3, 3) = -1.0;
  EXPECT_FALSE(choleskyInPlace(indefinite, k));
}

TEST(DenseFactorisations, QuasiDefiniteLdltSolvesKktSystems) {
  std::mt19937 rng(9);
  const int p = 9, k = 5, size = p + k;
  const Eigen::MatrixXd B = gaussianMatrix(rng, p, p);
  Eigen::MatrixXd K = Eigen::MatrixXd::Zero(size, size);
  K.topLeftCorner(p, p) = B * B.transpose() + 1e-3 * Eigen::MatrixXd::Identity(p, p);
  const Eigen::MatrixXd G = gaussianMatrix(rng, k, p);
  K.bottomLeftCorner(k, p) = G;
  K.topRightCorner(p, k) = G.transpose();
  K.bottomRightCorner(k, k) = -1e-6 * Eigen::MatrixXd::Identity(k, k);
  Eigen::MatrixXd factor = Eigen::MatrixXd::Zero(size + 3, size + 3);
  factor.topLeftCorner(size, size) = K;
  factor.topRightCorner(3, 3).setConstant(1e300);  // outside the block: must not be read
  Eigen::VectorXd d(size + 3), scratch(size + 3);
  ASSERT_TRUE(quasiDefiniteLdlt(factor, size, d, scratch));
  const Eigen::VectorXd rhs = gaussianMatrix(rng, size, 1);
  Eigen::VectorXd x = rhs;
  quasiDefiniteLdltSolve(factor, size, d, x);
  EXPECT_LE((K * x - rhs).cwiseAbs().maxCoeff(), 1e-8);
  // Inertia: p positive and k negative pivots.
  EXPECT_EQ((d.head(size).array() > 0).count(), p);
  EXPECT_EQ((d.head(size).array() < 0).count(), k);
}

TEST(DenseFactorisations, QuasiDefiniteLdltExtendsAFactoredLeadingBlock) {
  std::mt19937 rng(10);
  const int p = 8, size = p + 6;
  const Eigen::MatrixXd B = gaussianMatrix(rng, p, p);
  const Eigen::MatrixXd P = B * B.transpose() + 1e-3 * Eigen::MatrixXd::Identity(p, p);
  Eigen::MatrixXd factor = Eigen::MatrixXd::Zero(size, size);
  Eigen::VectorXd d(size), scratch(size);
  factor.topLeftCorner(p, p) = P;
  ASSERT_TRUE(quasiDefiniteLdlt(factor, p, d, scratch));
  // Two different sets of trailing rows on the same factored leading block, each checked
  // against a factorisation of the whole matrix from scratch.
  for (int k : {4, 6}) {
    const int n = p + k;
    Eigen::MatrixXd K = Eigen::MatrixXd::Zero(n, n);
    K.topLeftCorner(p, p) = P;
    const Eigen::MatrixXd G = gaussianMatrix(rng, k, p);
    K.bottomLeftCorner(k, p) = G;
    K.topRightCorner(p, k) = G.transpose();
    K.bottomRightCorner(k, k) = -1e-6 * Eigen::MatrixXd::Identity(k, k);
    factor.block(p, 0, k, p) = G;
    factor.block(p, p, k, k) = K.bottomRightCorner(k, k);
    ASSERT_TRUE(quasiDefiniteLdlt(factor, n, d, scratch, p));
    Eigen::MatrixXd full = K;
    Eigen::VectorXd d_full(n), scratch_full(n);
    ASSERT_TRUE(quasiDefiniteLdlt(full, n, d_full, scratch_full));
    EXPECT_LE((d.head(n) - d_full).cwiseAbs().maxCoeff(), 1e-9 * d_full.cwiseAbs().maxCoeff());
    const Eigen::MatrixXd L_ext = factor.topLeftCorner(n, n).triangularView<Eigen::StrictlyLower>();
    const Eigen::MatrixXd L_full = full.triangularView<Eigen::StrictlyLower>();
    EXPECT_LE((L_ext - L_full).cwiseAbs().maxCoeff(),
              1e-9 * std::max(1.0, L_full.cwiseAbs().maxCoeff()));
    const Eigen::VectorXd rhs = gaussianMatrix(rng, n, 1);
    Eigen::VectorXd x = rhs;
    quasiDefiniteLdltSolve(factor, n, d, x);
    EXPECT_LE((K * x - rhs).cwiseAbs().maxCoeff(), 1e-8);
  }
}

}  // namespace
}  // namespace velmora::dense_qp::internal
