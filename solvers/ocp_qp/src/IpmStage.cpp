#include "IpmStage.h"

namespace velmora::ocp_qp::detail {

void IpmStage::resize(const StageDims& d, bool first_stage) {
  dims = d;
  nv = d.nu + d.nx;
  nvf = first_stage ? d.nu : nv;
  nb = d.nbu + d.nbx;
  m = nb + d.ng;

  H.resize(nv, nv);
  g.resize(nv);
  BA.resize(d.nx1, nv);
  BAt.resize(nv, d.nx1);
  bc.resize(d.nx1);
  G.resize(d.ng, nv);
  ba_cols.reserve(nv);
  BAc.resize(d.nx1, nv);
  ba_ptr.resize(nv + 1);
  ba_row.resize(static_cast<size_t>(d.nx1) * nv);
  ba_val.resize(static_cast<Eigen::Index>(d.nx1) * nv);
  g_ptr.reserve(d.ng + 1);
  g_idx.reserve(static_cast<size_t>(d.ng) * nv);
  g_val.resize(static_cast<Eigen::Index>(d.ng) * nv);
  box_var.resize(nb);
  lb.resize(m);
  ub.resize(m);
  is_const.resize(m);
  lower.reserve(m);
  upper.reserve(m);
  eq.reserve(m);

  for (Eigen::VectorXd* vec : {&v, &dv, &rs, &gt, &sdv, &bv}) vec->resize(nv);
  for (Eigen::VectorXd* vec : {&pi, &dpi, &rb, &pb, &sdpi, &bpi}) vec->resize(d.nx1);
  for (Eigen::VectorXd* vec :
       {&tl,    &tu,    &laml, &lamu, &rl,  &ru,   &rcl,  &rcu,    &gv,     &dtl,  &dtu,
        &dlaml, &dlamu, &dgv,  &w,    &c,   &sdtl, &sdtu, &sdlaml, &sdlamu, &srcl, &srcu,
        &btl,   &btu,   &rho,  &nu,   &dnu, &bnu,  &sdnu, &blaml,  &blamu}) {
    vec->resize(m);
  }
  M.resize(nv, nv);
  PBA.resize(d.nx1, nv);
  WG.resize(d.ng, nv);
  Mc.resize(nv, nv);
  vc.resize(nv);
  yc.resize(nv);
  P.resize(d.nx, d.nx);
  l_diag_inv.resize(d.nu);
  p.resize(d.nx);
}

}  // namespace velmora::ocp_qp::detail
