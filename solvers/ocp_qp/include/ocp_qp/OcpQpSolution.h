#pragma once

#include <Eigen/Dense>

namespace velmora::ocp_qp {

/// The solution of one stage. Inequality multipliers are non-negative, one per row or bound
/// of the stage (zero where the bound is masked out). K, k give u = K x + k from the Riccati
/// factorisation at the final iterate (empty on the last stage).
struct OcpQpSolution {
  Eigen::VectorXd x, u;
  Eigen::VectorXd pi;  ///< multiplier of the dynamics x_{k+1} = A x + B u + b (k < N)
  Eigen::VectorXd lam_lbu, lam_ubu, lam_lbx, lam_ubx, lam_lg, lam_ug;
  Eigen::MatrixXd K;
  Eigen::VectorXd k;
};

}  // namespace velmora::ocp_qp
