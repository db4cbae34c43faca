#include "ocp_qp/OcpQpIpmSolver.h"

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <string>

#include "InteriorPoint.h"
#include "IpmStage.h"
#include "ProblemData.h"
#include "Riccati.h"
#include "StartingPoint.h"

namespace velmora::ocp_qp {

using detail::IpmData;
using detail::IpmStage;

namespace {

constexpr double kFractionToBoundary = 0.995;
constexpr double kFixedCentering = 0.1;  // pred_corr == 0
// Gondzio centrality correctors: at most this many per iteration (Speed / Balance, Robust),
// tried only when the step is shorter than kCorrectorThreshold, aiming kCorrectorStretch
// further, kept when both step lengths together grow by at least a tenth of that.
constexpr int kMaxCorrectorsSpeed = 2;
constexpr int kMaxCorrectorsRobust = 4;
constexpr double kCorrectorThreshold = 0.9;
constexpr double kCorrectorStretch = 0.1;
constexpr double kCorrectorBetaMin = 0.1;
constexpr double kCorrectorBetaMax = 10.0;
// Retries of a failed factorisation: relative regularisation of M_uu (times its largest
// diagonal entry), first value, growth and ceiling.
constexpr double kRegRelFirst = 1e-14;
constexpr double kRegRelGrowth = 100.0;
constexpr double kRegRelMax = 1e-8;

// Largest residual relative to its tolerance (<= 1: converged).
double merit(const detail::ResidualNorms& r, const OcpQpIpmSolverSettings& s) {
  return std::max({r.stationarity / s.tol_stat, r.equality / s.tol_eq, r.inequality / s.tol_ineq,
                   r.complementarity / s.tol_comp});
}

bool converged(const detail::ResidualNorms& r, const OcpQpIpmSolverSettings& s) {
  return r.stationarity <= s.tol_stat && r.equality <= s.tol_eq && r.inequality <= s.tol_ineq &&
         r.complementarity <= s.tol_comp;
}

// Riccati factorisation at the current weights. A failure (a pivot lost to rounding next to
// huge barrier weights, or a non-convex stage) is retried with a regularisation relative to the
// size of M_uu, so that it only resolves rounding. Returns the failing stage or -1.
int factorize(IpmData& data, double reg, bool with_stage0_state) {
  int failed = detail::factorizeRiccati(data, reg, 0.0, with_stage0_state);
  for (double rel = kRegRelFirst; failed >= 0 && rel <= kRegRelMax; rel *= kRegRelGrowth) {
    failed = detail::factorizeRiccati(data, reg, rel, with_stage0_state);
  }
  return failed;
}

// Solves the Newton system for the current rc; fills all step fields.
void newtonStep(IpmData& data) {
  detail::assembleNewtonGradient(data);
  detail::solveRiccati(data);
  detail::recoverInequalitySteps(data);
}

detail::StepLengths stepLengths(const IpmData& data, const OcpQpIpmSolverSettings& s) {
  detail::StepLengths alpha = detail::maxStepLengths(data, kFractionToBoundary);
  if (s.split_step != 1) alpha.primal = alpha.dual = std::min(alpha.primal, alpha.dual);
  return alpha;
}

// Mehrotra predictor-corrector (or fixed centring) direction, improved by Gondzio correctors.
// Requires the factorisation of the current iterate. Returns the step lengths.
detail::StepLengths searchDirection(IpmData& data, const detail::ResidualNorms& norms,
                                    const OcpQpIpmSolverSettings& s) {
  const double mu = norms.mu;
  double target = kFixedCentering * mu;
  const bool mehrotra = s.pred_corr == 1;
  if (mehrotra) {
    detail::setComplementarityResiduals(data, 0.0, false);
    newtonStep(data);
    const detail::StepLengths affine = detail::maxStepLengths(data, 1.0);
    const double mu_affine = detail::complementarityAfterStep(data, affine, norms.n_active);
    const double ratio = mu > 0.0 ? std::clamp(mu_affine / mu, 0.0, 1.0) : 0.0;
    target = ratio * ratio * ratio * mu;
  }

  detail::setComplementarityResiduals(data, target, mehrotra);
  newtonStep(data);
  detail::StepLengths alpha = stepLengths(data, s);
  const bool robust = s.mode == SolverMode::Balance || s.mode == SolverMode::Robust;
  const int max_correctors = robust ? kMaxCorrectorsRobust : kMaxCorrectorsSpeed;
  for (int c = 0; c < max_correctors && norms.n_active > 0; ++c) {
    if (std::min(alpha.primal, alpha.dual) >= kCorrectorThreshold) break;
    const detail::StepLengths trial{std::min(1.0, alpha.primal + kCorrectorStretch),
                                    std::min(1.0, alpha.dual + kCorrectorStretch)};
    detail::saveDirection(data);
    detail::addCentralityCorrection(data, trial, target, kCorrectorBetaMin, kCorrectorBetaMax);
    newtonStep(data);
    const detail::StepLengths corrected = stepLengths(data, s);
    if (corrected.primal + corrected.dual < alpha.primal + alpha.dual + 0.1 * kCorrectorStretch) {
      detail::restoreDirection(data);
      break;
    }
    alpha = corrected;
  }
  return alpha;
}

void sizeSolutionStage(const detail::StageDims& d, bool last, OcpQpSolution& out) {
  out.x.resize(d.nx);
  out.u.resize(d.nu);
  out.pi.resize(d.nx1);
  out.lam_lbu.resize(d.nbu);
  out.lam_ubu.resize(d.nbu);
  out.lam_lbx.resize(d.nbx);
  out.lam_ubx.resize(d.nbx);
  out.lam_lg.resize(d.ng);
  out.lam_ug.resize(d.ng);
  out.K.resize(last ? 0 : d.nu, last ? 0 : d.nx);
  out.k.resize(last ? 0 : d.nu);
}

void writeIterate(const IpmData& data, const Eigen::VectorXd& x0,
                  std::vector<OcpQpSolution>& solution) {
  const int N = static_cast<int>(data.stages.size()) - 1;
  if (static_cast<int>(solution.size()) != N + 1) solution.resize(N + 1);
  for (int k = 0; k <= N; ++k) {
    const IpmStage& st = data.stages[k];
    const detail::StageDims& d = st.dims;
    OcpQpSolution& out = solution[k];
    sizeSolutionStage(d, k == N, out);
    out.u = st.v.head(d.nu);
    if (k == 0) {
      out.x = x0;
    } else {
      out.x = st.v.tail(d.nx);
    }
    out.pi = st.pi;
    out.lam_lbu = st.laml.head(d.nbu);
    out.lam_ubu = st.lamu.head(d.nbu);
    out.lam_lbx = st.laml.segment(d.nbu, d.nbx);
    out.lam_ubx = st.lamu.segment(d.nbu, d.nbx);
    out.lam_lg = st.laml.tail(d.ng);
    out.lam_ug = st.lamu.tail(d.ng);
    // Equality rows: the free multiplier split into its two sides.
    for (const int i : st.eq) {
      const double lower = std::max(st.nu[i], 0.0), upper = std::max(-st.nu[i], 0.0);
      if (i < d.nbu) {
        out.lam_lbu[i] = lower;
        out.lam_ubu[i] = upper;
      } else if (i < d.nbu + d.nbx) {
        out.lam_lbx[i - d.nbu] = lower;
        out.lam_ubx[i - d.nbu] = upper;
      } else {
        out.lam_lg[i - d.nbu - d.nbx] = lower;
        out.lam_ug[i - d.nbu - d.nbx] = upper;
      }
    }
  }
}

// Feedback policy from a factorisation at the final iterate, stage 0's state treated as free;
// k = u - K x so that the returned trajectory satisfies the policy. K = 0 if that factorisation
// fails even with regularisation.
void writePolicy(IpmData& data, const OcpQpIpmSolverSettings& s,
                 std::vector<OcpQpSolution>& solution) {
  const int N = static_cast<int>(data.stages.size()) - 1;
  detail::computeBarrierWeights(data);
  const int failed = factorize(data, s.reg_prim, true);
  for (int k = 0; k < N; ++k) {
    OcpQpSolution& out = solution[k];
    if (failed >= 0) {
      out.K.setZero();
    } else {
      detail::riccatiGain(data.stages[k], out.K);
    }
    out.k = out.u;
    out.k.noalias() -= out.K * out.x;
  }
}

}  // namespace

OcpQpIpmSolver::OcpQpIpmSolver(const std::vector<OcpQp>& qp, const OcpQpIpmSolverSettings& settings)
    : settings_(settings), owned_(std::make_unique<IpmData>()), data_(owned_.get()) {
  detail::resizeForProblem(qp, *data_);
}

OcpQpIpmSolver::OcpQpIpmSolver(const std::vector<OcpQp>& qp, const OcpQpIpmSolverSettings& settings,
                               OcpQpIpmWorkspace& workspace)
    : settings_(settings), data_(workspace.data_.get()) {
  detail::resizeForProblem(qp, *data_);
}

OcpQpIpmSolver::~OcpQpIpmSolver() = default;
OcpQpIpmSolver::OcpQpIpmSolver(OcpQpIpmSolver&&) noexcept = default;
OcpQpIpmSolver& OcpQpIpmSolver::operator=(OcpQpIpmSolver&&) noexcept = default;

int OcpQpIpmSolver::getNumIterations() const { return stats_.iterations; }
const OcpQpIpmResiduals& OcpQpIpmSolver::getResiduals() const { return stats_.residuals; }
const OcpQpIpmStatistics& OcpQpIpmSolver::getStatistics() const { return stats_; }

SolverStatus OcpQpIpmSolver::fail(SolverStatus status) {
  stats_.status = status;
  return status;
}

SolverStatus OcpQpIpmSolver::load(const Eigen::VectorXd& x0, const std::vector<OcpQp>& qp) {
  IpmData& data = *data_;
  const int N = static_cast<int>(data.stages.size()) - 1;
  detail::checkProblemMatches(qp, data);
  if (x0.size() != data.stages[0].dims.nx) {
    throw std::invalid_argument("OcpQpIpmSolver::solve: x0 has " + std::to_string(x0.size()) +
                                " entries, stage 0 has " + std::to_string(data.stages[0].dims.nx) +
                                " states");
  }
  if (!x0.allFinite()) {
    stats_.message = "x0 contains a non-finite number";
    return SolverStatus::NaNDetected;
  }
  for (int k = 0; k <= N; ++k) {
    switch (
        detail::loadStage(qp[k], k, N, x0, settings_.tol_ineq, data.stages[k], stats_.message)) {
      case detail::LoadResult::Ok:
        break;
      case detail::LoadResult::NonFinite:
        return SolverStatus::NaNDetected;
      case detail::LoadResult::NonConvex:
      case detail::LoadResult::Infeasible:
        return SolverStatus::UnknownFailure;
    }
  }
  data.stages[0].v.tail(data.stages[0].dims.nx) = x0;
  return SolverStatus::Success;
}

SolverStatus OcpQpIpmSolver::iterate() {
  IpmData& data = *data_;
  best_merit_ = std::numeric_limits<double>::infinity();
  for (int iter = 0;; ++iter) {
    const detail::ResidualNorms norms = detail::computeResiduals(data);
    stats_.residuals = {norms.stationarity, norms.equality, norms.inequality,
                        norms.complementarity};
    stats_.mu = norms.mu;
    if (!norms.finite) {
      stats_.message = "non-finite iterate at iteration " + std::to_string(iter);
      return SolverStatus::NaNDetected;
    }
    if (converged(norms, settings_)) return SolverStatus::Success;
    const double current = merit(norms, settings_);
    if (current < best_merit_) {
      best_merit_ = current;
      best_residuals_ = stats_.residuals;
      best_mu_ = norms.mu;
      detail::saveIterate(data);
    }
    if (iter >= settings_.iter_max) {
      stats_.message =
          "no convergence within " + std::to_string(settings_.iter_max) + " iterations";
      return SolverStatus::MaxIterReached;
    }
    detail::computeBarrierWeights(data);
    const int failed = factorize(data, settings_.reg_prim, false);
    if (failed >= 0) {
      stats_.message = "stage " + std::to_string(failed) +
                       ": R + B'PB is not positive definite (is the stage cost convex?)";
      return SolverStatus::UnknownFailure;
    }
    const detail::StepLengths alpha = searchDirection(data, norms, settings_);
    stats_.last_alpha_primal = alpha.primal;
    stats_.last_alpha_dual = alpha.dual;
    if (std::max(alpha.primal, alpha.dual) < settings_.alpha_min) {
      stats_.message = "step length below alpha_min at iteration " + std::to_string(iter);
      return SolverStatus::MinStepLengthReached;
    }
    detail::takeStep(data, alpha);
    stats_.iterations = iter + 1;
  }
}

SolverStatus OcpQpIpmSolver::solve(const Eigen::VectorXd& x0, std::vector<OcpQp>& qp,
                                   std::vector<OcpQpSolution>& solution) {
  stats_.iterations = 0;
  stats_.residuals = {};
  stats_.mu = 0.0;
  stats_.last_alpha_primal = stats_.last_alpha_dual = 0.0;
  stats_.message.clear();

  const SolverStatus loaded = load(x0, qp);
  if (loaded != SolverStatus::Success) return fail(loaded);

  const bool warm = settings_.warm_start == 1 && detail::warmStart(*data_, solution, settings_);
  if (!warm && !detail::coldStart(*data_, settings_)) {
    stats_.message = "the problem without inequalities cannot be factorised (not convex?)";
    return fail(SolverStatus::UnknownFailure);
  }

  SolverStatus status = iterate();
  if (warm && status != SolverStatus::Success) {
    // A warm start that passed the bound check can still be far from the new solution, e.g.
    // after a large jump of x0; started that close to the bounds, the iterates may stall. Solve
    // again from the cold start (the iteration count reports both attempts).
    const int warm_iterations = stats_.iterations;
    stats_.message.clear();
    if (!detail::coldStart(*data_, settings_)) {
      stats_.message = "the problem without inequalities cannot be factorised (not convex?)";
      return fail(SolverStatus::UnknownFailure);
    }
    stats_.iterations = 0;
    status = iterate();
    stats_.iterations += warm_iterations;
  }
  if (status == SolverStatus::NaNDetected) return fail(status);
  if (status != SolverStatus::Success &&
      best_merit_ <
          merit(
              detail::ResidualNorms{stats_.residuals.stationarity, stats_.residuals.equality,
                                    stats_.residuals.inequality, stats_.residuals.complementarity},
              settings_)) {
    // Rounding can make the last steps of a non-converging solve worse: return the best iterate.
    detail::restoreIterate(*data_);
    stats_.residuals = best_residuals_;
    stats_.mu = best_mu_;
  }
  writeIterate(*data_, x0, solution);
  writePolicy(*data_, settings_, solution);
  stats_.status = status;
  return status;
}

}  // namespace velmora::ocp_qp
