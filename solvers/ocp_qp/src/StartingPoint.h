#pragma once

// Starting points of the OCP QP interior-point method (internal). Conventions: IpmStage.h.

#include <vector>

#include "IpmStage.h"
#include "ocp_qp/OcpQpIpmSolverSettings.h"
#include "ocp_qp/OcpQpSolution.h"

namespace velmora::ocp_qp::detail {

/// Cold start. Primal: the solution of the problem without inequalities (one Riccati solve;
/// if that problem is not strictly convex, unit barrier weights on the bounded rows are added).
/// Slacks: the distances of the row values to their bounds, raised to a floor of
/// max(1, 0.03 * largest distance); multipliers: mu / slack, so that every complementarity
/// product starts at mu = min(mu0, max(3 * floor * g, tol_comp)), g being the largest entry of
/// the cost gradient w.r.t. the inputs (the scale of the multipliers). Returns false if even
/// the weighted factorisation fails.
bool coldStart(IpmData& data, const OcpQpIpmSolverSettings& settings);

/// Warm start from `solution`: its x, u, pi are the primal and dynamics multipliers, its
/// inequality multipliers the duals. If that point, with slacks equal to the distances of the
/// row values to their bounds, already meets the tolerances it is kept as is; otherwise slacks
/// are floored at 1e-2 and each multiplier is clamped so that its product with the slack lies
/// in [1e-5, 1e-3]. Returns false
/// (the caller then starts cold) if `solution` does not have the problem's sizes, or if its
/// inputs and states violate a bound of the new problem by more than 10% of the row value (+1):
/// such a point, e.g. the previous solution of a problem whose contact pattern has changed, is a
/// worse start than the cold one.
bool warmStart(IpmData& data, const std::vector<OcpQpSolution>& solution,
               const OcpQpIpmSolverSettings& settings);

}  // namespace velmora::ocp_qp::detail
