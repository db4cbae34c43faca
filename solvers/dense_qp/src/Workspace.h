#pragma once

// Storage of DenseQpSolver, sized once per problem size.

#include "ActiveSetPolish.h"
#include "Equilibration.h"
#include "InteriorPoint.h"
#include "NullSpaceElimination.h"
#include "ReducedQp.h"
#include "dense_qp/DenseQp.h"

namespace velmora::dense_qp::internal {

struct Workspace {
  Eigen::Index n = 0, m_eq = 0, m_in = 0;
  DenseQp scaled;  ///< equilibrated copy of the problem
  Equilibration equilibration;
  NullSpaceElimination elimination;
  ReducedQp reduced;
  InteriorPoint ipm;
  ActiveSetPolish polish;
  Eigen::Index reduced_p = -1, reduced_m = -1;  ///< sizes ipm and polish are allocated for

  Eigen::VectorXd y_reduced, z_reduced;  ///< reduced primal point and row multipliers
  Eigen::VectorXd x_scaled, z_scaled, y_scaled, stationarity;
  Eigen::VectorXd Hx, Ax, Cx, ATy, CTz;

  Workspace(Eigen::Index n_, Eigen::Index m_eq_, Eigen::Index m_in_);
  /// Sizes ipm and polish for the reduced problem (no-op when the sizes are unchanged).
  void sizeReduced(Eigen::Index p, Eigen::Index m);
};

}  // namespace velmora::dense_qp::internal
