#pragma once

// The inequality-only problem left after eliminating the equalities.
//
// With x = x_p + Z y (NullSpaceElimination), the scaled problem becomes
//   minimise 1/2 y' P y + q' y  s.t.  lo_i <= G_i y <= hi_i  for the kept rows i,
// where P = Z'HZ, q = Z'(H x_p + g), G = C Z, lo = l - C x_p, hi = u - C x_p. A row keeps only
// its finite sides (has_lo / has_hi are 1 or 0, absent sides store 0). Rows without finite
// sides are dropped, and so are rows with G_i = 0 (C_i lies in the row space of A) after their
// constant value C_i x_p has been checked against the bounds.

#include <Eigen/Dense>

#include "NullSpaceElimination.h"
#include "dense_qp/DenseQp.h"

namespace velmora::dense_qp::internal {

struct ReducedQp {
  Eigen::Index p = 0;  ///< reduced variables (n - rank A)
  Eigen::Index m = 0;  ///< kept inequality rows
  Eigen::MatrixXd P;
  Eigen::VectorXd q;
  Eigen::MatrixXd G;
  Eigen::VectorXd lo, hi;
  Eigen::ArrayXd has_lo, has_hi;
  Eigen::VectorXi source_row;  ///< original inequality row of each kept row
  double P_norm = 0.0;         ///< largest |P_ij|
  double G_norm = 0.0;         ///< largest |G_ij|
  double bound_norm = 0.0;     ///< largest finite |lo_i|, |hi_i|

  // Building workspace.
  Eigen::MatrixXd HZ, CZ;
  Eigen::VectorXd Hx_g, Cx, row_norm;
};

/// Builds `reduced` from the scaled problem and its null-space elimination. Returns false if a
/// dropped constant row violates its bounds by more than
/// eps_abs + eps_rel * max(|bound|, |C_i x_p|).
bool buildReducedQp(const DenseQp& scaled, NullSpaceElimination& elimination, double eps_abs,
                    double eps_rel, ReducedQp& reduced);

}  // namespace velmora::dense_qp::internal
