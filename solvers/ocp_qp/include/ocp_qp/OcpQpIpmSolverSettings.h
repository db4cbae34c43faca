#pragma once

#include <ostream>

namespace velmora::ocp_qp {

/// Speed trades robustness for fewer operations per iteration; Robust favours convergence.
enum class SolverMode { SpeedAbs, Speed, Balance, Robust };

/// Result of a solve. Values match the numeric codes callers may log.
enum class SolverStatus {
  Success = 0,
  MaxIterReached = 1,
  MinStepLengthReached = 2,
  NaNDetected = 3,
  UnknownFailure = 4,
};

/// Prints the status as its name, e.g. "Success".
std::ostream& operator<<(std::ostream& os, SolverStatus status);

/// Interior-point settings.
struct OcpQpIpmSolverSettings {
  SolverMode mode = SolverMode::Speed;
  int iter_max = 30;          ///< maximum number of IPM iterations
  double alpha_min = 1e-8;    ///< smallest accepted step length
  double mu0 = 100.0;         ///< initial barrier parameter (cold start)
  double tol_stat = 1e-6;     ///< stationarity tolerance
  double tol_eq = 1e-8;       ///< equality (dynamics) tolerance
  double tol_ineq = 1e-8;     ///< inequality tolerance
  double tol_comp = 1e-8;     ///< complementarity tolerance
  double reg_prim = 1e-12;    ///< primal regularisation of the Riccati factorisation
  int warm_start = 0;         ///< 1: start from the solution passed to solve()
  int pred_corr = 1;          ///< 1: Mehrotra predictor-corrector
  int ric_alg = 0;            ///< Riccati variant
  int split_step = 1;         ///< 1: separate primal and dual step lengths
};

}  // namespace velmora::ocp_qp
