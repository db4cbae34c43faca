#pragma once

// A block of linear rows over one decision vector x, the unit in which the whole-body
// controller writes down its tasks and constraints.
//
//  - A-rows with right-hand side b: equalities A x = b in a constraint block, least-squares rows
//    (minimise 1/2 |A x - b|^2) in a task block;
//  - C-rows with bounds: two-sided inequalities lb <= C x <= ub.
//
// A kind of rows that a block does not use is "empty": its matrix has zero columns. A block
// may also carry a kind with zero rows and the full column count (e.g. no swing feet this
// cycle); stacking treats both forms alike. Blocks are plain values; copies are deep.

#include <string>

#include "core/Types.h"

namespace velmora {

/// Linear rows A x = b (or least-squares rows) and lb <= C x <= ub over one decision vector,
/// with a name. Stack blocks with `operator+`; rows keep the order of the operands.
class MatrixDB {
 public:
  /// A block named `name` with all five numeric fields empty (0 x 0, size 0).
  explicit MatrixDB(std::string name);

  /// A block holding the given fields. Sizes are not checked: b must have one entry per row of
  /// A, lb and ub one per row of C.
  MatrixDB(matrix_t A_rows, vector_t b_rhs, matrix_t C_rows, vector_t lower, vector_t upper,
           std::string name);

  /// Stacks `other` below this block: A, b, C, lb, ub each concatenated (this block's rows on
  /// top), names joined without separator. Neither operand changes.
  /// @throws std::runtime_error (see concatenateMatrices) when a non-empty A or C of `other`
  ///         has a different column count than this block's; A is checked first.
  MatrixDB operator+(const MatrixDB& other) const;

  /// Vertical stack of m1 over m2. A matrix without columns counts as absent: the other operand
  /// is returned unchanged (so rows of a zero-column matrix disappear).
  /// @throws std::runtime_error with message name() + "_MatrixDB: concatenateMatrices -->
  ///         m1.cols() != m2.cols()" when both have columns and their counts differ.
  matrix_t concatenateMatrices(matrix_t m1, matrix_t m2) const;

  /// v1 followed by v2; an empty operand yields a copy of the other. Never throws.
  vector_t concatenateVectors(const vector_t& v1, const vector_t& v2) const;

  /// A copy of the block's name.
  std::string name() const { return name_; }

  matrix_t A;   ///< equality or least-squares rows, one column per decision variable
  matrix_t C;   ///< inequality rows, one column per decision variable
  vector_t b;   ///< right-hand side of the A-rows
  vector_t lb;  ///< lower bounds of the C-rows
  vector_t ub;  ///< upper bounds of the C-rows

 private:
  std::string name_;
};

}  // namespace velmora
