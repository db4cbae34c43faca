#include "Riccati.h"

#include "FixedSizeStage.h"
#include "StageProducts.h"

namespace velmora::ocp_qp::detail {

namespace {

int freeCount(const IpmStage& st, int k, bool with_stage0_state) {
  return (k == 0 && with_stage0_state) ? st.nv : st.nvf;
}

// M~ = H + reg I + barrier terms, on the leading nf x nf block.
void assembleStageMatrix(IpmStage& st, int nf, double reg) {
  auto M = st.M.topLeftCorner(nf, nf);
  M = st.H.topLeftCorner(nf, nf);
  M.diagonal().array() += reg;
  for (int i = 0; i < st.nb; ++i) {
    const int var = st.box_var[i];
    if (st.w[i] != 0.0 && var < nf) M(var, var) += st.w[i];
  }
  const int ng = st.dims.ng;
  if (ng == 0) return;
  if (nf == st.nvf) {
    addGeneralRowsWeighted(st, M);
    return;
  }
  // Stage 0 with its state treated as free (feedback policy): dense [D C].
  const int c0 = st.gColBegin();
  const int width = st.gColEnd(nf) - c0;
  if (width > 0) {
    const auto G = st.G.block(0, c0, ng, width);
    auto WG = st.WG.block(0, c0, ng, width);
    WG.noalias() = st.w.tail(ng).asDiagonal() * G;
    M.block(c0, c0, width, width).noalias() += G.transpose() * WG;
  }
}

}  // namespace

int factorizeRiccati(IpmData& data, double reg, double reg_rel, bool with_stage0_state) {
  const int N = static_cast<int>(data.stages.size()) - 1;
  for (int k = N; k >= 0; --k) {
    IpmStage& st = data.stages[k];
    const int nf = freeCount(st, k, with_stage0_state);
    const int nu = st.dims.nu;
    const int nxf = nf - nu;
    assembleStageMatrix(st, nf, reg);
    st.fixed_factor = k < N && nf == st.nv && data.fixed_size_kernels && isFixedShape(st);
    if (st.fixed_factor) {
      if (!ContactShapeStage::factorize(st, &data.stages[k + 1].P, reg_rel)) return k;
      continue;
    }
    auto M = st.M.topLeftCorner(nf, nf);
    if (k < N) {
      const IpmStage& next = data.stages[k + 1];
      if (nf == st.nvf) {
        addDynamicsQuadratic(st, next.P, M);
      } else {
        const auto BA = st.BA.leftCols(nf);
        auto PBA = st.PBA.leftCols(nf);
        PBA.noalias() = next.P * BA;
        M.noalias() += BA.transpose() * PBA;
      }
    }
    if (nu > 0) {
      Eigen::Ref<Eigen::MatrixXd> Muu = st.M.topLeftCorner(nu, nu);
      if (reg_rel > 0.0) Muu.diagonal().array() += reg_rel * Muu.diagonal().cwiseAbs().maxCoeff();
      const Eigen::LLT<Eigen::Ref<Eigen::MatrixXd>> llt(Muu);
      if (llt.info() != Eigen::Success) return k;
      if (nxf > 0) {
        st.M.topLeftCorner(nu, nu).triangularView<Eigen::Lower>().solveInPlace(
            st.M.block(0, nu, nu, nxf));
      }
    }
    if (nxf > 0) {
      auto P = st.P.topLeftCorner(nxf, nxf);
      P = st.M.block(nu, nu, nxf, nxf);
      if (nu > 0) {
        const auto W = st.M.block(0, nu, nu, nxf);
        P.noalias() -= W.transpose() * W;
      }
    }
  }
  return -1;
}

void solveRiccati(IpmData& data) {
  const int N = static_cast<int>(data.stages.size()) - 1;
  for (int k = N; k >= 0; --k) {
    IpmStage& st = data.stages[k];
    const int nf = st.nvf;
    const int nu = st.dims.nu;
    const int nxf = nf - nu;
    if (k < N && data.fixed_size_kernels && isFixedShape(st)) {
      ContactShapeStage::solveBackward(st, &data.stages[k + 1]);
      continue;
    }
    auto gt = st.gt.head(nf);
    if (k < N) {
      const IpmStage& next = data.stages[k + 1];
      st.pb = next.p;
      st.pb.noalias() += next.P * st.rb;
      addDynamicsTransposed(st, st.pb, st.gt);
    }
    if (nu > 0) {
      st.M.topLeftCorner(nu, nu).triangularView<Eigen::Lower>().solveInPlace(gt.head(nu));
    }
    if (nxf > 0) {
      st.p = gt.tail(nxf);
      if (nu > 0) st.p.noalias() -= st.M.block(0, nu, nu, nxf).transpose() * gt.head(nu);
    }
  }
  for (int k = 0; k <= N; ++k) {
    IpmStage& st = data.stages[k];
    const int nf = st.nvf;
    const int nu = st.dims.nu;
    const int nxf = nf - nu;
    if (k < N && data.fixed_size_kernels && isFixedShape(st)) {
      ContactShapeStage::solveForward(st, &data.stages[k + 1]);
      continue;
    }
    if (nu > 0) {
      auto du = st.dv.head(nu);
      du = st.gt.head(nu);
      if (nxf > 0) du.noalias() += st.M.block(0, nu, nu, nxf) * st.dv.segment(nu, nxf);
      st.M.topLeftCorner(nu, nu).triangularView<Eigen::Lower>().transpose().solveInPlace(du);
      du = -du;
    }
    if (k < N) {
      IpmStage& next = data.stages[k + 1];
      auto dx_next = next.dv.segment(next.dims.nu, next.dims.nx);
      dx_next = st.rb;
      addDynamicsTimes(st, st.dv, dx_next);
      st.dpi = next.p;
      st.dpi.noalias() += next.P * dx_next;
    }
  }
}

void riccatiGain(const IpmStage& st, Eigen::MatrixXd& K) {
  if (st.fixed_factor) {
    ContactShapeStage::gain(st, K);
    return;
  }
  const int nu = st.dims.nu, nx = st.dims.nx;
  K = -st.M.block(0, nu, nu, nx);
  st.M.topLeftCorner(nu, nu).triangularView<Eigen::Lower>().transpose().solveInPlace(K);
}

}  // namespace velmora::ocp_qp::detail
