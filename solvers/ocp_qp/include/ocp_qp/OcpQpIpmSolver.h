#pragma once

// Interface draft; the OCP QP solver issue implements it (and may add private members,
// a reusable workspace type and diagnostics, without changing these signatures).

#include <vector>

#include <Eigen/Dense>

#include "ocp_qp/OcpQp.h"
#include "ocp_qp/OcpQpIpmSolverSettings.h"
#include "ocp_qp/OcpQpSolution.h"

namespace velmora::ocp_qp {

/// Primal-dual interior-point solver for the OCP QP of OcpQp.h (Riccati recursion per
/// iteration, Mehrotra predictor-corrector). Storage is sized in the constructor from the
/// stages' sizes; solve() does not allocate.
class OcpQpIpmSolver {
 public:
  OcpQpIpmSolver(const std::vector<OcpQp>& qp, const OcpQpIpmSolverSettings& settings);

  /// Fixes x_0 = x0, solves, fills `solution` (resized to qp.size() if needed) and returns
  /// the status. With settings.warm_start == 1 the incoming `solution` is the starting point.
  SolverStatus solve(const Eigen::VectorXd& x0, std::vector<OcpQp>& qp,
                     std::vector<OcpQpSolution>& solution);

  int getNumIterations() const;
};

}  // namespace velmora::ocp_qp
