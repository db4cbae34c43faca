#pragma once

#include <memory>
#include <vector>

#include <Eigen/Dense>

#include "ocp_qp/OcpQp.h"
#include "ocp_qp/OcpQpIpmSolverSettings.h"
#include "ocp_qp/OcpQpIpmStatistics.h"
#include "ocp_qp/OcpQpIpmWorkspace.h"
#include "ocp_qp/OcpQpSolution.h"

namespace velmora::ocp_qp {

namespace detail {
struct IpmData;
}

/// Primal-dual interior-point solver for the OCP QP of OcpQp.h.
///
/// Method: infeasible-start primal-dual interior point with Mehrotra predictor-corrector. Each
/// iteration eliminates slacks and multipliers and solves the Newton system with one backward
/// Riccati factorisation (cost linear in N, cubic in the stage sizes) and two backward/forward
/// substitutions (predictor and corrector). Masked bounds have no slack or multiplier. x_0 is
/// fixed by solve(); stage 0's state bounds and the state part of its general rows act on x0 as
/// constants. Stage N has a state only; its A, B, b, R, S, r, D and input bounds are ignored.
///
/// Cold start: the primal trajectory of the problem without inequalities (one Riccati solve,
/// i.e. the LQR trajectory from x0), slacks from its constraint values pushed to a positive
/// floor, multipliers set so that all complementarity products start equal. Warm start
/// (settings.warm_start == 1): the incoming solution's x, u, pi and inequality multipliers, with
/// slacks from the constraint values and both pushed into the interior.
///
/// Results: x, u, pi and the multipliers of the final iterate; per stage k < N the affine
/// policy u = K x + k, with K = -(R~ + B'P B)^{-1} (S~ + B'P A) from a Riccati factorisation at
/// the final iterate (R~, S~ include the barrier terms of the final iterate, so active bounds
/// flatten the gain), and k = u_k - K x_k, so the returned trajectory satisfies the policy.
///
/// Storage is sized in the constructor; solve() does not allocate (apart from resizing the
/// solution vectors when their sizes differ and building a failure message).
class OcpQpIpmSolver {
 public:
  /// Validates the stage sizes of `qp` and sizes the solver's own storage.
  /// @throws std::invalid_argument naming stage and field for inconsistent sizes, indices out of
  ///         range or soft-constraint fields in use.
  OcpQpIpmSolver(const std::vector<OcpQp>& qp, const OcpQpIpmSolverSettings& settings);

  /// As above, but uses (and resizes only when needed) the caller's `workspace`, which must
  /// outlive this solver.
  OcpQpIpmSolver(const std::vector<OcpQp>& qp, const OcpQpIpmSolverSettings& settings,
                 OcpQpIpmWorkspace& workspace);

  ~OcpQpIpmSolver();
  OcpQpIpmSolver(OcpQpIpmSolver&&) noexcept;
  OcpQpIpmSolver& operator=(OcpQpIpmSolver&&) noexcept;
  OcpQpIpmSolver(const OcpQpIpmSolver&) = delete;
  OcpQpIpmSolver& operator=(const OcpQpIpmSolver&) = delete;

  /// Fixes x_0 = x0, solves, fills `solution` (resized to qp.size() if needed) and returns
  /// the status. With settings.warm_start == 1 the incoming `solution` is the starting point,
  /// unless it has other sizes or violates the new bounds by more than 10% (then: cold start);
  /// a warm-started solve that does not converge is repeated from the cold start, and the
  /// iteration count then reports both attempts.
  /// Non-finite numbers in x0 or in the stage data give NaNDetected and leave `solution`
  /// unchanged; a non-convex stage that breaks the factorisation gives UnknownFailure. When the
  /// solve does not converge, the iterate with the smallest residual/tolerance ratio is returned.
  /// `qp` is only read.
  /// @throws std::invalid_argument if x0 or `qp` do not have the sizes given to the constructor.
  SolverStatus solve(const Eigen::VectorXd& x0, std::vector<OcpQp>& qp,
                     std::vector<OcpQpSolution>& solution);

  /// Newton steps taken by the last solve.
  int getNumIterations() const;
  /// Residuals at the iterate returned by the last solve.
  const OcpQpIpmResiduals& getResiduals() const;
  /// Status, iterations, residuals and failure message of the last solve.
  const OcpQpIpmStatistics& getStatistics() const;
  const OcpQpIpmSolverSettings& getSettings() const { return settings_; }

 private:
  SolverStatus load(const Eigen::VectorXd& x0, const std::vector<OcpQp>& qp);
  SolverStatus iterate();
  SolverStatus fail(SolverStatus status);

  OcpQpIpmSolverSettings settings_;
  std::unique_ptr<detail::IpmData> owned_;
  detail::IpmData* data_ = nullptr;
  OcpQpIpmStatistics stats_;
  double best_merit_ = 0.0;  ///< smallest residual/tolerance ratio of the current solve
  OcpQpIpmResiduals best_residuals_;
  double best_mu_ = 0.0;
};

}  // namespace velmora::ocp_qp
