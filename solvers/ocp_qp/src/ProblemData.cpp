#include "ProblemData.h"

#include "FixedSizeStage.h"
#include "StageProducts.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

namespace velmora::ocp_qp::detail {

namespace {

[[noreturn]] void fail(int k, const std::string& what) {
  throw std::invalid_argument("OcpQpIpmSolver: stage " + std::to_string(k) + ": " + what);
}

std::string shape(Eigen::Index rows, Eigen::Index cols) {
  return std::to_string(rows) + "x" + std::to_string(cols);
}

// An empty matrix stands for zeros; a non-empty one must have the given shape.
void checkMatrix(int k, const char* name, const Eigen::MatrixXd& M, int rows, int cols) {
  if (M.size() == 0) return;
  if (M.rows() != rows || M.cols() != cols) {
    fail(k, std::string(name) + " is " + shape(M.rows(), M.cols()) + ", expected " +
                shape(rows, cols));
  }
}

void checkOptionalVector(int k, const char* name, const Eigen::VectorXd& v, int n) {
  if (v.size() != 0 && v.size() != n) {
    fail(k, std::string(name) + " has " + std::to_string(v.size()) + " entries, expected " +
                std::to_string(n) + " (or none)");
  }
}

void checkVector(int k, const char* name, const Eigen::VectorXd& v, int n) {
  if (v.size() != n) {
    fail(k, std::string(name) + " has " + std::to_string(v.size()) + " entries, expected " +
                std::to_string(n));
  }
}

void checkIndices(int k, const char* name, const std::vector<int>& idx, int limit,
                  const char* what) {
  for (size_t j = 0; j < idx.size(); ++j) {
    if (idx[j] < 0 || idx[j] >= limit) {
      fail(k, std::string(name) + "[" + std::to_string(j) + "] = " + std::to_string(idx[j]) +
                  " is out of range: the stage has " + std::to_string(limit) + " " + what);
    }
  }
}

void checkNoSoftConstraints(int k, const OcpQp& s) {
  const char* used = nullptr;
  if (s.Zl.size() != 0)
    used = "Zl";
  else if (s.Zu.size() != 0)
    used = "Zu";
  else if (s.zl.size() != 0)
    used = "zl";
  else if (s.zu.size() != 0)
    used = "zu";
  else if (!s.idxs.empty())
    used = "idxs";
  else if (s.lls.size() != 0)
    used = "lls";
  else if (s.lus.size() != 0)
    used = "lus";
  if (used != nullptr) {
    fail(k, std::string("soft constraints are not supported (") + used + " is not empty)");
  }
}

// State size of the only stage of a problem with N = 0, read from the fields that carry it.
int inferTerminalStateSize(const OcpQp& s) {
  if (s.Q.size() != 0) return static_cast<int>(s.Q.rows());
  if (s.q.size() != 0) return static_cast<int>(s.q.size());
  if (s.C.size() != 0) return static_cast<int>(s.C.cols());
  return 0;
}

// x - x is 0 for every finite x and NaN otherwise; one vectorised sum instead of Eigen's
// allFinite, which compares two such expressions coefficient by coefficient.
bool allFinite(const Eigen::MatrixXd& M) {
  return M.size() == 0 || std::isfinite((M.array() - M.array()).sum());
}
bool allFinite(const Eigen::VectorXd& v) {
  return v.size() == 0 || std::isfinite((v.array() - v.array()).sum());
}

bool isZero(const Eigen::MatrixXd& M) { return M.size() == 0 || (M.array() == 0.0).all(); }

// Name of constraint row i of a stage, for messages.
std::string rowName(const StageDims& d, int i) {
  if (i < d.nbu) return "input bound " + std::to_string(i) + " (lbu/ubu)";
  if (i < d.nbu + d.nbx) return "state bound " + std::to_string(i - d.nbu) + " (lbx/ubx)";
  return "general row " + std::to_string(i - d.nbu - d.nbx) + " (lg/ug)";
}

std::string stagePrefix(int k) { return "stage " + std::to_string(k) + ": "; }

// Bounds closer than this (relative to 1 + |bound|) make an equality row.
constexpr double kEqualityWidth = 1e-12;
// Penalty weight of equality rows relative to the stage Hessian's largest diagonal entry.
constexpr double kEqualityPenalty = 1e8;

}  // namespace

StageDims readStageDims(const std::vector<OcpQp>& qp, int k, int nx_k) {
  const int N = static_cast<int>(qp.size()) - 1;
  const OcpQp& s = qp[k];
  StageDims d;
  const bool last = (k == N);
  if (!last) {
    if (s.A.size() == 0) fail(k, "A is empty; every stage before the last needs dynamics");
    d.nx = static_cast<int>(s.A.cols());
    d.nx1 = static_cast<int>(s.A.rows());
    if (nx_k >= 0 && d.nx != nx_k) {
      fail(k, "A is " + shape(s.A.rows(), s.A.cols()) + " but the previous stage's A has " +
                  std::to_string(nx_k) + " rows (state sizes of consecutive stages differ)");
    }
    d.nu = static_cast<int>(s.B.cols());
    checkMatrix(k, "B", s.B, d.nx1, d.nu);
    checkOptionalVector(k, "b", s.b, d.nx1);
    checkMatrix(k, "R", s.R, d.nu, d.nu);
    checkMatrix(k, "S", s.S, d.nu, d.nx);
    checkOptionalVector(k, "r", s.r, d.nu);
    d.nbu = static_cast<int>(s.idxbu.size());
    checkIndices(k, "idxbu", s.idxbu, d.nu, "inputs");
    checkVector(k, "lbu", s.lbu, d.nbu);
    checkVector(k, "ubu", s.ubu, d.nbu);
    checkOptionalVector(k, "lbu_mask", s.lbu_mask, d.nbu);
    checkOptionalVector(k, "ubu_mask", s.ubu_mask, d.nbu);
  } else {
    d.nx = nx_k >= 0 ? nx_k : inferTerminalStateSize(s);
  }
  checkMatrix(k, "Q", s.Q, d.nx, d.nx);
  checkOptionalVector(k, "q", s.q, d.nx);
  d.nbx = static_cast<int>(s.idxbx.size());
  checkIndices(k, "idxbx", s.idxbx, d.nx, "states");
  checkVector(k, "lbx", s.lbx, d.nbx);
  checkVector(k, "ubx", s.ubx, d.nbx);
  checkOptionalVector(k, "lbx_mask", s.lbx_mask, d.nbx);
  checkOptionalVector(k, "ubx_mask", s.ubx_mask, d.nbx);
  d.ng = static_cast<int>(s.lg.size());
  checkVector(k, "ug", s.ug, d.ng);
  checkMatrix(k, "C", s.C, d.ng, d.nx);
  if (!last) checkMatrix(k, "D", s.D, d.ng, d.nu);
  checkOptionalVector(k, "lg_mask", s.lg_mask, d.ng);
  checkOptionalVector(k, "ug_mask", s.ug_mask, d.ng);
  checkNoSoftConstraints(k, s);
  return d;
}

void resizeForProblem(const std::vector<OcpQp>& qp, IpmData& data) {
  if (qp.empty()) throw std::invalid_argument("OcpQpIpmSolver: the problem has no stage");
  // Validate everything before touching the storage.
  int nx = -1;
  for (size_t k = 0; k < qp.size(); ++k) nx = readStageDims(qp, static_cast<int>(k), nx).nx1;
  if (data.stages.size() != qp.size()) data.stages.resize(qp.size());
  nx = -1;
  for (size_t k = 0; k < qp.size(); ++k) {
    const StageDims d = readStageDims(qp, static_cast<int>(k), nx);
    IpmStage& st = data.stages[k];
    const bool first = (k == 0);
    const int nvf = first ? d.nu : d.nu + d.nx;
    if (st.dims != d || st.nvf != nvf || st.H.rows() != d.nu + d.nx) st.resize(d, first);
    nx = d.nx1;
  }
}

void checkProblemMatches(const std::vector<OcpQp>& qp, const IpmData& data) {
  if (qp.size() != data.stages.size()) {
    throw std::invalid_argument("OcpQpIpmSolver::solve: the problem has " +
                                std::to_string(qp.size()) + " stages, the solver was built for " +
                                std::to_string(data.stages.size()));
  }
  int nx = -1;
  for (size_t k = 0; k < qp.size(); ++k) {
    const StageDims d = readStageDims(qp, static_cast<int>(k), nx);
    if (d != data.stages[k].dims) {
      throw std::invalid_argument("OcpQpIpmSolver::solve: stage " + std::to_string(k) +
                                  ": sizes differ from those the solver was built for");
    }
    nx = d.nx1;
  }
}

namespace {

// Fills H (symmetric parts of R and Q, S off the diagonal) and checks its diagonal.
LoadResult loadHessian(const OcpQp& s, int k, IpmStage& st, std::string& message) {
  const int nu = st.dims.nu, nx = st.dims.nx;
  auto Huu = st.H.topLeftCorner(nu, nu);
  auto Hux = st.H.topRightCorner(nu, nx);
  auto Hxx = st.H.bottomRightCorner(nx, nx);
  if (nu > 0 && s.R.size() != 0) {
    Huu = 0.5 * (s.R + s.R.transpose());
  } else {
    Huu.setZero();
  }
  if (nu > 0 && s.S.size() != 0) {
    Hux = s.S;
  } else {
    Hux.setZero();
  }
  st.H.bottomLeftCorner(nx, nu) = Hux.transpose();
  if (s.Q.size() != 0) {
    Hxx = 0.5 * (s.Q + s.Q.transpose());
  } else {
    Hxx.setZero();
  }
  for (int i = 0; i < st.nv; ++i) {
    if (st.H(i, i) < 0.0) {
      const bool in_u = i < nu;
      message = stagePrefix(k) + (in_u ? "R" : "Q") + " has the negative diagonal entry " +
                std::to_string(st.H(i, i)) + " at index " + std::to_string(in_u ? i : i - nu) +
                ": the stage cost is not convex";
      return LoadResult::NonConvex;
    }
  }
  return LoadResult::Ok;
}

// Equality penalty: kEqualityPenalty times the stage Hessian's scale, per unit squared row norm.
void setEqualityPenalties(IpmStage& st) {
  if (st.eq.empty()) return;
  const double scale = std::max(1.0, st.H.diagonal().cwiseAbs().maxCoeff());
  const int c0 = st.gColBegin();
  const int width = std::max(0, st.gColEnd(st.nvf) - c0);
  for (const int i : st.eq) {
    double norm2 = 1.0;  // box row
    if (i >= st.nb) norm2 = st.G.row(i - st.nb).segment(c0, width).squaredNorm();
    st.rho[i] = kEqualityPenalty * scale / norm2;
  }
}

void setRowBounds(IpmStage& st, int i, double lb, double ub, double lmask, double umask) {
  st.lb[i] = lb;
  st.ub[i] = ub;
  const bool lower = lmask != 0.0 && lb != -std::numeric_limits<double>::infinity();
  const bool upper = umask != 0.0 && ub != std::numeric_limits<double>::infinity();
  if (lower) st.lower.push_back(i);
  if (upper) st.upper.push_back(i);
}

double maskAt(const Eigen::VectorXd& mask, int j) { return mask.size() == 0 ? 1.0 : mask[j]; }

}  // namespace

LoadResult loadStage(const OcpQp& s, int k, int N, const Eigen::VectorXd& x0, double tol_ineq,
                     IpmStage& st, std::string& message) {
  const StageDims& d = st.dims;
  const bool last = (k == N);
  const bool first = (k == 0);
  const int nu = d.nu, nx = d.nx;

  // Non-finite data.
  struct Field {
    const char* name;
    bool finite;
  };
  const Field fields[] = {
      {"A", last || allFinite(s.A)},
      {"B", last || allFinite(s.B)},
      {"b", last || allFinite(s.b)},
      {"R", last || allFinite(s.R)},
      {"S", last || allFinite(s.S)},
      {"r", last || allFinite(s.r)},
      {"D", last || allFinite(s.D)},
      {"lbu_mask", last || allFinite(s.lbu_mask)},
      {"ubu_mask", last || allFinite(s.ubu_mask)},
      {"Q", allFinite(s.Q)},
      {"q", allFinite(s.q)},
      {"C", allFinite(s.C)},
      {"lg_mask", allFinite(s.lg_mask)},
      {"ug_mask", allFinite(s.ug_mask)},
      {"lbx_mask", allFinite(s.lbx_mask)},
      {"ubx_mask", allFinite(s.ubx_mask)},
      {"lbu", last || !s.lbu.array().isNaN().any()},
      {"ubu", last || !s.ubu.array().isNaN().any()},
      {"lbx", !s.lbx.array().isNaN().any()},
      {"ubx", !s.ubx.array().isNaN().any()},
      {"lg", !s.lg.array().isNaN().any()},
      {"ug", !s.ug.array().isNaN().any()},
  };
  for (const Field& f : fields) {
    if (!f.finite) {
      message = stagePrefix(k) + f.name + " contains a non-finite number";
      return LoadResult::NonFinite;
    }
  }

  const LoadResult hessian = loadHessian(s, k, st, message);
  if (hessian != LoadResult::Ok) return hessian;

  // Linear term, dynamics, general rows on [u; x].
  if (nu > 0 && s.r.size() != 0) {
    st.g.head(nu) = s.r;
  } else {
    st.g.head(nu).setZero();
  }
  if (s.q.size() != 0) {
    st.g.tail(nx) = s.q;
  } else {
    st.g.tail(nx).setZero();
  }
  if (first && nu > 0 && s.S.size() != 0) st.g.head(nu).noalias() += s.S * x0;
  if (!last) {
    if (nu > 0 && s.B.size() != 0) {
      st.BA.leftCols(nu) = s.B;
    } else {
      st.BA.leftCols(nu).setZero();
    }
    st.BA.rightCols(nx) = s.A;
    if (s.b.size() != 0) {
      st.bc = s.b;
    } else {
      st.bc.setZero();
    }
    if (first) st.bc.noalias() += s.A * x0;
  }
  const bool d_zero = last || nu == 0 || isZero(s.D);
  const bool c_zero = isZero(s.C);
  if (d.ng > 0) {
    if (d_zero) {
      st.G.leftCols(nu).setZero();
    } else {
      st.G.leftCols(nu) = s.D;
    }
    if (c_zero) {
      st.G.rightCols(nx).setZero();
    } else {
      st.G.rightCols(nx) = s.C;
    }
  }
  st.d_zero = d_zero;
  st.c_zero = c_zero;
  const int col_begin = st.gColBegin();
  const int width = std::max(0, st.gColEnd(st.nvf) - col_begin);

  // Constraint rows: bounds with constant parts folded in, active sides, constant rows.
  st.lower.clear();
  st.upper.clear();
  for (int j = 0; j < d.nbu; ++j) {
    st.box_var[j] = s.idxbu[j];
    st.is_const[j] = 0;
    setRowBounds(st, j, s.lbu[j], s.ubu[j], maskAt(s.lbu_mask, j), maskAt(s.ubu_mask, j));
  }
  for (int j = 0; j < d.nbx; ++j) {
    const int i = d.nbu + j;
    const int idx = s.idxbx[j];
    st.box_var[i] = nu + idx;
    const double offset = first ? x0[idx] : 0.0;
    st.is_const[i] = first ? 1 : 0;
    setRowBounds(st, i, s.lbx[j] - offset, s.ubx[j] - offset, maskAt(s.lbx_mask, j),
                 maskAt(s.ubx_mask, j));
  }
  for (int j = 0; j < d.ng; ++j) {
    const int i = d.nbu + d.nbx + j;
    const double offset = (first && !c_zero) ? s.C.row(j).dot(x0) : 0.0;
    st.is_const[i] =
        width == 0 || (st.G.row(j).segment(col_begin, width).array() == 0.0).all() ? 1 : 0;
    setRowBounds(st, i, s.lg[j] - offset, s.ug[j] - offset, maskAt(s.lg_mask, j),
                 maskAt(s.ug_mask, j));
  }

  // Wrong-signed infinities, constant rows and crossed bounds.
  for (int side = 0; side < 2; ++side) {
    std::vector<int>& list = side == 0 ? st.lower : st.upper;
    size_t kept = 0;
    for (const int i : list) {
      const double bound = side == 0 ? st.lb[i] : st.ub[i];
      if (!std::isfinite(bound)) {
        message = stagePrefix(k) + rowName(d, i) + ": " + (side == 0 ? "lower" : "upper") +
                  " bound is " + (bound > 0 ? "+" : "-") + "infinity";
        return LoadResult::Infeasible;
      }
      if (st.is_const[i]) {
        const bool violated = side == 0 ? bound > tol_ineq : bound < -tol_ineq;
        if (violated) {
          message = stagePrefix(k) + rowName(d, i) + " does not depend on the free variables" +
                    (first ? " (x0 is fixed)" : "") + " and violates its " +
                    (side == 0 ? "lower" : "upper") + " bound by " +
                    std::to_string(std::abs(bound));
          return LoadResult::Infeasible;
        }
        continue;  // satisfied constant side: no slack, no multiplier
      }
      list[kept++] = i;
    }
    list.resize(kept);
  }
  // Rows with both sides active: crossed bounds are infeasible; equal bounds make an equality
  // row (no slacks; see IpmStage.h). The lists are sorted, so walk them together.
  st.eq.clear();
  size_t a = 0, b = 0, kept_lower = 0, kept_upper = 0;
  while (a < st.lower.size() || b < st.upper.size()) {
    const int il = a < st.lower.size() ? st.lower[a] : st.m;
    const int iu = b < st.upper.size() ? st.upper[b] : st.m;
    if (il < iu) {
      st.lower[kept_lower++] = il;
      ++a;
    } else if (iu < il) {
      st.upper[kept_upper++] = iu;
      ++b;
    } else {
      if (st.lb[il] > st.ub[il] + tol_ineq) {
        message = stagePrefix(k) + rowName(d, il) + ": lower bound " + std::to_string(st.lb[il]) +
                  " exceeds upper bound " + std::to_string(st.ub[il]);
        return LoadResult::Infeasible;
      }
      if (st.ub[il] - st.lb[il] <= kEqualityWidth * (1.0 + std::abs(st.lb[il]))) {
        st.eq.push_back(il);
      } else {
        st.lower[kept_lower++] = il;
        st.upper[kept_upper++] = iu;
      }
      ++a;
      ++b;
    }
  }
  st.lower.resize(kept_lower);
  st.upper.resize(kept_upper);
  setEqualityPenalties(st);
  analyseStageSparsity(st);
  if (isFixedShape(st)) st.BAt = st.BA.transpose();
  return LoadResult::Ok;
}

}  // namespace velmora::ocp_qp::detail
