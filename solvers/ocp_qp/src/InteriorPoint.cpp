#include "InteriorPoint.h"

#include "FixedSizeStage.h"
#include "StageProducts.h"

#include <algorithm>
#include <cmath>

namespace velmora::ocp_qp::detail {

void rowValues(IpmStage& st, const Eigen::VectorXd& vec, Eigen::VectorXd& out) {
  for (int i = 0; i < st.nb; ++i) out[i] = st.is_const[i] ? 0.0 : vec[st.box_var[i]];
  const int ng = st.dims.ng;
  if (ng > 0) generalRowsTimes(st, vec, out.tail(ng));
}

namespace {

double maxAbs(const Eigen::VectorXd& v) { return v.size() == 0 ? 0.0 : v.cwiseAbs().maxCoeff(); }

// rs -= (box and general rows)' * (laml - lamu); uses st.c as scratch.
void subtractConstraintForces(IpmStage& st) {
  st.c = st.laml - st.lamu;
  for (const int i : st.eq) st.c[i] += st.nu[i];
  for (int i = 0; i < st.nb; ++i) {
    if (!st.is_const[i]) st.rs[st.box_var[i]] -= st.c[i];
  }
  const int ng = st.dims.ng;
  if (ng > 0) addGeneralRowsTransposed(st, st.c.tail(ng), -1.0, st.rs);
}

}  // namespace

ResidualNorms computeResiduals(IpmData& data) {
  ResidualNorms norms;
  const int N = static_cast<int>(data.stages.size()) - 1;
  double comp_sum = 0.0;
  for (int k = 0; k <= N; ++k) {
    IpmStage& st = data.stages[k];
    const int nf = st.nvf;
    auto rs = st.rs.head(nf);
    if (k < N && data.fixed_size_kernels && isFixedShape(st)) {
      const IpmStage& next = data.stages[k + 1];
      ContactShapeStage::residuals(st, next.v.data() + next.dims.nu);
      norms.equality = std::max(norms.equality, maxAbs(st.rb));
    } else {
      rs = st.g.head(nf);
      rs.noalias() += st.H.topLeftCorner(nf, nf) * st.v.head(nf);
      if (k < N) {
        addDynamicsTransposed(st, st.pi, st.rs);
        const IpmStage& next = data.stages[k + 1];
        st.rb = st.bc - next.v.segment(next.dims.nu, next.dims.nx);
        addDynamicsTimes(st, st.v, st.rb);
        norms.equality = std::max(norms.equality, maxAbs(st.rb));
      }
    }
    if (k > 0) rs.tail(st.dims.nx) -= data.stages[k - 1].pi;
    if (st.m > 0) subtractConstraintForces(st);
    norms.stationarity = std::max(norms.stationarity, rs.size() ? rs.cwiseAbs().maxCoeff() : 0.0);

    if (st.m == 0) continue;
    rowValues(st, st.v, st.gv);
    for (const int i : st.lower) {
      st.rl[i] = st.gv[i] - st.lb[i] - st.tl[i];
      norms.inequality = std::max(norms.inequality, std::abs(st.rl[i]));
      const double comp = st.laml[i] * st.tl[i];
      norms.complementarity = std::max(norms.complementarity, comp);
      comp_sum += comp;
    }
    for (const int i : st.upper) {
      st.ru[i] = st.ub[i] - st.gv[i] - st.tu[i];
      norms.inequality = std::max(norms.inequality, std::abs(st.ru[i]));
      const double comp = st.lamu[i] * st.tu[i];
      norms.complementarity = std::max(norms.complementarity, comp);
      comp_sum += comp;
    }
    for (const int i : st.eq) {
      st.rl[i] = st.gv[i] - st.lb[i];
      norms.inequality = std::max(norms.inequality, std::abs(st.rl[i]));
    }
    norms.n_active += static_cast<int>(st.lower.size() + st.upper.size());
  }
  norms.mu = norms.n_active > 0 ? comp_sum / norms.n_active : 0.0;
  norms.finite = std::isfinite(norms.stationarity) && std::isfinite(norms.equality) &&
                 std::isfinite(norms.inequality) && std::isfinite(norms.complementarity) &&
                 std::isfinite(comp_sum);
  return norms;
}

void computeBarrierWeights(IpmData& data) {
  for (IpmStage& st : data.stages) {
    if (st.m == 0) continue;
    st.w.setZero();
    for (const int i : st.lower) st.w[i] += st.laml[i] / st.tl[i];
    for (const int i : st.upper) st.w[i] += st.lamu[i] / st.tu[i];
    for (const int i : st.eq) st.w[i] = st.rho[i];
  }
}

void setComplementarityResiduals(IpmData& data, double target, bool add_step_product) {
  for (IpmStage& st : data.stages) {
    for (const int i : st.lower) {
      st.rcl[i] = st.laml[i] * st.tl[i] - target;
      if (add_step_product) st.rcl[i] += st.dtl[i] * st.dlaml[i];
    }
    for (const int i : st.upper) {
      st.rcu[i] = st.lamu[i] * st.tu[i] - target;
      if (add_step_product) st.rcu[i] += st.dtu[i] * st.dlamu[i];
    }
  }
}

void assembleNewtonGradient(IpmData& data) {
  for (IpmStage& st : data.stages) {
    const int nf = st.nvf;
    st.gt.head(nf) = st.rs.head(nf);
    if (st.m == 0) continue;
    st.c.setZero();
    for (const int i : st.lower) st.c[i] += (st.rcl[i] + st.laml[i] * st.rl[i]) / st.tl[i];
    for (const int i : st.upper) st.c[i] -= (st.rcu[i] + st.lamu[i] * st.ru[i]) / st.tu[i];
    for (const int i : st.eq) st.c[i] = st.rho[i] * st.rl[i];
    for (int i = 0; i < st.nb; ++i) {
      if (!st.is_const[i]) st.gt[st.box_var[i]] += st.c[i];
    }
    const int ng = st.dims.ng;
    if (ng > 0) addGeneralRowsTransposed(st, st.c.tail(ng), 1.0, st.gt);
  }
}

void recoverInequalitySteps(IpmData& data) {
  for (IpmStage& st : data.stages) {
    if (st.m == 0) continue;
    rowValues(st, st.dv, st.dgv);
    for (const int i : st.lower) {
      st.dtl[i] = st.dgv[i] + st.rl[i];
      st.dlaml[i] = (-st.rcl[i] - st.laml[i] * st.dtl[i]) / st.tl[i];
    }
    for (const int i : st.upper) {
      st.dtu[i] = -st.dgv[i] + st.ru[i];
      st.dlamu[i] = (-st.rcu[i] - st.lamu[i] * st.dtu[i]) / st.tu[i];
    }
    for (const int i : st.eq) st.dnu[i] = -st.rho[i] * (st.rl[i] + st.dgv[i]);
  }
}

StepLengths maxStepLengths(const IpmData& data, double tau) {
  double ap = 1.0, ad = 1.0;
  for (const IpmStage& st : data.stages) {
    for (const int i : st.lower) {
      if (st.dtl[i] < 0.0) ap = std::min(ap, -tau * st.tl[i] / st.dtl[i]);
      if (st.dlaml[i] < 0.0) ad = std::min(ad, -tau * st.laml[i] / st.dlaml[i]);
    }
    for (const int i : st.upper) {
      if (st.dtu[i] < 0.0) ap = std::min(ap, -tau * st.tu[i] / st.dtu[i]);
      if (st.dlamu[i] < 0.0) ad = std::min(ad, -tau * st.lamu[i] / st.dlamu[i]);
    }
  }
  return {ap, ad};
}

double complementarityAfterStep(const IpmData& data, const StepLengths& alpha, int n_active) {
  if (n_active == 0) return 0.0;
  double sum = 0.0;
  for (const IpmStage& st : data.stages) {
    for (const int i : st.lower) {
      sum += (st.tl[i] + alpha.primal * st.dtl[i]) * (st.laml[i] + alpha.dual * st.dlaml[i]);
    }
    for (const int i : st.upper) {
      sum += (st.tu[i] + alpha.primal * st.dtu[i]) * (st.lamu[i] + alpha.dual * st.dlamu[i]);
    }
  }
  return sum / n_active;
}

void saveIterate(IpmData& data) {
  for (IpmStage& st : data.stages) {
    st.bv = st.v;
    st.bpi = st.pi;
    st.btl = st.tl;
    st.btu = st.tu;
    st.blaml = st.laml;
    st.blamu = st.lamu;
    st.bnu = st.nu;
  }
}

void restoreIterate(IpmData& data) {
  for (IpmStage& st : data.stages) {
    st.v = st.bv;
    st.pi = st.bpi;
    st.tl = st.btl;
    st.tu = st.btu;
    st.laml = st.blaml;
    st.lamu = st.blamu;
    st.nu = st.bnu;
  }
}

void saveDirection(IpmData& data) {
  for (IpmStage& st : data.stages) {
    st.sdv = st.dv;
    st.sdpi = st.dpi;
    st.sdtl = st.dtl;
    st.sdtu = st.dtu;
    st.sdlaml = st.dlaml;
    st.sdlamu = st.dlamu;
    st.sdnu = st.dnu;
    st.srcl = st.rcl;
    st.srcu = st.rcu;
  }
}

void restoreDirection(IpmData& data) {
  for (IpmStage& st : data.stages) {
    st.dv = st.sdv;
    st.dpi = st.sdpi;
    st.dtl = st.sdtl;
    st.dtu = st.sdtu;
    st.dlaml = st.sdlaml;
    st.dlamu = st.sdlamu;
    st.dnu = st.sdnu;
    st.rcl = st.srcl;
    st.rcu = st.srcu;
  }
}

namespace {

double centralityCorrection(double product, double target, double beta_min, double beta_max) {
  if (product < beta_min * target) return beta_min * target - product;
  if (product > beta_max * target) return std::max(beta_max * target - product, -beta_max * target);
  return 0.0;
}

}  // namespace

void addCentralityCorrection(IpmData& data, const StepLengths& trial, double target,
                             double beta_min, double beta_max) {
  for (IpmStage& st : data.stages) {
    for (const int i : st.lower) {
      const double product =
          (st.tl[i] + trial.primal * st.dtl[i]) * (st.laml[i] + trial.dual * st.dlaml[i]);
      st.rcl[i] -= centralityCorrection(product, target, beta_min, beta_max);
    }
    for (const int i : st.upper) {
      const double product =
          (st.tu[i] + trial.primal * st.dtu[i]) * (st.lamu[i] + trial.dual * st.dlamu[i]);
      st.rcu[i] -= centralityCorrection(product, target, beta_min, beta_max);
    }
  }
}

void takeStep(IpmData& data, const StepLengths& alpha) {
  for (IpmStage& st : data.stages) {
    const int nf = st.nvf;
    st.v.head(nf) += alpha.primal * st.dv.head(nf);
    st.pi += alpha.dual * st.dpi;
    for (const int i : st.lower) {
      st.tl[i] += alpha.primal * st.dtl[i];
      st.laml[i] += alpha.dual * st.dlaml[i];
    }
    for (const int i : st.upper) {
      st.tu[i] += alpha.primal * st.dtu[i];
      st.lamu[i] += alpha.dual * st.dlamu[i];
    }
    for (const int i : st.eq) st.nu[i] += alpha.dual * st.dnu[i];
  }
}

}  // namespace velmora::ocp_qp::detail
