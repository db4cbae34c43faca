#pragma once

// Independent KKT checks for the tests, evaluated in long double on the original data:
// stationarity H x + g + A'y + C'z = 0, primal feasibility, multiplier signs and
// complementarity, each relative to the size of the terms involved.

#include <algorithm>
#include <cmath>

#include <Eigen/Dense>

#include "dense_qp/DenseQp.h"

namespace velmora::dense_qp::test {

struct KktReport {
  double stationarity = 0.0;     ///< max_j |r_j| / (1 + sum of |terms| of row j)
  double equality = 0.0;         ///< max_i |A_i x - b_i| / (1 + |A_i||x| + |b_i|)
  double bound_violation = 0.0;  ///< max relative amount by which C x leaves [l, u]
  double wrong_sign = 0.0;       ///< largest multiplier of the wrong sign, relative to ||z||
  double complementarity = 0.0;  ///< max |z_i| * distance to its bound, relative
};

inline bool hasLower(const DenseQp& qp, Eigen::Index i) { return qp.l[i] > -1e16; }
inline bool hasUpper(const DenseQp& qp, Eigen::Index i) { return qp.u[i] < 1e16; }

template <typename VecX, typename VecY, typename VecZ>
KktReport checkKkt(const DenseQp& qp, const VecX& x_in, const VecY& y_in, const VecZ& z_in) {
  using LD = long double;
  using LVec = Eigen::Matrix<LD, Eigen::Dynamic, 1>;
  using LMat = Eigen::Matrix<LD, Eigen::Dynamic, Eigen::Dynamic>;
  const LVec x = x_in.template cast<LD>(), y = y_in.template cast<LD>(),
             z = z_in.template cast<LD>();
  const LMat H = qp.H.cast<LD>(), A = qp.A.cast<LD>(), C = qp.C.cast<LD>();
  const LVec g = qp.g.cast<LD>();
  KktReport r;

  const LVec stat = H * x + g + A.transpose() * y + C.transpose() * z;
  const LVec stat_scale = H.cwiseAbs() * x.cwiseAbs() + g.cwiseAbs() +
                          A.transpose().cwiseAbs() * y.cwiseAbs() +
                          C.transpose().cwiseAbs() * z.cwiseAbs();
  for (Eigen::Index j = 0; j < x.size(); ++j)
    r.stationarity = std::max(r.stationarity, double(std::abs(stat[j]) / (1 + stat_scale[j])));

  const LVec Ax = A * x;
  const LVec Ax_scale = A.cwiseAbs() * x.cwiseAbs();
  for (Eigen::Index i = 0; i < A.rows(); ++i) {
    const LD scale = 1 + Ax_scale[i] + std::abs(LD(qp.b[i]));
    r.equality = std::max(r.equality, double(std::abs(Ax[i] - LD(qp.b[i])) / scale));
  }

  const LVec Cx = C * x;
  const LVec Cx_scale = C.cwiseAbs() * x.cwiseAbs();
  const LD z_norm = 1 + (z.size() > 0 ? z.cwiseAbs().maxCoeff() : LD(0));
  for (Eigen::Index i = 0; i < C.rows(); ++i) {
    const LD lo = hasLower(qp, i) ? LD(qp.l[i]) : -INFINITY;
    const LD hi = hasUpper(qp, i) ? LD(qp.u[i]) : INFINITY;
    const LD scale = 1 + Cx_scale[i] +
                     std::max(std::isfinite(lo) ? std::abs(lo) : LD(0),
                              std::isfinite(hi) ? std::abs(hi) : LD(0));
    const LD violation = std::max({LD(0), lo - Cx[i], Cx[i] - hi});
    r.bound_violation = std::max(r.bound_violation, double(violation / scale));
    // z > 0 needs an upper bound, z < 0 a lower bound.
    if (z[i] > 0 && !std::isfinite(hi))
      r.wrong_sign = std::max(r.wrong_sign, double(z[i] / z_norm));
    if (z[i] < 0 && !std::isfinite(lo))
      r.wrong_sign = std::max(r.wrong_sign, double(-z[i] / z_norm));
    if (z[i] > 0 && std::isfinite(hi))
      r.complementarity =
          std::max(r.complementarity, double(z[i] * std::abs(hi - Cx[i]) / (z_norm * scale)));
    if (z[i] < 0 && std::isfinite(lo))
      r.complementarity =
          std::max(r.complementarity, double(-z[i] * std::abs(Cx[i] - lo) / (z_norm * scale)));
  }
  return r;
}

}  // namespace velmora::dense_qp::test
