#include "OcpQpTestUtils.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace velmora::ocp_qp::test {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

Eigen::MatrixXd randn(int rows, int cols, std::mt19937& rng, double scale = 1.0) {
  std::normal_distribution<double> nd(0.0, scale);
  Eigen::MatrixXd M(rows, cols);
  for (int j = 0; j < cols; ++j) {
    for (int i = 0; i < rows; ++i) M(i, j) = nd(rng);
  }
  return M;
}

bool bernoulli(std::mt19937& rng, double p) {
  return std::uniform_real_distribution<>(0, 1)(rng) < p;
}

// Empty means zero.
Eigen::MatrixXd orZero(const Eigen::MatrixXd& M, int rows, int cols) {
  return M.size() == 0 ? Eigen::MatrixXd::Zero(rows, cols) : M;
}
Eigen::VectorXd orZero(const Eigen::VectorXd& v, int n) {
  return v.size() == 0 ? Eigen::VectorXd::Zero(n) : v;
}
bool sideActive(const Eigen::VectorXd& mask, int j, double bound) {
  return (mask.size() == 0 || mask[j] != 0.0) && std::isfinite(bound);
}

int stateSize(const std::vector<OcpQp>& qp, int k) {
  const int N = static_cast<int>(qp.size()) - 1;
  if (k < N) return static_cast<int>(qp[k].A.cols());
  return N > 0 ? static_cast<int>(qp[N - 1].A.rows()) : static_cast<int>(qp[N].Q.rows());
}
int inputSize(const std::vector<OcpQp>& qp, int k) {
  return k < static_cast<int>(qp.size()) - 1 ? static_cast<int>(qp[k].B.cols()) : 0;
}

// Unconstrained optimum of the problem (dense KKT solve), for placing active bounds.
void unconstrainedOptimum(const std::vector<OcpQp>& qp, const Eigen::VectorXd& x0,
                          std::vector<Eigen::VectorXd>& x, std::vector<Eigen::VectorXd>& u) {
  const dense_qp::DenseQp dense = denseProblem(qp, x0);
  const int n = static_cast<int>(dense.H.rows()), m = static_cast<int>(dense.A.rows());
  Eigen::MatrixXd K = Eigen::MatrixXd::Zero(n + m, n + m);
  K.topLeftCorner(n, n) = dense.H;
  K.topRightCorner(n, m) = dense.A.transpose();
  K.bottomLeftCorner(m, n) = dense.A;
  Eigen::VectorXd rhs(n + m);
  rhs << -dense.g, dense.b;
  const Eigen::VectorXd sol = K.fullPivLu().solve(rhs);
  splitDense(qp, x0, sol.head(n), x, u);
}

// Places a lower/upper bound pair around the feasible value `ref` so that the side on which
// `opt` (the unconstrained optimum) lies beyond `ref` cuts between them.
void placeBounds(double ref, double opt, std::mt19937& rng, double& lb, double& ub) {
  std::uniform_real_distribution<> U(0.2, 0.8);
  const double loose = 1.0 + 2.0 * U(rng);
  lb = ref - loose;
  ub = ref + loose;
  if (opt < ref - 1e-6) lb = opt + U(rng) * (ref - opt);
  if (opt > ref + 1e-6) ub = opt - U(rng) * (opt - ref);
}

}  // namespace

OcpQpIpmSolverSettings tightSettings(double tol, int iter_max) {
  OcpQpIpmSolverSettings s;
  s.tol_stat = s.tol_eq = s.tol_ineq = s.tol_comp = tol;
  s.iter_max = iter_max;
  return s;
}

std::vector<OcpQp> randomProblem(const RandomShape& shape, std::mt19937& rng, Eigen::VectorXd& x0) {
  const int N = shape.N, nx = shape.nx, nu = shape.nu;
  std::vector<OcpQp> qp(N + 1);
  for (int k = 0; k <= N; ++k) {
    OcpQp& st = qp[k];
    const bool last = k == N;
    const int nv = (last ? 0 : nu) + nx;
    const Eigen::MatrixXd L = randn(nv, nv, rng, 0.5);
    Eigen::MatrixXd H = L * L.transpose() + 0.2 * Eigen::MatrixXd::Identity(nv, nv);
    if (!shape.cross_terms && !last) H.topRightCorner(nu, nx).setZero();
    if (!shape.cross_terms && !last) H.bottomLeftCorner(nx, nu).setZero();
    st.Q = H.bottomRightCorner(nx, nx);
    st.q = randn(nx, 1, rng);
    if (!last) {
      st.R = H.topLeftCorner(nu, nu);
      st.S = H.topRightCorner(nu, nx);
      st.r = randn(nu, 1, rng);
      st.A = Eigen::MatrixXd::Identity(nx, nx) + randn(nx, nx, rng, 0.15);
      st.B = randn(nx, nu, rng, 0.5);
      st.b = randn(nx, 1, rng, 0.1);
    }
  }
  x0 = randn(nx, 1, rng);

  // A feasible reference trajectory and the unconstrained optimum.
  std::vector<Eigen::VectorXd> x_ref(N + 1), u_ref(N), x_opt, u_opt;
  x_ref[0] = x0;
  for (int k = 0; k < N; ++k) {
    u_ref[k] = randn(nu, 1, rng, 0.5);
    x_ref[k + 1] = qp[k].A * x_ref[k] + qp[k].B * u_ref[k] + qp[k].b;
  }
  unconstrainedOptimum(qp, x0, x_opt, u_opt);

  for (int k = 0; k <= N; ++k) {
    OcpQp& st = qp[k];
    const bool last = k == N;
    auto maskedSide = [&](double& bound, double ref, bool lower) {
      // A masked side gets a value that the reference violates, so it must be ignored.
      bound = lower ? ref + 5.0 : ref - 5.0;
      return 0.0;
    };
    if (!last && shape.nbu > 0) {
      st.idxbu.resize(shape.nbu);
      st.lbu.resize(shape.nbu);
      st.ubu.resize(shape.nbu);
      st.lbu_mask = Eigen::VectorXd::Ones(shape.nbu);
      st.ubu_mask = Eigen::VectorXd::Ones(shape.nbu);
      for (int j = 0; j < shape.nbu; ++j) {
        const int i = (j + k) % nu;
        st.idxbu[j] = i;
        placeBounds(u_ref[k][i], u_opt[k][i], rng, st.lbu[j], st.ubu[j]);
        if (shape.masks && bernoulli(rng, 0.2))
          st.lbu_mask[j] = maskedSide(st.lbu[j], u_ref[k][i], true);
        if (shape.masks && bernoulli(rng, 0.2))
          st.ubu_mask[j] = maskedSide(st.ubu[j], u_ref[k][i], false);
      }
    }
    if (shape.nbx > 0) {
      st.idxbx.resize(shape.nbx);
      st.lbx.resize(shape.nbx);
      st.ubx.resize(shape.nbx);
      st.lbx_mask = Eigen::VectorXd::Ones(shape.nbx);
      st.ubx_mask = Eigen::VectorXd::Ones(shape.nbx);
      for (int j = 0; j < shape.nbx; ++j) {
        const int i = (2 * j + k) % nx;
        st.idxbx[j] = i;
        if (k == 0) {  // acts on the fixed x0: keep it satisfied
          st.lbx[j] = x0[i] - 1.0;
          st.ubx[j] = x0[i] + 1.0;
          continue;
        }
        placeBounds(x_ref[k][i], x_opt[k][i], rng, st.lbx[j], st.ubx[j]);
        if (shape.masks && bernoulli(rng, 0.2))
          st.lbx_mask[j] = maskedSide(st.lbx[j], x_ref[k][i], true);
        if (shape.masks && bernoulli(rng, 0.2))
          st.ubx_mask[j] = maskedSide(st.ubx[j], x_ref[k][i], false);
      }
    }
    if (shape.ng > 0) {
      st.C = randn(shape.ng, nx, rng);
      if (!last) st.D = randn(shape.ng, nu, rng);
      st.lg.resize(shape.ng);
      st.ug.resize(shape.ng);
      st.lg_mask = Eigen::VectorXd::Ones(shape.ng);
      st.ug_mask = Eigen::VectorXd::Ones(shape.ng);
      for (int j = 0; j < shape.ng; ++j) {
        double ref = st.C.row(j).dot(x_ref[k]);
        double opt = st.C.row(j).dot(k == 0 ? x0 : x_opt[k]);
        if (!last) {
          ref += st.D.row(j).dot(u_ref[k]);
          opt += st.D.row(j).dot(u_opt[k]);
        }
        if (shape.equality_rows && j == 0 && k > 0) {
          st.lg[j] = st.ug[j] = ref;
          continue;
        }
        placeBounds(ref, opt, rng, st.lg[j], st.ug[j]);
        if (shape.masks && bernoulli(rng, 0.2)) st.lg_mask[j] = maskedSide(st.lg[j], ref, true);
        if (shape.masks && bernoulli(rng, 0.2)) st.ug_mask[j] = maskedSide(st.ug[j], ref, false);
      }
    }
  }
  return qp;
}

dense_qp::DenseQp denseProblem(const std::vector<OcpQp>& qp, const Eigen::VectorXd& x0) {
  const int N = static_cast<int>(qp.size()) - 1;
  std::vector<int> uoff(N + 1, -1), xoff(N + 1, -1);
  int n = 0, m_eq = 0, m_in = 0;
  for (int k = 0; k <= N; ++k) {
    if (k > 0) {
      xoff[k] = n;
      n += stateSize(qp, k);
    }
    if (k < N) {
      uoff[k] = n;
      n += inputSize(qp, k);
      m_eq += stateSize(qp, k + 1);
    }
    m_in += (k < N ? static_cast<int>(qp[k].idxbu.size()) : 0) + static_cast<int>(qp[k].lg.size()) +
            (k > 0 ? static_cast<int>(qp[k].idxbx.size()) : 0);
  }
  dense_qp::DenseQp d(n, m_eq, m_in);
  int eq = 0, in = 0;
  for (int k = 0; k <= N; ++k) {
    const OcpQp& st = qp[k];
    const int nx = stateSize(qp, k), nu = inputSize(qp, k);
    const Eigen::MatrixXd Q = orZero(st.Q, nx, nx);
    const Eigen::VectorXd q = orZero(st.q, nx);
    if (k > 0) {
      d.H.block(xoff[k], xoff[k], nx, nx) += 0.5 * (Q + Q.transpose());
      d.g.segment(xoff[k], nx) += q;
    }
    if (k < N) {
      const Eigen::MatrixXd R = orZero(st.R, nu, nu), S = orZero(st.S, nu, nx);
      d.H.block(uoff[k], uoff[k], nu, nu) += 0.5 * (R + R.transpose());
      d.g.segment(uoff[k], nu) += orZero(st.r, nu);
      if (k == 0) {
        d.g.segment(uoff[k], nu) += S * x0;
      } else {
        d.H.block(uoff[k], xoff[k], nu, nx) += S;
        d.H.block(xoff[k], uoff[k], nx, nu) += S.transpose();
      }
      // x_{k+1} - A x_k - B u_k = b_k
      const int nx1 = stateSize(qp, k + 1);
      d.A.block(eq, xoff[k + 1], nx1, nx1) = Eigen::MatrixXd::Identity(nx1, nx1);
      d.A.block(eq, uoff[k], nx1, nu) = -orZero(st.B, nx1, nu);
      d.b.segment(eq, nx1) = orZero(st.b, nx1);
      if (k == 0) {
        d.b.segment(eq, nx1) += st.A * x0;
      } else {
        d.A.block(eq, xoff[k], nx1, nx) = -st.A;
      }
      eq += nx1;
      for (size_t j = 0; j < st.idxbu.size(); ++j, ++in) {
        d.C(in, uoff[k] + st.idxbu[j]) = 1.0;
        d.l[in] = sideActive(st.lbu_mask, j, st.lbu[j]) ? st.lbu[j] : -kInf;
        d.u[in] = sideActive(st.ubu_mask, j, st.ubu[j]) ? st.ubu[j] : kInf;
      }
    }
    if (k > 0) {
      for (size_t j = 0; j < st.idxbx.size(); ++j, ++in) {
        d.C(in, xoff[k] + st.idxbx[j]) = 1.0;
        d.l[in] = sideActive(st.lbx_mask, j, st.lbx[j]) ? st.lbx[j] : -kInf;
        d.u[in] = sideActive(st.ubx_mask, j, st.ubx[j]) ? st.ubx[j] : kInf;
      }
    }
    const int ng = static_cast<int>(st.lg.size());
    if (ng > 0) {
      const Eigen::MatrixXd C = orZero(st.C, ng, nx);
      Eigen::VectorXd shift = Eigen::VectorXd::Zero(ng);
      if (k == 0) {
        shift = C * x0;
      } else {
        d.C.block(in, xoff[k], ng, nx) = C;
      }
      if (k < N) d.C.block(in, uoff[k], ng, nu) = orZero(st.D, ng, nu);
      for (int j = 0; j < ng; ++j) {
        d.l[in + j] = sideActive(st.lg_mask, j, st.lg[j]) ? st.lg[j] - shift[j] : -kInf;
        d.u[in + j] = sideActive(st.ug_mask, j, st.ug[j]) ? st.ug[j] - shift[j] : kInf;
      }
      in += ng;
    }
  }
  return d;
}

void splitDense(const std::vector<OcpQp>& qp, const Eigen::VectorXd& x0, const Eigen::VectorXd& z,
                std::vector<Eigen::VectorXd>& x, std::vector<Eigen::VectorXd>& u) {
  const int N = static_cast<int>(qp.size()) - 1;
  x.assign(N + 1, Eigen::VectorXd());
  u.assign(N, Eigen::VectorXd());
  x[0] = x0;
  int n = 0;
  for (int k = 0; k <= N; ++k) {
    if (k > 0) {
      x[k] = z.segment(n, stateSize(qp, k));
      n += stateSize(qp, k);
    }
    if (k < N) {
      u[k] = z.segment(n, inputSize(qp, k));
      n += inputSize(qp, k);
    }
  }
}

KktErrors kktErrors(const std::vector<OcpQp>& qp, const Eigen::VectorXd& x0,
                    const std::vector<OcpQpSolution>& sol) {
  KktErrors e;
  const int N = static_cast<int>(qp.size()) - 1;
  e.x0 = (sol[0].x - x0).cwiseAbs().maxCoeff();
  auto note = [&](double err, double& field, const std::string& where) {
    if (err > field) {
      field = err;
      if (&field == &e.stationarity) e.worst = where;
    }
  };
  auto checkSide = [&](double value, double bound, bool lower, bool active, double lam,
                       const std::string& where) {
    note(std::max(-lam, 0.0), e.dual_sign, where);
    if (!active) {
      note(std::abs(lam), e.masked_multiplier, where);
      return;
    }
    const double gap = lower ? value - bound : bound - value;
    note(std::max(-gap, 0.0), e.primal, where);
    note(std::abs(lam * gap), e.complementarity, where);
  };
  for (int k = 0; k <= N; ++k) {
    const OcpQp& st = qp[k];
    const OcpQpSolution& s = sol[k];
    const bool last = k == N;
    const int nx = stateSize(qp, k), nu = inputSize(qp, k);
    const std::string at = "stage " + std::to_string(k);
    Eigen::VectorXd gu = Eigen::VectorXd::Zero(nu), gx = Eigen::VectorXd::Zero(nx);
    const Eigen::MatrixXd Q = orZero(st.Q, nx, nx);
    gx = 0.5 * (Q + Q.transpose()) * s.x + orZero(st.q, nx);
    if (!last) {
      const Eigen::MatrixXd R = orZero(st.R, nu, nu), S = orZero(st.S, nu, nx);
      const Eigen::MatrixXd B = orZero(st.B, stateSize(qp, k + 1), nu);
      gu = 0.5 * (R + R.transpose()) * s.u + S * s.x + orZero(st.r, nu) + B.transpose() * s.pi;
      gx += S.transpose() * s.u + st.A.transpose() * s.pi;
      const Eigen::VectorXd next = st.A * s.x + B * s.u + orZero(st.b, stateSize(qp, k + 1));
      note((next - sol[k + 1].x).cwiseAbs().maxCoeff(), e.dynamics, at);
      for (size_t j = 0; j < st.idxbu.size(); ++j) {
        const int i = st.idxbu[j];
        gu[i] -= s.lam_lbu[j] - s.lam_ubu[j];
        checkSide(s.u[i], st.lbu[j], true, sideActive(st.lbu_mask, j, st.lbu[j]), s.lam_lbu[j], at);
        checkSide(s.u[i], st.ubu[j], false, sideActive(st.ubu_mask, j, st.ubu[j]), s.lam_ubu[j],
                  at);
      }
    }
    if (k > 0) gx -= sol[k - 1].pi;
    for (size_t j = 0; j < st.idxbx.size(); ++j) {
      const int i = st.idxbx[j];
      gx[i] -= s.lam_lbx[j] - s.lam_ubx[j];
      checkSide(s.x[i], st.lbx[j], true, sideActive(st.lbx_mask, j, st.lbx[j]), s.lam_lbx[j], at);
      checkSide(s.x[i], st.ubx[j], false, sideActive(st.ubx_mask, j, st.ubx[j]), s.lam_ubx[j], at);
    }
    const int ng = static_cast<int>(st.lg.size());
    if (ng > 0) {
      const Eigen::MatrixXd C = orZero(st.C, ng, nx);
      Eigen::VectorXd value = C * s.x;
      const Eigen::VectorXd dlam = s.lam_lg - s.lam_ug;
      gx -= C.transpose() * dlam;
      if (!last) {
        const Eigen::MatrixXd D = orZero(st.D, ng, nu);
        value += D * s.u;
        gu -= D.transpose() * dlam;
      }
      for (int j = 0; j < ng; ++j) {
        checkSide(value[j], st.lg[j], true, sideActive(st.lg_mask, j, st.lg[j]), s.lam_lg[j], at);
        checkSide(value[j], st.ug[j], false, sideActive(st.ug_mask, j, st.ug[j]), s.lam_ug[j], at);
      }
    }
    if (nu > 0) note(gu.cwiseAbs().maxCoeff(), e.stationarity, at + " (u)");
    if (k > 0) note(gx.cwiseAbs().maxCoeff(), e.stationarity, at + " (x)");
  }
  return e;
}

std::vector<Eigen::MatrixXd> riccatiGains(const std::vector<OcpQp>& qp) {
  const int N = static_cast<int>(qp.size()) - 1;
  std::vector<Eigen::MatrixXd> K(N);
  Eigen::MatrixXd P = qp[N].Q;
  for (int k = N - 1; k >= 0; --k) {
    const OcpQp& st = qp[k];
    const Eigen::MatrixXd Ruu = st.R + st.B.transpose() * P * st.B;
    const Eigen::MatrixXd Sux = st.S + st.B.transpose() * P * st.A;
    K[k] = -Ruu.ldlt().solve(Sux);
    P = st.Q + st.A.transpose() * P * st.A + Sux.transpose() * K[k];
    P = 0.5 * (P + P.transpose()).eval();
  }
  return K;
}

}  // namespace velmora::ocp_qp::test
