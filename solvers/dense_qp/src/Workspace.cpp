#include "Workspace.h"

namespace velmora::dense_qp::internal {

Workspace::Workspace(Eigen::Index n_, Eigen::Index m_eq_, Eigen::Index m_in_)
    : n(n_), m_eq(m_eq_), m_in(m_in_) {
  scaled.H.resize(n, n);
  scaled.g.resize(n);
  scaled.A.resize(m_eq, n);
  scaled.b.resize(m_eq);
  scaled.C.resize(m_in, n);
  scaled.l.resize(m_in);
  scaled.u.resize(m_in);
  equilibration.resize(n, m_eq, m_in);
  elimination.resize(n, m_eq);
  sizeReduced(n - m_eq > 0 ? n - m_eq : 0, m_in);
  for (Eigen::VectorXd* v : {&x_scaled, &stationarity, &Hx, &ATy, &CTz}) v->resize(n);
  for (Eigen::VectorXd* v : {&y_scaled, &Ax}) v->resize(m_eq);
  for (Eigen::VectorXd* v : {&z_scaled, &Cx}) v->resize(m_in);
}

void Workspace::sizeReduced(Eigen::Index p, Eigen::Index m) {
  if (p == reduced_p && m == reduced_m) return;
  ipm.resize(p, m);
  polish.resize(p, m);
  y_reduced.resize(p);
  z_reduced.resize(m);
  reduced_p = p;
  reduced_m = m;
}

}  // namespace velmora::dense_qp::internal
