#pragma once

// Per-stage storage of the OCP QP interior-point solver (internal).
//
// Conventions used throughout src/:
//  - The stage vector is v = [u; x] (inputs first). Stage 0's state is fixed to x0, so the IPM
//    works on the leading nvf = nu entries of v there and on all nv = nu + nx entries elsewhere.
//    Matrices are stored for the full v; the IPM reads their leading nvf columns.
//  - Constraint rows of a stage: nb box rows (nbu input rows, then nbx state rows) followed by
//    ng general rows. A row's value is its coefficient row times v minus a constant folded into
//    the effective bounds lb, ub. A row whose coefficients on the free variables are all zero is
//    "constant": it is checked once per solve and takes no part in the iterations.
//  - Each active bound side has a slack t >= 0 and a multiplier lam >= 0:
//      lower: value - lb - tl = 0,    upper: ub - value - tu = 0.
//  - A row whose two active bounds coincide is an equality row instead: no slacks, a free
//    multiplier nu (= lam_lower - lam_upper) and residual re = value - lb, which the Newton
//    system enforces through a large penalty rho (a dual regularisation 1/rho):
//      (M + rho g g') dv = -(rs + rho g re),   dnu = -rho (re + g' dv).
//    Slack pairs would have to shrink to zero together with unbounded multipliers.
//  - Dynamics multiplier pi_k of x_{k+1} = A x_k + B u_k + b_k is the costate: the Lagrangian
//    carries + pi_k' (A x_k + B u_k + b_k - x_{k+1}), so pi_k = P_{k+1} x_{k+1} + p_{k+1} for an
//    unconstrained problem.

#include <vector>

#include <Eigen/Dense>

namespace velmora::ocp_qp::detail {

/// Sizes of one stage as read from the problem.
struct StageDims {
  int nx = 0;   ///< state size of this stage
  int nu = 0;   ///< input size (0 on the last stage)
  int nx1 = 0;  ///< state size of the next stage (0 on the last stage)
  int nbu = 0;  ///< listed input bounds (0 on the last stage)
  int nbx = 0;  ///< listed state bounds
  int ng = 0;   ///< general rows

  bool operator==(const StageDims& o) const {
    return nx == o.nx && nu == o.nu && nx1 == o.nx1 && nbu == o.nbu && nbx == o.nbx && ng == o.ng;
  }
  bool operator!=(const StageDims& o) const { return !(*this == o); }
};

/// Storage of one stage; sized once by resize(), then reused by every solve.
struct IpmStage {
  StageDims dims;
  int nv = 0;   ///< nu + nx
  int nvf = 0;  ///< free variables in the IPM: nu on stage 0, nv elsewhere
  int nb = 0;   ///< nbu + nbx
  int m = 0;    ///< nb + ng constraint rows

  // Problem data, copied from the OcpQp at the start of each solve.
  Eigen::MatrixXd H;    ///< nv x nv symmetric stage Hessian [R S; S' Q]
  Eigen::VectorXd g;    ///< nv linear term [r; q] (stage 0: r + S x0)
  Eigen::MatrixXd BA;   ///< nx1 x nv, [B A]
  Eigen::MatrixXd BAt;  ///< nv x nx1, BA' (filled for the fixed-size kernels only)
  Eigen::VectorXd bc;   ///< nx1 drift (stage 0: b + A x0)
  Eigen::MatrixXd G;    ///< ng x nv, [D C]
  bool d_zero = true;   ///< input part of G is zero (or absent)
  bool c_zero = true;   ///< state part of G is zero (or absent)
  // Sparsity of the free part (first nvf columns), found at load time:
  std::vector<int> ba_cols;            ///< free columns of BA that are not identically zero
  unsigned long long ba_col_bits = 0;  ///< bit j set: j is in ba_cols (j < 64 only)
  Eigen::MatrixXd BAc;                 ///< nx1 x ba_cols.size(): those columns, packed
  /// The free columns of BA in compressed-column form: column j's non-zeros are ba_val[e] in
  /// rows ba_row[e] for e in [ba_ptr[j], ba_ptr[j + 1]) (j < nvf; storage for nv columns).
  std::vector<int> ba_ptr, ba_row;
  Eigen::VectorXd ba_val;
  bool ba_sparse = false;         ///< at most a third of BA's free entries are non-zero
  bool g_sparse = false;          ///< general rows stored row-wise in g_ptr/g_idx/g_val
  std::vector<int> g_ptr, g_idx;  ///< row starts (ng + 1) and free column indices
  Eigen::VectorXd g_val;          ///< non-zero values of the general rows
  std::vector<int> box_var;       ///< nb: index into v of each box row
  Eigen::VectorXd lb, ub;         ///< m effective bounds (constant parts folded in)
  std::vector<char> is_const;     ///< m: row has no free coefficient
  std::vector<int> lower, upper;  ///< active non-constant bound sides (row indices)
  std::vector<int> eq;            ///< equality rows (excluded from lower and upper)
  Eigen::VectorXd rho;            ///< m: penalty of each equality row

  // Iterate.
  Eigen::VectorXd v, pi, tl, tu, laml, lamu, nu;
  // Residuals: stationarity, dynamics, lower/upper inequality, lower/upper complementarity.
  Eigen::VectorXd rs, rb, rl, ru, rcl, rcu;
  Eigen::VectorXd gv;  ///< m row values at the iterate
  // Newton step.
  Eigen::VectorXd dv, dpi, dtl, dtu, dlaml, dlamu, dnu, dgv;
  // Best iterate of the solve so far.
  Eigen::VectorXd bv, bpi, btl, btu, blaml, blamu, bnu;
  // Saved direction and complementarity residuals (centrality correctors may be rejected).
  Eigen::VectorXd sdv, sdpi, sdtl, sdtu, sdlaml, sdlamu, sdnu, srcl, srcu;
  // Barrier weight and gradient coefficient of each row.
  Eigen::VectorXd w, c;
  // Riccati factorisation: M = H + barrier + BA' P_next BA; its input block holds the Cholesky
  // factor L of Ruu, its input-state block W = L^{-1} Mux; P = Mxx - W'W.
  Eigen::MatrixXd M, PBA, P, WG, Mc;
  Eigen::VectorXd l_diag_inv;  ///< nu: 1 / diag(L) (fixed-size kernels only)
  bool fixed_factor = false;   ///< the last factorisation of this stage used the fixed-size kernels
  Eigen::VectorXd p, pb, gt, vc, yc;

  /// Sizes all storage for `d`; on the first stage nvf excludes the (fixed) state.
  void resize(const StageDims& d, bool first_stage);

  /// Columns of G that can be non-zero among the first `nf` variables: [begin, end).
  int gColBegin() const { return d_zero ? dims.nu : 0; }
  int gColEnd(int nf) const { return (c_zero || nf <= dims.nu) ? dims.nu : nf; }
};

/// Storage of a whole solver: one IpmStage per stage.
struct IpmData {
  std::vector<IpmStage> stages;
  /// Process stages of an instantiated fixed shape with the fixed-size kernels
  /// (FixedSizeStage.h); off: the general kernels everywhere (same results up to rounding).
  bool fixed_size_kernels = true;
};

}  // namespace velmora::ocp_qp::detail
