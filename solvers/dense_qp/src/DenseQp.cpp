#include "dense_qp/DenseQp.h"

#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>

namespace velmora::dense_qp {

namespace {

void requireSize(const char* field, Eigen::Index actual, const char* expected_name,
                 Eigen::Index expected) {
  if (actual == expected) return;
  std::ostringstream msg;
  msg << "DenseQp: " << field << " is " << actual << " but " << expected_name << " is " << expected;
  throw std::invalid_argument(msg.str());
}

}  // namespace

DenseQp::DenseQp(Eigen::Index n, Eigen::Index m_eq, Eigen::Index m_in)
    : H(Eigen::MatrixXd::Zero(n, n)),
      g(Eigen::VectorXd::Zero(n)),
      A(Eigen::MatrixXd::Zero(m_eq, n)),
      b(Eigen::VectorXd::Zero(m_eq)),
      C(Eigen::MatrixXd::Zero(m_in, n)),
      l(Eigen::VectorXd::Constant(m_in, -std::numeric_limits<double>::infinity())),
      u(Eigen::VectorXd::Constant(m_in, std::numeric_limits<double>::infinity())) {}

void DenseQp::checkSizes() const {
  const Eigen::Index n = H.rows();
  requireSize("H.cols()", H.cols(), "H.rows() (n)", n);
  requireSize("g.size()", g.size(), "n", n);
  requireSize("A.cols()", A.cols(), "n", n);
  requireSize("b.size()", b.size(), "A.rows() (m_eq)", A.rows());
  requireSize("C.cols()", C.cols(), "n", n);
  requireSize("l.size()", l.size(), "C.rows() (m_in)", C.rows());
  requireSize("u.size()", u.size(), "C.rows() (m_in)", C.rows());
}

}  // namespace velmora::dense_qp
