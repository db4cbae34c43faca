#pragma once

namespace velmora::dense_qp {

/// Tuning of DenseQpSolver. The defaults suit well-scaled and badly scaled problems alike; the
/// tolerances apply to the equilibrated problem (see DenseQpSolver), relative ones to the
/// largest term of each residual.
struct DenseQpSettings {
  /// Absolute and relative tolerance of the primal residual, the dual residual and the
  /// complementarity of the equilibrated problem.
  double eps_abs = 1e-10;
  double eps_rel = 1e-10;
  /// Tolerance of the primal and dual infeasibility certificates (normalised certificates).
  double eps_infeasible = 1e-6;
  /// Relative residual of the interior-point iterate at which active-set polishing starts.
  double polish_start = 1e-3;
  /// Run active-set polishing (solves the KKT system of the identified active set exactly).
  bool polish = true;
  /// Maximum number of interior-point iterations (Newton steps with predictor and corrector).
  int max_iterations = 100;
  /// Maximum number of Ruiz equilibration sweeps (0 disables equilibration).
  int equilibration_iterations = 10;
  /// Elimination of the equality rows stops (the remaining rows count as dependent) when the
  /// largest remaining entry is below rank_tolerance times the first pivot.
  double rank_tolerance = 1e-11;
  /// Bounds of at least this magnitude mean "no bound".
  double infinite_bound = 1e16;
  /// Diagonal regularisation of the Newton matrices (equilibrated units). It only perturbs the
  /// interior-point steps slightly; polishing removes its effect by iterative refinement.
  double regularization = 1e-11;
};

}  // namespace velmora::dense_qp
