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

MatrixDB MatrixDB::operator+(const MatrixDB& other) const {
  MatrixDB stacked(name_ + other.name_);
  stacked.A = concatenateMatrices(A, other.A);
  stacked.b = concatenateVectors(b, other.b);
  stacked.C = concatenateMatrices(C, other.C);
  stacked.lb = concatenateVectors(lb, other.lb);
  stacked.ub = concatenateVectors(ub, other.ub);
  return stacked;
}

matrix_t MatrixDB::concatenateMatrices(matrix_t m1, matrix_t m2) const {
  if (m1.cols() == 0) {
    return m2;
  }
  if (m2.cols() == 0) {
    return m1;
  }
  if (m1.cols() != m2.cols()) {
    throw std::runtime_error(name_ + "_MatrixDB: concatenateMatrices --> m1.cols() != m2.cols()");
  }
  matrix_t stacked(m1.rows() + m2.rows(), m1.cols());
  stacked.topRows(m1.rows()) = m1;
  stacked.bottomRows(m2.rows()) = m2;
  return stacked;
}

vector_t MatrixDB::concatenateVectors(const vector_t& v1, const vector_t& v2) const {
  if (v1.size() == 0) {
    return v2;
  }
  if (v2.size() == 0) {
    return v1;
  }
  vector_t stacked(v1.size() + v2.size());
  stacked << v1, v2;
  return stacked;
}

}  // namespace velmora
