#pragma once

// Helpers of the OCP QP solver tests: random problems that are feasible by construction, the
// whole problem written out as one dense QP, and a KKT check computed from the stage data alone.

#include <random>
#include <string>
#include <vector>

#include <Eigen/Dense>

#include "dense_qp/DenseQp.h"
#include "ocp_qp/OcpQp.h"
#include "ocp_qp/OcpQpIpmSolverSettings.h"
#include "ocp_qp/OcpQpSolution.h"

namespace velmora::ocp_qp::test {

/// Settings with all tolerances set to `tol` and enough iterations for tight solves.
OcpQpIpmSolverSettings tightSettings(double tol = 1e-9, int iter_max = 100);

/// Shape of a random problem.
struct RandomShape {
  int N = 8;
  int nx = 4;
  int nu = 3;
  int nbu = 2;                ///< input bounds per stage
  int nbx = 2;                ///< state bounds per stage (all stages)
  int ng = 2;                 ///< general rows per stage (all stages; only C on the last)
  bool masks = true;          ///< some bound sides masked out
  bool equality_rows = true;  ///< one general row per stage with lg = ug
  bool cross_terms = true;    ///< non-zero S
};

/// A random problem that is feasible by construction: a random input trajectory is simulated
/// from x0, and every bound is placed around that trajectory's row values; a share of the bounds
/// then cuts into the unconstrained optimum (computed by the solver under test's data only
/// through a dense solve), so that they are active at the solution.
std::vector<OcpQp> randomProblem(const RandomShape& shape, std::mt19937& rng, Eigen::VectorXd& x0);

/// The problem written out densely over z = [u_0, x_1, u_1, ..., x_N] (x_0 = x0 fixed; stage N
/// has no input). Masked bound sides become +-infinity; rows that do not depend on z (stage 0
/// state bounds) are left in with constant bounds shifted by the fixed part.
dense_qp::DenseQp denseProblem(const std::vector<OcpQp>& qp, const Eigen::VectorXd& x0);

/// Splits a dense vector over z into per-stage x (with x0) and u.
void splitDense(const std::vector<OcpQp>& qp, const Eigen::VectorXd& x0, const Eigen::VectorXd& z,
                std::vector<Eigen::VectorXd>& x, std::vector<Eigen::VectorXd>& u);

/// Largest violations of the KKT conditions of `qp` at `sol`, from the stage data alone.
struct KktErrors {
  double stationarity = 0.0;       ///< max |gradient of the Lagrangian| over u_k and x_k (k >= 1)
  double dynamics = 0.0;           ///< max |A x + B u + b - x_next|
  double primal = 0.0;             ///< max violation of an active bound side
  double complementarity = 0.0;    ///< max multiplier * (row value - bound) over active sides
  double dual_sign = 0.0;          ///< max negative part of a multiplier
  double masked_multiplier = 0.0;  ///< max |multiplier| of a masked-out side
  double x0 = 0.0;                 ///< |x_0 - x0|
  std::string worst;               ///< where the largest stationarity error is
};
KktErrors kktErrors(const std::vector<OcpQp>& qp, const Eigen::VectorXd& x0,
                    const std::vector<OcpQpSolution>& sol);

/// Textbook finite-horizon Riccati recursion for an unconstrained problem: gains K_k with
/// u_k = K_k x_k + k_k; returns the K_k, k < N.
std::vector<Eigen::MatrixXd> riccatiGains(const std::vector<OcpQp>& qp);

}  // namespace velmora::ocp_qp::test
