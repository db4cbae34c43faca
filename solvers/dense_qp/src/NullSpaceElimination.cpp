#include "NullSpaceElimination.h"

#include <algorithm>
#include <cmath>

namespace velmora::dense_qp::internal {

void NullSpaceElimination::resize(Eigen::Index n, Eigen::Index m_eq) {
  n_ = n;
  m_ = m_eq;
  LU_.resize(m_eq, n);
  row_order_.resize(m_eq);
  col_order_ = Eigen::VectorXi::LinSpaced(n, 0, static_cast<int>(n) - 1);
  x_p_.setZero(n);
  work_n_.resize(n);
  work_m_.resize(m_eq);
  residual_vec_.resize(m_eq);
  rank_ = 0;
  T_.resize(0, n);
}

Eigen::Index NullSpaceElimination::eliminate(double rank_tolerance) {
  const Eigen::Index m = m_, n = n_;
  row_order_ = Eigen::VectorXi::LinSpaced(m, 0, static_cast<int>(m) - 1);
  col_order_ = Eigen::VectorXi::LinSpaced(n, 0, static_cast<int>(n) - 1);
  double first_pivot = 0.0;
  for (Eigen::Index k = 0; k < std::min(m, n); ++k) {
    // Largest remaining entry: the row first (vectorised), then its column.
    double best = 0.0;
    Eigen::Index best_row = k, best_col = k;
    for (Eigen::Index i = k; i < m; ++i) {
      const double a = LU_.row(i).tail(n - k).cwiseAbs().maxCoeff();
      if (a > best) best = a, best_row = i;
    }
    if (best > 0.0) {
      LU_.row(best_row).tail(n - k).cwiseAbs().maxCoeff(&best_col);
      best_col += k;
    }
    if (k == 0) first_pivot = best;
    if (!(best > rank_tolerance * first_pivot) || best == 0.0) return k;
    if (best_row != k) {
      LU_.row(k).swap(LU_.row(best_row));
      std::swap(row_order_[k], row_order_[best_row]);
    }
    if (best_col != k) {
      LU_.col(k).swap(LU_.col(best_col));
      std::swap(col_order_[k], col_order_[best_col]);
    }
    const Eigen::Index below = m - k - 1;
    if (below == 0) continue;
    const double pivot = LU_(k, k);
    const auto pivot_row = LU_.row(k).tail(n - k - 1);
    for (Eigen::Index i = k + 1; i < m; ++i) {
      const double l_ik = LU_(i, k) / pivot;
      LU_(i, k) = l_ik;
      LU_.row(i).tail(n - k - 1) -= l_ik * pivot_row;
    }
  }
  return std::min(m, n);
}

bool NullSpaceElimination::compute(const Eigen::MatrixXd& A, const Eigen::VectorXd& b,
                                   double rank_tolerance, double eps_abs, double eps_rel) {
  residual_ = 0.0;
  if (m_ == 0) {
    x_p_.setZero();
    return true;
  }
  LU_ = A;
  const Eigen::Index r = eliminate(rank_tolerance);
  rank_ = r;
  const Eigen::Index p = n_ - r;

  // Eigen's triangular solves bind references to the first element, so empty blocks (no
  // free variable when r = n, no basic variable when A is zero) are skipped, not solved.
  const auto U11 = LU_.topLeftCorner(r, r).triangularView<Eigen::Upper>();
  T_ = LU_.block(0, r, r, p);
  if (r > 0 && p > 0) U11.solveInPlace(T_);

  // x_p: L11 U11 x_B = (P b)(0:r), x_N = 0.
  x_p_.setZero();
  if (r > 0) {
    auto c = work_m_.head(r);
    for (Eigen::Index i = 0; i < r; ++i) c[i] = b[row_order_[i]];
    LU_.topLeftCorner(r, r).triangularView<Eigen::UnitLower>().solveInPlace(c);
    U11.solveInPlace(c);
    for (Eigen::Index k = 0; k < r; ++k) x_p_[col_order_[k]] = c[k];
  }

  residual_vec_.noalias() = A * x_p_;
  const double product_scale = (A.cwiseAbs() * x_p_.cwiseAbs()).maxCoeff();
  residual_vec_ -= b;
  residual_ = residual_vec_.cwiseAbs().maxCoeff();
  const double scale = std::max(b.cwiseAbs().maxCoeff(), product_scale);
  return residual_ <= eps_abs + eps_rel * scale;
}

void NullSpaceElimination::multiplyZ(const Eigen::MatrixXd& M, Eigen::MatrixXd& out) {
  const Eigen::Index r = rank_, p = n_ - rank_, rows = M.rows();
  out.resize(rows, p);
  for (Eigen::Index k = 0; k < p; ++k) out.col(k) = M.col(col_order_[r + k]);
  if (r == 0) return;
  gather_.resize(rows, r);
  for (Eigen::Index k = 0; k < r; ++k) gather_.col(k) = M.col(col_order_[k]);
  out.noalias() -= gather_ * T_;
}

void NullSpaceElimination::multiplyZTranspose(const Eigen::MatrixXd& M, Eigen::MatrixXd& out) {
  const Eigen::Index r = rank_, p = n_ - rank_, cols = M.cols();
  out.resize(p, cols);
  for (Eigen::Index k = 0; k < p; ++k) out.row(k) = M.row(col_order_[r + k]);
  if (r == 0) return;
  gather_.resize(r, cols);
  for (Eigen::Index k = 0; k < r; ++k) gather_.row(k) = M.row(col_order_[k]);
  out.noalias() -= T_.transpose() * gather_;
}

void NullSpaceElimination::multiplyZTranspose(const Eigen::VectorXd& v, Eigen::VectorXd& out) {
  const Eigen::Index r = rank_, p = n_ - rank_;
  out.resize(p);
  for (Eigen::Index k = 0; k < p; ++k) out[k] = v[col_order_[r + k]];
  if (r == 0) return;
  auto v_basic = work_n_.head(r);
  for (Eigen::Index k = 0; k < r; ++k) v_basic[k] = v[col_order_[k]];
  out.noalias() -= T_.transpose() * v_basic;
}

void NullSpaceElimination::expand(const Eigen::VectorXd& y, Eigen::VectorXd& x) {
  const Eigen::Index r = rank_, p = n_ - rank_;
  x = x_p_;
  for (Eigen::Index k = 0; k < p; ++k) x[col_order_[r + k]] += y[k];
  if (r == 0) return;
  auto t_y = work_n_.head(r);
  t_y.noalias() = T_ * y;
  for (Eigen::Index k = 0; k < r; ++k) x[col_order_[k]] -= t_y[k];
}

void NullSpaceElimination::multipliers(const Eigen::VectorXd& v, Eigen::VectorXd& lambda) {
  lambda.setZero(m_);
  const Eigen::Index r = rank_;
  if (r == 0) return;
  auto mu = work_m_.head(r);
  for (Eigen::Index k = 0; k < r; ++k) mu[k] = v[col_order_[k]];
  LU_.topLeftCorner(r, r).triangularView<Eigen::Upper>().transpose().solveInPlace(mu);
  LU_.topLeftCorner(r, r).triangularView<Eigen::UnitLower>().transpose().solveInPlace(mu);
  for (Eigen::Index i = 0; i < r; ++i) lambda[row_order_[i]] = mu[i];
}

}  // namespace velmora::dense_qp::internal
