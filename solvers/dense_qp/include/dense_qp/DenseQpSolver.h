#pragma once

// Dense convex QP solver: equality elimination by a rank-revealing QR, then a primal-dual
// interior-point method with Mehrotra's predictor-corrector on the reduced problem, finished by
// active-set polishing.

#include <memory>

#include "dense_qp/DenseQp.h"
#include "dense_qp/DenseQpSettings.h"
#include "dense_qp/DenseQpSolution.h"

namespace velmora::dense_qp {

namespace internal {
struct Workspace;
}

/// Solves DenseQp problems of one fixed size (n variables, m_eq equality rows, m_in inequality
/// rows).
///
/// Method:
///  1. Inputs are checked (non-finite data gives kInvalidInput); bounds of magnitude >=
///     infinite_bound are dropped, impossible bounds give kPrimalInfeasible.
///  2. Ruiz equilibration: power-of-two diagonal scalings D, E, F and a cost factor c make every
///     row and column of the KKT matrix [cDHD, DA'E, DC'F; EAD, 0, 0; FCD, 0, 0] have a
///     max-norm near 1. Power-of-two factors are exact, so scaling adds no rounding error.
///  3. Equality elimination: a QR factorisation with column pivoting of the scaled A' gives its
///     rank r, an orthonormal basis Z of the null space of A and a particular solution x_p;
///     inconsistent equalities give kPrimalInfeasible. The problem in y (x = x_p + Z y) has
///     n - r variables and only inequality rows; rows that become constant are checked and
///     dropped.
///  4. Infeasible-start primal-dual interior point with Mehrotra's predictor-corrector on the
///     reduced problem: one Cholesky factorisation of Z'HZ + G'WG per iteration, a tiny
///     diagonal regularisation removed again by iterative refinement, one common step length.
///     Normalised primal (Farkas) and dual (unbounded ray) certificates are tested every
///     iteration.
///  5. Active-set polishing: once the iterate is close, the rows whose multiplier exceeds their
///     slack are taken as active and the KKT system of that equality-constrained problem is
///     solved by a regularised LDL' factorisation with iterative refinement; the result is
///     accepted only if it is primal feasible and its multipliers have the right signs, which
///     gives the optimum to rounding accuracy even along directions of tiny curvature.
///  6. Multipliers of the equalities from the QR factorisation, undoing of the scaling, and the
///     residuals of DenseQpInfo in the original units.
///
/// The storage for all steps is allocated in the constructor (the reduced problem's storage is
/// resized only when the rank of A changes); the interior-point iterations do not allocate.
class DenseQpSolver {
 public:
  /// Sizes the solver for problems with n variables, m_eq equalities and m_in inequalities.
  /// @throws std::invalid_argument if a size is negative.
  DenseQpSolver(Eigen::Index n, Eigen::Index m_eq, Eigen::Index m_in,
                const DenseQpSettings& settings = DenseQpSettings());
  ~DenseQpSolver();
  DenseQpSolver(DenseQpSolver&&) noexcept;
  DenseQpSolver& operator=(DenseQpSolver&&) noexcept;
  DenseQpSolver(const DenseQpSolver&) = delete;
  DenseQpSolver& operator=(const DenseQpSolver&) = delete;

  /// Solves `qp` and writes x, y, z and the diagnostics into `solution` (resized as needed).
  /// Returns solution.info.status; only kSolved means that solution.x is optimal.
  /// @throws std::invalid_argument if the sizes of `qp` do not match the constructor's.
  DenseQpStatus solve(const DenseQp& qp, DenseQpSolution& solution);

  const DenseQpSettings& settings() const { return settings_; }

 private:
  /// Interior point and polishing on the reduced problem; fills y_reduced and z_reduced.
  DenseQpStatus solveReduced(DenseQpInfo& info);
  /// x, y, z in original units from the reduced solution.
  void recoverSolution(DenseQpSolution& solution);

  DenseQpSettings settings_;
  std::unique_ptr<internal::Workspace> work_;
};

}  // namespace velmora::dense_qp
