#pragma once

// Reading an OcpQp into the solver's stage storage (internal). Conventions: IpmStage.h.

#include <string>
#include <vector>

#include <Eigen/Dense>

#include "IpmStage.h"
#include "ocp_qp/OcpQp.h"

namespace velmora::ocp_qp::detail {

/// Sizes of stage k of `qp` (N = qp.size() - 1); `nx_k` is the state size implied by the
/// previous stage (-1 for stage 0). Stale fields of the last stage are not read.
/// @throws std::invalid_argument naming the stage and field for any inconsistency.
StageDims readStageDims(const std::vector<OcpQp>& qp, int k, int nx_k);

/// Sizes `data` for `qp`, keeping the storage of stages whose sizes are unchanged (no
/// allocation when nothing changed). @throws as readStageDims, or for an empty problem.
void resizeForProblem(const std::vector<OcpQp>& qp, IpmData& data);

/// @throws std::invalid_argument if the sizes of `qp` differ from those `data` was sized for.
void checkProblemMatches(const std::vector<OcpQp>& qp, const IpmData& data);

/// Outcome of loading one stage's numbers.
enum class LoadResult { Ok, NonFinite, NonConvex, Infeasible };

/// Copies stage k's numbers into `st` (sized for its dims): Hessian, linear term, dynamics,
/// constraint rows with x0's contribution folded into the bounds on stage 0, masks turned into
/// lists of active sides, constant rows detected. On anything but Ok, `message` says what and
/// where. Does not allocate when `st` is already sized.
LoadResult loadStage(const OcpQp& stage, int k, int N, const Eigen::VectorXd& x0, double tol_ineq,
                     IpmStage& st, std::string& message);

}  // namespace velmora::ocp_qp::detail
