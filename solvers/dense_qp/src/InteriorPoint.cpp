#include "InteriorPoint.h"

#include "DenseCholesky.h"
#include "MaxAbs.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace velmora::dense_qp::internal {

namespace {

constexpr double kStepFraction = 0.99;       // fraction of the distance to the boundary
constexpr double kMaxRegularization = 1e-4;  // relative to max(1, ||P||)
constexpr double kStartFloor = 1e-2;         // smallest initial slack / multiplier
constexpr int kRefinementSteps = 1;
constexpr double kConvexityTolerance = 1e-9;  // relative negative curvature treated as rounding
constexpr double kDivergence = 1e3;       // iterate size (relative to the data) that may diverge
constexpr double kFlatCurvature = 1e-12;  // |P d| / (|P| |d|) of a direction of no curvature

}  // namespace

bool IpmResiduals::converged(double eps_abs, double eps_rel) const {
  return primal <= eps_abs + eps_rel * primal_scale && dual <= eps_abs + eps_rel * dual_scale &&
         gap <= eps_abs + eps_rel * gap_scale;
}

double IpmResiduals::relativeError() const {
  return std::max(
      {primal / (1.0 + primal_scale), dual / (1.0 + dual_scale), gap / (1.0 + gap_scale)});
}

void InteriorPoint::resize(Eigen::Index p, Eigen::Index m) {
  p_ = p;
  m_ = m;
  for (Eigen::VectorXd* v : {&y_, &dy_, &rd_, &rhs_, &refine_}) v->resize(p);
  for (Eigen::VectorXd* v : {&Gy_, &Gdy_, &t_vec_, &z_row_}) v->resize(m);
  for (Eigen::ArrayXd* a : {&sl_,      &su_,      &zl_,  &zu_,  &rl_,  &ru_,  &sl_prev_, &su_prev_,
                            &zl_prev_, &zu_prev_, &dsl_, &dsu_, &dzl_, &dzu_, &dsl_aff_, &dsu_aff_,
                            &dzl_aff_, &dzu_aff_, &w_,   &rcl_, &rcu_, &t_})
    a->resize(m);
  N_.resize(p, p);
  L_.resize(p, p);
  GW_.resize(m, p);
}

bool InteriorPoint::factorize(const ReducedQp& qp, const Eigen::ArrayXd& w) {
  N_ = qp.P;
  if (m_ > 0) {
    GW_.noalias() = w.sqrt().matrix().asDiagonal() * qp.G;
    // Lower triangle of G'WG column by column: dot products of contiguous columns of GW_ (for
    // these sizes faster than a blocked rank update, which packs its operands first).
    for (Eigen::Index j = 0; j < p_; ++j) {
      const auto gw_j = GW_.col(j);
      for (Eigen::Index i = j; i < p_; ++i) N_(i, j) += GW_.col(i).dot(gw_j);
    }
  }
  const double limit = kMaxRegularization * std::max(1.0, qp.P_norm);
  for (regularization_ = base_regularization_; regularization_ <= limit; regularization_ *= 100.0) {
    L_.triangularView<Eigen::Lower>() = N_;
    L_.diagonal().array() += regularization_;
    if (choleskyInPlace(L_, p_)) return true;
  }
  return false;
}

void InteriorPoint::solveNormal(const Eigen::VectorXd& rhs, Eigen::VectorXd& dy) {
  dy = rhs;
  choleskySolveInPlace(L_, p_, dy);
  // The base regularisation only perturbs the Newton step slightly (polishing restores full
  // accuracy); a raised one is corrected by refinement.
  if (regularization_ <= base_regularization_) return;
  for (int k = 0; k < kRefinementSteps; ++k) {
    refine_ = rhs;
    refine_.noalias() -= N_.selfadjointView<Eigen::Lower>() * dy;
    choleskySolveInPlace(L_, p_, refine_);
    dy += refine_;
  }
}

bool InteriorPoint::initialize(const ReducedQp& qp, double regularization) {
  base_regularization_ = regularization;
  num_sides_ = qp.has_lo.sum() + qp.has_hi.sum();
  if (p_ == 0) return true;
  if (qp.P_norm > 0.0) {
    // Convexity: P + tol I must be positive definite.
    L_.triangularView<Eigen::Lower>() = qp.P;
    L_.diagonal().array() += kConvexityTolerance * qp.P_norm;
    if (!choleskyInPlace(L_, p_)) return false;
  }

  // Targets inside the bounds: the finite side, or the point of [lo, hi] closest to zero.
  for (Eigen::Index i = 0; i < m_; ++i) {
    if (qp.has_lo[i] > 0.0 && qp.has_hi[i] > 0.0) {
      t_[i] = std::clamp(0.0, qp.lo[i], std::max(qp.lo[i], qp.hi[i]));
    } else {
      t_[i] = qp.has_lo[i] > 0.0 ? qp.lo[i] : qp.hi[i];
    }
  }
  w_.setOnes();
  if (!factorize(qp, w_)) return false;
  rhs_ = -qp.q;
  if (m_ > 0) rhs_.noalias() += qp.G.transpose() * t_.matrix();
  solveNormal(rhs_, y_);
  if (m_ == 0) return true;

  Gy_.noalias() = qp.G * y_;
  const auto gy = Gy_.array();
  sl_ = qp.has_lo * (gy - qp.lo.array()) + (1.0 - qp.has_lo);
  su_ = qp.has_hi * (qp.hi.array() - gy) + (1.0 - qp.has_hi);
  zu_ = qp.has_hi * (gy - t_).max(0.0);
  zl_ = qp.has_lo * (t_ - gy).max(0.0);

  // Mehrotra's shifts: make the slacks positive, then balance the products s o z.
  constexpr double kInf = std::numeric_limits<double>::infinity();
  const double min_s = std::min((qp.has_lo > 0.0).select(sl_, kInf).minCoeff(),
                                (qp.has_hi > 0.0).select(su_, kInf).minCoeff());
  const double shift = std::max(-1.5 * min_s, 0.0);
  sl_ += qp.has_lo * shift;
  su_ += qp.has_hi * shift;
  const double product = (sl_ * zl_).sum() + (su_ * zu_).sum();
  const double sum_s = (qp.has_lo * sl_).sum() + (qp.has_hi * su_).sum();
  const double sum_z = zl_.sum() + zu_.sum();
  if (product > 0.0 && sum_z > 0.0 && sum_s > 0.0) {
    sl_ += qp.has_lo * (0.5 * product / sum_z);
    su_ += qp.has_hi * (0.5 * product / sum_z);
    zl_ += qp.has_lo * (0.5 * product / sum_s);
    zu_ += qp.has_hi * (0.5 * product / sum_s);
  }
  sl_ = qp.has_lo * sl_.max(kStartFloor) + (1.0 - qp.has_lo);
  su_ = qp.has_hi * su_.max(kStartFloor) + (1.0 - qp.has_hi);
  zl_ = qp.has_lo * zl_.max(kStartFloor);
  zu_ = qp.has_hi * zu_.max(kStartFloor);
  sl_prev_ = sl_;
  su_prev_ = su_;
  zl_prev_ = zl_;
  zu_prev_ = zu_;
  return true;
}

const IpmResiduals& InteriorPoint::evaluate(const ReducedQp& qp) {
  IpmResiduals& r = residuals_;
  if (p_ == 0) {
    r = IpmResiduals();
    return r;
  }
  // Py + q + G'z, keeping the terms' sizes for the relative test.
  rd_.noalias() = qp.P * y_;
  const double y_P_y = y_.dot(rd_);
  r.dual_scale = std::max(maxAbs(rd_), maxAbs(qp.q));
  rd_ += qp.q;
  r.gap_scale = std::max(std::abs(y_P_y), std::abs(qp.q.dot(y_)));
  if (m_ > 0) {
    z_row_ = (zu_ - zl_).matrix();
    refine_.noalias() = qp.G.transpose() * z_row_;
    r.dual_scale = std::max(r.dual_scale, maxAbs(refine_));
    rd_ += refine_;

    Gy_.noalias() = qp.G * y_;
    const auto gy = Gy_.array();
    rl_ = qp.has_lo * (gy - qp.lo.array() - sl_);
    ru_ = qp.has_hi * (qp.hi.array() - gy - su_);
    r.primal = std::max(rl_.abs().maxCoeff(), ru_.abs().maxCoeff());
    r.primal_scale = std::max(maxAbs(Gy_), qp.bound_norm);
    r.gap = (sl_ * zl_).sum() + (su_ * zu_).sum();
    r.gap_scale = std::max({r.gap_scale, std::abs((qp.lo.array() * zl_).sum()),
                            std::abs((qp.hi.array() * zu_).sum())});
  } else {
    r.primal = r.primal_scale = r.gap = 0.0;
  }
  r.dual = maxAbs(rd_);
  mu_ = num_sides_ > 0.0 ? r.gap / num_sides_ : 0.0;
  return r;
}

void InteriorPoint::direction(const ReducedQp& qp, const Eigen::ArrayXd& rc_l,
                              const Eigen::ArrayXd& rc_u) {
  rhs_ = -rd_;
  if (m_ > 0) {
    t_ = qp.has_lo * (rc_l + zl_ * rl_) / sl_ - qp.has_hi * (rc_u + zu_ * ru_) / su_;
    rhs_.noalias() -= qp.G.transpose() * t_.matrix();
  }
  solveNormal(rhs_, dy_);
  if (m_ == 0) return;
  Gdy_.noalias() = qp.G * dy_;
  const auto gdy = Gdy_.array();
  dsl_ = qp.has_lo * (gdy + rl_);
  dsu_ = qp.has_hi * (ru_ - gdy);
  dzl_ = -qp.has_lo * (rc_l + zl_ * dsl_) / sl_;
  dzu_ = -qp.has_hi * (rc_u + zu_ * dsu_) / su_;
}

double InteriorPoint::maxStep() const {
  if (m_ == 0) return 1.0;
  constexpr double kInf = std::numeric_limits<double>::infinity();
  const double a = std::min({(dsl_ < 0.0).select(-sl_ / dsl_, kInf).minCoeff(),
                             (dsu_ < 0.0).select(-su_ / dsu_, kInf).minCoeff(),
                             (dzl_ < 0.0).select(-zl_ / dzl_, kInf).minCoeff(),
                             (dzu_ < 0.0).select(-zu_ / dzu_, kInf).minCoeff()});
  return std::min(1.0, a);
}

InteriorPoint::StepResult InteriorPoint::step(const ReducedQp& qp) {
  if (p_ == 0) return StepResult::kOk;
  if (m_ > 0) {
    w_ = qp.has_lo * zl_ / sl_ + qp.has_hi * zu_ / su_;
  }
  if (!factorize(qp, w_)) return StepResult::kFactorizationFailed;

  // Predictor (affine scaling) direction.
  rcl_ = qp.has_lo * sl_ * zl_;
  rcu_ = qp.has_hi * su_ * zu_;
  direction(qp, rcl_, rcu_);

  if (num_sides_ > 0.0) {
    const double alpha_aff = maxStep();
    const double mu_aff = (((sl_ + alpha_aff * dsl_) * (zl_ + alpha_aff * dzl_)).sum() +
                           ((su_ + alpha_aff * dsu_) * (zu_ + alpha_aff * dzu_)).sum()) /
                          num_sides_;
    const double ratio = mu_ > 0.0 ? std::clamp(mu_aff / mu_, 0.0, 1.0) : 0.0;
    const double sigma_mu = ratio * ratio * ratio * mu_;
    dsl_aff_ = dsl_;
    dsu_aff_ = dsu_;
    dzl_aff_ = dzl_;
    dzu_aff_ = dzu_;
    // Corrector: centring plus the second-order term.
    rcl_ = qp.has_lo * (sl_ * zl_ + dsl_aff_ * dzl_aff_ - sigma_mu);
    rcu_ = qp.has_hi * (su_ * zu_ + dsu_aff_ * dzu_aff_ - sigma_mu);
    direction(qp, rcl_, rcu_);
    alpha_ = std::min(1.0, kStepFraction * maxStep());
  } else {
    alpha_ = 1.0;
  }

  y_ += alpha_ * dy_;
  if (m_ > 0) {
    sl_prev_ = sl_;
    su_prev_ = su_;
    zl_prev_ = zl_;
    zu_prev_ = zu_;
    sl_ += alpha_ * dsl_;
    su_ += alpha_ * dsu_;
    zl_ += alpha_ * dzl_;
    zu_ += alpha_ * dzu_;
  }
  return isFinite() ? StepResult::kOk : StepResult::kNonFinite;
}

bool InteriorPoint::isDualInfeasible(const ReducedQp& qp, double eps) {
  // Only a diverging primal iterate can follow a ray.
  const double y_norm = maxAbs(y_);
  const double G_scale = qp.G_norm > 0.0 ? qp.G_norm : 1.0;
  if (!(y_norm > kDivergence * std::max(1.0, qp.bound_norm / G_scale))) return false;
  const double d_norm = maxAbs(dy_);
  if (!(d_norm > 0.0) || !std::isfinite(d_norm)) return false;
  const double q_d = qp.q.dot(dy_) / d_norm;
  if (!(q_d < -eps * std::max(maxAbs(qp.q), std::numeric_limits<double>::min()))) return false;
  refine_.noalias() = qp.P * dy_;  // refine_ is free scratch space here
  if (maxAbs(refine_) / d_norm > kFlatCurvature * qp.P_norm) return false;
  for (Eigen::Index i = 0; i < m_; ++i) {
    const double gd = qp.G.row(i).dot(dy_) / d_norm;
    if (qp.has_lo[i] > 0.0 && gd < -eps * qp.G_norm) return false;
    if (qp.has_hi[i] > 0.0 && gd > eps * qp.G_norm) return false;
  }
  return true;
}

bool InteriorPoint::isPrimalInfeasible(const ReducedQp& qp, double eps) {
  if (m_ == 0) return false;
  // Only diverging multipliers can approach a Farkas certificate.
  const double z_norm = std::max(zl_.abs().maxCoeff(), zu_.abs().maxCoeff());
  const double dual_size = (maxAbs(qp.q) + qp.P_norm * maxAbs(y_)) / qp.G_norm;
  if (!(z_norm > kDivergence * std::max(1.0, dual_size)) || !std::isfinite(z_norm)) return false;
  const double bound_term = ((qp.lo.array() * zl_).sum() - (qp.hi.array() * zu_).sum()) / z_norm;
  if (!(bound_term > eps * std::max(1.0, qp.bound_norm))) return false;
  z_row_ = (zu_ - zl_).matrix();
  refine_.noalias() = qp.G.transpose() * z_row_;
  return maxAbs(refine_) / z_norm <= eps * qp.G_norm;
}

void InteriorPoint::rowMultipliers(Eigen::VectorXd& z) const { z = (zu_ - zl_).matrix(); }

bool InteriorPoint::isFinite() const {
  return y_.allFinite() && sl_.isFinite().all() && su_.isFinite().all() && zl_.isFinite().all() &&
         zu_.isFinite().all();
}

}  // namespace velmora::dense_qp::internal
