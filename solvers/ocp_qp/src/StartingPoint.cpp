#include "StartingPoint.h"

#include <algorithm>
#include <cmath>

#include "InteriorPoint.h"
#include "Riccati.h"

namespace velmora::ocp_qp::detail {

namespace {

// Cold start constants (see coldStart): slack floor as a fraction of the largest distance of a
// row value to its bound, its absolute minimum, and the ratio of the initial complementarity to
// slack floor times input-gradient scale.
constexpr double kColdFloorFraction = 0.03;
constexpr double kColdFloorMin = 1.0;
constexpr double kColdCentering = 3.0;
// Warm start constants (see warmStart).
constexpr double kWarmMaxRelativeViolation = 0.1;
constexpr double kWarmSlackFloor = 1e-2;
constexpr double kWarmComplementarity = 1e-5;
constexpr double kWarmSpread = 100.0;
constexpr double kWarmExactSlackFloor = 1e-14;  // keeps slacks of the given point positive
constexpr double kTinyMultiplier = 1e-14;       // keeps multipliers of the given point positive

void resetInequalityIterate(IpmStage& st) {
  st.nu.setZero();
  st.laml.setZero();
  st.lamu.setZero();
  st.tl.setOnes();
  st.tu.setOnes();
  st.w.setZero();
}

// Slacks from the row values at v, floored at `floor`; multipliers clamped so that every
// product lies in [mu, spread * mu] (mu = 0: only kept positive).
void pushIntoInterior(IpmStage& st, double floor, double mu, double spread) {
  if (st.m == 0) return;
  rowValues(st, st.v, st.gv);
  auto clampMultiplier = [&](double lam, double t) {
    return mu > 0.0 ? std::clamp(lam, mu / t, spread * mu / t) : std::max(lam, kTinyMultiplier);
  };
  for (const int i : st.lower) {
    st.tl[i] = std::max(st.gv[i] - st.lb[i], floor);
    st.laml[i] = clampMultiplier(st.laml[i], st.tl[i]);
  }
  for (const int i : st.upper) {
    st.tu[i] = std::max(st.ub[i] - st.gv[i], floor);
    st.lamu[i] = clampMultiplier(st.lamu[i], st.tu[i]);
  }
}

bool meetsTolerances(const ResidualNorms& r, const OcpQpIpmSolverSettings& s) {
  return r.finite && r.stationarity <= s.tol_stat && r.equality <= s.tol_eq &&
         r.inequality <= s.tol_ineq && r.complementarity <= s.tol_comp;
}

// Primal and dynamics multipliers of the problem without inequalities: from v = 0, pi = 0 the
// residuals are the gradients and drifts, so one Newton step is the LQ solution.
bool primalFromLqr(IpmData& data, const OcpQpIpmSolverSettings& settings) {
  for (IpmStage& st : data.stages) {
    st.v.head(st.nvf).setZero();
    st.pi.setZero();
    resetInequalityIterate(st);
  }
  // Inequalities carry no weight (zero multipliers); equality rows keep their penalty.
  computeResiduals(data);
  computeBarrierWeights(data);
  if (factorizeRiccati(data, settings.reg_prim, 0.0, false) >= 0) {
    for (IpmStage& st : data.stages) {
      for (const int i : st.lower) st.w[i] = 1.0;
      for (const int i : st.upper) st.w[i] = 1.0;
    }
    if (factorizeRiccati(data, settings.reg_prim, 0.0, false) >= 0) return false;
  }
  setComplementarityResiduals(data, 0.0, false);
  assembleNewtonGradient(data);
  solveRiccati(data);
  recoverInequalitySteps(data);
  for (IpmStage& st : data.stages) {
    st.v.head(st.nvf) = st.dv.head(st.nvf);
    st.pi = st.dpi;
    for (const int i : st.eq) st.nu[i] = st.dnu[i];
    st.w.setZero();
  }
  return true;
}

bool sizesMatch(const IpmData& data, const std::vector<OcpQpSolution>& solution) {
  const int N = static_cast<int>(data.stages.size()) - 1;
  if (static_cast<int>(solution.size()) != N + 1) return false;
  for (int k = 0; k <= N; ++k) {
    const StageDims& d = data.stages[k].dims;
    const OcpQpSolution& s = solution[k];
    const bool ok = s.u.size() == d.nu && (k == 0 || s.x.size() == d.nx) && s.pi.size() == d.nx1 &&
                    s.lam_lbu.size() == d.nbu && s.lam_ubu.size() == d.nbu &&
                    s.lam_lbx.size() == d.nbx && s.lam_ubx.size() == d.nbx &&
                    s.lam_lg.size() == d.ng && s.lam_ug.size() == d.ng;
    if (!ok) return false;
  }
  return true;
}

// Largest violation of a bound (or equality row) by the current v, relative to 1 + |row value|.
double worstRelativeViolation(IpmData& data) {
  double worst = 0.0;
  for (IpmStage& st : data.stages) {
    if (st.m == 0) continue;
    rowValues(st, st.v, st.gv);
    for (const int i : st.lower) {
      worst = std::max(worst, (st.lb[i] - st.gv[i]) / (1.0 + std::abs(st.gv[i])));
    }
    for (const int i : st.upper) {
      worst = std::max(worst, (st.gv[i] - st.ub[i]) / (1.0 + std::abs(st.gv[i])));
    }
    for (const int i : st.eq) {
      worst = std::max(worst, std::abs(st.gv[i] - st.lb[i]) / (1.0 + std::abs(st.gv[i])));
    }
  }
  return worst;
}

void copyMultipliers(const OcpQpSolution& s, IpmStage& st) {
  const StageDims& d = st.dims;
  resetInequalityIterate(st);
  // Only active sides carry a multiplier; negative incoming values are clipped.
  for (const int i : st.lower) {
    const double lam = i < d.nbu           ? s.lam_lbu[i]
                       : i < d.nbu + d.nbx ? s.lam_lbx[i - d.nbu]
                                           : s.lam_lg[i - d.nbu - d.nbx];
    st.laml[i] = std::max(lam, 0.0);
  }
  for (const int i : st.upper) {
    const double lam = i < d.nbu           ? s.lam_ubu[i]
                       : i < d.nbu + d.nbx ? s.lam_ubx[i - d.nbu]
                                           : s.lam_ug[i - d.nbu - d.nbx];
    st.lamu[i] = std::max(lam, 0.0);
  }
  for (const int i : st.eq) {
    const bool box_u = i < d.nbu, box_x = !box_u && i < d.nbu + d.nbx;
    const int j = box_u ? i : box_x ? i - d.nbu : i - d.nbu - d.nbx;
    st.nu[i] = box_u   ? s.lam_lbu[j] - s.lam_ubu[j]
               : box_x ? s.lam_lbx[j] - s.lam_ubx[j]
                       : s.lam_lg[j] - s.lam_ug[j];
  }
}

// Largest distance of an active row value to its bound (either sign).
double largestBoundDistance(IpmData& data) {
  double largest = 0.0;
  for (IpmStage& st : data.stages) {
    if (st.m == 0) continue;
    rowValues(st, st.v, st.gv);
    for (const int i : st.lower) largest = std::max(largest, std::abs(st.gv[i] - st.lb[i]));
    for (const int i : st.upper) largest = std::max(largest, std::abs(st.ub[i] - st.gv[i]));
  }
  return largest;
}

// Largest input-gradient entry |R u + S x + r| of the cost at the current v.
double inputGradientScale(IpmData& data) {
  double scale = 0.0;
  for (IpmStage& st : data.stages) {
    const int nu = st.dims.nu;
    if (nu == 0) continue;
    auto grad = st.gt.head(nu);
    grad = st.g.head(nu);
    grad.noalias() += st.H.topLeftCorner(nu, st.nvf) * st.v.head(st.nvf);
    scale = std::max(scale, grad.cwiseAbs().maxCoeff());
  }
  return scale;
}

}  // namespace

bool coldStart(IpmData& data, const OcpQpIpmSolverSettings& settings) {
  if (!primalFromLqr(data, settings)) return false;
  const double floor = std::max(kColdFloorMin, kColdFloorFraction * largestBoundDistance(data));
  const double mu = std::min(
      settings.mu0, std::max(kColdCentering * floor * inputGradientScale(data), settings.tol_comp));
  for (IpmStage& st : data.stages) pushIntoInterior(st, floor, mu, 1.0);
  return true;
}

bool warmStart(IpmData& data, const std::vector<OcpQpSolution>& solution,
               const OcpQpIpmSolverSettings& settings) {
  if (!sizesMatch(data, solution)) return false;
  const int N = static_cast<int>(data.stages.size()) - 1;
  for (int k = 0; k <= N; ++k) {
    IpmStage& st = data.stages[k];
    const OcpQpSolution& s = solution[k];
    st.v.head(st.dims.nu) = s.u;
    if (k > 0) st.v.tail(st.dims.nx) = s.x;
    st.pi = s.pi;
  }
  if (worstRelativeViolation(data) > kWarmMaxRelativeViolation) return false;
  // The point as given (slacks = distances to the bounds): if it already meets the tolerances,
  // e.g. the same problem solved again, keep it.
  for (int k = 0; k <= N; ++k) {
    IpmStage& st = data.stages[k];
    copyMultipliers(solution[k], st);
    pushIntoInterior(st, kWarmExactSlackFloor, 0.0, 1.0);
  }
  if (meetsTolerances(computeResiduals(data), settings)) return true;
  for (int k = 0; k <= N; ++k) {
    IpmStage& st = data.stages[k];
    copyMultipliers(solution[k], st);
    pushIntoInterior(st, kWarmSlackFloor, kWarmComplementarity, kWarmSpread);
  }
  return true;
}

}  // namespace velmora::ocp_qp::detail
