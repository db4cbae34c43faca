#include "ActiveSetPolish.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "MaxAbs.h"
#include "QuasiDefiniteLdlt.h"

namespace velmora::dense_qp::internal {

namespace {

constexpr int kMaxRefinementSteps = 10;
constexpr int kMaxCorrections = 8;
// -delta block of the KKT matrix: large enough to keep the factorisation stable when active
// rows are linearly dependent (a degenerate vertex), small enough for fast refinement.
constexpr double kDualRegularization = 1e-8;
constexpr double kRoundingLevel = 1e-16;  // relative residual that ends refinement

}  // namespace

void ActiveSetPolish::resize(Eigen::Index p, Eigen::Index m) {
  p_ = p;
  m_ = m;
  side_.resize(m);
  active_row_.resize(m);
  K_.resize(p + m, p + m);
  GA_.resize(m, p);
  for (Eigen::VectorXd* v : {&d_, &scratch_, &rhs_, &sol_, &res_, &corr_}) v->resize(p + m);
  work_p_.resize(p);
  Gy_.resize(m);
}

void ActiveSetPolish::multiplyKkt(const ReducedQp& qp, const Eigen::VectorXd& v,
                                  Eigen::VectorXd& out) {
  const auto GA = GA_.topRows(k_);
  out.head(p_).noalias() = qp.P * v.head(p_);
  out.head(p_).noalias() += GA.transpose() * v.segment(p_, k_);
  out.segment(p_, k_).noalias() = GA * v.head(p_);
}

bool ActiveSetPolish::solveActiveSet(const ReducedQp& qp, double regularization) {
  k_ = 0;
  for (Eigen::Index i = 0; i < m_; ++i) {
    if (side_[i] == 0) continue;
    active_row_[k_] = static_cast<int>(i);
    rhs_[p_ + k_] = side_[i] > 0 ? qp.hi[i] : qp.lo[i];
    GA_.row(k_) = qp.G.row(i);
    ++k_;
  }
  const Eigen::Index size = p_ + k_;

  // Regularised quasi-definite KKT matrix (lower triangle).
  const double rho = regularization * std::max(1.0, qp.P_norm);
  const double delta = kDualRegularization * std::max(1.0, qp.G_norm * qp.G_norm);
  // The leading block P + rho I is the same for every active set: it is factorised on the
  // first call of a run, and later calls only extend the factor by the active rows.
  if (!p_block_factored_) {
    K_.topLeftCorner(p_, p_) = qp.P;
    K_.topLeftCorner(p_, p_).diagonal().array() += rho;
    if (!quasiDefiniteLdlt(K_, p_, d_, scratch_)) return false;
    p_block_factored_ = true;
  }
  K_.block(p_, 0, k_, p_) = GA_.topRows(k_);
  K_.block(p_, p_, k_, k_).setZero();
  K_.block(p_, p_, k_, k_).diagonal().setConstant(-delta);
  if (!quasiDefiniteLdlt(K_, size, d_, scratch_, p_)) return false;

  rhs_.head(p_) = -qp.q;
  sol_.head(size) = rhs_.head(size);
  quasiDefiniteLdltSolve(K_, size, d_, sol_.head(size));
  // Iterative refinement until the residual reaches the rounding level of the products K x
  // (or of the right-hand side) or stops shrinking.
  const double product_norm = std::max(qp.P_norm, qp.G_norm) * maxAbs(sol_.head(size));
  const double rhs_norm = std::max(maxAbs(rhs_.head(size)), product_norm);
  double previous = std::numeric_limits<double>::infinity();
  for (int step = 0; step < kMaxRefinementSteps; ++step) {
    multiplyKkt(qp, sol_, res_);
    res_.head(size) = rhs_.head(size) - res_.head(size);
    const double residual = maxAbs(res_.head(size));
    if (!std::isfinite(residual)) return false;
    const double rounding = kRoundingLevel * std::max(1.0, rhs_norm);
    if (residual <= rounding || residual > 0.5 * previous) break;
    previous = residual;
    corr_.head(size) = res_.head(size);
    quasiDefiniteLdltSolve(K_, size, d_, corr_.head(size));
    sol_.head(size) += corr_.head(size);
  }
  return sol_.head(size).allFinite();
}

bool ActiveSetPolish::run(const ReducedQp& qp, const InteriorPoint& ipm, double eps_abs,
                          double eps_rel, double regularization, Eigen::VectorXd& y,
                          Eigen::VectorXd& z_row) {
  if (p_ == 0) return false;
  // Initial guess (Tapia indicators): a side is active when its slack fell by a larger factor
  // than its multiplier in the last iteration. The test compares each row with itself, so it
  // does not depend on the scale of the multipliers, which is tiny for rows that only meet
  // directions of tiny curvature.
  const auto& sl = ipm.sLower();
  const auto& su = ipm.sUpper();
  const auto& zl = ipm.zLower();
  const auto& zu = ipm.zUpper();
  const auto& sl0 = ipm.previousSLower();
  const auto& su0 = ipm.previousSUpper();
  const auto& zl0 = ipm.previousZLower();
  const auto& zu0 = ipm.previousZUpper();
  for (Eigen::Index i = 0; i < m_; ++i) {
    const bool lower = qp.has_lo[i] > 0.0 && sl[i] * zl0[i] < zl[i] * sl0[i];
    const bool upper = qp.has_hi[i] > 0.0 && su[i] * zu0[i] < zu[i] * su0[i];
    side_[i] = upper && (!lower || zu[i] >= zl[i]) ? 1 : (lower ? -1 : 0);
  }

  p_block_factored_ = false;
  for (int attempt = 0; attempt <= kMaxCorrections; ++attempt) {
    if (!solveActiveSet(qp, regularization)) return false;
    const auto y_new = sol_.head(p_);
    const auto zeta = sol_.segment(p_, k_);

    // Stationarity P y + q + G_A' zeta; a failure here is numerical, not a wrong guess.
    work_p_.noalias() = qp.P * y_new;
    double dual_scale = std::max(maxAbs(work_p_), maxAbs(qp.q));
    corr_.head(p_).noalias() = GA_.topRows(k_).transpose() * zeta;
    dual_scale = std::max(dual_scale, maxAbs(corr_.head(p_)));
    work_p_ += qp.q + corr_.head(p_);
    if (!(maxAbs(work_p_) <= eps_abs + eps_rel * dual_scale)) return false;

    // Inactive rows outside their bounds join the active set, all at once.
    Gy_.noalias() = qp.G * y_new;
    bool added = false;
    for (Eigen::Index i = 0; i < m_; ++i) {
      if (side_[i] != 0) continue;
      const double value = Gy_[i];
      if (qp.has_lo[i] > 0.0 &&
          value < qp.lo[i] - (eps_abs + eps_rel * std::max(std::abs(qp.lo[i]), std::abs(value)))) {
        side_[i] = -1;
        added = true;
      } else if (qp.has_hi[i] > 0.0 &&
                 value > qp.hi[i] +
                             (eps_abs + eps_rel * std::max(std::abs(qp.hi[i]), std::abs(value)))) {
        side_[i] = 1;
        added = true;
      }
    }
    if (added) continue;
    // Most wrongly signed multiplier.
    const double zeta_tolerance = eps_abs + eps_rel * maxAbs(zeta);
    Eigen::Index drop = -1;
    double most_wrong = -zeta_tolerance;
    for (Eigen::Index j = 0; j < k_; ++j) {
      const double signed_value = side_[active_row_[j]] * zeta[j];
      if (signed_value < most_wrong) most_wrong = signed_value, drop = active_row_[j];
    }
    if (drop >= 0) {
      side_[drop] = 0;
      continue;
    }
    y = y_new;
    z_row.setZero(m_);
    for (Eigen::Index j = 0; j < k_; ++j) z_row[active_row_[j]] = zeta[j];
    return true;
  }
  return false;
}

}  // namespace velmora::dense_qp::internal
