#pragma once

// Data of a dense convex quadratic programme.

#include <Eigen/Dense>

namespace velmora::dense_qp {

/// A dense convex quadratic programme
///
///     minimise    1/2 x' H x + g' x
///     subject to  A x = b,
///                 l <= C x <= u,
///
/// with n variables, m_eq equality rows and m_in two-sided inequality rows.
///
/// Conventions:
///  - H is symmetric positive semidefinite (only its symmetric part (H + H')/2 is used);
///  - equality rows may be linearly dependent as long as they are consistent;
///  - a lower bound <= -1e16 (or -inf) is absent, and so is an upper bound >= +1e16 (or +inf);
///    a lower bound >= +1e16 or an upper bound <= -1e16 can never be met (infeasible);
///  - the threshold 1e16 is DenseQpSettings::infinite_bound.
struct DenseQp {
  Eigen::MatrixXd H;  ///< n x n Hessian
  Eigen::VectorXd g;  ///< n linear cost terms
  Eigen::MatrixXd A;  ///< m_eq x n equality matrix
  Eigen::VectorXd b;  ///< m_eq right-hand sides
  Eigen::MatrixXd C;  ///< m_in x n inequality matrix
  Eigen::VectorXd l;  ///< m_in lower bounds
  Eigen::VectorXd u;  ///< m_in upper bounds

  DenseQp() = default;

  /// A problem of the given sizes with all data zero and all bounds absent.
  DenseQp(Eigen::Index n, Eigen::Index m_eq, Eigen::Index m_in);

  Eigen::Index numVariables() const { return H.rows(); }
  Eigen::Index numEqualities() const { return A.rows(); }
  Eigen::Index numInequalities() const { return C.rows(); }

  /// Throws std::invalid_argument naming the first field whose size does not match n = H.rows(),
  /// m_eq = A.rows() and m_in = C.rows().
  void checkSizes() const;
};

}  // namespace velmora::dense_qp
