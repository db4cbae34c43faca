#pragma once

// Stage conventions of an optimal-control QP with horizon N (stages k = 0..N):
//   dynamics       x_{k+1} = A_k x_k + B_k u_k + b_k                     (k < N)
//   cost           1/2 x'Q x + u'S x + 1/2 u'R u + q'x + r'u             (S is nu x nx)
//   general rows   lg <= C x + D u <= ug, a bound active where its mask is 1.0
//   box bounds     lbu <= u[idxbu] <= ubu, lbx <= x[idxbx] <= ubx, with masks as above
// Sizes are read from the fields; an empty field means "none". Stage N has a state only:
// its A, B, b, R, S, r, D, idxbu and input bounds are ignored. x_0 is fixed by the solve.

#include <vector>

#include <Eigen/Dense>

namespace velmora::ocp_qp {

/// One stage of an OCP QP.
///
/// Sizes: nx = columns of A (k < N; on stage N the rows of the previous stage's A), nu = columns
/// of B (0 when B is empty), ng = rows of C or D. Q, R must be symmetric (only their symmetric
/// part enters the cost). An empty Q, S, R, q, r, b, C or D stands for zeros; an empty mask means
/// "all bounds of that side active"; each bound vector has one entry per row (general) or per
/// listed index (box). A lower bound of -infinity or an upper bound of +infinity is absent.
///
/// The soft-constraint fields exist for interface compatibility only: the solver does not
/// support soft constraints and rejects a stage in which any of them is non-empty.
struct OcpQp {
  Eigen::MatrixXd A, B;
  Eigen::VectorXd b;
  Eigen::MatrixXd Q, S, R;
  Eigen::VectorXd q, r;
  Eigen::MatrixXd C, D;
  Eigen::VectorXd lg, ug, lg_mask, ug_mask;
  std::vector<int> idxbx;
  Eigen::VectorXd lbx, ubx, lbx_mask, ubx_mask;
  std::vector<int> idxbu;
  Eigen::VectorXd lbu, ubu, lbu_mask, ubu_mask;

  // Soft constraints (unsupported: must stay empty).
  Eigen::MatrixXd Zl, Zu;    ///< slack Hessians
  Eigen::VectorXd zl, zu;    ///< slack gradients
  std::vector<int> idxs;     ///< softened constraint indices
  Eigen::VectorXd lls, lus;  ///< slack lower bounds
};

}  // namespace velmora::ocp_qp
