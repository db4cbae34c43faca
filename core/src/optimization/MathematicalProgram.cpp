#include "core/optimization/MathematicalProgram.h"

#include <cmath>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "dense_qp/DenseQp.h"
#include "dense_qp/DenseQpSolver.h"

namespace velmora {

namespace {

[[noreturn]] void fail(const char* operation, const std::string& what) {
  throw std::invalid_argument(std::string("MathematicalProgram::") + operation + ": " + what);
}

/// Every index within [0, num_vars) and none repeated.
void checkVariables(const char* operation, const Eigen::Ref<const Eigen::VectorXi>& vars,
                    Eigen::Index num_vars) {
  std::vector<Eigen::Index> first_position(static_cast<size_t>(num_vars), -1);
  for (Eigen::Index k = 0; k < vars.size(); ++k) {
    const int index = vars[k];
    if (index < 0 || index >= num_vars) {
      std::ostringstream msg;
      msg << "variable index " << index << " at position " << k
          << " of vars is out of range (the programme has " << num_vars << " variables)";
      fail(operation, msg.str());
    }
    Eigen::Index& seen = first_position[static_cast<size_t>(index)];
    if (seen >= 0) {
      std::ostringstream msg;
      msg << "variable " << index << " appears twice in vars (positions " << seen << " and " << k
          << ")";
      fail(operation, msg.str());
    }
    seen = k;
  }
}

void checkColumns(const char* operation, const char* name, const Eigen::Ref<const matrix_t>& M,
                  const Eigen::Ref<const Eigen::VectorXi>& vars) {
  if (M.cols() == vars.size()) return;
  std::ostringstream msg;
  msg << name << " is " << M.rows() << " x " << M.cols() << " but vars lists " << vars.size()
      << " variables";
  fail(operation, msg.str());
}

/// Fails with "<name> has <size> entries but <reference> has <expected> <unit>".
void checkLength(const char* operation, const char* name, Eigen::Index size, const char* reference,
                 Eigen::Index expected, const char* unit) {
  if (size == expected) return;
  std::ostringstream msg;
  msg << name << " has " << size << " entries but " << reference << " has " << expected << " "
      << unit;
  fail(operation, msg.str());
}

/// True when every entry is finite: x * 0 is 0 for finite x and NaN otherwise.
template <typename Derived>
bool allFinite(const Eigen::DenseBase<Derived>& M) {
  return M.size() == 0 || (M.derived().array() * 0.0).sum() == 0.0;
}

template <typename Derived>
void checkFinite(const char* operation, const char* name, const Eigen::DenseBase<Derived>& M) {
  if (allFinite(M)) return;
  for (Eigen::Index j = 0; j < M.cols(); ++j) {
    for (Eigen::Index i = 0; i < M.rows(); ++i) {
      if (std::isfinite(M(i, j))) continue;
      std::ostringstream msg;
      msg << name << "(" << i;
      if (M.cols() > 1) msg << ", " << j;
      msg << ") is not finite (" << M(i, j) << ")";
      fail(operation, msg.str());
    }
  }
}

void checkNotNaN(const char* operation, const char* name, const Eigen::Ref<const vector_t>& v) {
  for (Eigen::Index i = 0; i < v.size(); ++i) {
    if (!std::isnan(v[i])) continue;
    std::ostringstream msg;
    msg << name << "(" << i << ") is NaN";
    fail(operation, msg.str());
  }
}

bool isContiguous(const Eigen::Ref<const Eigen::VectorXi>& vars) {
  for (Eigen::Index k = 1; k < vars.size(); ++k) {
    if (vars[k] != vars[0] + k) return false;
  }
  return true;
}

/// dst(rows, vars) = src, column by column (or as one block for contiguous vars).
template <typename Dst>
void scatterColumns(Dst&& dst, const Eigen::Ref<const matrix_t>& src,
                    const Eigen::Ref<const Eigen::VectorXi>& vars) {
  if (vars.size() == 0) return;
  if (isContiguous(vars)) {
    dst.middleCols(vars[0], vars.size()) = src;
    return;
  }
  for (Eigen::Index k = 0; k < vars.size(); ++k) dst.col(vars[k]) = src.col(k);
}

}  // namespace

struct MathematicalProgram::Impl {
  dense_qp::DenseQp qp{0, 0, 0};
  dense_qp::DenseQpSettings settings;
  dense_qp::DenseQpSolution solution;
  bool solved = false;

  Eigen::Index numVars() const { return qp.H.rows(); }

  void requireSolved(const char* operation) const {
    if (solved) return;
    std::ostringstream msg;
    msg << "MathematicalProgram::" << operation
        << ": no successful solve() (last status: " << solution.info.status << ")";
    throw std::logic_error(msg.str());
  }

  /// Appends k zero inequality rows and returns the index of the first.
  Eigen::Index appendInequalityRows(Eigen::Index k) {
    const Eigen::Index first = qp.C.rows();
    qp.C.conservativeResize(first + k, numVars());
    qp.C.bottomRows(k).setZero();
    qp.l.conservativeResize(first + k);
    qp.u.conservativeResize(first + k);
    return first;
  }
};

MathematicalProgram::MathematicalProgram() : impl_(std::make_unique<Impl>()) {}
MathematicalProgram::~MathematicalProgram() = default;
MathematicalProgram::MathematicalProgram(MathematicalProgram&&) noexcept = default;
MathematicalProgram& MathematicalProgram::operator=(MathematicalProgram&&) noexcept = default;

VectorVariables MathematicalProgram::newVectorVariables(size_t n) {
  Impl& d = *impl_;
  const Eigen::Index old_n = d.numVars();
  if (n > static_cast<size_t>(std::numeric_limits<int>::max() - old_n)) {
    std::ostringstream msg;
    msg << "cannot add " << n << " variables to " << old_n << " (index type int)";
    fail("newVectorVariables", msg.str());
  }
  const Eigen::Index new_n = old_n + static_cast<Eigen::Index>(n);
  dense_qp::DenseQp& qp = d.qp;
  qp.H.conservativeResize(new_n, new_n);
  qp.H.rightCols(new_n - old_n).setZero();
  qp.H.bottomRows(new_n - old_n).setZero();
  qp.g.conservativeResize(new_n);
  qp.g.tail(new_n - old_n).setZero();
  qp.A.conservativeResize(qp.A.rows(), new_n);
  qp.A.rightCols(new_n - old_n).setZero();
  qp.C.conservativeResize(qp.C.rows(), new_n);
  qp.C.rightCols(new_n - old_n).setZero();
  d.solved = false;
  return VectorVariables::LinSpaced(static_cast<Eigen::Index>(n), static_cast<int>(old_n),
                                    static_cast<int>(new_n - 1));
}

void MathematicalProgram::addLinearEqualityConstraints(
    const Eigen::Ref<const matrix_t>& A, const Eigen::Ref<const vector_t>& b,
    const Eigen::Ref<const Eigen::VectorXi>& vars) {
  constexpr const char* kOp = "addLinearEqualityConstraints";
  Impl& d = *impl_;
  checkColumns(kOp, "A", A, vars);
  checkLength(kOp, "b", b.size(), "A", A.rows(), "rows");
  checkVariables(kOp, vars, d.numVars());
  checkFinite(kOp, "A", A);
  checkFinite(kOp, "b", b);

  dense_qp::DenseQp& qp = d.qp;
  const Eigen::Index first = qp.A.rows();
  const Eigen::Index k = A.rows();
  qp.A.conservativeResize(first + k, d.numVars());
  qp.A.bottomRows(k).setZero();
  scatterColumns(qp.A.bottomRows(k), A, vars);
  qp.b.conservativeResize(first + k);
  qp.b.tail(k) = b;
  d.solved = false;
}

void MathematicalProgram::addLinearInEqualityConstraints(
    Eigen::Ref<const matrix_t> C, Eigen::Ref<const vector_t> lb, Eigen::Ref<const vector_t> ub,
    const Eigen::Ref<const Eigen::VectorXi>& vars) {
  constexpr const char* kOp = "addLinearInEqualityConstraints";
  Impl& d = *impl_;
  checkColumns(kOp, "C", C, vars);
  checkLength(kOp, "lb", lb.size(), "C", C.rows(), "rows");
  checkLength(kOp, "ub", ub.size(), "C", C.rows(), "rows");
  checkVariables(kOp, vars, d.numVars());
  checkFinite(kOp, "C", C);
  checkNotNaN(kOp, "lb", lb);
  checkNotNaN(kOp, "ub", ub);

  const Eigen::Index k = C.rows();
  const Eigen::Index first = d.appendInequalityRows(k);
  scatterColumns(d.qp.C.bottomRows(k), C, vars);
  d.qp.l.segment(first, k) = lb;
  d.qp.u.segment(first, k) = ub;
  d.solved = false;
}

void MathematicalProgram::addBoundingBoxConstraints(const Eigen::Ref<const vector_t>& lb,
                                                    const Eigen::Ref<const vector_t>& ub,
                                                    const Eigen::Ref<const Eigen::VectorXi>& vars) {
  constexpr const char* kOp = "addBoundingBoxConstraints";
  Impl& d = *impl_;
  checkLength(kOp, "lb", lb.size(), "vars", vars.size(), "entries");
  checkLength(kOp, "ub", ub.size(), "vars", vars.size(), "entries");
  checkVariables(kOp, vars, d.numVars());
  checkNotNaN(kOp, "lb", lb);
  checkNotNaN(kOp, "ub", ub);

  const Eigen::Index k = vars.size();
  const Eigen::Index first = d.appendInequalityRows(k);
  for (Eigen::Index i = 0; i < k; ++i) d.qp.C(first + i, vars[i]) = 1.0;
  d.qp.l.segment(first, k) = lb;
  d.qp.u.segment(first, k) = ub;
  d.solved = false;
}

void MathematicalProgram::addQuadraticCost(Eigen::Ref<const matrix_t> H,
                                           Eigen::Ref<const vector_t> g,
                                           const Eigen::Ref<const Eigen::VectorXi>& vars) {
  constexpr const char* kOp = "addQuadraticCost";
  Impl& d = *impl_;
  if (H.rows() != H.cols() || H.rows() != vars.size()) {
    std::ostringstream msg;
    msg << "H is " << H.rows() << " x " << H.cols()
        << " but must be square with vars.size() = " << vars.size() << " rows";
    fail(kOp, msg.str());
  }
  checkLength(kOp, "g", g.size(), "vars", vars.size(), "entries");
  checkVariables(kOp, vars, d.numVars());
  checkFinite(kOp, "H", H);
  checkFinite(kOp, "g", g);

  dense_qp::DenseQp& qp = d.qp;
  const Eigen::Index k = vars.size();
  // Only the symmetric part of H matters; the solver symmetrises the sum.
  if (k > 0 && isContiguous(vars)) {
    qp.H.block(vars[0], vars[0], k, k) += H;
    qp.g.segment(vars[0], k) += g;
  } else {
    for (Eigen::Index j = 0; j < k; ++j) {
      for (Eigen::Index i = 0; i < k; ++i) qp.H(vars[i], vars[j]) += H(i, j);
      qp.g[vars[j]] += g[j];
    }
  }
  d.solved = false;
}

bool MathematicalProgram::solve() {
  Impl& d = *impl_;
  dense_qp::DenseQpSolver solver(d.numVars(), d.qp.A.rows(), d.qp.C.rows(), d.settings);
  d.solved = solver.solve(d.qp, d.solution) == dense_qp::DenseQpStatus::kSolved;
  return d.solved;
}

vector_t MathematicalProgram::getSolution(const Eigen::Ref<const Eigen::VectorXi>& vars) const {
  const Impl& d = *impl_;
  d.requireSolved("getSolution");
  vector_t values(vars.size());
  for (Eigen::Index k = 0; k < vars.size(); ++k) {
    const int index = vars[k];
    if (index < 0 || index >= d.numVars()) {
      std::ostringstream msg;
      msg << "variable index " << index << " at position " << k
          << " of vars is out of range (the programme has " << d.numVars() << " variables)";
      fail("getSolution", msg.str());
    }
    values[k] = d.solution.x[index];
  }
  return values;
}

vector_t MathematicalProgram::getSolution() const {
  impl_->requireSolved("getSolution");
  return impl_->solution.x;
}

size_t MathematicalProgram::numVariables() const { return static_cast<size_t>(impl_->numVars()); }

size_t MathematicalProgram::numEqualityConstraints() const {
  return static_cast<size_t>(impl_->qp.A.rows());
}

size_t MathematicalProgram::numInequalityConstraints() const {
  return static_cast<size_t>(impl_->qp.C.rows());
}

void MathematicalProgram::setSolverSettings(const dense_qp::DenseQpSettings& settings) {
  impl_->settings = settings;
}

dense_qp::DenseQpStatus MathematicalProgram::status() const { return impl_->solution.info.status; }

const dense_qp::DenseQpInfo& MathematicalProgram::info() const { return impl_->solution.info; }

const vector_t& MathematicalProgram::getEqualityDuals() const {
  impl_->requireSolved("getEqualityDuals");
  return impl_->solution.y;
}

const vector_t& MathematicalProgram::getInequalityDuals() const {
  impl_->requireSolved("getInequalityDuals");
  return impl_->solution.z;
}

}  // namespace velmora
