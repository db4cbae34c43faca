#pragma once

// Support of the dense QP tests and benchmarks:
//  - random convex QPs whose optimum is known by construction (x*, multipliers and row states
//    chosen first, then g, b and the bounds built so that the KKT conditions hold at x*);
//  - a KKT check of any point in long double on the original data (for a convex QP, the KKT
//    conditions are sufficient for optimality).

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include <Eigen/Dense>

#include "dense_qp/DenseQp.h"

namespace velmora::dense_qp::test {

inline Eigen::MatrixXd gaussianMatrix(std::mt19937& rng, int rows, int cols) {
  std::normal_distribution<double> normal(0.0, 1.0);
  Eigen::MatrixXd M(rows, cols);
  for (int j = 0; j < cols; ++j)
    for (int i = 0; i < rows; ++i) M(i, j) = normal(rng);
  return M;
}

inline double uniform(std::mt19937& rng, double lo, double hi) {
  return std::uniform_real_distribution<double>(lo, hi)(rng);
}

enum class RowState {
  kInactive,     ///< strictly inside its bounds, z = 0
  kLowerActive,  ///< at its lower bound with z < 0
  kUpperActive,  ///< at its upper bound with z > 0
  kWeakLower,    ///< at its lower bound with z = 0 (degenerate)
  kWeakUpper,    ///< at its upper bound with z = 0 (degenerate)
  kFixed,        ///< l = u = C x*, z of either sign
};

struct RandomQpOptions {
  int n = 10;
  int m_eq = 0;
  int eq_rank = 0;  ///< rank of A (<= min(m_eq, n)); further rows are combinations
  int m_in = 0;
  int strictly_active = 0;
  int weakly_active = 0;
  int fixed_rows = 0;     ///< rows with l = u
  int hessian_rank = -1;  ///< rank of H (-1: n plus a 0.1 floor, i.e. positive definite)
};

struct KnownOptimum {
  DenseQp qp;
  Eigen::VectorXd x, y, z;
  std::vector<RowState> state;
};

/// A problem with optimum (x, y, z) and the requested row states, active rows shuffled among
/// the others. With hessian_rank + eq_rank + active rows >= n (and generic data) x* and z* are
/// unique. Absent bounds use the spellings 1e16, 1e20 and infinity.
inline KnownOptimum makeKnownOptimum(std::mt19937& rng, const RandomQpOptions& o) {
  KnownOptimum k;
  const int n = o.n;
  DenseQp& qp = k.qp;
  k.x = 2.0 * gaussianMatrix(rng, n, 1);
  const Eigen::MatrixXd B = gaussianMatrix(rng, o.hessian_rank < 0 ? n : o.hessian_rank, n);
  qp.H = B.transpose() * B;
  if (o.hessian_rank < 0) qp.H.diagonal().array() += 0.1;

  Eigen::MatrixXd T = gaussianMatrix(rng, o.m_eq, o.eq_rank);
  T.topRows(std::min(o.m_eq, o.eq_rank)).setIdentity();  // keeps the rank exactly eq_rank
  qp.A = T * gaussianMatrix(rng, o.eq_rank, n);
  qp.b = qp.A * k.x;
  k.y = gaussianMatrix(rng, o.m_eq, 1);

  qp.C = gaussianMatrix(rng, o.m_in, n);
  qp.l.resize(o.m_in);
  qp.u.resize(o.m_in);
  k.z.setZero(o.m_in);
  k.state.assign(o.m_in, RowState::kInactive);
  std::vector<int> order(o.m_in);
  for (int i = 0; i < o.m_in; ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), rng);
  int next = 0;
  for (int c = 0; c < o.strictly_active; ++c)
    k.state[order[next++]] = c % 2 == 0 ? RowState::kLowerActive : RowState::kUpperActive;
  for (int c = 0; c < o.weakly_active; ++c)
    k.state[order[next++]] = c % 2 == 0 ? RowState::kWeakLower : RowState::kWeakUpper;
  for (int c = 0; c < o.fixed_rows; ++c) k.state[order[next++]] = RowState::kFixed;

  auto absent = [&rng](double sign) {
    const double spellings[] = {1e16, 1e20, std::numeric_limits<double>::infinity()};
    return sign * spellings[std::uniform_int_distribution<int>(0, 2)(rng)];
  };
  const Eigen::VectorXd Cx = qp.C * k.x;
  for (int i = 0; i < o.m_in; ++i) {
    const double v = Cx[i], below = v - uniform(rng, 0.2, 3.0), above = v + uniform(rng, 0.2, 3.0);
    const bool open_other_side = uniform(rng, 0.0, 1.0) < 0.3;
    switch (k.state[i]) {
      case RowState::kInactive:
        qp.l[i] = uniform(rng, 0.0, 1.0) < 0.2 ? absent(-1.0) : below;
        qp.u[i] = uniform(rng, 0.0, 1.0) < 0.2 ? absent(1.0) : above;
        break;
      case RowState::kLowerActive:
      case RowState::kWeakLower:
        qp.l[i] = v;
        qp.u[i] = open_other_side ? absent(1.0) : above;
        if (k.state[i] == RowState::kLowerActive) k.z[i] = -uniform(rng, 0.5, 3.0);
        break;
      case RowState::kUpperActive:
      case RowState::kWeakUpper:
        qp.u[i] = v;
        qp.l[i] = open_other_side ? absent(-1.0) : below;
        if (k.state[i] == RowState::kUpperActive) k.z[i] = uniform(rng, 0.5, 3.0);
        break;
      case RowState::kFixed:
        qp.l[i] = qp.u[i] = v;
        k.z[i] = uniform(rng, -3.0, 3.0);
        break;
    }
  }
  qp.g = -(qp.H * k.x + qp.A.transpose() * k.y + qp.C.transpose() * k.z);
  return k;
}

/// KKT errors of a point, each relative to the size of the terms involved.
struct KktReport {
  double stationarity = 0.0;     ///< H x + g + A'y + C'z, per variable
  double equality = 0.0;         ///< A x - b, per row
  double bound_violation = 0.0;  ///< amount by which C x leaves [l, u]
  double wrong_sign = 0.0;       ///< multiplier of a side that is absent, relative to ||z||
  double complementarity = 0.0;  ///< |z_i| times the distance to its bound
};

using LongVector = Eigen::Matrix<long double, Eigen::Dynamic, 1>;
using LongMatrix = Eigen::Matrix<long double, Eigen::Dynamic, Eigen::Dynamic>;

/// The KKT conditions of `qp` at (x, y, z) in long double; multiplier convention of
/// DenseQpSolution (z > 0 at upper bounds, z < 0 at lower bounds).
template <typename VecX, typename VecY, typename VecZ>
KktReport checkKkt(const DenseQp& qp, const VecX& x_in, const VecY& y_in, const VecZ& z_in) {
  using LD = long double;
  const LongVector x = x_in.template cast<LD>(), y = y_in.template cast<LD>(),
                   z = z_in.template cast<LD>();
  const LongMatrix H = qp.H.cast<LD>(), A = qp.A.cast<LD>(), C = qp.C.cast<LD>();
  const LongVector g = qp.g.cast<LD>(), b = qp.b.cast<LD>();
  KktReport r;
  auto worst = [](double& field, LD value) { field = std::max(field, static_cast<double>(value)); };
  const LongVector stat = H * x + g + A.transpose() * y + C.transpose() * z;
  const LongVector stat_scale = H.cwiseAbs() * x.cwiseAbs() + g.cwiseAbs() +
                                A.transpose().cwiseAbs() * y.cwiseAbs() +
                                C.transpose().cwiseAbs() * z.cwiseAbs();
  for (Eigen::Index j = 0; j < x.size(); ++j)
    worst(r.stationarity, std::abs(stat[j]) / (1 + stat_scale[j]));
  const LongVector Ax = A * x, Ax_scale = A.cwiseAbs() * x.cwiseAbs();
  for (Eigen::Index i = 0; i < A.rows(); ++i)
    worst(r.equality, std::abs(Ax[i] - b[i]) / (1 + Ax_scale[i] + std::abs(b[i])));
  const LongVector Cx = C * x, Cx_scale = C.cwiseAbs() * x.cwiseAbs();
  const LD z_norm = 1 + (z.size() > 0 ? z.cwiseAbs().maxCoeff() : LD(0));
  for (Eigen::Index i = 0; i < C.rows(); ++i) {
    const LD lo = qp.l[i] > -1e16 ? LD(qp.l[i]) : -INFINITY;
    const LD hi = qp.u[i] < 1e16 ? LD(qp.u[i]) : INFINITY;
    const LD scale = 1 + Cx_scale[i] +
                     std::max(std::isfinite(lo) ? std::abs(lo) : LD(0),
                              std::isfinite(hi) ? std::abs(hi) : LD(0));
    worst(r.bound_violation, std::max({LD(0), lo - Cx[i], Cx[i] - hi}) / scale);
    const LD bound = z[i] > 0 ? hi : lo;
    if (z[i] != 0 && !std::isfinite(bound)) worst(r.wrong_sign, std::abs(z[i]) / z_norm);
    if (z[i] != 0 && std::isfinite(bound))
      worst(r.complementarity, std::abs(z[i] * (bound - Cx[i])) / (z_norm * scale));
  }
  return r;
}

}  // namespace velmora::dense_qp::test
