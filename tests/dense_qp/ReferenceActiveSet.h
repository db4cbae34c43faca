#pragma once

// Reference solver for the tests: a textbook primal active-set method (Nocedal & Wright,
// Algorithm 16.3) in long double, independent of the solver under test. It needs a strictly
// convex objective on the null space of the equalities, full-row-rank equalities and a
// feasible starting point. Each iteration solves the KKT system of the working set with a
// fully pivoted LU factorisation; blocking constraints are added one at a time (ties to the
// lowest index), the working constraint with the most wrongly signed multiplier is dropped.
//
// Multipliers use the solver's convention H x + g + A'y + C'z = 0, z >= 0 at upper bounds,
// z <= 0 at lower bounds.

#include <cmath>
#include <limits>
#include <vector>

#include <Eigen/Dense>

#include "dense_qp/DenseQp.h"

namespace velmora::dense_qp::test {

using LongVector = Eigen::Matrix<long double, Eigen::Dynamic, 1>;
using LongMatrix = Eigen::Matrix<long double, Eigen::Dynamic, Eigen::Dynamic>;

struct ReferenceSolution {
  bool converged = false;
  int iterations = 0;
  LongVector x, y, z;
  /// Working set at the optimum: +1 upper side active, -1 lower side active, 0 inactive.
  std::vector<int> active_side;
};

inline ReferenceSolution referenceActiveSet(const DenseQp& qp,
                                            const Eigen::VectorXd& feasible_start,
                                            int max_iterations = 2000) {
  const int n = static_cast<int>(qp.H.rows());
  const int me = static_cast<int>(qp.A.rows());
  const int mi = static_cast<int>(qp.C.rows());
  const LongMatrix H = 0.5L * (qp.H.cast<long double>() + qp.H.transpose().cast<long double>());
  const LongVector g = qp.g.cast<long double>();
  const LongMatrix A = qp.A.cast<long double>();
  const LongMatrix C = qp.C.cast<long double>();
  auto finite_lo = [&](int i) { return qp.l[i] > -1e16; };
  auto finite_hi = [&](int i) { return qp.u[i] < 1e16; };

  ReferenceSolution out;
  out.x = feasible_start.cast<long double>();
  out.active_side.assign(mi, 0);
  std::vector<int>& side = out.active_side;

  for (out.iterations = 0; out.iterations < max_iterations; ++out.iterations) {
    std::vector<int> working;
    for (int i = 0; i < mi; ++i)
      if (side[i] != 0) working.push_back(i);
    const int k = static_cast<int>(working.size());
    const int size = n + me + k;
    LongMatrix K = LongMatrix::Zero(size, size);
    K.topLeftCorner(n, n) = H;
    K.block(n, 0, me, n) = A;
    K.block(0, n, n, me) = A.transpose();
    for (int j = 0; j < k; ++j) {
      K.block(n + me + j, 0, 1, n) = C.row(working[j]);
      K.block(0, n + me + j, n, 1) = C.row(working[j]).transpose();
    }
    // Step p of the problem restricted to the working set, with its multipliers.
    LongVector rhs = LongVector::Zero(size);
    rhs.head(n) = -(H * out.x + g);
    const LongVector sol = K.fullPivLu().solve(rhs);
    const LongVector p = sol.head(n);
    const long double x_scale = 1.0L + out.x.cwiseAbs().maxCoeff();

    if (p.cwiseAbs().maxCoeff() <= 1e-15L * x_scale) {
      // Multipliers of the working set; drop the most wrongly signed one.
      const LongVector multipliers = sol.tail(me + k);
      const long double scale = 1.0L + multipliers.cwiseAbs().maxCoeff();
      int drop = -1;
      long double worst = -1e-13L * scale;
      for (int j = 0; j < k; ++j) {
        const long double signed_value = side[working[j]] * multipliers[me + j];
        if (signed_value < worst) {
          worst = signed_value;
          drop = working[j];
        }
      }
      if (drop < 0) {
        out.converged = true;
        out.y = multipliers.head(me);
        out.z = LongVector::Zero(mi);
        for (int j = 0; j < k; ++j) out.z[working[j]] = multipliers[me + j];
        return out;
      }
      side[drop] = 0;
      continue;
    }

    // Longest feasible step along p, up to 1.
    long double alpha = 1.0L;
    int blocking = -1, blocking_side = 0;
    const LongVector Cx = C * out.x;
    const LongVector Cp = C * p;
    for (int i = 0; i < mi; ++i) {
      if (side[i] != 0) continue;
      const long double tiny = 1e-18L * (1.0L + C.row(i).cwiseAbs().maxCoeff() * x_scale);
      if (finite_hi(i) && Cp[i] > tiny) {
        const long double a = std::max(0.0L, (qp.u[i] - Cx[i]) / Cp[i]);
        if (a < alpha) alpha = a, blocking = i, blocking_side = 1;
      }
      if (finite_lo(i) && Cp[i] < -tiny) {
        const long double a = std::max(0.0L, (qp.l[i] - Cx[i]) / Cp[i]);
        if (a < alpha) alpha = a, blocking = i, blocking_side = -1;
      }
    }
    out.x += alpha * p;
    if (blocking >= 0) side[blocking] = blocking_side;
  }
  return out;
}

}  // namespace velmora::dense_qp::test
