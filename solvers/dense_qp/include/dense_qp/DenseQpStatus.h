#pragma once

#include <ostream>

namespace velmora::dense_qp {

/// Outcome of DenseQpSolver::solve. Only kSolved carries a valid optimal point.
enum class DenseQpStatus {
  kSolved,                ///< KKT conditions hold to the tolerances of DenseQpSettings
  kPrimalInfeasible,      ///< inconsistent equalities, empty bounds, or a Farkas certificate
  kDualInfeasible,        ///< the objective is unbounded below on the feasible set (certificate)
  kMaxIterationsReached,  ///< no convergence within DenseQpSettings::max_iterations
  kNumericalFailure,      ///< the Newton systems could not be solved or the steps stalled
  kNonConvex,             ///< the Hessian is not positive semidefinite on the feasible directions
  kInvalidInput,          ///< non-finite entries in H, g, A, b or C, or NaN bounds
  kNotSolved,             ///< no solve has been run yet
};

/// Name of the status without the k prefix, e.g. "Solved".
const char* toString(DenseQpStatus status);

/// Prints toString(status).
std::ostream& operator<<(std::ostream& os, DenseQpStatus status);

}  // namespace velmora::dense_qp
