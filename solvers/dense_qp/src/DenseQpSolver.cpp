#include "dense_qp/DenseQpSolver.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>
#include <stdexcept>

#include "IterationAllocationGuard.h"
#include "MaxAbs.h"
#include "Workspace.h"

namespace velmora::dense_qp {

namespace {

using internal::InteriorPoint;
using internal::maxAbs;
using internal::Workspace;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kStallStep = 1e-10;  // step lengths below this count as a stall
constexpr int kMaxStalls = 5;

/// True when every entry is finite: x * 0 is 0 for finite x and NaN otherwise.
template <typename Derived>
bool allFinite(const Eigen::DenseBase<Derived>& M) {
  return M.size() == 0 || (M.derived().array() * 0.0).sum() == 0.0;
}

bool hasInvalidData(const DenseQp& qp) {
  return !allFinite(qp.H) || !allFinite(qp.g) || !allFinite(qp.A) || !allFinite(qp.b) ||
         !allFinite(qp.C) || qp.l.hasNaN() || qp.u.hasNaN();
}

/// Copies qp into `scaled` with a symmetric Hessian and absent bounds as infinities.
/// Returns false if some row's bounds can never be met.
bool copyProblem(const DenseQp& qp, double infinite_bound, DenseQp& scaled) {
  scaled.H.noalias() = 0.5 * (qp.H + qp.H.transpose());
  scaled.g = qp.g;
  scaled.A = qp.A;
  scaled.b = qp.b;
  scaled.C = qp.C;
  for (Eigen::Index i = 0; i < qp.C.rows(); ++i) {
    const double lo = qp.l[i];
    const double hi = qp.u[i];
    if (lo >= infinite_bound || hi <= -infinite_bound || lo > hi) return false;
    scaled.l[i] = lo <= -infinite_bound ? -kInf : lo;
    scaled.u[i] = hi >= infinite_bound ? kInf : hi;
  }
  return true;
}

/// Residuals of DenseQpInfo for (x, y, z) on the original data.
void computeResiduals(const DenseQp& qp, double infinite_bound, DenseQpSolution& sol,
                      Workspace& w) {
  DenseQpInfo& info = sol.info;
  w.Hx.noalias() = qp.H * sol.x;
  const double xHx = sol.x.dot(w.Hx);
  info.objective = 0.5 * xHx + qp.g.dot(sol.x);

  w.Ax.noalias() = qp.A * sol.x;
  info.equality_residual = maxAbs(w.Ax - qp.b);

  w.Cx.noalias() = qp.C * sol.x;
  double violation = 0.0;
  double support = 0.0;
  for (Eigen::Index i = 0; i < qp.C.rows(); ++i) {
    const bool has_lo = qp.l[i] > -infinite_bound;
    const bool has_hi = qp.u[i] < infinite_bound;
    if (has_lo) violation = std::max(violation, qp.l[i] - w.Cx[i]);
    if (has_hi) violation = std::max(violation, w.Cx[i] - qp.u[i]);
    if (sol.z[i] > 0.0 && has_hi) support += qp.u[i] * sol.z[i];
    if (sol.z[i] < 0.0 && has_lo) support += qp.l[i] * sol.z[i];
  }
  info.inequality_violation = violation;

  w.stationarity = w.Hx + qp.g;
  w.stationarity.noalias() += qp.A.transpose() * sol.y;
  w.stationarity.noalias() += qp.C.transpose() * sol.z;
  info.dual_residual = maxAbs(w.stationarity);
  info.duality_gap = std::abs(xHx + qp.g.dot(sol.x) + qp.b.dot(sol.y) + support);
}

}  // namespace

DenseQpSolver::DenseQpSolver(Eigen::Index n, Eigen::Index m_eq, Eigen::Index m_in,
                             const DenseQpSettings& settings)
    : settings_(settings) {
  if (n < 0 || m_eq < 0 || m_in < 0) {
    std::ostringstream msg;
    msg << "DenseQpSolver: negative size (n = " << n << ", m_eq = " << m_eq << ", m_in = " << m_in
        << ")";
    throw std::invalid_argument(msg.str());
  }
  work_ = std::make_unique<Workspace>(n, m_eq, m_in);
}

DenseQpSolver::~DenseQpSolver() = default;
DenseQpSolver::DenseQpSolver(DenseQpSolver&&) noexcept = default;
DenseQpSolver& DenseQpSolver::operator=(DenseQpSolver&&) noexcept = default;

DenseQpStatus DenseQpSolver::solve(const DenseQp& qp, DenseQpSolution& sol) {
  qp.checkSizes();
  Workspace& w = *work_;
  if (qp.numVariables() != w.n || qp.numEqualities() != w.m_eq || qp.numInequalities() != w.m_in) {
    std::ostringstream msg;
    msg << "DenseQpSolver::solve: problem has n = " << qp.numVariables()
        << ", m_eq = " << qp.numEqualities() << ", m_in = " << qp.numInequalities()
        << " but the solver was sized for n = " << w.n << ", m_eq = " << w.m_eq
        << ", m_in = " << w.m_in;
    throw std::invalid_argument(msg.str());
  }
  const DenseQpSettings& s = settings_;
  sol.x.setZero(w.n);
  sol.y.setZero(w.m_eq);
  sol.z.setZero(w.m_in);
  sol.info = DenseQpInfo();
  DenseQpInfo& info = sol.info;

  if (hasInvalidData(qp)) {
    info.status = DenseQpStatus::kInvalidInput;
    return info.status;
  }
  // Status and residuals of an outcome decided before the interior point.
  auto finish_early = [&](DenseQpStatus status) {
    info.status = status;
    computeResiduals(qp, s.infinite_bound, sol, w);
    return status;
  };
  if (!copyProblem(qp, s.infinite_bound, w.scaled)) {
    return finish_early(DenseQpStatus::kPrimalInfeasible);
  }
  if (w.n == 0) {
    // Nothing to choose: feasible iff every row holds at x = 0.
    const bool feasible = (w.m_eq == 0 || maxAbs(qp.b) <= s.eps_abs) &&
                          (w.m_in == 0 || ((w.scaled.l.array() <= s.eps_abs).all() &&
                                           (w.scaled.u.array() >= -s.eps_abs).all()));
    return finish_early(feasible ? DenseQpStatus::kSolved : DenseQpStatus::kPrimalInfeasible);
  }
  w.equilibration.apply(w.scaled, s.equilibration_iterations);
  const bool consistent =
      w.elimination.compute(w.scaled.A, w.scaled.b, s.rank_tolerance, s.eps_abs, s.eps_rel);
  info.equality_rank = static_cast<int>(w.elimination.rank());
  if (!consistent) return finish_early(DenseQpStatus::kPrimalInfeasible);
  if (!internal::buildReducedQp(w.scaled, w.elimination, s.eps_abs, s.eps_rel, w.reduced)) {
    return finish_early(DenseQpStatus::kPrimalInfeasible);
  }
  const internal::ReducedQp& R = w.reduced;
  w.sizeReduced(R.p, R.m);

  DenseQpStatus status = solveReduced(info);
  recoverSolution(sol);
  computeResiduals(qp, s.infinite_bound, sol, w);
  if (status == DenseQpStatus::kSolved &&
      !(sol.x.allFinite() && sol.y.allFinite() && sol.z.allFinite())) {
    status = DenseQpStatus::kNumericalFailure;
  }
  if (status != DenseQpStatus::kSolved) {
    // Never hand out non-finite numbers.
    if (!sol.x.allFinite()) sol.x.setZero();
    if (!sol.y.allFinite()) sol.y.setZero();
    if (!sol.z.allFinite()) sol.z.setZero();
  }
  info.status = status;
  return status;
}

DenseQpStatus DenseQpSolver::solveReduced(DenseQpInfo& info) {
  Workspace& w = *work_;
  const DenseQpSettings& s = settings_;
  const internal::ReducedQp& R = w.reduced;
  w.z_reduced.setZero();
  if (R.p == 0) {
    w.y_reduced.resize(0);
    return DenseQpStatus::kSolved;
  }
  InteriorPoint& ipm = w.ipm;
  if (!ipm.initialize(R, s.regularization)) return DenseQpStatus::kNonConvex;

  const internal::IterationAllocationGuard no_allocation;
  DenseQpStatus status = DenseQpStatus::kMaxIterationsReached;
  double last_polish_error = kInf;
  int stalls = 0;
  for (int iteration = 0;; ++iteration) {
    const internal::IpmResiduals& res = ipm.evaluate(R);
    const double error = res.relativeError();
    if (!std::isfinite(error)) {
      status = DenseQpStatus::kNumericalFailure;
      break;
    }
    const bool converged = res.converged(s.eps_abs, s.eps_rel);
    if (s.polish && (converged || (error <= s.polish_start && error <= 0.1 * last_polish_error))) {
      last_polish_error = error;
      if (w.polish.run(R, ipm, s.eps_abs, s.eps_rel, s.regularization, w.y_reduced, w.z_reduced)) {
        info.polished = true;
        status = DenseQpStatus::kSolved;
        break;
      }
    }
    if (converged) {
      status = DenseQpStatus::kSolved;
      break;
    }
    if (ipm.isPrimalInfeasible(R, s.eps_infeasible)) {
      status = DenseQpStatus::kPrimalInfeasible;
      break;
    }
    if (iteration > 0 && ipm.isDualInfeasible(R, s.eps_infeasible)) {
      status = DenseQpStatus::kDualInfeasible;
      break;
    }
    if (iteration >= s.max_iterations) break;
    const InteriorPoint::StepResult step = ipm.step(R);
    if (step != InteriorPoint::StepResult::kOk) {
      // Convexity was checked at the start, so this is a breakdown of the iteration.
      status = DenseQpStatus::kNumericalFailure;
      break;
    }
    ++info.iterations;
    stalls = ipm.lastStepLength() < kStallStep ? stalls + 1 : 0;
    if (stalls >= kMaxStalls) {
      status = DenseQpStatus::kNumericalFailure;
      break;
    }
  }
  if (!info.polished) {
    w.y_reduced = ipm.y();
    ipm.rowMultipliers(w.z_reduced);
  }
  return status;
}

void DenseQpSolver::recoverSolution(DenseQpSolution& sol) {
  Workspace& w = *work_;
  const internal::ReducedQp& R = w.reduced;
  const auto& eq = w.equilibration;

  // x~ = x_p + Z y and the multipliers of the kept rows.
  w.elimination.expand(w.y_reduced, w.x_scaled);
  w.z_scaled.setZero();
  for (Eigen::Index k = 0; k < R.m; ++k) w.z_scaled[R.source_row[k]] = w.z_reduced[k];

  // Equality multipliers from A~' y~ = -(H~ x~ + g~ + C~' z~).
  w.stationarity.noalias() = -(w.scaled.H * w.x_scaled);
  w.stationarity -= w.scaled.g;
  w.stationarity.noalias() -= w.scaled.C.transpose() * w.z_scaled;
  w.elimination.multipliers(w.stationarity, w.y_scaled);

  const double c = eq.costScale();
  sol.x = eq.D().cwiseProduct(w.x_scaled);
  sol.y = eq.E().cwiseProduct(w.y_scaled) / c;
  sol.z = eq.F().cwiseProduct(w.z_scaled) / c;
}

}  // namespace velmora::dense_qp
