#pragma once

// Ruiz equilibration of a dense QP with power-of-two factors.
//
// The scaled problem in x~ = D^-1 x is
//   minimise 1/2 x~' (c D H D) x~ + (c D g)' x~  s.t.  (E A D) x~ = E b,  F l <= (F C D) x~ <= F u,
// with positive diagonal D (variables), E (equality rows), F (inequality rows) and a cost factor
// c. Its multipliers relate to the original ones by y = E y~ / c and z = F z~ / c. Each sweep
// divides every row and column of the KKT matrix [cDHD, DA'E, DC'F; EAD, 0, 0; FCD, 0, 0] by the
// square root of its max-norm, rounded to a power of two so that scaling is exact.

#include "dense_qp/DenseQp.h"

namespace velmora::dense_qp::internal {

class Equilibration {
 public:
  void resize(Eigen::Index n, Eigen::Index m_eq, Eigen::Index m_in);

  /// Scales `qp` in place (H must already be symmetric). Infinite bounds stay infinite.
  void apply(DenseQp& qp, int max_sweeps);

  const Eigen::VectorXd& D() const { return D_; }
  const Eigen::VectorXd& E() const { return E_; }
  const Eigen::VectorXd& F() const { return F_; }
  double costScale() const { return cost_scale_; }

 private:
  /// Applies the current factors (if `apply`) and measures the column and row max-norms of
  /// the KKT matrix, in one pass over the columns.
  void scaleAndMeasure(DenseQp& qp, bool apply);
  /// Factors from the norms; false when all are 1 (converged).
  bool computeFactors();

  Eigen::VectorXd D_, E_, F_;
  Eigen::VectorXd col_norm_, h_norm_, eq_norm_, in_norm_;
  Eigen::VectorXd col_factor_, eq_factor_, in_factor_;
  double cost_scale_ = 1.0;
};

/// The power of two closest to 1/sqrt(norm) (within a factor sqrt(2)); 1 for a zero or
/// non-finite norm. The exponent is limited to +-20 per call.
double inverseSqrtPowerOfTwo(double norm);

}  // namespace velmora::dense_qp::internal
