// Fixed-size stage kernels against the general (dynamic-size) kernels, on the same loaded data
// (the general path is selected by turning IpmData::fixed_size_kernels off): the Riccati
// factorisation, its solves, the feedback gains and the residuals agree to rounding.

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FixedSizeStage.h"
#include "InteriorPoint.h"
#include "IpmStage.h"
#include "OcpQpTestSupport.h"
#include "ProblemData.h"
#include "Riccati.h"
#include "ocp_qp/OcpQpIpmSolverSettings.h"

namespace velmora::ocp_qp::test {
namespace {

using detail::IpmData;
using detail::IpmStage;

RandomShape fixedShape(int ng) {
  RandomShape shape;
  shape.N = 6;
  shape.nx = detail::kFixedStates;
  shape.nu = detail::kFixedInputs;
  shape.nbu = 3;
  shape.nbx = 2;
  shape.ng = ng;
  // Equality rows carry a penalty of 1e8 times the Hessian's scale, which conditions M so that
  // rounding differences grow far beyond the tolerances below.
  shape.equality_rows = false;
  return shape;
}

// Loads `qp` into `data` and sets a random interior iterate (positive slacks and multipliers).
void loadWithRandomIterate(const std::vector<OcpQp>& qp, const Eigen::VectorXd& x0,
                           std::mt19937& rng, IpmData& data) {
  detail::resizeForProblem(qp, data);
  const int N = static_cast<int>(qp.size()) - 1;
  std::string message;
  for (int k = 0; k <= N; ++k) {
    ASSERT_EQ(detail::loadStage(qp[k], k, N, x0, 1e-8, data.stages[k], message),
              detail::LoadResult::Ok)
        << message;
  }
  data.stages[0].v.tail(data.stages[0].dims.nx) = x0;
  std::uniform_real_distribution<double> pos(0.1, 2.0);
  std::normal_distribution<double> nd(0.0, 1.0);
  for (IpmStage& st : data.stages) {
    for (int i = 0; i < st.nvf; ++i) st.v[i] = nd(rng);
    for (int i = 0; i < st.pi.size(); ++i) st.pi[i] = nd(rng);
    for (int i = 0; i < st.m; ++i) {
      st.tl[i] = pos(rng);
      st.tu[i] = pos(rng);
      st.laml[i] = pos(rng);
      st.lamu[i] = pos(rng);
      st.nu[i] = nd(rng);
    }
  }
}

double relativeDifference(const Eigen::MatrixXd& a, const Eigen::MatrixXd& b) {
  if (a.size() == 0) return 0.0;
  return (a - b).cwiseAbs().maxCoeff() / (1.0 + b.cwiseAbs().maxCoeff());
}

// One Newton solve (factorisation, gradient, Riccati solve, step recovery) at the iterate.
int newtonSolve(IpmData& data, double reg_rel) {
  detail::computeResiduals(data);
  detail::computeBarrierWeights(data);
  const int failed = detail::factorizeRiccati(data, 1e-12, reg_rel, false);
  if (failed >= 0) return failed;
  detail::setComplementarityResiduals(data, 0.05, false);
  detail::assembleNewtonGradient(data);
  detail::solveRiccati(data);
  detail::recoverInequalitySteps(data);
  return -1;
}

TEST(OcpQpFixedSizeKernels, InteriorStagesOfTheContactShapeUseThem) {
  std::mt19937 rng(3);
  Eigen::VectorXd x0;
  const std::vector<OcpQp> qp = randomProblem(fixedShape(4), rng, x0);
  IpmData data;
  loadWithRandomIterate(qp, x0, rng, data);
  const int N = static_cast<int>(qp.size()) - 1;
  for (int k = 0; k <= N; ++k) {
    EXPECT_EQ(detail::isFixedShape(data.stages[k]), k > 0 && k < N) << "stage " << k;
  }
  // A shape with other sizes does not.
  RandomShape other = fixedShape(4);
  other.nu = 11;
  const std::vector<OcpQp> qp_other = randomProblem(other, rng, x0);
  IpmData data_other;
  loadWithRandomIterate(qp_other, x0, rng, data_other);
  for (const IpmStage& st : data_other.stages) EXPECT_FALSE(detail::isFixedShape(st));
}

TEST(OcpQpFixedSizeKernels, NewtonStepAndGainsMatchGeneralKernels) {
  std::mt19937 rng(17);
  for (int trial = 0; trial < 6; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    Eigen::VectorXd x0;
    // Dense general rows (trial even) and sparse ones (odd: the row-wise product path).
    RandomShape shape = fixedShape(trial % 2 == 0 ? 5 : 2);
    std::vector<OcpQp> qp = randomProblem(shape, rng, x0);
    if (trial % 3 == 1) {
      // Inputs without effect on the dynamics (a foot in swing): zero columns of B, which the
      // fixed-size factorisation skips.
      for (size_t k = 0; k + 1 < qp.size(); ++k) {
        qp[k].B.col(k % 12).setZero();
        qp[k].B.col(7).setZero();
      }
    }
    IpmData fixed;
    loadWithRandomIterate(qp, x0, rng, fixed);
    IpmData general = fixed;
    general.fixed_size_kernels = false;
    const double reg_rel = trial >= 4 ? 1e-10 : 0.0;
    ASSERT_EQ(newtonSolve(fixed, reg_rel), -1);
    ASSERT_EQ(newtonSolve(general, reg_rel), -1);
    const int N = static_cast<int>(qp.size()) - 1;
    for (int k = 0; k <= N; ++k) {
      const IpmStage& a = fixed.stages[k];
      const IpmStage& b = general.stages[k];
      const int nf = a.nvf;
      EXPECT_LT(relativeDifference(a.rs.head(nf), b.rs.head(nf)), 1e-12) << "rs, stage " << k;
      EXPECT_LT(relativeDifference(a.rb, b.rb), 1e-12) << "rb, stage " << k;
      EXPECT_LT(relativeDifference(a.P, b.P), 1e-10) << "P, stage " << k;
      EXPECT_LT(relativeDifference(a.p, b.p), 1e-10) << "p, stage " << k;
      EXPECT_LT(relativeDifference(a.dv.head(nf), b.dv.head(nf)), 1e-10) << "dv, stage " << k;
      EXPECT_LT(relativeDifference(a.dpi, b.dpi), 1e-10) << "dpi, stage " << k;
      EXPECT_LT(relativeDifference(a.dlaml, b.dlaml), 1e-10) << "dlaml, stage " << k;
    }
    // Feedback gains, from the factorisation with a free stage-0 state.
    for (IpmData* data : {&fixed, &general}) {
      ASSERT_EQ(detail::factorizeRiccati(*data, 1e-12, reg_rel, true), -1);
    }
    Eigen::MatrixXd K_fixed, K_general;
    for (int k = 0; k < N; ++k) {
      detail::riccatiGain(fixed.stages[k], K_fixed);
      detail::riccatiGain(general.stages[k], K_general);
      EXPECT_LT(relativeDifference(K_fixed, K_general), 1e-10) << "K, stage " << k;
    }
  }
}

TEST(OcpQpFixedSizeKernels, IndefiniteInputBlockIsReportedAtItsStage) {
  std::mt19937 rng(41);
  Eigen::VectorXd x0;
  std::vector<OcpQp> qp = randomProblem(fixedShape(0), rng, x0);
  // Positive diagonal, but indefinite: the pair (u0, u1) has eigenvalues 1 +- 50.
  const int bad = 3;
  qp[bad].R = Eigen::MatrixXd::Identity(detail::kFixedInputs, detail::kFixedInputs);
  qp[bad].R(0, 1) = qp[bad].R(1, 0) = 50.0;
  qp[bad].B.setZero();  // so that B'PB cannot make the block definite again
  for (const bool use_fixed : {true, false}) {
    SCOPED_TRACE(use_fixed ? "fixed-size kernels" : "general kernels");
    IpmData data;
    data.fixed_size_kernels = use_fixed;
    loadWithRandomIterate(qp, x0, rng, data);
    for (IpmStage& st : data.stages) st.w.setZero();
    EXPECT_EQ(detail::factorizeRiccati(data, 1e-12, 0.0, false), bad);
  }
}

}  // namespace
}  // namespace velmora::ocp_qp::test
