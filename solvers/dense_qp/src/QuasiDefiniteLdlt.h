#pragma once

// In-place LDL' factorisation without pivoting for symmetric quasi-definite matrices
// [K11 K21'; K21 -K22] with K11 and K22 positive definite, which have such a factorisation for
// every ordering. Only the lower triangle of the k x k block is read; it is overwritten by the
// strictly lower part of the unit lower-triangular L, and D is returned separately. Works on a
// corner of preallocated storage and does not allocate.

#include <algorithm>
#include <cmath>

#include <Eigen/Dense>

namespace velmora::dense_qp::internal {

/// Factorises the leading k x k block of `K`; `d` (size >= k) receives D and `scratch`
/// (size >= k) is workspace. Returns false on a zero or non-finite pivot.
///
/// With `factored` > 0 the leading factored x factored block must already hold the factor of
/// that block (from an earlier call, with D in d.head(factored)); rows factored..k-1 hold
/// original entries. Only those rows and the trailing columns are computed, which extends the
/// factorisation of a fixed leading block to new trailing rows.
inline bool quasiDefiniteLdlt(Eigen::MatrixXd& K, Eigen::Index k, Eigen::VectorXd& d,
                              Eigen::VectorXd& scratch, Eigen::Index factored = 0) {
  for (Eigen::Index j = 0; j < k; ++j) {
    // scratch(t) = L(j, t) d(t) for t < j.
    scratch.head(j) = K.row(j).head(j).transpose().cwiseProduct(d.head(j));
    if (j >= factored) {
      const double pivot = K(j, j) - K.row(j).head(j).dot(scratch.head(j));
      if (!(std::abs(pivot) > 0.0) || !std::isfinite(pivot)) return false;
      d[j] = pivot;
    }
    const Eigen::Index first = std::max(j + 1, factored);
    const Eigen::Index below = k - first;
    if (below > 0) {
      K.col(j).segment(first, below).noalias() -= K.block(first, 0, below, j) * scratch.head(j);
      K.col(j).segment(first, below) /= d[j];
    }
  }
  return true;
}

/// Solves (L D L') x = x in place with the factor from quasiDefiniteLdlt.
inline void quasiDefiniteLdltSolve(const Eigen::MatrixXd& K, Eigen::Index k,
                                   const Eigen::VectorXd& d, Eigen::Ref<Eigen::VectorXd> x) {
  const auto L = K.topLeftCorner(k, k).triangularView<Eigen::UnitLower>();
  L.solveInPlace(x);
  x.array() /= d.head(k).array();
  L.transpose().solveInPlace(x);
}

}  // namespace velmora::dense_qp::internal
