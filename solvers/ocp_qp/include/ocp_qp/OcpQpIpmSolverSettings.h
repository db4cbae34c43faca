#pragma once

#include <ostream>

namespace velmora::ocp_qp {

/// Preset family of the interior-point method. SpeedAbs and Speed behave identically here (all
/// tolerances are absolute, see OcpQpIpmSolverSettings); Balance and Robust allow up to four
/// instead of two centrality correctors per iteration (more back-substitutions per iteration,
/// sometimes fewer iterations on badly centred problems).
enum class SolverMode { SpeedAbs, Speed, Balance, Robust };

/// Result of a solve. Values match the numeric codes callers may log.
enum class SolverStatus {
  Success = 0,               ///< all four residuals within their tolerances
  MaxIterReached = 1,        ///< iter_max iterations without meeting the tolerances
  MinStepLengthReached = 2,  ///< the step length fell below alpha_min
  NaNDetected = 3,           ///< non-finite input data or a non-finite iterate
  UnknownFailure = 4,        ///< factorisation failure, non-convex stage or inconsistent data
};

/// Prints the status as its name, e.g. "Success".
std::ostream& operator<<(std::ostream& os, SolverStatus status);

/// Interior-point settings, with the meaning the HPIPM OCP QP IPM gives them.
///
/// Residuals and tolerances (all absolute, max-norms over all stages, no scaling by the data):
///  - stationarity: gradient of the Lagrangian w.r.t. the free variables (u_k, x_k for k >= 1);
///  - equality: dynamics residual A x + B u + b - x_next;
///  - inequality: for every active bound side, the gap between the constraint value minus its
///    bound and the slack (a violated bound shows up here, since slacks are kept positive);
///  - complementarity: the largest product slack * multiplier (stricter than the average).
/// Success requires all four to be within their tolerances at the same iterate.
struct OcpQpIpmSolverSettings {
  SolverMode mode = SolverMode::Speed;
  int iter_max = 30;        ///< maximum number of IPM iterations (Newton steps)
  double alpha_min = 1e-8;  ///< MinStepLengthReached when both step lengths fall below this
  /// Cold start: upper limit of the initial complementarity products slack * multiplier. The
  /// start itself comes from an LQR solve of the problem without inequalities (see
  /// OcpQpIpmSolver), so the actual initial value is usually far smaller.
  double mu0 = 100.0;
  double tol_stat = 1e-6;   ///< stationarity tolerance (absolute)
  double tol_eq = 1e-8;     ///< equality (dynamics) tolerance (absolute)
  double tol_ineq = 1e-8;   ///< inequality tolerance (absolute)
  double tol_comp = 1e-8;   ///< complementarity tolerance (absolute, largest product)
  double reg_prim = 1e-12;  ///< added to the diagonal of every Riccati factorisation
  int warm_start = 0;       ///< 1: start from the solution passed to solve() (primal and dual)
  int pred_corr = 1;        ///< 1: Mehrotra predictor-corrector; 0: one step, fixed centring 0.1
  /// Riccati variant. Treated as fixed: the solver always uses the classical (non square-root)
  /// recursion, which only needs R + B'PB to be positive definite; any value is accepted.
  int ric_alg = 0;
  int split_step = 1;  ///< 1: separate primal and dual step lengths; 0: one common length
};

}  // namespace velmora::ocp_qp
