// MatrixDB: stacking order, empty operands, names and the column-mismatch error.

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "control/MatrixDB.h"

namespace velmora {
namespace {

/// A block with `rows` A-rows and `bound_rows` C-rows over `cols` variables, random entries.
MatrixDB randomBlock(const std::string& name, Eigen::Index rows, Eigen::Index bound_rows,
                     Eigen::Index cols) {
  return MatrixDB(matrix_t::Random(rows, cols), vector_t::Random(rows),
                  matrix_t::Random(bound_rows, cols), vector_t::Random(bound_rows),
                  vector_t::Random(bound_rows), name);
}

TEST(MatrixDB, StacksEveryFieldInOperandOrderAndJoinsNames) {
  const MatrixDB top = randomBlock("contact_task", 4, 2, 7);
  const MatrixDB bottom = randomBlock("base_task", 3, 5, 7);
  const MatrixDB stacked = top + bottom;
  EXPECT_EQ(stacked.name(), "contact_taskbase_task");
  ASSERT_EQ(stacked.A.rows(), 7);
  ASSERT_EQ(stacked.C.rows(), 7);
  EXPECT_EQ(stacked.A.topRows(4), top.A);
  EXPECT_EQ(stacked.A.bottomRows(3), bottom.A);
  EXPECT_EQ(stacked.b, (vector_t(7) << top.b, bottom.b).finished());
  EXPECT_EQ(stacked.C.bottomRows(5), bottom.C);
  EXPECT_EQ(stacked.lb, (vector_t(7) << top.lb, bottom.lb).finished());
  EXPECT_EQ(stacked.ub, (vector_t(7) << top.ub, bottom.ub).finished());
  EXPECT_EQ(top.A.rows(), 4);  // operands unchanged
}

TEST(MatrixDB, ColumnMismatchInEitherKindNamesTheLeftOperand) {
  const MatrixDB left = randomBlock("left_block", 3, 1, 5) + randomBlock("more", 1, 1, 5);
  MatrixDB bounds_only("right");
  bounds_only.C = matrix_t::Random(2, 6);
  bounds_only.lb = bounds_only.ub = vector_t::Zero(2);
  for (const MatrixDB& right : {randomBlock("right", 2, 0, 4), bounds_only}) {
    try {
      (void)(left + right);
      ADD_FAILURE() << "column mismatch not detected";
    } catch (const std::runtime_error& error) {
      EXPECT_STREQ(error.what(),
                   "left_blockmore_MatrixDB: concatenateMatrices --> m1.cols() != m2.cols()");
    }
  }
}

}  // namespace
}  // namespace velmora
