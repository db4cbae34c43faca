#pragma once

// In-place Cholesky factorisation A = L L' of the leading k x k block of preallocated storage,
// reading and overwriting only the lower triangle. Left-looking by columns; no allocation.

#include <cmath>

#include <Eigen/Dense>

namespace velmora::dense_qp::internal {

/// Factorises the lower triangle of A(0:k, 0:k) in place. Returns false on a non-positive or
/// non-finite pivot (A not numerically positive definite).
inline bool choleskyInPlace(Eigen::MatrixXd& A, Eigen::Index k) {
  for (Eigen::Index j = 0; j < k; ++j) {
    // A(j:k, j) -= L(j:k, 0:j) L(j, 0:j)'
    if (j > 0) {
      A.col(j).segment(j, k - j).noalias() -=
          A.block(j, 0, k - j, j) * A.row(j).head(j).transpose();
    }
    const double pivot = A(j, j);
    if (!(pivot > 0.0) || !std::isfinite(pivot)) return false;
    const double l_jj = std::sqrt(pivot);
    A(j, j) = l_jj;
    A.col(j).segment(j + 1, k - j - 1) /= l_jj;
  }
  return true;
}

/// Solves L L' x = x in place with the factor from choleskyInPlace.
inline void choleskySolveInPlace(const Eigen::MatrixXd& L, Eigen::Index k,
                                 Eigen::Ref<Eigen::VectorXd> x) {
  const auto lower = L.topLeftCorner(k, k).triangularView<Eigen::Lower>();
  lower.solveInPlace(x);
  lower.transpose().solveInPlace(x);
}

}  // namespace velmora::dense_qp::internal
