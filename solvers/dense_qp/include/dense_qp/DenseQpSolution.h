#pragma once

#include <Eigen/Dense>

#include "dense_qp/DenseQpStatus.h"

namespace velmora::dense_qp {

/// Diagnostics of one solve. Residuals are max-norms in the units of the original problem:
///  - equality_residual: ||A x - b||;
///  - inequality_violation: largest amount by which C x leaves [l, u];
///  - dual_residual: ||H x + g + A' y + C' z||;
///  - duality_gap: |primal objective - dual objective|, which for a feasible point with the
///    multiplier sign convention below equals |x'Hx + g'x + b'y + sum_i u_i max(z_i,0) +
///    l_i min(z_i,0)|.
struct DenseQpInfo {
  DenseQpStatus status = DenseQpStatus::kNotSolved;
  int iterations = 0;      ///< interior-point iterations
  bool polished = false;   ///< the returned point comes from active-set polishing
  int equality_rank = 0;   ///< rank of A found by the rank-revealing QR
  double objective = 0.0;  ///< 1/2 x'Hx + g'x
  double equality_residual = 0.0;
  double inequality_violation = 0.0;
  double dual_residual = 0.0;
  double duality_gap = 0.0;
};

/// Primal-dual solution of a DenseQp. The multipliers satisfy H x + g + A' y + C' z = 0 with
/// z_i >= 0 when the upper bound of row i is active, z_i <= 0 when its lower bound is active and
/// z_i = 0 when the row is inactive. After a failed solve the vectors hold the last finite
/// iterate (or zeros); they never contain NaN.
struct DenseQpSolution {
  Eigen::VectorXd x;  ///< n primal variables
  Eigen::VectorXd y;  ///< m_eq equality multipliers (zero on rows found dependent)
  Eigen::VectorXd z;  ///< m_in inequality multipliers
  DenseQpInfo info;
};

}  // namespace velmora::dense_qp
