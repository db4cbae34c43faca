#pragma once

// Whole-body controller: one quadratic programme per control period.
//
// Decision vector x = [qdd; f; tau] (nVar = nv + 3 nFeet + nJ entries):
//  - qdd (index 0, nv entries): generalised accelerations in the model's velocity order, 6 base
//    entries (base axes, linear first) then actuated joint j at 6 + j;
//  - f (index nv, 3 nFeet entries): contact force of foot i at nv + 3i, world-parallel axes;
//  - tau (index nv + 3 nFeet, nJ entries): actuated joint torques.
// Foot order is the order of ModelInfo::foot_name; times are seconds on the node's clock.
//
// Per cycle: contact state from the mode, tasks (contact, base, swing, force; weighted
// least-squares rows) and constraints (equations of motion, torque limits, friction pyramid and
// zero swing forces) as MatrixDB blocks, one dense QP, then joint targets
// and gains per leg.

#include <array>
#include <cstddef>
#include <limits>
#include <memory>
#include <optional>
#include <string>

#include <rclcpp/rclcpp.hpp>

#include "common/ControlData.h"
#include "common/MotionPhaseDefinition.h"
#include "common/TrajectoriesBuffer.h"
#include "control/MatrixDB.h"
#include "control/ReducedWholeBodyProgram.h"
#include "control/ReferenceCheck.h"
#include "control/ReportThrottle.h"
#include "core/Types.h"
#include "core/misc/Buffer.h"
#include "dense_qp/DenseQp.h"
#include "dense_qp/DenseQpSolution.h"
#include "dense_qp/DenseQpSolver.h"
#include "description/ModelInfo.h"
#include "pinocchio/PinocchioInterface.h"

namespace velmora {

/// Solves the whole-body QP over accelerations, contact forces and joint torques once per
/// period and turns its result into `ActuatorCommands`.
///
/// Driven from one thread: `update_state`, `update_trajectory_reference`, `update_mode`,
/// `update_control_data`, `optimize`, in that order, every period. The three `update_*`
/// operations other than `update_state` only push into guarded buffers and may be called from
/// any thread. The controller owns deep copies of the robot description and model.
class WholeBodyController {
 public:
  /// Keeps `nodeHandle` (clock and logger) and deep copies of the description and the model.
  /// Weights and gains stay empty until `loadParamsSetting`; dt() is 0.002 s.
  /// @throws std::invalid_argument when a pointer is empty or the description does not list
  ///         exactly four feet.
  WholeBodyController(std::shared_ptr<rclcpp::Node> nodeHandle,
                      std::shared_ptr<ModelInfo> modelInfo,
                      std::shared_ptr<PinocchioInterface> pinocchioInterface);

  /// Reads weights, gains, friction coefficient and period from the INFO file `param_file`
  /// (keys "weights.*", "feedback_gain.*", "friction_coefficient", "wbc_dt"); the friction
  /// coefficient is clamped into [0.01, 1], the period into [0.0002, 0.1] s (a NaN becomes the
  /// lower limit). The optional "safety.damping_kd" (default 1.0 N m s/rad) is the gain of the
  /// safe damping command. With `verbose` the values are echoed to standard error.
  /// @throws the loaders' exceptions for a missing file, a syntax error or a missing key;
  ///         std::invalid_argument for a negative or non-numeric "safety.damping_kd".
  void loadParamsSetting(const std::string& param_file, bool verbose);

  /// Stores the reference trajectories (may be empty: the base is then asked not to accelerate,
  /// no swing task is built and no joint targets are set).
  void update_trajectory_reference(
      std::shared_ptr<const TrajectoriesBuffer> referenceTrajectoriesPtr);

  /// Stores the contact mode number (0 to 15, foot 0 the most significant bit).
  void update_mode(size_t mode);

  /// Updates the own robot model at once with copies of the measured state (qpos: 7 + nJ with an
  /// x, y, z, w quaternion; qvel: 6 + nJ). Call from the thread that calls `optimize`.
  /// @throws std::invalid_argument for an empty pointer; the model's errors for bad sizes or
  ///         non-finite entries.
  void update_state(std::shared_ptr<vector_t> qpos_ptr, std::shared_ptr<vector_t> qvel_ptr);

  /// Stores the base feedback policy acc = a x_b + b (a: 6 x 12, b: 6; may be empty).
  void update_control_data(std::shared_ptr<CtrlData> data);

  /// One control cycle. The reference set is taken over once at the start: when a trajectory
  /// that the cycle uses (base position, base roll-pitch-yaw, base position reference, the
  /// feet's positions) does not have dimension 3, or gives a non-finite value at the times the
  /// cycle samples it, the record is the safe damping command (Kp 0, Kd "safety.damping_kd",
  /// pos the measured joint positions, vel and torque 0) and an error naming the trajectory
  /// goes to the logger, at most once per second per cause.
  /// Without a policy the record is all zeros and nothing else happens.
  /// Otherwise the QP is built and solved; `torque` holds the solved joint torques and
  /// Kp, Kd, pos, vel the per-leg joint targets. A failed solve logs
  /// "controller wbc failed, please restart ..." at INFO severity and sends the static torque
  /// estimate (or zero torques, see setSendStaticTorqueOnFailure).
  /// @return a new record (nJ entries per field), never modified afterwards, stamped with the
  ///         node time of the cycle (`stamp_s`) and of the last `update_state` (`state_stamp_s`).
  /// @throws std::runtime_error "nv != info_.actuatedDofNum + 6" when the model's velocity
  ///         dimension is not nJ + 6; std::invalid_argument for a policy of the wrong size or a
  ///         mode number above 15.
  std::shared_ptr<ActuatorCommands> optimize();

  /// Control period [s] ("wbc_dt"), also the look-ahead of reference sampling.
  scalar_t dt() const { return dt_; }

  /// Roll-pitch-yaw error rpy - rpy_ref [rad]; when its norm exceeds 3 pi / 2, every component
  /// beyond pi is moved by one full turn towards zero.
  vector3_t compute_euler_angle_err(const vector3_t& rpy, const vector3_t& rpy_ref) const;

  /// Chooses what a failed solve sends as torque: the static estimate that carries the weight
  /// on four feet (default, clamped to the effort limits) or zero.
  void setSendStaticTorqueOnFailure(bool enable) { send_static_torque_on_failure_ = enable; }
  bool sendStaticTorqueOnFailure() const { return send_static_torque_on_failure_; }

  /// Joint torques [N m] that hold the weight when each of the four feet carries a quarter of
  /// it vertically: the joint part of the nonlinear effects minus the sum over all feet of
  /// (joint columns of the foot's linear world-aligned Jacobian)^T (0, 0, m g / 4), at the
  /// current model state. Not clamped.
  vector_t staticTorqueEstimate() const;

  /// Number of cycles whose solve failed since construction.
  size_t numFailedSolves() const { return num_failed_solves_; }
  /// Number of cycles that sent the safe damping command for a bad reference trajectory.
  size_t numRejectedReferences() const { return num_rejected_references_; }

  /// Diagnostics of the last cycle (read on the controller's thread).
  const MatrixDB& weighedTaskBlock() const { return weighedTask; }
  const MatrixDB& constraintBlock() const { return constraints; }
  /// x = [qdd; f; tau] of the last successful solve (empty before; unchanged by failures).
  const vector_t& lastSolution() const { return solution_; }
  const contact_flag_t& contactFlag() const { return contactFlag_; }
  size_t numContacts() const { return nc_; }
  /// Stacked linear foot Jacobians (3 nFeet x nv, world-parallel axes) of the last cycle.
  const matrix_t& contactJacobian() const { return Jc; }
  /// Actuated joint accelerations [rad/s^2] of the last cycle (zero after a failed solve).
  const vector_t& jointAccelerations() const { return joint_acc_; }
  size_t numDecisionVariables() const { return nVar_; }
  scalar_t frictionCoefficient() const { return frictionCoeff_; }

 private:
  /// Contact state (flags, count, Jc) and the two stacked blocks of this cycle.
  void step1();
  /// Stacked linear world-aligned foot Jacobians.
  void step2();
  /// Equations of motion M qdd + h = Jc^T f + S tau ("eulerNewtonEqu").
  MatrixDB step3();
  /// Torque limits ("limit_tau").
  MatrixDB step4();
  /// Stance feet do not accelerate ("contact_task").
  MatrixDB step5();
  /// Zero swing forces and the friction pyramid of stance feet ("friction_cone").
  MatrixDB step6();
  /// Base follows the policy's acceleration demand ("base_task").
  MatrixDB step7();
  /// Swing feet track their references ("swing_task").
  MatrixDB step8();
  /// Contact force regularisation ("contact_force").
  MatrixDB step9();
  /// Per-leg joint targets and gains.
  void step10();

  /// Takes the reference set over for this cycle and checks the dimension of every trajectory
  /// the cycle uses; false on a mismatch (kept in reference_check_).
  bool takeReferences();
  /// Replaces this cycle's record with the safe damping command and reports the reference
  /// fault (throttled per cause).
  std::shared_ptr<ActuatorCommands> rejectReferences();

  /// Solves the QP of the stacked blocks (min 1/2 |A x - b|^2 + 1e-8 |x|^2 / 2 over the task
  /// rows, subject to the constraint rows); false when it fails or the problem is not finite.
  /// The solver and the problem's storage are kept across cycles and rebuilt only when the
  /// problem's sizes change.
  bool solveProgram(vector_t& solution);

  /// Base acceleration demanded by `policy` (base axes, linear first), zero without references.
  vector6_t demandedBaseAcceleration(const CtrlData& policy);
  /// First three actuated joints that move foot `foot` (linear Jacobian column norm > 0.01);
  /// returns how many were found (at most 3).
  int legJoints(size_t foot, std::array<Eigen::Index, 3>& joints) const;
  /// Clears the commands of the given leg joints (zero gains) and warns, throttled.
  void disableLeg(size_t foot, const std::array<Eigen::Index, 3>& joints, int count,
                  const char* reason);
  /// Fills the joint commands of a swing leg; returns false when the leg cannot be commanded.
  bool commandSwingLeg(size_t foot, const std::array<Eigen::Index, 3>& joints,
                       const CubicSplineTrajectory& foot_traj,
                       const std::shared_ptr<CubicSplineTrajectory>& base_traj, scalar_t t,
                       const vector3_t& base_pos, const vector3_t& base_vel);

  std::shared_ptr<rclcpp::Node> nodeHandle_;
  Buffer<std::shared_ptr<const TrajectoriesBuffer>> referenceTrajectoriesPtrBuffer_;
  /// The reference set of the cycle in progress (taken from the buffer once per cycle).
  std::shared_ptr<const TrajectoriesBuffer> cycle_references_;
  /// Its foot position trajectories, copied out once per cycle.
  TrajectoriesBuffer::trajectory_map_t cycle_foot_trajs_;
  /// The first reference fault of this cycle (wrong dimension, non-finite sample).
  ReferenceCheck reference_check_;
  Buffer<size_t> mode_;
  Buffer<std::shared_ptr<CtrlData>> ctrlData_ptr;
  size_t nVar_ = 0;
  const ModelInfo modelInfo_;
  PinocchioInterface pinocchioInterface_;
  matrix_t Jc;
  contact_flag_t contactFlag_{};
  size_t nc_ = 0;
  matrix_t weightSwingLeg_;
  matrix_t weightBase_;
  scalar_t weightContactForce_ = 0.0;
  matrix_t swingKp_, swingKd_;
  matrix_t baseKp_, baseKd_;
  scalar_t frictionCoeff_ = 0.0;
  MatrixDB weighedTask;
  MatrixDB constraints;
  scalar_t dt_ = 0.002;
  vector_t joint_acc_;
  std::shared_ptr<ActuatorCommands> actuator_commands_;

  bool send_static_torque_on_failure_ = true;
  size_t num_failed_solves_ = 0;
  size_t num_rejected_references_ = 0;
  scalar_t safe_damping_kd_ = 1.0;  ///< [N m s / rad]
  /// Node time of the last update_state [s] (NaN before the first).
  scalar_t state_stamp_s_ = std::numeric_limits<scalar_t>::quiet_NaN();
  ReportThrottle report_throttle_;
  vector_t solution_;
  ReducedWholeBodyProgram reduced_program_;  ///< x = [qdd; f; tau] from qp_'s solution
  dense_qp::DenseQp qp_;                     ///< the reduced QP of the cycle in progress
  /// A solver and the shape it was sized for (variables, equalities, inequalities).
  struct SizedQpSolver {
    std::optional<dense_qp::DenseQpSolver> solver;
    std::array<Eigen::Index, 3> shape{};
  };
  std::array<SizedQpSolver, 5> qp_solvers_;  ///< by number of stance feet
  dense_qp::DenseQpSolution qp_solution_;
  matrix6x_t frame_jacobian_;  ///< scratch for Jacobian queries
  size_t nv_ = 0, nJ_ = 0, nFeet_ = 0;
  int base_frame_id_ = 0;
  std::array<int, 4> foot_frame_ids_{};
};

}  // namespace velmora
