#pragma once

// Support of the OCP QP solver tests and benchmarks: random problems that are feasible by
// construction, a KKT check computed from the stage data alone (sufficient for optimality of a
// convex QP), the textbook Riccati recursion, and the contact-force problems of the bundled
// robot as ContactForceOptimization builds them.

#include <memory>
#include <random>
#include <vector>

#include <Eigen/Dense>

#include "ocp_qp/OcpQp.h"
#include "ocp_qp/OcpQpIpmSolverSettings.h"
#include "ocp_qp/OcpQpSolution.h"

namespace velmora::ocp_qp::test {

/// Settings with all four tolerances set to `tol` and at most `iter_max` iterations.
OcpQpIpmSolverSettings tightSettings(double tol = 1e-9, int iter_max = 100);

/// Shape of a random problem (per stage; the last stage has no input and only C rows).
struct RandomShape {
  int N = 8;
  int nx = 4;
  int nu = 3;
  int nbu = 2;                ///< input bounds
  int nbx = 2;                ///< state bounds
  int ng = 2;                 ///< general rows
  bool masks = true;          ///< about a fifth of the bound sides masked out
  bool equality_rows = true;  ///< general row 0 of stages k > 0 with lg = ug
  bool cross_terms = true;    ///< non-zero S (otherwise S is left empty)
};

/// A random convex problem, feasible by construction: bounds are placed around a random
/// trajectory simulated from x0. Masked sides get values that this trajectory violates, so they
/// change the answer unless they are ignored.
std::vector<OcpQp> randomProblem(const RandomShape& shape, std::mt19937& rng, Eigen::VectorXd& x0);

/// Largest violations of the KKT conditions of `qp` at `sol` (max-norms).
struct KktErrors {
  double stationarity = 0.0;     ///< gradient of the Lagrangian over u_k and x_k (k >= 1)
  double dynamics = 0.0;         ///< A x + B u + b - x_next
  double primal = 0.0;           ///< violation of an active bound side
  double complementarity = 0.0;  ///< multiplier * (row value - bound)
  double dual = 0.0;             ///< negative multipliers, multipliers of masked-out sides
  double x0 = 0.0;               ///< |x_0 - x0|
};
KktErrors kktErrors(const std::vector<OcpQp>& qp, const Eigen::VectorXd& x0,
                    const std::vector<OcpQpSolution>& sol);

/// Finite-horizon Riccati recursion of an unconstrained problem: gains K_k of u_k = K_k x_k +
/// k_k, k < N.
std::vector<Eigen::MatrixXd> riccatiGains(const std::vector<OcpQp>& qp);

/// Contact-force problems of the bundled robot built by ContactForceOptimization: the standing
/// pose perturbed at random, constant standing references over N stages, a trot (0.5 s cycle,
/// modes 9 and 6) advanced by `period` control periods. Not thread-safe.
class ContactForceProblems {
 public:
  ContactForceProblems();
  ~ContactForceProblems();

  /// Builds the problem of one period into `qp` and the error state the optimiser fixes into
  /// `x0`. `disturbance` scales the random perturbation of the measured state (1: 2 mm, 0.01
  /// rad, 0.05 m/s and 0.1 rad/s per axis).
  void build(int N, int period, double disturbance, std::vector<OcpQp>& qp, Eigen::VectorXd& x0);
  /// The optimiser's interior-point settings (tolerances 1e-4, cold start).
  OcpQpIpmSolverSettings settings() const;

 private:
  struct Rig;
  std::unique_ptr<Rig> rig_;
};

}  // namespace velmora::ocp_qp::test
