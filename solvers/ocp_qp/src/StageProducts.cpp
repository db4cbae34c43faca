#include "StageProducts.h"

namespace velmora::ocp_qp::detail {

void analyseStageSparsity(IpmStage& st) {
  const int nf = st.nvf;
  const int nx1 = st.dims.nx1;
  st.ba_cols.clear();
  st.ba_col_bits = 0;
  // One pass over the free columns: their non-zeros in compressed-column form, and the
  // columns that have any, packed.
  int nnz = 0;
  for (int j = 0; j < nf && nx1 > 0; ++j) {
    st.ba_ptr[j] = nnz;
    const double* column = st.BA.col(j).data();
    for (int r = 0; r < nx1; ++r) {
      if (column[r] == 0.0) continue;
      st.ba_val[nnz] = column[r];
      st.ba_row[nnz] = r;
      ++nnz;
    }
    if (nnz > st.ba_ptr[j]) {
      st.BAc.col(static_cast<int>(st.ba_cols.size())) = st.BA.col(j);
      st.ba_cols.push_back(j);
      if (j < 64) st.ba_col_bits |= 1ULL << j;
    }
  }
  st.ba_ptr[nx1 > 0 ? nf : 0] = nnz;
  st.ba_sparse = 3 * static_cast<size_t>(nnz) <= static_cast<size_t>(nf) * nx1;
  const int ng = st.dims.ng;
  st.g_ptr.clear();
  st.g_idx.clear();
  st.g_sparse = false;
  if (ng == 0) return;
  const int c0 = st.gColBegin();
  const int c1 = st.gColEnd(nf);
  nnz = 0;
  for (int r = 0; r < ng; ++r) {
    for (int j = c0; j < c1; ++j) nnz += st.G(r, j) != 0.0;
  }
  // Row-wise products pay off when at most half of the entries are non-zero.
  if (2 * nnz > ng * (c1 - c0)) return;
  st.g_sparse = true;
  st.g_ptr.push_back(0);
  for (int r = 0; r < ng; ++r) {
    for (int j = c0; j < c1; ++j) {
      if (st.G(r, j) != 0.0) {
        st.g_val[static_cast<Eigen::Index>(st.g_idx.size())] = st.G(r, j);
        st.g_idx.push_back(j);
      }
    }
    st.g_ptr.push_back(static_cast<int>(st.g_idx.size()));
  }
}

void generalRowsTimes(const IpmStage& st, const Eigen::VectorXd& v,
                      Eigen::Ref<Eigen::VectorXd> out) {
  const int ng = st.dims.ng;
  if (st.g_sparse) {
    for (int r = 0; r < ng; ++r) {
      double sum = 0.0;
      for (int e = st.g_ptr[r]; e < st.g_ptr[r + 1]; ++e) sum += st.g_val[e] * v[st.g_idx[e]];
      out[r] = sum;
    }
    return;
  }
  const int c0 = st.gColBegin();
  const int width = st.gColEnd(st.nvf) - c0;
  if (width > 0) {
    out.noalias() = st.G.block(0, c0, ng, width) * v.segment(c0, width);
  } else {
    out.setZero();
  }
}

void addGeneralRowsTransposed(const IpmStage& st, const Eigen::Ref<const Eigen::VectorXd>& coeff,
                              double sign, Eigen::Ref<Eigen::VectorXd> out) {
  const int ng = st.dims.ng;
  if (st.g_sparse) {
    for (int r = 0; r < ng; ++r) {
      const double cr = sign * coeff[r];
      if (cr == 0.0) continue;
      for (int e = st.g_ptr[r]; e < st.g_ptr[r + 1]; ++e) out[st.g_idx[e]] += st.g_val[e] * cr;
    }
    return;
  }
  const int c0 = st.gColBegin();
  const int width = st.gColEnd(st.nvf) - c0;
  if (width > 0) {
    out.segment(c0, width).noalias() += sign * (st.G.block(0, c0, ng, width).transpose() * coeff);
  }
}

void addGeneralRowsWeighted(IpmStage& st, Eigen::Ref<Eigen::MatrixXd> M) {
  const int ng = st.dims.ng;
  const auto w = st.w.tail(ng);
  if (st.g_sparse) {
    for (int r = 0; r < ng; ++r) {
      if (w[r] == 0.0) continue;
      for (int a = st.g_ptr[r]; a < st.g_ptr[r + 1]; ++a) {
        const double wa = w[r] * st.g_val[a];
        for (int b = st.g_ptr[r]; b < st.g_ptr[r + 1]; ++b) {
          M(st.g_idx[b], st.g_idx[a]) += wa * st.g_val[b];
        }
      }
    }
    return;
  }
  const int c0 = st.gColBegin();
  const int width = st.gColEnd(st.nvf) - c0;
  if (width <= 0) return;
  const auto G = st.G.block(0, c0, ng, width);
  auto WG = st.WG.block(0, c0, ng, width);
  WG.noalias() = w.asDiagonal() * G;
  M.block(c0, c0, width, width).noalias() += G.transpose() * WG;
}

void addDynamicsTimes(IpmStage& st, const Eigen::VectorXd& v, Eigen::Ref<Eigen::VectorXd> out) {
  const int nc = static_cast<int>(st.ba_cols.size());
  if (nc == st.nvf) {
    out.noalias() += st.BA.leftCols(nc) * v.head(nc);
    return;
  }
  for (int j = 0; j < nc; ++j) st.vc[j] = v[st.ba_cols[j]];
  out.noalias() += st.BAc.leftCols(nc) * st.vc.head(nc);
}

void addDynamicsTransposed(IpmStage& st, const Eigen::VectorXd& y,
                           Eigen::Ref<Eigen::VectorXd> out) {
  const int nc = static_cast<int>(st.ba_cols.size());
  if (nc == st.nvf) {
    out.head(nc).noalias() += st.BA.leftCols(nc).transpose() * y;
    return;
  }
  st.yc.head(nc).noalias() = st.BAc.leftCols(nc).transpose() * y;
  for (int j = 0; j < nc; ++j) out[st.ba_cols[j]] += st.yc[j];
}

void addDynamicsQuadratic(IpmStage& st, const Eigen::MatrixXd& P, Eigen::Ref<Eigen::MatrixXd> M) {
  const int nc = static_cast<int>(st.ba_cols.size());
  if (nc == 0) return;
  auto PBA = st.PBA.leftCols(nc);
  if (nc == st.nvf) {
    PBA.noalias() = P * st.BA.leftCols(nc);
    M.topLeftCorner(nc, nc).noalias() += st.BA.leftCols(nc).transpose() * PBA;
    return;
  }
  const auto BAc = st.BAc.leftCols(nc);
  PBA.noalias() = P * BAc;
  auto Mc = st.Mc.topLeftCorner(nc, nc);
  Mc.noalias() = BAc.transpose() * PBA;
  for (int b = 0; b < nc; ++b) {
    for (int a = 0; a < nc; ++a) M(st.ba_cols[a], st.ba_cols[b]) += Mc(a, b);
  }
}

}  // namespace velmora::ocp_qp::detail
