#pragma once

// The host's planner: turns a velocity command and the measured state into the mode schedule and
// the reference trajectories the controller follows.
//
// Conventions: times are seconds on the node clock; positions in world [m]; the command (vx, vy)
// is in the yaw-rotated base axes [m/s], the yaw rate about world z [rad/s]. Foot order is the
// order of ModelInfo::foot_name; mode numbers as in MotionPhaseDefinition.h.

#include <array>
#include <memory>
#include <vector>

#include "common/ModeSchedule.h"
#include "common/TrajectoriesBuffer.h"
#include "core/Types.h"
#include "description/ModelInfo.h"
#include "pinocchio/PinocchioInterface.h"
#include "sim/GroundPlaneEstimator.h"
#include "sim/LegInverseKinematics.h"

namespace velmora {
namespace sim {

/// Velocity command of the planner.
struct VelocityCommand {
  scalar_t vx = 0.0;        ///< forward [m/s], yaw-rotated base axes
  scalar_t vy = 0.0;        ///< lateral [m/s], yaw-rotated base axes
  scalar_t yaw_rate = 0.0;  ///< [rad/s]
};

/// A periodic gait: foot i swings during [offset_i, offset_i + swing_fraction) of each period.
struct Gait {
  scalar_t period_s = 0.5;
  scalar_t swing_fraction = 0.5;
  std::array<scalar_t, 4> swing_offset{{0.5, 0.0, 0.0, 0.5}};  ///< fractions of the period
  bool stand = true;  ///< all feet in stance at all times (the other fields unused)

  /// Standing still (mode 15 throughout).
  static Gait standing();
  /// Trot with a 0.5 s cycle: FL and RR (mode 9) then FR and RL (mode 6) in stance.
  static Gait trot();
};

/// Tunable constants of the planner.
struct PlannerSettings {
  scalar_t horizon_s = 1.0;            ///< length of schedule and trajectories (>= MPC horizon)
  scalar_t knot_dt_s = 0.02;           ///< spacing of trajectory knots
  scalar_t swing_apex_m = 0.08;        ///< swing height above the ground
  scalar_t raibert_gain = 0.1;         ///< k of the velocity feedback term in the foothold [s]
  scalar_t stand_before_gait_s = 0.5;  ///< standing time before the first lift-off
  scalar_t command_ramp_s = 1.0;  ///< the command ramps up over this time after the gait starts
  /// Rate [1/s] at which the planned base closes the gap to the commanded pose (the command
  /// integrated since the start): the planned path starts at the measured pose and approaches
  /// the commanded one as 1 - exp(-rate t), so velocity errors do not accumulate into drift.
  scalar_t pose_tracking_rate = 1.0;
  scalar_t max_position_gap_m = 0.2;  ///< the commanded position stays this close to the robot
  scalar_t max_yaw_gap_rad = 0.4;     ///< the commanded yaw stays this close to the robot's
  /// Share of the estimated ground's slope the planned body pitch and roll follow (0: level).
  scalar_t ground_attitude_fraction = 0.5;
  /// Swing apex raise per metre of ground roughness (GroundPlaneEstimator::roughness), capped
  /// at max_swing_apex_raise_m.
  scalar_t swing_apex_roughness_gain = 3.0;
  scalar_t max_swing_apex_raise_m = 0.04;
  GroundPlaneSettings ground;  ///< the ground plane estimator's constants
};

/// What one planning cycle produces.
struct PlannerOutput {
  /// Phase 0 = the planning time; spans PlannerSettings::horizon_s.
  std::shared_ptr<ModeSchedule> mode_schedule;
  /// Base position (also as base_pos_ref), roll-pitch-yaw (yaw on the branch of the measured
  /// yaw), foot positions keyed by foot name and actuated joint positions (leg inverse
  /// kinematics of the foot references), all on knots knot_dt_s apart from the planning time.
  std::shared_ptr<TrajectoriesBuffer> trajectories;
};

/// Stateful gait planner (the ROS 2 host's role). One instance per robot; call `plan` at 50 Hz or
/// faster with increasing times. Not thread-safe.
class GaitPlanner {
 public:
  /// @throws std::invalid_argument when the description does not list four feet.
  GaitPlanner(const ModelInfo& info, const PinocchioInterface& model, PlannerSettings settings);

  /// Sets the gait and command; a change from standing to a gait starts it after
  /// settings.stand_before_gait_s, measured from the next `plan`.
  void setCommand(const Gait& gait, const VelocityCommand& command);

  /// One planning cycle at node time `time_s` from the measured controller state
  /// (qpos 7 + nJ with an x, y, z, w quaternion; qvel 6 + nJ in base axes).
  PlannerOutput plan(scalar_t time_s, const vector_t& qpos, const vector_t& qvel);

  /// Contact mode (0..15) the planned gait prescribes at node time `time_s`.
  size_t modeAt(scalar_t time_s) const;
  /// True when foot `foot` is in stance at `time_s`.
  bool stanceAt(size_t foot, scalar_t time_s) const;
  /// The command in effect at `time_s` (ramped after the gait starts).
  VelocityCommand commandAt(scalar_t time_s) const;
  /// Planned base position at `time_s` of the last cycle (between its start and its end + 1 s).
  vector3_t baseRefAt(scalar_t time_s) const;
  /// Foot reference at `time_s` of the last cycle.
  vector3_t footRefAt(size_t foot, scalar_t time_s) const;
  /// Planned yaw (unwrapped) at `time_s` of the last cycle [rad].
  scalar_t yawRefAt(scalar_t time_s) const;
  /// Commanded minus measured horizontal base position at the last cycle [m, world].
  const vector3_t& positionGap() const { return position_gap_; }
  /// Commanded minus measured yaw at the last cycle [rad].
  scalar_t yawGap() const { return yaw_gap_; }
  /// Standing base height [m] the planner holds (above level ground at z = 0; on other ground
  /// the planned base keeps this height above the estimated ground).
  scalar_t baseHeight() const { return base_height_; }
  /// The ground plane the planner estimates from where the feet stood (plane of the foot
  /// centres).
  const GroundPlaneEstimator& ground() const { return ground_; }

 private:
  /// Liftoff time of the first swing of `foot` that ends after `time_s`.
  scalar_t nextSwingStart(size_t foot, scalar_t time_s) const;
  vector3_t raibertFoothold(size_t foot, scalar_t touchdown_s) const;
  /// Planned roll, pitch (a share of the ground's slope) and yaw on the published branch.
  vector3_t rpyRefAt(scalar_t time_s, scalar_t yaw_branch) const;
  std::shared_ptr<ModeSchedule> buildSchedule(scalar_t time_s) const;

  ModelInfo info_;
  PinocchioInterface model_;
  PlannerSettings settings_;
  LegInverseKinematics leg_ik_;
  Gait gait_ = Gait::standing();
  VelocityCommand command_;
  scalar_t gait_start_s_ = 0.0;
  bool gait_start_pending_ = false;
  scalar_t base_height_ = 0.0;
  scalar_t ground_z_ = 0.0;  ///< height of the foot frame when the foot touches the floor
  std::array<vector3_t, 4> nominal_foot_offset_{};  ///< foot in base axes at the standing pose
  std::array<vector3_t, 4> foothold_{};
  std::array<bool, 4> was_stance_{{true, true, true, true}};
  std::array<vector3_t, 4> last_stance_foot_{};  ///< measured foot at the last stance cycle
  GroundPlaneEstimator ground_;
  bool initialised_ = false;
  // Cycle values.
  scalar_t plan_time_s_ = 0.0;
  vector3_t base_pos_meas_ = vector3_t::Zero();
  vector3_t base_vel_world_ = vector3_t::Zero();
  scalar_t yaw_meas_ = 0.0;
  scalar_t yaw_unwrapped_ = 0.0;
  vector3_t commanded_pos_ = vector3_t::Zero();  ///< command integrated in world (z unused) [m]
  scalar_t commanded_yaw_ = 0.0;                 ///< yaw rate command integrated [rad]
  vector3_t position_gap_ = vector3_t::Zero();   ///< commanded minus measured, horizontal [m]
  scalar_t yaw_gap_ = 0.0;                       ///< commanded minus measured yaw [rad]
  scalar_t base_table_dt_ = 0.005;
  std::vector<vector3_t> base_table_;  ///< planned base positions from plan_time_s_ on
  std::vector<scalar_t> yaw_table_;    ///< planned yaw (unwrapped) on the same grid
};

}  // namespace sim
}  // namespace velmora
