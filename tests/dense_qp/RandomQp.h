#pragma once

// Random convex QPs whose optimum is known by construction: choose x*, the multipliers and the
// row states first, then build g, b and the bounds so that the KKT conditions hold at x*.

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include <Eigen/Dense>

#include "dense_qp/DenseQp.h"

namespace velmora::dense_qp::test {

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
  int eq_rank = 0;  ///< rank of A (<= min(m_eq, n)); rows beyond it are combinations
  int m_in = 0;
  int strictly_active = 0;
  int weakly_active = 0;
  int fixed_rows = 0;          ///< rows with l = u
  int hessian_rank = -1;       ///< rank of H (-1: n, i.e. positive definite; 0: linear programme)
  double hessian_floor = 0.1;  ///< smallest eigenvalue added when H is positive definite
};

struct KnownOptimum {
  DenseQp qp;
  Eigen::VectorXd x, y, z;
  std::vector<RowState> state;
};

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

/// An absent bound in one of the spellings the solver accepts: 1e16, 1e20 or infinity.
inline double absentBound(std::mt19937& rng, double sign) {
  const int pick = std::uniform_int_distribution<int>(0, 2)(rng);
  const double magnitude = pick == 0   ? 1e16
                           : pick == 1 ? 1e20
                                       : std::numeric_limits<double>::infinity();
  return sign * magnitude;
}

/// Builds a problem with optimum (x, y, z) and the requested row states. Rows are shuffled so
/// that active rows are not clustered. With hessian_rank + eq_rank + active rows >= n and
/// active rows (with A) linearly independent, x* is the unique optimum and z* the unique
/// inequality multiplier (generically true for Gaussian data).
inline KnownOptimum makeKnownOptimum(std::mt19937& rng, const RandomQpOptions& o) {
  KnownOptimum k;
  const int n = o.n;
  DenseQp& qp = k.qp;
  k.x = 2.0 * gaussianMatrix(rng, n, 1);

  const int hr = o.hessian_rank < 0 ? n : o.hessian_rank;
  const Eigen::MatrixXd B = gaussianMatrix(rng, hr, n);
  qp.H = B.transpose() * B;
  if (o.hessian_rank < 0) qp.H.diagonal().array() += o.hessian_floor;

  const Eigen::MatrixXd A0 = gaussianMatrix(rng, o.eq_rank, n);
  if (o.m_eq > 0) {
    Eigen::MatrixXd T = gaussianMatrix(rng, o.m_eq, o.eq_rank);
    T.topRows(o.eq_rank).setIdentity();  // keeps the rank exactly eq_rank
    qp.A = T * A0;
  } else {
    qp.A.resize(0, n);
  }
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
    k.state[order[next++]] = (c % 2 == 0) ? RowState::kLowerActive : RowState::kUpperActive;
  for (int c = 0; c < o.weakly_active; ++c)
    k.state[order[next++]] = (c % 2 == 0) ? RowState::kWeakLower : RowState::kWeakUpper;
  for (int c = 0; c < o.fixed_rows; ++c) k.state[order[next++]] = RowState::kFixed;

  const Eigen::VectorXd Cx = qp.C * k.x;
  for (int i = 0; i < o.m_in; ++i) {
    const double v = Cx[i];
    const double gap_lo = uniform(rng, 0.2, 3.0);
    const double gap_hi = uniform(rng, 0.2, 3.0);
    const bool open_other_side = uniform(rng, 0.0, 1.0) < 0.3;
    switch (k.state[i]) {
      case RowState::kInactive:
        qp.l[i] = uniform(rng, 0.0, 1.0) < 0.2 ? absentBound(rng, -1.0) : v - gap_lo;
        qp.u[i] = uniform(rng, 0.0, 1.0) < 0.2 ? absentBound(rng, 1.0) : v + gap_hi;
        break;
      case RowState::kLowerActive:
      case RowState::kWeakLower:
        qp.l[i] = v;
        qp.u[i] = open_other_side ? absentBound(rng, 1.0) : v + gap_hi;
        if (k.state[i] == RowState::kLowerActive) k.z[i] = -uniform(rng, 0.5, 3.0);
        break;
      case RowState::kUpperActive:
      case RowState::kWeakUpper:
        qp.u[i] = v;
        qp.l[i] = open_other_side ? absentBound(rng, -1.0) : v - gap_lo;
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

}  // namespace velmora::dense_qp::test
