#pragma once

// Active-set polishing of an interior-point iterate of the ReducedQp.
//
// Rows whose multiplier exceeds their slack are taken as active at that side (t_i = lo_i or
// hi_i); the equality-constrained problem min 1/2 y'Py + q'y s.t. G_A y = t_A has the KKT system
//   [P  G_A'] [y    ]   [-q ]
//   [G_A  0 ] [zeta ] = [t_A],
// whose multipliers zeta follow the row convention (z_u - z_l). It is factorised with a
// regularisation (rho on the first block, -delta on the second, which makes it quasi-definite)
// and solved with iterative refinement against the unregularised matrix. Rows with tiny
// multipliers (directions of tiny curvature) can be misclassified by the slack test, so the
// guess is corrected like a primal active-set method would: the most violated inactive row is
// added, or else the active row with the most wrongly signed multiplier is dropped, and the
// system is solved again, a few times at most. The polished point is accepted only if the KKT
// residual is within tolerance, every row is within its bounds and every active multiplier has
// the sign of its side.

#include <Eigen/Dense>

#include "InteriorPoint.h"
#include "ReducedQp.h"

namespace velmora::dense_qp::internal {

class ActiveSetPolish {
 public:
  void resize(Eigen::Index p, Eigen::Index m);

  /// Polishes the iterate of `ipm`; on success `y` and `z_row` (size m) hold the polished
  /// point and true is returned.
  bool run(const ReducedQp& qp, const InteriorPoint& ipm, double eps_abs, double eps_rel,
           double regularization, Eigen::VectorXd& y, Eigen::VectorXd& z_row);

 private:
  /// Factorises and solves the KKT system of the rows with side_ != 0 into sol_.
  bool solveActiveSet(const ReducedQp& qp, double regularization);
  /// K0 v for the unregularised KKT matrix of the current active set, into out.
  void multiplyKkt(const ReducedQp& qp, const Eigen::VectorXd& v, Eigen::VectorXd& out);

  Eigen::Index p_ = 0, m_ = 0, k_ = 0;
  bool p_block_factored_ = false;  ///< K_ holds the factor of P + rho I (this run)
  Eigen::VectorXi side_;           ///< per row: +1 upper active, -1 lower active, 0 inactive
  Eigen::VectorXi active_row_;     ///< row of each active constraint (first k_ used)
  Eigen::MatrixXd K_;              ///< factor storage, (p + m) square
  Eigen::MatrixXd GA_;             ///< active rows of G, m x p (first k_ used)
  Eigen::VectorXd d_, scratch_, rhs_, sol_, res_, corr_, work_p_, Gy_;
};

}  // namespace velmora::dense_qp::internal
