#pragma once

// Elimination of the equality rows A x = b by variable reduction.
//
// Gaussian elimination with complete pivoting, P A Pi = L U (unit lower-triangular L,
// upper-trapezoidal U, row permutation P, column permutation Pi), reveals the rank r: the
// elimination stops when the largest remaining entry is at most rank_tolerance times the first
// pivot. The first r columns of A Pi are the basic variables x_B, the others the free variables
// x_N = y. With U = [U11 U12] (U11 r x r) and T = U11^-1 U12, every solution of A x = b is
//     x = x_p + Z y,   Z = Pi [-T; I],
// where x_p has x_N = 0 and L11 U11 x_B = (P b)(0:r). Rows of P A beyond r are dependent; the
// equalities are consistent when ||A x_p - b|| is within the tolerance. Complete pivoting keeps
// the entries of L and T of moderate size, so Z is well conditioned. Multipliers of the
// equalities solve A' lambda = v on the basic columns with zeros on the dependent rows:
// U11' L11' (P lambda)(0:r) = v_B, (P lambda)(r:m) = 0.

#include <Eigen/Dense>

namespace velmora::dense_qp::internal {

class NullSpaceElimination {
 public:
  void resize(Eigen::Index n, Eigen::Index m_eq);

  /// Factorises A and sets rank, T and x_p. Returns false when A x = b is inconsistent, i.e.
  /// ||A x_p - b|| > eps_abs + eps_rel * max(||b||, max_i sum_j |A_ij x_p,j|).
  bool compute(const Eigen::MatrixXd& A, const Eigen::VectorXd& b, double rank_tolerance,
               double eps_abs, double eps_rel);

  Eigen::Index rank() const { return rank_; }
  Eigen::Index nullity() const { return n_ - rank_; }
  const Eigen::VectorXd& particular() const { return x_p_; }
  /// ||A x_p - b|| of the last compute().
  double residual() const { return residual_; }

  /// out = M Z for a matrix M with n columns (out: M.rows() x nullity).
  void multiplyZ(const Eigen::MatrixXd& M, Eigen::MatrixXd& out);
  /// out = Z' M for a matrix M with n rows (out: nullity x M.cols()).
  void multiplyZTranspose(const Eigen::MatrixXd& M, Eigen::MatrixXd& out);
  /// out = Z' v.
  void multiplyZTranspose(const Eigen::VectorXd& v, Eigen::VectorXd& out);
  /// x = x_p + Z y.
  void expand(const Eigen::VectorXd& y, Eigen::VectorXd& x);
  /// Solution of A' lambda = v on the basic columns (zero on dependent rows).
  void multipliers(const Eigen::VectorXd& v, Eigen::VectorXd& lambda);

 private:
  /// Complete-pivoting elimination of LU_ in place; returns the rank.
  Eigen::Index eliminate(double rank_tolerance);

  /// m x n: L below the diagonal, U on and above. Row-major: the elimination sweeps rows of
  /// length n, much longer than the columns (m < n), so the inner loops are long and contiguous.
  Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor> LU_;
  Eigen::VectorXi row_order_;  ///< row i of P A is row row_order_[i] of A
  Eigen::VectorXi col_order_;  ///< column j of A Pi is column col_order_[j] of A
  Eigen::MatrixXd T_;          ///< r x (n - r)
  Eigen::MatrixXd gather_;     ///< workspace for gathered columns or rows
  Eigen::VectorXd x_p_, work_n_, work_m_, residual_vec_;
  Eigen::Index n_ = 0, m_ = 0, rank_ = 0;
  double residual_ = 0.0;
};

}  // namespace velmora::dense_qp::internal
