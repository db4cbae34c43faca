#pragma once

// Dense convex QP solver: equality elimination by variable reduction, then a primal-dual
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
///     max-norm near 1. Power-of-two factors are exact, so scaling adds no rounding error;
///     without it, directions of tiny curvature would drown in the rounding errors of the
///     large ones.
///  3. Equality elimination by variable reduction: Gaussian elimination with complete pivoting
///     of the scaled A gives its rank r, r basic variables and a null-space basis
///     Z = Pi [-U11^-1 U12; I]; inconsistent equalities give kPrimalInfeasible. The problem in
///     y (x = x_p + Z y) has n - r variables and only inequality rows; rows that become
///     constant are checked and dropped. Z'HZ must be positive semidefinite (kNonConvex).
///  4. Infeasible-start primal-dual interior point with Mehrotra's predictor-corrector on the
///     reduced problem: one Cholesky factorisation of Z'HZ + G'WG per iteration, one common
///     step length. Primal (Farkas) and dual (unbounded ray) certificates are tested on
///     diverging iterates.
///  5. Active-set polishing, tried whenever the relative residual has dropped tenfold below
///     polish_start: Tapia indicators (slack shrinking faster than multiplier) guess the active
///     rows, the KKT system of that equality-constrained problem is solved by a regularised
///     LDL' factorisation with iterative refinement, and the guess is corrected a few times
///     (violated rows added, wrongly signed ones dropped). The polished point is accepted only
///     if it is primal feasible, its multipliers have the right signs and it is stationary;
///     this gives the optimum to rounding accuracy even along directions of tiny curvature,
///     where the interior point alone converges slowly.
///  6. Multipliers of the equalities from the elimination, undoing of the scaling, and the
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
