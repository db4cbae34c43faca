// Reduction of the whole-body QP to y = [qdd; stance forces]; see the header for the layout.
//
// With u = [qdd; f] the first nv + 3 nFeet entries of x, the kept columns select y from u (the
// swing forces are zero), and tau = T y + t with T = A_j(:, kept), t = -b_j from the joint rows
// A_j u - tau = b_j of the equations of motion. A block over x then maps to y as
//   D_u u + D_tau tau  =  (D(:, kept) + D_tau T) y + D_tau t.

#include "control/ReducedWholeBodyProgram.h"

#include <stdexcept>
#include <string>

namespace velmora {
namespace {

constexpr Eigen::Index kBaseDofs = 6;

std::string sizeText(Eigen::Index rows, Eigen::Index cols) {
  return std::to_string(rows) + " x " + std::to_string(cols);
}

}  // namespace

ReducedWholeBodyProgram::ReducedWholeBodyProgram(Eigen::Index nv, Eigen::Index num_feet)
    : nv_(nv), nj_(nv - kBaseDofs), num_feet_(num_feet) {
  if (nv < kBaseDofs || num_feet < 1 || num_feet > 4) {
    throw std::invalid_argument("ReducedWholeBodyProgram: nv = " + std::to_string(nv) + " and " +
                                std::to_string(num_feet) +
                                " feet do not describe a floating-base robot with 1 to 4 feet");
  }
}

void ReducedWholeBodyProgram::build(const MatrixDB& constraints, const MatrixDB& tasks,
                                    const contact_flag_t& contact, scalar_t regularisation,
                                    scalar_t infinite_bound, dense_qp::DenseQp& qp) {
  const Eigen::Index n_full = numFullVariables();
  Eigen::Index num_swing = 0;
  kept_columns_.clear();
  for (Eigen::Index i = 0; i < nv_; ++i) kept_columns_.push_back(i);
  for (Eigen::Index foot = 0; foot < num_feet_; ++foot) {
    if (!contact[static_cast<size_t>(foot)]) {
      ++num_swing;
      continue;
    }
    for (Eigen::Index k = 0; k < 3; ++k) kept_columns_.push_back(nv_ + 3 * foot + k);
  }
  const auto n = static_cast<Eigen::Index>(kept_columns_.size());
  const Eigen::Index m_in = constraints.C.rows();
  const bool fits = constraints.A.cols() == n_full && constraints.A.rows() == nv_ + 3 * num_swing &&
                    constraints.b.size() == constraints.A.rows() &&
                    (m_in == 0 || constraints.C.cols() == n_full) &&
                    constraints.lb.size() == m_in && constraints.ub.size() == m_in &&
                    tasks.A.cols() == n_full && tasks.b.size() == tasks.A.rows();
  if (!fits) {
    throw std::invalid_argument(
        "ReducedWholeBodyProgram: the blocks do not have the whole-body layout for " +
        std::to_string(n_full) + " variables and " + std::to_string(num_swing) +
        " swing feet (equalities " + sizeText(constraints.A.rows(), constraints.A.cols()) +
        ", inequalities " + sizeText(m_in, constraints.C.cols()) + ", tasks " +
        sizeText(tasks.A.rows(), tasks.A.cols()) + ")");
  }

  // tau = T y + t from the joint rows of the equations of motion.
  torque_map_ = constraints.A(Eigen::seqN(kBaseDofs, nj_), kept_columns_);
  torque_offset_ = -constraints.b.segment(kBaseDofs, nj_);

  // Cost: the task rows on the kept columns, the regularisation on y and on tau.
  tasks_kept_ = tasks.A(Eigen::all, kept_columns_);
  qp.H.setZero(n, n);
  qp.H.selfadjointView<Eigen::Lower>().rankUpdate(tasks_kept_.transpose());
  qp.H.selfadjointView<Eigen::Lower>().rankUpdate(torque_map_.transpose(), regularisation);
  qp.H.triangularView<Eigen::StrictlyUpper>() = qp.H.transpose();
  qp.H.diagonal().array() += regularisation;
  qp.g.noalias() = -tasks_kept_.transpose() * tasks.b;
  qp.g.noalias() += regularisation * (torque_map_.transpose() * torque_offset_);

  // Equalities: the floating-base rows (the joint rows define tau, the swing rows hold at f = 0).
  qp.A = constraints.A(Eigen::seqN(0, kBaseDofs), kept_columns_);
  qp.b = constraints.b.head(kBaseDofs);

  // Inequalities over y; absent bounds stay absent.
  if (m_in == 0) {
    qp.C.resize(0, n);
    qp.l.resize(0);
    qp.u.resize(0);
    return;
  }
  const auto C_tau = constraints.C.rightCols(nj_);
  qp.C = constraints.C(Eigen::all, kept_columns_);
  qp.C.noalias() += C_tau * torque_map_;
  qp.l = constraints.lb;
  qp.u = constraints.ub;
  for (Eigen::Index r = 0; r < m_in; ++r) {
    const scalar_t offset = C_tau.row(r).dot(torque_offset_);
    if (qp.l[r] > -infinite_bound) qp.l[r] -= offset;
    if (qp.u[r] < infinite_bound) qp.u[r] -= offset;
  }
}

void ReducedWholeBodyProgram::expand(const vector_t& y, vector_t& x) const {
  if (y.size() != static_cast<Eigen::Index>(kept_columns_.size())) {
    throw std::invalid_argument("ReducedWholeBodyProgram::expand: y has " +
                                std::to_string(y.size()) + " entries, the program " +
                                std::to_string(kept_columns_.size()));
  }
  x.setZero(numFullVariables());
  x(kept_columns_) = y;
  x.tail(nj_).noalias() = torque_map_ * y;
  x.tail(nj_) += torque_offset_;
}

}  // namespace velmora
