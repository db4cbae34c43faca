#pragma once

// Riccati recursion for the Newton system of the OCP QP interior-point method (internal).
//
// For stage k with free variables v_k (see IpmStage.h) the Newton system is the LQ problem
//   min sum_k 1/2 dv_k' M~_k dv_k + gt_k' dv_k   s.t.  dx_{k+1} = BA_k dv_k + rb_k,  dx_0 = 0,
// with M~_k = H_k + reg I + (barrier weights w on box rows and G' W G). The backward pass forms
//   M_k = M~_k + BA_k' P_{k+1} BA_k,  L L' = M_k,uu,  W = L^{-1} M_k,ux,  P_k = M_k,xx - W'W,
// the vector pass p_k = gt_x + BA_x' pb - W' L^{-1}(gt_u + BA_u' pb) with pb = P_{k+1} rb +
// p_{k+1}, and the forward pass du = -L^{-T}(L^{-1} g_u + W dx), dx_{k+1} = BA dv + rb, dpi_k =
// P_{k+1} dx_{k+1} + p_{k+1}.

#include "IpmStage.h"

namespace velmora::ocp_qp::detail {

/// Backward factorisation with the weights in each stage's `w`; `reg` is added to the diagonal
/// of every M~, and `reg_rel` times the largest diagonal entry of M_uu to M_uu's diagonal
/// before its Cholesky factorisation. With `with_stage0_state` the first stage also treats its
/// state as free (used for the feedback policy). Returns -1 on success, otherwise the index of
/// the stage whose input block is not positive definite.
int factorizeRiccati(IpmData& data, double reg, double reg_rel, bool with_stage0_state);

/// Backward vector pass and forward pass for the gradients in `gt` and the dynamics residuals
/// in `rb`; writes `dv` (free part) and `dpi`. Requires a factorisation without stage-0 state.
/// Overwrites the input part of `gt`.
void solveRiccati(IpmData& data);

/// Feedback gain K = -L^{-T} W of stage k (nu x nx) from a factorisation made with
/// `with_stage0_state`.
void riccatiGain(const IpmStage& st, Eigen::MatrixXd& K);

}  // namespace velmora::ocp_qp::detail
