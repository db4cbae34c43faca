#pragma once

// Reference solver for the tests: a textbook primal active-set method (Nocedal & Wright,
// Algorithm 16.3) in long double, independent of the solver under test. It needs a strictly
// convex objective on the null space of the equalities, full-row-rank equalities and a
// feasible starting point. Each iteration solves the KKT system of the working set with a
// fully pivoted LU factorisation and one step of iterative refinement.
//
// Three rules keep it finite and exact on ill-conditioned, degenerate problems (a whole-body QP
// has a 1e-8 Hessian diagonal and five friction-pyramid rows meeting at a foot with zero force):
//  - after a full step (no blocking constraint) x minimises the objective on the working set, so
//    the next iteration takes the step as zero and only looks at the multipliers; a test of the
//    computed step against zero would see the solve's rounding error (condition number times
//    machine epsilon) and could keep taking noise steps for ever;
//  - a blocking constraint joins the working set only if its row is linearly independent of the
//    rows already there (a dependent row stays at its bound along the step in exact arithmetic;
//    adding it would make the KKT matrix singular);
//  - after a step of zero length (a degenerate vertex) Bland's rule applies until x moves again:
//    the lowest-index blocking constraint is added, the lowest-index wrongly signed multiplier is
//    dropped, which rules out cycling among the working sets of one vertex.
//
// Multipliers use the solver's convention H x + g + A'y + C'z = 0, z >= 0 at upper bounds,
// z <= 0 at lower bounds.

#include <algorithm>
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

/// Whether `row` is linearly independent of the rows of `rows` (relative rank test).
inline bool isIndependentRow(const LongMatrix& rows, const LongVector& row) {
  LongMatrix stacked(rows.rows() + 1, rows.cols());
  stacked.topRows(rows.rows()) = rows;
  stacked.bottomRows(1) = row.transpose();
  Eigen::FullPivLU<LongMatrix> lu(stacked);
  lu.setThreshold(1e-10L);
  return lu.rank() == stacked.rows();
}

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
  bool at_working_minimum = false;  // the last step was a full one
  bool degenerate = false;          // the last step had zero length: Bland's rule

  for (out.iterations = 0; out.iterations < max_iterations; ++out.iterations) {
    std::vector<int> working;
    for (int i = 0; i < mi; ++i)
      if (side[i] != 0) working.push_back(i);
    const int k = static_cast<int>(working.size());
    const int size = n + me + k;
    LongMatrix rows(me + k, n);  // equality rows, then the working inequality rows
    rows.topRows(me) = A;
    for (int j = 0; j < k; ++j) rows.row(me + j) = C.row(working[j]);
    LongMatrix K = LongMatrix::Zero(size, size);
    K.topLeftCorner(n, n) = H;
    K.bottomLeftCorner(me + k, n) = rows;
    K.topRightCorner(n, me + k) = rows.transpose();
    // Step p of the problem restricted to the working set, with its multipliers.
    LongVector rhs = LongVector::Zero(size);
    rhs.head(n) = -(H * out.x + g);
    const Eigen::FullPivLU<LongMatrix> lu(K);
    if (!lu.isInvertible()) return out;  // not converged: the preconditions do not hold
    LongVector sol = lu.solve(rhs);
    sol += lu.solve(rhs - K * sol);
    const LongVector p = sol.head(n);
    const long double x_scale = 1.0L + out.x.cwiseAbs().maxCoeff();

    if (at_working_minimum || p.cwiseAbs().maxCoeff() <= 1e-15L * x_scale) {
      const LongVector multipliers = sol.tail(me + k);
      const long double scale = 1.0L + multipliers.cwiseAbs().maxCoeff();
      int drop = -1;
      long double worst = -1e-13L * scale;
      for (int j = 0; j < k; ++j) {
        const long double signed_value = side[working[j]] * multipliers[me + j];
        if (signed_value < worst) {
          worst = signed_value;
          drop = working[j];
          if (degenerate) break;  // Bland: the lowest index
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
      at_working_minimum = false;
      continue;
    }

    // Longest feasible step along p, up to 1: the nearest blocking row independent of the
    // working set, ties to the lowest index.
    const LongVector Cx = C * out.x;
    const LongVector Cp = C * p;
    const long double p_norm = p.cwiseAbs().maxCoeff();
    struct Candidate {
      long double alpha;
      int row, side;
    };
    std::vector<Candidate> blocking;
    for (int i = 0; i < mi; ++i) {
      if (side[i] != 0) continue;
      const long double noise = 1e-15L * C.row(i).cwiseAbs().maxCoeff() * p_norm;
      if (finite_hi(i) && Cp[i] > noise) {
        const long double a = std::max(0.0L, (qp.u[i] - Cx[i]) / Cp[i]);
        if (a < 1.0L) blocking.push_back({a, i, 1});
      }
      if (finite_lo(i) && Cp[i] < -noise) {
        const long double a = std::max(0.0L, (qp.l[i] - Cx[i]) / Cp[i]);
        if (a < 1.0L) blocking.push_back({a, i, -1});
      }
    }
    std::stable_sort(blocking.begin(), blocking.end(),
                     [](const Candidate& a, const Candidate& b) { return a.alpha < b.alpha; });
    long double alpha = 1.0L;
    for (const Candidate& c : blocking) {
      if (!isIndependentRow(rows, C.row(c.row).transpose())) continue;
      alpha = c.alpha;
      side[c.row] = c.side;
      break;
    }
    out.x += alpha * p;
    at_working_minimum = alpha == 1.0L;
    degenerate = alpha == 0.0L;
  }
  return out;
}

}  // namespace velmora::dense_qp::test
