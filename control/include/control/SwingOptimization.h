#pragma once

// Joint-space tracking problem for the actuated joints, solved as an optimal-control QP.
//
// Conventions (stated once for SwingOptimization.cpp as well):
//  - nj actuated joints, in the order of ModelInfo::joints_name, which is the order of the last
//    nj entries of the robot's generalised position and velocity.
//  - State x (2nj) = [q - q_ref(t); v - v_ref(t)]: joint position error [rad] and joint velocity
//    error [rad/s] with respect to the reference joint trajectory and its first derivative.
//  - Input u (nj): actuated joint torques [N m].
//  - Stage k covers [t_k, t_k + dt_] with t_k = node clock + k * dt_ (seconds), dt_ = 0.02 s.
//    Stages k < N have dynamics and input bounds, stage N only costs.
//  - The returned policy is u = a * x + b (a: nj x 2nj, b: nj).

#include <memory>
#include <vector>

#include <rclcpp/rclcpp.hpp>

#include "common/ControlData.h"
#include "common/ModeSchedule.h"
#include "common/TrajectoriesBuffer.h"
#include "control/ReportThrottle.h"
#include "core/Types.h"
#include "core/misc/Buffer.h"
#include "core/trajectory/CubicSplineTrajectory.h"
#include "description/ModelInfo.h"
#include "ocp_qp/OcpQp.h"
#include "ocp_qp/OcpQpIpmSolver.h"
#include "ocp_qp/OcpQpIpmSolverSettings.h"
#include "ocp_qp/OcpQpIpmWorkspace.h"
#include "ocp_qp/OcpQpSolution.h"
#include "pinocchio/PinocchioInterface.h"

namespace velmora {

/// Receding-horizon joint tracking: plans the actuated-joint torques that make the joints follow
/// the reference joint trajectory of a TrajectoriesBuffer, with the joint dynamics linearised
/// along the reference motion and the torques bounded by the model's effort limits, and hands
/// out the resulting affine joint-torque feedback law for the present instant.
///
/// Driven by one thread: update_state(), optimize() and the stage builders touch the two model
/// copies and the problem records without locks; only the reference and schedule setters go
/// through guarded buffers and may be called from another thread.
class SwingOptimization {
 public:
  /// Most stages of one horizon: a longer joint reference is cut to this many stages.
  static constexpr size_t kMaxHorizonStages = 200;

  /// Keeps the node (for its clock only) and deep copies of the description and the model.
  /// @pre joints_name and joints_nominal_pos have the same length nj, with 0 < nj and
  ///      7 + nj <= model Nq(); otherwise throws std::invalid_argument naming both sizes.
  SwingOptimization(std::shared_ptr<rclcpp::Node> nodeHandle, const ModelInfo& modelInfo,
                    const PinocchioInterface& pinocchioInterface);

  /// As above with custom interior-point settings instead of the standard ones (see
  /// standardSolverSettings()); warm_start is still decided per solve.
  SwingOptimization(std::shared_ptr<rclcpp::Node> nodeHandle, const ModelInfo& modelInfo,
                    const PinocchioInterface& pinocchioInterface,
                    const ocp_qp::OcpQpIpmSolverSettings& settings);

  ~SwingOptimization();

  SwingOptimization(const SwingOptimization&) = delete;
  SwingOptimization& operator=(const SwingOptimization&) = delete;

  /// Sets the measured robot state: full generalised position (Nq, base quaternion x, y, z, w)
  /// and velocity (Nv). Throws std::invalid_argument for an empty pointer; sizes and finiteness
  /// are checked by the robot model.
  void update_state(std::shared_ptr<vector_t> qpos_ptr, std::shared_ptr<vector_t> qvel_ptr);

  /// Stores the reference set (an empty pointer as well). Thread-safe.
  void update_trajectory_reference(
      std::shared_ptr<const TrajectoriesBuffer> referenceTrajectoriesPtr);

  /// Stores the gait schedule; the tracking problem does not read it. Thread-safe.
  void update_mode_schedule(std::shared_ptr<ModeSchedule> mode_schedule);

  /// Runs one receding-horizon step and returns the current policy (u = a x + b, see the file
  /// header). Horizon N = whole number of 0.02 s stages in the joint trajectory's duration, at
  /// most kMaxHorizonStages (a longer reference is cut, with a line on standard output naming
  /// both stage counts, at most once per second).
  /// Returns the previous policy (empty before the first solve) without solving when the
  /// reference set, its joint trajectory, its base position or its base roll-pitch-yaw
  /// trajectory is missing, or when N = 0. On a solver failure returns the fallback law
  /// a = [-10 I, -0.5 I], b = measured joint nonlinear effects, and prints
  /// "SwingOptimization: <status>" on standard output.
  /// Throws std::invalid_argument, naming the trajectory and both dimensions, when a
  /// trajectory has the wrong dimension (3 for the base trajectories, nj for the joints).
  std::shared_ptr<CtrlData> optimize();

  /// Stage length [s].
  scalar_t dt() const { return dt_; }
  /// The problem records of the last solve (stages 0..N), for inspection.
  const std::vector<ocp_qp::OcpQp>& stages() const { return ocp_; }
  /// The solution of the last solve (stages 0..N), for inspection.
  const std::vector<ocp_qp::OcpQpSolution>& solution() const { return solution_; }
  /// The interior-point settings of the last solve.
  const ocp_qp::OcpQpIpmSolverSettings& solverSettings() const { return solver_settings; }

  /// The standard interior-point settings of this problem.
  static ocp_qp::OcpQpIpmSolverSettings standardSolverSettings();

 private:
  /// The trajectories one solve reads, fetched once per call so that all stages see one set.
  struct StageReferences {
    std::shared_ptr<CubicSplineTrajectory> base_pos;
    std::shared_ptr<CubicSplineTrajectory> base_rpy;
    std::shared_ptr<CubicSplineTrajectory> joint_pos;
  };

  /// A, B, b of stage k < N, linearised at the reference state of stage k's time.
  void get_dynamics(size_t k);
  /// Input bounds (effort limits) of stage k < N; writes nothing for k >= N.
  void get_inequality_constraints(size_t k, size_t N);
  /// Q, S, q, r, R of stage k <= N (terminal Q scaled by 100).
  void get_costs(size_t k, size_t N);
  /// Empties the dynamics and input-bound fields of the last stage.
  void clear_terminal_stage(size_t N);
  /// Throws std::invalid_argument unless the references have the dimensions of the problem.
  void check_references(const StageReferences& refs) const;
  /// The policy used when the solver fails.
  std::shared_ptr<CtrlData> fallback_policy() const;

  size_t num_joints() const { return modelInfo_.joints_name.size(); }
  scalar_t now_s() const;

  std::shared_ptr<rclcpp::Node> nodeHandle_;
  const ModelInfo modelInfo_;
  PinocchioInterface pinocchioInterface_;
  PinocchioInterface pinocchioInterface_map_;
  Buffer<std::shared_ptr<ModeSchedule>> mode_schedule_buffer;
  Buffer<std::shared_ptr<const TrajectoriesBuffer>> referenceTrajectoriesPtrBuffer_;
  std::shared_ptr<CtrlData> feedbackPolicies_ptr;
  const scalar_t dt_;
  matrix_t weight_;
  std::vector<ocp_qp::OcpQp> ocp_;
  std::vector<ocp_qp::OcpQpSolution> solution_;
  ocp_qp::OcpQpIpmSolverSettings solver_settings;

  StageReferences stage_refs_;
  ocp_qp::OcpQpIpmWorkspace solver_workspace_;  ///< reused by the solver built in each call
  ReportThrottle report_throttle_;              ///< rate limit of the horizon-cap warning
};

}  // namespace velmora
