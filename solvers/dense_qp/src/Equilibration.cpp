#include "Equilibration.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace velmora::dense_qp::internal {

double inverseSqrtPowerOfTwo(double norm) {
  // norm = f 2^e with f in [0.5, 1), read from the IEEE-754 bits; result 2^-floor(e/2).
  std::uint64_t bits;
  std::memcpy(&bits, &norm, sizeof(bits));
  const int biased = static_cast<int>((bits >> 52) & 0x7ff);
  if (biased == 0 || biased == 0x7ff || !(norm > 0.0)) return 1.0;  // zero, subnormal, inf, NaN
  const int exponent = biased - 1022;
  const int half = exponent >= 0 ? exponent / 2 : -((-exponent + 1) / 2);
  const std::uint64_t result = static_cast<std::uint64_t>(1023 - std::clamp(half, -20, 20)) << 52;
  double factor;
  std::memcpy(&factor, &result, sizeof(factor));
  return factor;
}

void Equilibration::resize(Eigen::Index n, Eigen::Index m_eq, Eigen::Index m_in) {
  D_.resize(n);
  E_.resize(m_eq);
  F_.resize(m_in);
  col_norm_.resize(n);
  h_norm_.resize(n);
  eq_norm_.resize(m_eq);
  in_norm_.resize(m_in);
  col_factor_.resize(n);
  eq_factor_.resize(m_eq);
  in_factor_.resize(m_in);
}

namespace {

/// Scales a column by column_factor * row_factor (if apply), returns its max-norm and raises
/// row_norm to the column's absolute values.
inline double scaleColumn(double* column, Eigen::Index size, double column_factor,
                          const double* row_factor, double* row_norm, bool apply) {
  if (size == 0) return 0.0;
  if (apply) {
    for (Eigen::Index i = 0; i < size; ++i) column[i] *= column_factor * row_factor[i];
  }
  if (row_norm != nullptr) {
    for (Eigen::Index i = 0; i < size; ++i)
      row_norm[i] = std::max(row_norm[i], std::abs(column[i]));
  }
  return Eigen::Map<const Eigen::VectorXd>(column, size).cwiseAbs().maxCoeff();
}

}  // namespace

void Equilibration::scaleAndMeasure(DenseQp& qp, bool apply) {
  const Eigen::Index n = qp.H.rows(), m_eq = qp.A.rows(), m_in = qp.C.rows();
  eq_norm_.setZero();
  in_norm_.setZero();
  for (Eigen::Index j = 0; j < n; ++j) {
    const double cj = col_factor_[j];
    h_norm_[j] = scaleColumn(qp.H.col(j).data(), n, cj, col_factor_.data(), nullptr, apply);
    const double a =
        scaleColumn(qp.A.col(j).data(), m_eq, cj, eq_factor_.data(), eq_norm_.data(), apply);
    const double c =
        scaleColumn(qp.C.col(j).data(), m_in, cj, in_factor_.data(), in_norm_.data(), apply);
    col_norm_[j] = std::max({h_norm_[j], a, c});
  }
}

bool Equilibration::computeFactors() {
  bool changed = false;
  auto factors = [&changed](const Eigen::VectorXd& norms, Eigen::VectorXd& factor) {
    for (Eigen::Index i = 0; i < norms.size(); ++i) {
      factor[i] = inverseSqrtPowerOfTwo(norms[i]);
      changed |= factor[i] != 1.0;
    }
  };
  factors(col_norm_, col_factor_);
  factors(eq_norm_, eq_factor_);
  factors(in_norm_, in_factor_);
  return changed;
}

void Equilibration::apply(DenseQp& qp, int max_sweeps) {
  D_.setOnes();
  E_.setOnes();
  F_.setOnes();
  scaleAndMeasure(qp, false);
  for (int sweep = 0; sweep < max_sweeps && computeFactors(); ++sweep) {
    scaleAndMeasure(qp, true);
    D_.array() *= col_factor_.array();
    E_.array() *= eq_factor_.array();
    F_.array() *= in_factor_.array();
  }
  qp.g.array() *= D_.array();
  qp.b.array() *= E_.array();
  qp.l.array() *= F_.array();  // infinite bounds stay infinite (F > 0)
  qp.u.array() *= F_.array();

  // Cost factor: bring the larger of the mean Hessian column norm and the gradient norm to 1.
  const Eigen::Index n = qp.H.rows();
  const double mean_col_norm = n > 0 ? h_norm_.sum() / static_cast<double>(n) : 0.0;
  const double g_norm = n > 0 ? qp.g.cwiseAbs().maxCoeff() : 0.0;
  cost_scale_ = inverseSqrtPowerOfTwo(std::max(mean_col_norm, g_norm));
  cost_scale_ *= cost_scale_;  // 1/norm, as a power of two
  qp.H *= cost_scale_;
  qp.g *= cost_scale_;
}

}  // namespace velmora::dense_qp::internal
