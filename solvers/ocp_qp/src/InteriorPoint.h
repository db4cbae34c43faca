#pragma once

// Building blocks of one primal-dual interior-point iteration (internal). Conventions and the
// meaning of every stage field: IpmStage.h. For an active lower side (upper sides mirrored):
//   inequality residual   rl  = value - lb - tl
//   complementarity       rcl = laml tl - sigma mu  (+ dtl_aff dlaml_aff in the corrector)
//   step recovery         dtl = dvalue + rl,   dlaml = (-rcl - laml dtl) / tl
// so the Newton system in dv alone has the barrier weight w = laml/tl + lamu/tu per row and the
// gradient rs + G' c with c = (rcl + laml rl)/tl - (rcu + lamu ru)/tu.

#include "IpmStage.h"

namespace velmora::ocp_qp::detail {

/// Max-norms of the residuals at the current iterate (see OcpQpIpmSolverSettings).
struct ResidualNorms {
  double stationarity = 0.0;
  double equality = 0.0;
  double inequality = 0.0;
  double complementarity = 0.0;  ///< largest product slack * multiplier
  double mu = 0.0;               ///< average product slack * multiplier
  int n_active = 0;              ///< active bound sides over all stages
  bool finite = true;
};

/// Row values (box rows then general rows) of the free vector `vec` of stage `st`.
void rowValues(IpmStage& st, const Eigen::VectorXd& vec, Eigen::VectorXd& out);

/// Fills rs, rb, rl, ru (and gv) at the current iterate and returns their norms.
ResidualNorms computeResiduals(IpmData& data);

/// Barrier weights w = laml/tl + lamu/tu (zero on rows without an active side).
void computeBarrierWeights(IpmData& data);

/// Complementarity residuals rc = lam t - target, plus dt dlam of the current step if
/// `add_step_product` (Mehrotra's second-order correction).
void setComplementarityResiduals(IpmData& data, double target, bool add_step_product);

/// Newton gradient gt = rs + barrier terms for the current rc.
void assembleNewtonGradient(IpmData& data);

/// Slack and multiplier steps from dv (after solveRiccati).
void recoverInequalitySteps(IpmData& data);

/// Step lengths in (0, 1]: the largest that keep slacks (primal) and multipliers (dual)
/// non-negative, times `tau`.
struct StepLengths {
  double primal = 1.0;
  double dual = 1.0;
};
StepLengths maxStepLengths(const IpmData& data, double tau);

/// Average complementarity after a step of the given lengths.
double complementarityAfterStep(const IpmData& data, const StepLengths& alpha, int n_active);

/// Saves / restores the iterate (v, pi, slacks, multipliers).
void saveIterate(IpmData& data);
void restoreIterate(IpmData& data);

/// Saves / restores the current direction and complementarity residuals.
void saveDirection(IpmData& data);
void restoreDirection(IpmData& data);

/// Gondzio centrality correction: lowers rc where the products at the trial step lengths fall
/// below beta_min * target and raises it where they exceed beta_max * target, so that the next
/// Newton solve pulls outlying products back into [beta_min, beta_max] * target.
void addCentralityCorrection(IpmData& data, const StepLengths& trial, double target,
                             double beta_min, double beta_max);

/// Moves the iterate: primal (v, t) by alpha.primal, dual (pi, lam) by alpha.dual.
void takeStep(IpmData& data, const StepLengths& alpha);

}  // namespace velmora::ocp_qp::detail
