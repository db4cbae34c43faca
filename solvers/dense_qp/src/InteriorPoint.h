#pragma once

// Infeasible-start primal-dual interior point with Mehrotra's predictor-corrector for
//   minimise 1/2 y'Py + q'y  s.t.  G y - s_l = lo,  G y + s_u = hi,  s_l, s_u >= 0
// (ReducedQp; absent sides carry s = 1, z = 0 and are masked out of every formula).
//
// Residuals:  r_d = P y + q + G'(z_u - z_l),  r_l = G y - lo - s_l,  r_u = hi - G y - s_u,
// complementarity s_l o z_l and s_u o z_u with average mu. Eliminating slacks and multipliers
// from the Newton system leaves the normal equations
//   (P + G' W G) dy = -r_d - G' t,   W = z_l/s_l + z_u/s_u,
//   t = (rc_l + z_l o r_l)/s_l - (rc_u + z_u o r_u)/s_u,
// solved by a Cholesky factorisation of the matrix plus rho I, followed by iterative refinement
// with the unregularised matrix. Both directions of an iteration (predictor with rc = s o z,
// corrector with rc = s o z + ds_aff o dz_aff - sigma mu, sigma = (mu_aff / mu)^3) share the
// factorisation; primal and dual variables take one common step of 0.99 times the distance to
// the boundary.

#include <Eigen/Dense>

#include "ReducedQp.h"

namespace velmora::dense_qp::internal {

/// Residual norms of the current iterate and the magnitudes they are measured against.
struct IpmResiduals {
  double primal = 0.0, primal_scale = 0.0;  ///< max(|r_l|, |r_u|) vs |Gy|, |lo|, |hi|
  double dual = 0.0, dual_scale = 0.0;      ///< |r_d| vs |Py|, |q|, |G'z|
  double gap = 0.0, gap_scale = 0.0;        ///< s'z vs |y'Py|, |q'y|, |lo'z_l|, |hi'z_u|

  /// All three within eps_abs + eps_rel * scale.
  bool converged(double eps_abs, double eps_rel) const;
  /// Largest of residual / (1 + scale) over the three.
  double relativeError() const;
};

class InteriorPoint {
 public:
  void resize(Eigen::Index p, Eigen::Index m);

  /// Cold start from the regularised least-squares point. Returns false if P is not positive
  /// semidefinite (P + 1e-9 ||P|| I has no Cholesky factor) or P + G'G + rho I cannot be
  /// factorised.
  bool initialize(const ReducedQp& qp, double regularization);

  /// Residuals of the current iterate (also stored for step()).
  const IpmResiduals& evaluate(const ReducedQp& qp);

  enum class StepResult { kOk, kFactorizationFailed, kNonFinite };
  /// One predictor-corrector iteration from the last evaluated iterate.
  StepResult step(const ReducedQp& qp);
  double lastStepLength() const { return alpha_; }

  /// The iterate y has grown beyond 1e3 times the size the bounds suggest and the last search
  /// direction is a ray of unboundedness: ||P d|| <= 1e-12 ||P||, q'd < -eps ||q||, and G d
  /// keeps every bounded side feasible (d = dy / ||dy||, all within eps ||G||).
  bool isDualInfeasible(const ReducedQp& qp, double eps);
  /// The multipliers have grown beyond 1e3 times the size the cost suggests and, normalised,
  /// are a Farkas certificate: ||G'(z_u - z_l)|| <= eps ||G|| and lo'z_l - hi'z_u >
  /// eps max(1, ||bounds||).
  bool isPrimalInfeasible(const ReducedQp& qp, double eps);

  const Eigen::VectorXd& y() const { return y_; }
  const Eigen::ArrayXd& sLower() const { return sl_; }
  const Eigen::ArrayXd& sUpper() const { return su_; }
  const Eigen::ArrayXd& zLower() const { return zl_; }
  const Eigen::ArrayXd& zUpper() const { return zu_; }
  /// Slacks and multipliers before the last step (the start values before the first).
  const Eigen::ArrayXd& previousSLower() const { return sl_prev_; }
  const Eigen::ArrayXd& previousSUpper() const { return su_prev_; }
  const Eigen::ArrayXd& previousZLower() const { return zl_prev_; }
  const Eigen::ArrayXd& previousZUpper() const { return zu_prev_; }
  /// Row multipliers in the convention of DenseQpSolution (z_u - z_l).
  void rowMultipliers(Eigen::VectorXd& z) const;
  bool isFinite() const;

 private:
  /// Factorises N = P + G' W G (+ rho I); raises rho on failure up to a limit.
  bool factorize(const ReducedQp& qp, const Eigen::ArrayXd& w);
  /// Solves N dy = rhs with iterative refinement.
  void solveNormal(const Eigen::VectorXd& rhs, Eigen::VectorXd& dy);
  /// Search direction for complementarity residuals rc_l, rc_u.
  void direction(const ReducedQp& qp, const Eigen::ArrayXd& rc_l, const Eigen::ArrayXd& rc_u);
  /// Largest step in (0, 1] keeping s and z non-negative.
  double maxStep() const;

  Eigen::Index p_ = 0, m_ = 0;
  double num_sides_ = 0.0;
  double base_regularization_ = 0.0, regularization_ = 0.0;
  double alpha_ = 0.0, mu_ = 0.0;
  IpmResiduals residuals_;

  Eigen::VectorXd y_, dy_, Gy_, Gdy_, rd_, rhs_, refine_, t_vec_, z_row_;
  Eigen::ArrayXd sl_, su_, zl_, zu_, rl_, ru_;
  Eigen::ArrayXd sl_prev_, su_prev_, zl_prev_, zu_prev_;
  Eigen::ArrayXd dsl_, dsu_, dzl_, dzu_, dsl_aff_, dsu_aff_, dzl_aff_, dzu_aff_;
  Eigen::ArrayXd w_, rcl_, rcu_, t_;
  Eigen::MatrixXd N_, L_, GW_;  ///< normal matrix, its Cholesky factor, sqrt(W) G
};

}  // namespace velmora::dense_qp::internal
