#pragma once

// Builder of a convex quadratic programme over groups of scalar variables, solved by the dense
// QP solver.

#include <memory>

#include <Eigen/Dense>

#include "core/Types.h"
#include "dense_qp/DenseQpSettings.h"
#include "dense_qp/DenseQpSolution.h"

namespace velmora {

/// Indices of decision variables.
using VectorVariables = Eigen::VectorXi;

/// Builds a convex QP  min 1/2 x'Hx + g'x  s.t.  A x = b,  lb <= C x <= ub,  l <= x <= u
/// block by block over groups of variables, and solves it with dense_qp::DenseQpSolver.
///
/// Every block names the variables it acts on by their indices (`vars`); its i-th column
/// belongs to variable vars(i). Indices must come from newVectorVariables and may not repeat
/// within one block. Blocks add up: costs are summed, constraint rows are stacked in call order.
/// Bounds of magnitude >= 1e16 (or infinite) mean "no bound". Matrices and vectors must be
/// finite; bounds must not be NaN. Size or index errors and non-finite data throw
/// std::invalid_argument naming the operation, the argument and the sizes.
///
/// A programme is meant to be built, solved once and discarded; solve() may be called again
/// after adding more blocks.
class MathematicalProgram {
 public:
  MathematicalProgram();
  ~MathematicalProgram();
  MathematicalProgram(MathematicalProgram&&) noexcept;
  MathematicalProgram& operator=(MathematicalProgram&&) noexcept;
  MathematicalProgram(const MathematicalProgram&) = delete;
  MathematicalProgram& operator=(const MathematicalProgram&) = delete;

  /// Adds n new scalar variables; returns their indices, in order.
  VectorVariables newVectorVariables(size_t n);
  /// Adds the rows A x(vars) = b. A is k x vars.size(), b has k entries.
  void addLinearEqualityConstraints(const Eigen::Ref<const matrix_t>& A,
                                    const Eigen::Ref<const vector_t>& b,
                                    const Eigen::Ref<const Eigen::VectorXi>& vars);
  /// Adds the rows lb <= C x(vars) <= ub. C is k x vars.size(), lb and ub have k entries.
  void addLinearInEqualityConstraints(Eigen::Ref<const matrix_t> C, Eigen::Ref<const vector_t> lb,
                                      Eigen::Ref<const vector_t> ub,
                                      const Eigen::Ref<const Eigen::VectorXi>& vars);
  /// Adds lb <= x(vars) <= ub (one inequality row per variable).
  void addBoundingBoxConstraints(const Eigen::Ref<const vector_t>& lb,
                                 const Eigen::Ref<const vector_t>& ub,
                                 const Eigen::Ref<const Eigen::VectorXi>& vars);
  /// Adds 1/2 x(vars)' H x(vars) + g' x(vars) to the objective. H is square with vars.size()
  /// rows and positive semidefinite; only its symmetric part matters.
  void addQuadraticCost(Eigen::Ref<const matrix_t> H, Eigen::Ref<const vector_t> g,
                        const Eigen::Ref<const Eigen::VectorXi>& vars);
  /// True when an optimal point satisfying all constraints was found. Infeasible, unbounded
  /// or non-converging programmes return false (see status()).
  bool solve();
  /// Values of the listed variables, in the order of vars.
  /// @throws std::logic_error unless the last solve() succeeded; std::invalid_argument for an
  ///         unknown index.
  vector_t getSolution(const Eigen::Ref<const Eigen::VectorXi>& vars) const;
  /// Values of all variables, in index order. @throws std::logic_error as above.
  vector_t getSolution() const;

  /// Number of variables created so far.
  size_t numVariables() const;
  /// Number of equality and of inequality rows added so far.
  size_t numEqualityConstraints() const;
  size_t numInequalityConstraints() const;

  /// Solver settings used by the next solve().
  void setSolverSettings(const dense_qp::DenseQpSettings& settings);
  /// Status of the last solve() (kNotSolved before the first one).
  dense_qp::DenseQpStatus status() const;
  /// Iterations, residuals and status of the last solve().
  const dense_qp::DenseQpInfo& info() const;
  /// Multipliers of the last solve(): equality rows and inequality rows in the order they were
  /// added, with the sign convention of dense_qp::DenseQpSolution.
  /// @throws std::logic_error unless the last solve() succeeded.
  const vector_t& getEqualityDuals() const;
  const vector_t& getInequalityDuals() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace velmora
