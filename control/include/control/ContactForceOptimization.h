#pragma once

// Contact force optimisation: the body's model-predictive controller.
//
// Conventions (stated once for this class):
//  - Error state x (12): body position error (0-2, m), linear velocity error (3-5, m/s),
//    roll-pitch-yaw error (6-8, rad, wrapped), angular momentum error Ig (w - w_des) (9-11,
//    kg m^2/s); all in world-parallel axes. Errors are measured minus reference.
//  - Input u (3 nf): the world-frame ground reaction force of each foot (z up, N), feet in the
//    order of ModelInfo::foot_name.
//  - Time: seconds on the node clock; stage k of a horizon lies k * dt() after the call, and
//    phase 0 of the mode schedule is the moment of the call.

#include <memory>
#include <string>
#include <vector>

#include "common/ControlData.h"
#include "common/ModeSchedule.h"
#include "common/MotionPhaseDefinition.h"
#include "common/TrajectoriesBuffer.h"
#include "control/ReferenceCheck.h"
#include "control/ReportThrottle.h"
#include "core/Types.h"
#include "core/misc/Buffer.h"
#include "description/ModelInfo.h"
#include "ocp_qp/OcpQp.h"
#include "ocp_qp/OcpQpIpmSolver.h"
#include "ocp_qp/OcpQpIpmSolverSettings.h"
#include "ocp_qp/OcpQpIpmWorkspace.h"
#include "ocp_qp/OcpQpSolution.h"
#include "pinocchio/PinocchioInterface.h"
#include "rclcpp/rclcpp.hpp"

namespace velmora {

/// Model-predictive controller of the robot's body. Each `optimize()` solves an optimal-control
/// QP over a horizon of `dt()` steps that spans the base reference trajectory: a single rigid
/// body driven by the feet's contact forces, linearised at the reference and written in error
/// coordinates, under a friction pyramid (0 <= fz <= 400 N in stance, zero force in swing). The
/// result is an affine law a x + b (6 x 12, 6) giving the body acceleration (linear m/s^2, then
/// angular rad/s^2, world-parallel axes) from the 12-entry error state x.
///
/// Driven from one thread: `update_state`, `update_trajectory_reference`,
/// `update_mode_schedule`, then `optimize`, once per period `dt()`. The two update buffers are
/// mutex-guarded, so pushes from other threads are safe; everything else is not.
class ContactForceOptimization {
 public:
  /// Most stages of one horizon: a longer base reference is cut to this many steps.
  static constexpr size_t kMaxHorizonStages = 200;

  /// Keeps the node (the clock), deep-copies the description and the robot model, takes the
  /// total mass from the model and sets dt() = 0.02 s, friction 0.5 and the interior-point
  /// settings (Speed mode, 30 iterations, tolerances 1e-4). Reads no file.
  /// @throws std::invalid_argument when a pointer is null or the description does not list
  ///         exactly four feet.
  ContactForceOptimization(std::shared_ptr<rclcpp::Node> nodeHandle,
                           std::shared_ptr<ModelInfo> modelInfoPtr,
                           std::shared_ptr<PinocchioInterface> pinocchioInterfacePtr);

  ContactForceOptimization(const ContactForceOptimization&) = delete;
  ContactForceOptimization& operator=(const ContactForceOptimization&) = delete;

  /// Reads "weights.force_optmization" (12 x 12 state weight), "friction_coefficient" (clamped
  /// to [0.01, 1]) and "force_optimization_dt" (s, clamped to [0.001, 0.5]) from the INFO file
  /// `paramFile`; with `verbose` echoes them to standard error.
  /// @throws the INFO reader's and loadData's exceptions (missing file or key, bad syntax, no
  ///         weight entry at all).
  void loadParamsSetting(const std::string& paramFile, bool verbose);

  /// Stores the reference set (shared, never copied) for the next `optimize`.
  void update_trajectory_reference(
      std::shared_ptr<const TrajectoriesBuffer> referenceTrajectoriesPtr);

  /// Stores the gait schedule (shared, never copied); phase 0 is the moment of `optimize`.
  void update_mode_schedule(std::shared_ptr<ModeSchedule> mode_schedule);

  /// Writes the measured generalised position (7 + nJ, quaternion x, y, z, w) and velocity
  /// (6 + nJ) into this optimiser's robot model. A state with a non-finite entry is not
  /// written; `optimize` then returns null until a finite state arrives.
  /// @throws std::invalid_argument when a pointer is null, and (from the robot model) when a
  ///         vector has the wrong size.
  void update_state(std::shared_ptr<vector_t> qpos_ptr, std::shared_ptr<vector_t> qvel_ptr);

  /// Runs one optimisation and returns the new body-acceleration law, or null when the
  /// references are missing or incomplete (no reference set, no base position or
  /// roll-pitch-yaw trajectory, no foot trajectory at all or none for a foot in stance, a
  /// reference shorter than one step), when no schedule or no finite state was given,
  /// or when the solver fails ("ContactForceOptimization: <status>" on standard output).
  /// Also null, with an error line on standard output (at most once per second per cause),
  /// when the base position, base roll-pitch-yaw or a used foot trajectory does not have
  /// dimension 3 ("ContactForceOptimization: base_pos trajectory has dimension 2, expected
  /// 3") or gives a non-finite value at a stage time. The horizon spans the base position
  /// reference, at most kMaxHorizonStages steps (a longer one is cut, with a warning line
  /// naming both stage counts, throttled likewise).
  std::shared_ptr<CtrlData> optimize();

  /// Horizon step and loop period [s].
  scalar_t dt() const { return dt_; }

  /// Diagnostics: the stages 0..N of the last built QP.
  const std::vector<ocp_qp::OcpQp>& ocp() const { return ocp_; }
  /// Diagnostics: the solution left by the last solve (per stage x, u and the feedback K, k).
  const std::vector<ocp_qp::OcpQpSolution>& solution() const { return solution_; }
  /// Diagnostics: the interior-point settings of the last solve (warm_start as used).
  const ocp_qp::OcpQpIpmSolverSettings& settings() const { return solver_settings; }
  /// Diagnostics: interior-point iterations of the last solve (0 before the first).
  int solver_iterations() const { return solver_iterations_; }
  /// Diagnostics: true once a solve has succeeded.
  bool has_solution() const { return has_sol_; }
  /// Diagnostics: the 12 x 12 state weight as loaded (empty before loadParamsSetting).
  const matrix_t& weight() const { return weight_; }
  /// Diagnostics: the friction coefficient in use.
  scalar_t friction_coefficient() const { return mu_; }

 private:
  /// Dynamics A, B, b of stage k (k < N); refreshes Ig_.
  void step1(size_t k);
  /// Friction pyramid and normal-force rows C, D, lg, ug and masks of stage k (k < N only).
  void step2(size_t k, size_t N);
  /// Costs Q, S, q, r (and R for k < N) of stage k; the terminal stage weighs 100 x weight_.
  void step3(size_t k, size_t N);
  /// Measured minus desired roll-pitch-yaw [rad]; when the difference is longer than 3 pi / 2
  /// every component beyond pi is wrapped by 2 pi.
  vector3_t compute_euler_angle_err(const vector3_t& rpy_m, const vector3_t& rpy_d) const;

  /// The inputs of one optimisation, taken from the buffers once at its start so that every
  /// stage of a horizon sees the same schedule and references even if a push happens meanwhile.
  struct CycleInputs {
    std::shared_ptr<ModeSchedule> mode_schedule;
    std::shared_ptr<CubicSplineTrajectory> pos_traj;
    std::shared_ptr<CubicSplineTrajectory> rpy_traj;
    std::vector<std::shared_ptr<CubicSplineTrajectory>> foot_traj;  ///< foot order; may be null
    std::vector<contact_flag_t> contact_flags;                      ///< stages 0..N-1
  };

  /// Takes the schedule and references out of the buffers and derives the horizon length and
  /// the contact flags of its stages. Returns false (nothing to solve) when an input is missing,
  /// the horizon is empty, a trajectory has the wrong dimension (reported) or a foot in stance
  /// has no position trajectory.
  bool take_cycle_inputs(size_t& N);
  /// Writes "ContactForceOptimization: <message>" to standard output unless a report of the
  /// same `cause` was made less than a second ago.
  void report(const std::string& cause, const std::string& message);
  /// Time of stage k on the reference time axis [s].
  scalar_t stage_time(size_t k) const;
  /// Removes dynamics, input weight and rows that an earlier, longer horizon left in `stage`.
  static void clear_terminal_stage(ocp_qp::OcpQp& stage);

  std::shared_ptr<rclcpp::Node> nodeHandle_;
  const ModelInfo modelInfo_;
  PinocchioInterface pinocchioInterface_;
  Buffer<std::shared_ptr<ModeSchedule>> mode_schedule_buffer;
  Buffer<std::shared_ptr<const TrajectoriesBuffer>> referenceTrajectoriesPtrBuffer_;
  std::shared_ptr<CtrlData> CtrlData_ptr;
  scalar_t dt_ = 0.02;
  const scalar_t grav_ = 9.81;
  scalar_t total_mass_;
  matrix3_t Ig_ = matrix3_t::Zero();
  scalar_t mu_ = 0.5;
  matrix_t weight_;
  std::vector<ocp_qp::OcpQp> ocp_;
  std::vector<ocp_qp::OcpQpSolution> solution_;
  ocp_qp::OcpQpIpmSolverSettings solver_settings;
  bool has_sol_ = false;

  /// True once a finite state was given, and false while the last state given was not finite.
  bool has_valid_state_ = false;
  CycleInputs cycle_;  ///< inputs of the optimisation in progress
  /// The first reference fault of this horizon (wrong dimension, non-finite sample).
  ReferenceCheck reference_check_;
  ReportThrottle report_throttle_;
  /// Storage of the interior-point solver, kept across calls: the solver built in every call
  /// reuses it and allocates only when the horizon changes.
  ocp_qp::OcpQpIpmWorkspace solver_workspace_;
  int solver_iterations_ = 0;  ///< iterations of the last solve
};

}  // namespace velmora
