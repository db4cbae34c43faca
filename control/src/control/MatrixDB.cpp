#include "control/MatrixDB.h"

#include <stdexcept>
#include <utility>

namespace velmora {

MatrixDB::MatrixDB(std::string name) : name_(std::move(name)) {}

MatrixDB::MatrixDB(matrix_t A_rows, vector_t b_rhs, matrix_t C_rows, vector_t lower, vector_t upper,
                   std::string name)
    : A(std::move(A_rows)),
      C(std::move(C_rows)),
      b(std::move(b_rhs)),
      lb(std::move(lower)),
      ub(std::move(upper)),
      name_(std::move(name)) {}

namespace {

/// Writes the vertical stack of m1 over m2 into `out` under the rules of concatenateMatrices,
/// without copying the operands first; `error_name` is the left block's name.
void stackInto(const matrix_t& m1, const matrix_t& m2, const std::string& error_name,
               matrix_t& out) {
  if (m1.cols() == 0) {
    out = m2;
  } else if (m2.cols() == 0) {
    out = m1;
  } else if (m1.cols() != m2.cols()) {
    throw std::runtime_error(error_name +
                             "_MatrixDB: concatenateMatrices --> m1.cols() != m2.cols()");
  } else {
    out.resize(m1.rows() + m2.rows(), m1.cols());
    out.topRows(m1.rows()) = m1;
    out.bottomRows(m2.rows()) = m2;
  }
}

void stackInto(const vector_t& v1, const vector_t& v2, vector_t& out) {
  if (v1.size() == 0) {
    out = v2;
  } else if (v2.size() == 0) {
    out = v1;
  } else {
    out.resize(v1.size() + v2.size());
    out.head(v1.size()) = v1;
    out.tail(v2.size()) = v2;
  }
}

}  // namespace

MatrixDB MatrixDB::operator+(const MatrixDB& other) const {
  // Same rules as concatenateMatrices / concatenateVectors, stacked straight into the result.
  MatrixDB stacked(name_ + other.name_);
  stackInto(A, other.A, name_, stacked.A);
  stackInto(b, other.b, stacked.b);
  stackInto(C, other.C, name_, stacked.C);
  stackInto(lb, other.lb, stacked.lb);
  stackInto(ub, other.ub, stacked.ub);
  return stacked;
}

matrix_t MatrixDB::concatenateMatrices(matrix_t m1, matrix_t m2) const {
  matrix_t stacked;
  stackInto(m1, m2, name_, stacked);
  return stacked;
}

vector_t MatrixDB::concatenateVectors(const vector_t& v1, const vector_t& v2) const {
  vector_t stacked;
  stackInto(v1, v2, stacked);
  return stacked;
}

}  // namespace velmora
