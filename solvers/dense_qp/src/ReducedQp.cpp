#include "ReducedQp.h"

#include <algorithm>
#include <cmath>

namespace velmora::dense_qp::internal {

namespace {

/// Relative size below which a reduced row counts as zero.
constexpr double kZeroRowTolerance = 1e-13;

}  // namespace

bool buildReducedQp(const DenseQp& scaled, NullSpaceElimination& elimination, double eps_abs,
                    double eps_rel, ReducedQp& reduced) {
  const Eigen::Index n = scaled.H.rows();
  const Eigen::Index m_in = scaled.C.rows();
  const Eigen::Index p = elimination.nullity();
  const Eigen::VectorXd& x_p = elimination.particular();
  reduced.p = p;

  elimination.multiplyZ(scaled.H, reduced.HZ);
  elimination.multiplyZTranspose(reduced.HZ, reduced.P);
  reduced.Hx_g.resize(n);
  reduced.Hx_g.noalias() = scaled.H * x_p;
  reduced.Hx_g += scaled.g;
  elimination.multiplyZTranspose(reduced.Hx_g, reduced.q);

  elimination.multiplyZ(scaled.C, reduced.CZ);
  reduced.Cx.resize(m_in);
  reduced.Cx.noalias() = scaled.C * x_p;
  reduced.row_norm.resize(m_in);
  if (m_in > 0) reduced.row_norm = scaled.C.cwiseAbs().rowwise().maxCoeff();

  // Select the rows to keep and check the constant ones.
  reduced.source_row.resize(m_in);
  Eigen::Index m = 0;
  for (Eigen::Index i = 0; i < m_in; ++i) {
    const bool finite_lo = std::isfinite(scaled.l[i]);
    const bool finite_hi = std::isfinite(scaled.u[i]);
    if (!finite_lo && !finite_hi) continue;
    const double row_norm = p > 0 ? reduced.CZ.row(i).cwiseAbs().maxCoeff() : 0.0;
    const double full_norm = reduced.row_norm[i];
    if (row_norm <= kZeroRowTolerance * full_norm || row_norm == 0.0) {
      const double value = reduced.Cx[i];
      const double lo_violation = finite_lo ? scaled.l[i] - value : 0.0;
      const double hi_violation = finite_hi ? value - scaled.u[i] : 0.0;
      const double bound = std::max(finite_lo ? std::abs(scaled.l[i]) : 0.0,
                                    finite_hi ? std::abs(scaled.u[i]) : 0.0);
      const double tolerance = eps_abs + eps_rel * std::max(bound, std::abs(value));
      if (std::max(lo_violation, hi_violation) > tolerance) return false;
      continue;
    }
    reduced.source_row[m++] = static_cast<int>(i);
  }
  reduced.m = m;
  reduced.source_row.conservativeResize(m);

  reduced.G.resize(m, p);
  reduced.lo.resize(m);
  reduced.hi.resize(m);
  reduced.has_lo.resize(m);
  reduced.has_hi.resize(m);
  reduced.bound_norm = 0.0;
  for (Eigen::Index k = 0; k < m; ++k) {
    const Eigen::Index i = reduced.source_row[k];
    reduced.G.row(k) = reduced.CZ.row(i);
    const bool finite_lo = std::isfinite(scaled.l[i]);
    const bool finite_hi = std::isfinite(scaled.u[i]);
    reduced.has_lo[k] = finite_lo ? 1.0 : 0.0;
    reduced.has_hi[k] = finite_hi ? 1.0 : 0.0;
    reduced.lo[k] = finite_lo ? scaled.l[i] - reduced.Cx[i] : 0.0;
    reduced.hi[k] = finite_hi ? scaled.u[i] - reduced.Cx[i] : 0.0;
    reduced.bound_norm =
        std::max({reduced.bound_norm, std::abs(reduced.lo[k]), std::abs(reduced.hi[k])});
  }
  reduced.P_norm = p > 0 ? reduced.P.cwiseAbs().maxCoeff() : 0.0;
  reduced.G_norm = (m > 0 && p > 0) ? reduced.G.cwiseAbs().maxCoeff() : 0.0;
  return true;
}

}  // namespace velmora::dense_qp::internal
