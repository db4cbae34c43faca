// MatrixDB: stacking rules, empty operands, names and the column-mismatch error.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "control/MatrixDB.h"

namespace velmora {
namespace {

using ::testing::EndsWith;
using ::testing::StartsWith;

MatrixDB rowsBlock(const std::string& name, Eigen::Index rows, Eigen::Index cols, double seed) {
  MatrixDB block(name);
  block.A = matrix_t::Random(rows, cols).array() + seed;
  block.b = vector_t::Random(rows).array() + seed;
  return block;
}

MatrixDB boundsBlock(const std::string& name, Eigen::Index rows, Eigen::Index cols) {
  MatrixDB block(name);
  block.C = matrix_t::Random(rows, cols);
  block.lb = -vector_t::Ones(rows);
  block.ub = vector_t::LinSpaced(rows, 1.0, 2.0);
  return block;
}

TEST(MatrixDB, NewBlockIsEmptyAndKeepsItsName) {
  const MatrixDB block("contact_task");
  EXPECT_EQ(block.name(), "contact_task");
  EXPECT_EQ(block.A.size(), 0);
  EXPECT_EQ(block.C.size(), 0);
  EXPECT_EQ(block.b.size(), 0);
  EXPECT_EQ(block.lb.size(), 0);
  EXPECT_EQ(block.ub.size(), 0);
}

TEST(MatrixDB, EmptyOperandLeavesTheOtherUnchangedInEitherOrder) {
  const MatrixDB full = rowsBlock("full", 6, 9, 0.0);
  const MatrixDB empty("empty");
  for (const MatrixDB& stacked : {full + empty, empty + full}) {
    EXPECT_EQ(stacked.A, full.A);
    EXPECT_EQ(stacked.b, full.b);
    EXPECT_EQ(stacked.C.size(), 0);
    EXPECT_EQ(stacked.lb.size(), 0);
  }
}

TEST(MatrixDB, StacksRowsInOperandOrderAndJoinsNames) {
  const MatrixDB top = rowsBlock("contact_task", 4, 7, 10.0);
  const MatrixDB bottom = rowsBlock("base_task", 3, 7, -10.0);
  const MatrixDB stacked = top + bottom;
  ASSERT_EQ(stacked.A.rows(), 7);
  ASSERT_EQ(stacked.A.cols(), 7);
  EXPECT_EQ(stacked.A.topRows(4), top.A);
  EXPECT_EQ(stacked.A.bottomRows(3), bottom.A);
  ASSERT_EQ(stacked.b.size(), 7);
  EXPECT_EQ(stacked.b.head(4), top.b);
  EXPECT_EQ(stacked.b.tail(3), bottom.b);
  EXPECT_EQ(stacked.name(), "contact_taskbase_task");
  // Operands are unchanged.
  EXPECT_EQ(top.A.rows(), 4);
  EXPECT_EQ(bottom.name(), "base_task");
}

TEST(MatrixDB, ZeroRowMatrixWithColumnsStacksAndChecksColumns) {
  MatrixDB no_rows("friction_cone");
  no_rows.A.setZero(0, 5);
  const MatrixDB four = rowsBlock("four", 4, 5, 1.0);
  const MatrixDB stacked = four + no_rows;
  EXPECT_EQ(stacked.A.rows(), 4);
  EXPECT_EQ(stacked.A.cols(), 5);
  EXPECT_EQ(stacked.A, four.A);

  const MatrixDB other_width = rowsBlock("other", 4, 6, 1.0);
  EXPECT_THROW(other_width + no_rows, std::runtime_error);
  EXPECT_THROW(no_rows + other_width, std::runtime_error);
}

TEST(MatrixDB, RowsOfAZeroColumnMatrixAreDropped) {
  MatrixDB degenerate("degenerate");
  degenerate.A.resize(3, 0);
  const MatrixDB two = rowsBlock("two", 2, 4, 0.0);
  EXPECT_EQ((two + degenerate).A.rows(), 2);
  EXPECT_EQ((degenerate + two).A.rows(), 2);
}

TEST(MatrixDB, ColumnMismatchNamesTheLeftOperand) {
  const MatrixDB left = rowsBlock("left_block", 3, 5, 0.0);
  const MatrixDB right = rowsBlock("right_block", 2, 4, 0.0);
  try {
    (void)(left + right);
    FAIL() << "column mismatch not detected";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(),
                 "left_block_MatrixDB: concatenateMatrices --> m1.cols() != m2.cols()");
  }
  // After earlier stackings the left name is itself a concatenation.
  const MatrixDB joined = left + rowsBlock("more", 1, 5, 0.0);
  try {
    (void)(joined + right);
    FAIL() << "column mismatch not detected";
  } catch (const std::runtime_error& error) {
    EXPECT_THAT(error.what(), StartsWith("left_blockmore_MatrixDB"));
    EXPECT_THAT(error.what(), EndsWith("m1.cols() != m2.cols()"));
  }
}

TEST(MatrixDB, MismatchInCIsDetectedToo) {
  const MatrixDB left = boundsBlock("limits", 3, 5);
  const MatrixDB right = boundsBlock("cone", 2, 6);
  EXPECT_THROW((void)(left + right), std::runtime_error);
}

TEST(MatrixDB, OnlyCRowsStackedOntoOnlyARowsKeepsBothKinds) {
  const MatrixDB equalities = rowsBlock("eulerNewtonEqu", 6, 8, 0.0);
  const MatrixDB bounds = boundsBlock("limit_tau", 4, 8);
  for (const MatrixDB& stacked : {equalities + bounds, bounds + equalities}) {
    EXPECT_EQ(stacked.A, equalities.A);
    EXPECT_EQ(stacked.b, equalities.b);
    EXPECT_EQ(stacked.C, bounds.C);
    EXPECT_EQ(stacked.lb, bounds.lb);
    EXPECT_EQ(stacked.ub, bounds.ub);
  }
}

TEST(MatrixDB, BoundsStackLikeRows) {
  const MatrixDB first = boundsBlock("first", 2, 3);
  const MatrixDB second = boundsBlock("second", 5, 3);
  const MatrixDB stacked = first + second;
  ASSERT_EQ(stacked.C.rows(), 7);
  EXPECT_EQ(stacked.C.bottomRows(5), second.C);
  EXPECT_EQ(stacked.lb.head(2), first.lb);
  EXPECT_EQ(stacked.ub.tail(5), second.ub);
}

TEST(MatrixDB, VectorsStackIndependentlyOfMatrices) {
  MatrixDB rows_without_rhs("no_rhs");
  rows_without_rhs.A.setOnes(3, 4);
  const MatrixDB with_rhs = rowsBlock("with_rhs", 2, 4, 0.0);
  const MatrixDB stacked = rows_without_rhs + with_rhs;
  EXPECT_EQ(stacked.A.rows(), 5);
  EXPECT_EQ(stacked.b.size(), 2);  // not checked against A, by design
  EXPECT_EQ(stacked.b, with_rhs.b);
}

TEST(MatrixDB, ConcatenateVectorsRules) {
  const MatrixDB block("any");
  const vector_t a = vector_t::LinSpaced(3, 1.0, 3.0);
  const vector_t b = vector_t::LinSpaced(2, 4.0, 5.0);
  vector_t ab(5);
  ab << 1, 2, 3, 4, 5;
  EXPECT_EQ(block.concatenateVectors(a, b), ab);
  EXPECT_EQ(block.concatenateVectors(vector_t(), b), b);
  EXPECT_EQ(block.concatenateVectors(a, vector_t()), a);
  EXPECT_EQ(block.concatenateVectors(vector_t(), vector_t()).size(), 0);
}

TEST(MatrixDB, FullConstructorKeepsEveryField) {
  const matrix_t A = matrix_t::Random(2, 3);
  const vector_t b = vector_t::Random(2);
  const matrix_t C = matrix_t::Random(4, 3);
  const vector_t lb = -vector_t::Ones(4);
  const vector_t ub = vector_t::Ones(4);
  const MatrixDB block(A, b, C, lb, ub, "full");
  EXPECT_EQ(block.A, A);
  EXPECT_EQ(block.b, b);
  EXPECT_EQ(block.C, C);
  EXPECT_EQ(block.lb, lb);
  EXPECT_EQ(block.ub, ub);
  EXPECT_EQ(block.name(), "full");
}

}  // namespace
}  // namespace velmora
