#pragma once

// Interface draft; the dense QP issue implements it.

#include <Eigen/Dense>

#include "core/Types.h"

namespace velmora {

/// Indices of decision variables.
using VectorVariables = Eigen::VectorXi;

/// Builds a convex QP  min 1/2 x'Hx + g'x  s.t.  A x = b,  lb <= C x <= ub,  l <= x <= u
/// block by block over groups of variables, and solves it with the project's dense QP solver.
/// Bounds of magnitude >= 1e16 (or infinite) mean "no bound".
class MathematicalProgram {
 public:
  MathematicalProgram();
  ~MathematicalProgram();

  /// Adds n new scalar variables; returns their indices, in order.
  VectorVariables newVectorVariables(size_t n);
  void addLinearEqualityConstraints(const Eigen::Ref<const matrix_t>& A,
                                    const Eigen::Ref<const vector_t>& b,
                                    const Eigen::Ref<const Eigen::VectorXi>& vars);
  void addLinearInEqualityConstraints(Eigen::Ref<const matrix_t> C, Eigen::Ref<const vector_t> lb,
                                      Eigen::Ref<const vector_t> ub,
                                      const Eigen::Ref<const Eigen::VectorXi>& vars);
  void addBoundingBoxConstraints(const Eigen::Ref<const vector_t>& lb,
                                 const Eigen::Ref<const vector_t>& ub,
                                 const Eigen::Ref<const Eigen::VectorXi>& vars);
  /// Adds 1/2 x(vars)' H x(vars) + g' x(vars) to the objective.
  void addQuadraticCost(Eigen::Ref<const matrix_t> H, Eigen::Ref<const vector_t> g,
                        const Eigen::Ref<const Eigen::VectorXi>& vars);
  /// True when an optimal point satisfying all constraints was found.
  bool solve();
  vector_t getSolution(const Eigen::Ref<const Eigen::VectorXi>& vars) const;
  vector_t getSolution() const;
};

}  // namespace velmora
