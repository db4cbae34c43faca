#pragma once

// Compile-time-sized kernels for the most common stage shape (internal). Conventions: IpmStage.h
// and Riccati.h.
//
// A stage with nu inputs, nx states and nx states on the next stage, all its variables free
// (every stage but the first and the last), can be processed by these kernels instead of the
// general ones when (nu, nx) is one of the instantiated shapes (see isFixedShape). They work on
// the same storage as the general code, through maps with compile-time sizes, so that Eigen
// unrolls and vectorises the small products instead of going through its blocked, packing
// matrix-product path; only lower triangles of symmetric blocks are formed, and columns of BA
// that are identically zero (inputs of a foot in swing) are skipped. The results equal those of
// the general kernels up to rounding, and the stage storage afterwards has the layout the
// general code expects (L in the lower triangle of M's input block, W in M's input-state block,
// P full and symmetric). In addition the factorisation leaves L' in the strictly upper triangle
// of M's input block and 1 / diag(L) in l_diag_inv for the solves, and sets fixed_factor. The
// kernels also read BAt = BA', which loadStage stores for stages of a fixed shape.

#include <cmath>

#include <Eigen/Dense>

#include "IpmStage.h"
#include "StageProducts.h"

namespace velmora::ocp_qp::detail {

/// Input and state sizes of the contact-force shape: 12 states (position, velocity,
/// orientation, angular momentum errors), 12 inputs (one force per foot).
constexpr int kFixedInputs = 12;
constexpr int kFixedStates = 12;

/// True if stage `st` can use the fixed-size kernels: nu = kFixedInputs, nx = nx1 = kFixedStates
/// and all variables free.
inline bool isFixedShape(const IpmStage& st) {
  return st.dims.nu == kFixedInputs && st.dims.nx == kFixedStates && st.dims.nx1 == kFixedStates &&
         st.nvf == st.nv;
}

/// Fixed-size kernels for stages with NU inputs and NX states (next stage: NX states).
template <int NU, int NX>
struct FixedSizeStage {
  static constexpr int NV = NU + NX;
  using MatVV = Eigen::Matrix<double, NV, NV>;
  using MatXV = Eigen::Matrix<double, NX, NV>;
  using MatVX = Eigen::Matrix<double, NV, NX>;
  using MatXX = Eigen::Matrix<double, NX, NX>;
  using VecV = Eigen::Matrix<double, NV, 1>;
  using VecX = Eigen::Matrix<double, NX, 1>;
  using VecU = Eigen::Matrix<double, NU, 1>;

  /// Factorises the stage given the next stage's P (nullptr: no successor term), after M
  /// already holds M~ (H + reg I + barrier terms): M += BA' P BA, then the first NU steps of a
  /// Cholesky factorisation of M (with reg_rel times the largest diagonal entry of M_uu added to
  /// that block's diagonal when reg_rel > 0). Writes L, W and the stage's P. Returns false if
  /// M_uu is not positive definite.
  [[gnu::flatten]] static bool factorize(IpmStage& st, const Eigen::MatrixXd* P_next,
                                         double reg_rel) {
    Eigen::Map<MatVV> M(st.M.data());
    if (P_next != nullptr) {
      const Eigen::Map<const MatXV> BA(st.BA.data());
      const Eigen::Map<const MatXX> P(P_next->data());
      Eigen::Map<MatXV> PBA(st.PBA.data());
      if (st.ba_sparse) {
        addLowerProductSparse(M, st, P, PBA);
      } else {
        addLowerProduct<0>(M, Eigen::Map<const MatVX>(st.BAt.data()), BA, P, PBA, st.ba_col_bits);
      }
    }
    if (reg_rel > 0.0) {
      const double shift = reg_rel * M.diagonal().template head<NU>().cwiseAbs().maxCoeff();
      M.diagonal().template head<NU>().array() += shift;
    }
    // First NU columns of a left-looking Cholesky factorisation on the lower triangle: column j
    // of L ends up in M's column j on and below the diagonal (rows NU.. hold W').
    if (!choleskyColumns<0>(M)) return false;
    M.template block<NU, NX>(0, NU) = M.template block<NX, NU>(NU, 0).transpose();
    // For the solves: L' in the strictly upper triangle of M_uu (unused by the general code)
    // and the reciprocals of L's diagonal.
    auto Muu = M.template topLeftCorner<NU, NU>();
    Muu.template triangularView<Eigen::StrictlyUpper>() = Muu.transpose();
    Eigen::Map<VecU>(st.l_diag_inv.data()) = Muu.diagonal().cwiseInverse();
    // P = M_xx - W'W (lower triangle of M_xx read).
    Eigen::Map<MatXX> P(st.P.data());
    P = M.template block<NX, NX>(NU, NU).template selfadjointView<Eigen::Lower>();
    const Eigen::Matrix<double, NX, NU> Wt = M.template block<NX, NU>(NU, 0);
    P.noalias() -= Wt.lazyProduct(Wt.transpose());
    return true;
  }

  /// Backward vector pass of solveRiccati for this stage: with next = nullptr for the last
  /// stage, otherwise pb = p_next + P_next rb and gt += BA' pb; then gt_u <- L^{-1} gt_u and
  /// p = gt_x - W' gt_u.
  [[gnu::flatten]] static void solveBackward(IpmStage& st, const IpmStage* next) {
    Eigen::Map<VecV> gt(st.gt.data());
    if (next != nullptr) {
      Eigen::Map<VecX> pb(st.pb.data());
      const Eigen::Map<const MatXX> P(next->P.data());
      pb = Eigen::Map<const VecX>(next->p.data());
      pb.noalias() += P.lazyProduct(Eigen::Map<const VecX>(st.rb.data()));
      gt.noalias() += Eigen::Map<const MatVX>(st.BAt.data()).lazyProduct(pb);
    }
    const Eigen::Map<const MatVV> M(st.M.data());
    auto gu = gt.template head<NU>();
    lowerSolve(M, st.l_diag_inv.data(), gu);
    Eigen::Map<VecX> p(st.p.data());
    p = gt.template tail<NX>();
    p.noalias() -= M.template block<NX, NU>(NU, 0).lazyProduct(gu);
  }

  /// Forward pass of solveRiccati for this stage, dx being already in dv's state part:
  /// du = -L^{-T}(gt_u + W dx); with a next stage, dx_next = rb + BA dv and
  /// dpi = p_next + P_next dx_next.
  [[gnu::flatten]] static void solveForward(IpmStage& st, IpmStage* next) {
    const Eigen::Map<const MatVV> M(st.M.data());
    Eigen::Map<VecV> dv(st.dv.data());
    auto du = dv.template head<NU>();
    du = Eigen::Map<const VecV>(st.gt.data()).template head<NU>();
    du.noalias() += M.template block<NU, NX>(0, NU).lazyProduct(dv.template tail<NX>());
    upperSolveTransposed(M, st.l_diag_inv.data(), du);
    du = -du;
    if (next == nullptr) return;
    Eigen::Map<VecX> dx_next(next->dv.data() + next->dims.nu);
    const Eigen::Map<const MatXV> BA(st.BA.data());
    dx_next = Eigen::Map<const VecX>(st.rb.data());
    dx_next.noalias() += BA.lazyProduct(dv);
    Eigen::Map<VecX> dpi(st.dpi.data());
    dpi = Eigen::Map<const VecX>(next->p.data());
    dpi.noalias() += Eigen::Map<const MatXX>(next->P.data()).lazyProduct(dx_next);
  }

  /// Feedback gain K = -L^{-T} W (NU x NX; K is resized if needed) from this stage's
  /// fixed-size factorisation.
  static void gain(const IpmStage& st, Eigen::MatrixXd& K) {
    K.resize(NU, NX);
    const Eigen::Map<const MatVV> M(st.M.data());
    Eigen::Map<Eigen::Matrix<double, NU, NX>> Km(K.data());
    Km = -M.template block<NU, NX>(0, NU);
    for (int c = 0; c < NX; ++c) {
      auto column = Km.col(c);
      upperSolveTransposed(M, st.l_diag_inv.data(), column);
    }
  }

  /// rs = g + H v + BA' pi (the stage's own terms of the stationarity residual) and, with the
  /// next stage's state x_next, rb = bc + BA v - x_next.
  [[gnu::flatten]] static void residuals(IpmStage& st, const double* x_next) {
    Eigen::Map<VecV> rs(st.rs.data());
    const Eigen::Map<const VecV> v(st.v.data());
    rs = Eigen::Map<const VecV>(st.g.data());
    rs.noalias() += Eigen::Map<const MatVV>(st.H.data()).lazyProduct(v);
    rs.noalias() +=
        Eigen::Map<const MatVX>(st.BAt.data()).lazyProduct(Eigen::Map<const VecX>(st.pi.data()));
    Eigen::Map<VecX> rb(st.rb.data());
    rb = Eigen::Map<const VecX>(st.bc.data()) - Eigen::Map<const VecX>(x_next);
    rb.noalias() += Eigen::Map<const MatXV>(st.BA.data()).lazyProduct(v);
  }

 private:
  // As addLowerProduct, from BA's compressed columns (ba_ptr, ba_row, ba_val): column j of
  // P BA sums the columns of P at BA's non-zero rows, and M(i, j) gathers column i's non-zeros
  // from it. For the sparse dynamics of the contact-force model (a few non-zeros per column)
  // this takes a fraction of the dense products' operations.
  static void addLowerProductSparse(Eigen::Map<MatVV>& M, const IpmStage& st,
                                    const Eigen::Map<const MatXX>& P, Eigen::Map<MatXV>& PBA) {
    const int* ptr = st.ba_ptr.data();
    const int* row = st.ba_row.data();
    const double* val = st.ba_val.data();
    for (int j = 0; j < NV; ++j) {
      const int begin = ptr[j], end = ptr[j + 1];
      if (begin == end) continue;
      auto column = PBA.col(j);
      column.noalias() = P.col(row[begin]) * val[begin];
      for (int e = begin + 1; e < end; ++e) column.noalias() += P.col(row[e]) * val[e];
      for (int i = j; i < NV; ++i) {
        double sum = 0.0;
        for (int e = ptr[i]; e < ptr[i + 1]; ++e) sum += val[e] * column[row[e]];
        M(i, j) += sum;
      }
    }
  }

  // Lower triangle of M += BA' P BA, column by column (columns J..): column J of PBA = P BA,
  // then the rows J.. of BA' times it. Identically zero columns of BA (the bits of `nonzero`
  // clear) contribute nothing and are skipped; their rows of BA' are zero as well.
  template <int J>
  static void addLowerProduct(Eigen::Map<MatVV>& M, const Eigen::Map<const MatVX>& BAt,
                              const Eigen::Map<const MatXV>& BA, const Eigen::Map<const MatXX>& P,
                              Eigen::Map<MatXV>& PBA, unsigned long long nonzero) {
    if constexpr (J < NV) {
      if ((nonzero >> J) & 1ULL) {
        PBA.col(J).noalias() = P.lazyProduct(BA.col(J));
        M.template block<NV - J, 1>(J, J).noalias() +=
            BAt.template bottomRows<NV - J>().lazyProduct(PBA.col(J));
      }
      addLowerProduct<J + 1>(M, BAt, BA, P, PBA, nonzero);
    }
  }

  // Cholesky column J (and the following ones up to NU - 1): subtracts the contributions of
  // the previous columns of L from column J on and below the diagonal, then divides it by the
  // root of its pivot. Returns false on a non-positive pivot.
  template <int J>
  static bool choleskyColumns(Eigen::Map<MatVV>& M) {
    if constexpr (J == NU) {
      return true;
    } else {
      constexpr int R = NV - J;
      auto column = M.template block<R, 1>(J, J);
      if constexpr (J > 0) {
        column.noalias() -=
            M.template block<R, J>(J, 0).lazyProduct(M.template block<1, J>(J, 0).transpose());
      }
      const double pivot = M(J, J);
      if (!(pivot > 0.0)) return false;
      const double d = std::sqrt(pivot);
      M(J, J) = d;
      M.template block<R - 1, 1>(J + 1, J) /= d;
      return choleskyColumns<J + 1>(M);
    }
  }

  // y <- L^{-1} y, L in the lower triangle of M's leading NU x NU block, 1 / diag(L) in dinv:
  // column-oriented forward substitution (one fixed-size axpy per column).
  template <int J = 0, typename Vec>
  static void lowerSolve(const Eigen::Map<const MatVV>& M, const double* dinv, Vec& y) {
    if constexpr (J < NU) {
      const double yj = y[J] * dinv[J];
      y[J] = yj;
      if constexpr (J + 1 < NU) {
        y.template segment<NU - 1 - J>(J + 1) -= M.template block<NU - 1 - J, 1>(J + 1, J) * yj;
      }
      lowerSolve<J + 1>(M, dinv, y);
    }
  }

  // y <- L^{-T} y, L' in the upper triangle of M's leading block: column-oriented backward
  // substitution.
  template <int J = NU - 1, typename Vec>
  static void upperSolveTransposed(const Eigen::Map<const MatVV>& M, const double* dinv, Vec& y) {
    if constexpr (J >= 0) {
      const double yj = y[J] * dinv[J];
      y[J] = yj;
      if constexpr (J > 0) y.template head<J>() -= M.template block<J, 1>(0, J) * yj;
      upperSolveTransposed<J - 1>(M, dinv, y);
    }
  }
};

using ContactShapeStage = FixedSizeStage<kFixedInputs, kFixedStates>;

}  // namespace velmora::ocp_qp::detail
