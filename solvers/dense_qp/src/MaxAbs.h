#pragma once

// The max-norm of a vector, the measure of every residual and scale in the dense QP solver.

#include <Eigen/Core>

namespace velmora::dense_qp::internal {

/// Largest absolute entry of `v`; 0 for an empty vector.
inline double maxAbs(const Eigen::Ref<const Eigen::VectorXd>& v) {
  return v.size() > 0 ? v.cwiseAbs().maxCoeff() : 0.0;
}

}  // namespace velmora::dense_qp::internal
