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
#include "planner/GroundPlaneEstimator.h"
#include "planner/LegInverseKinematics.h"

namespace velmora {
namespace planner {

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
  bool stand = true;             ///< all feet in stance at all times (the other fields unused)
  scalar_t swing_apex_m = 0.0;   ///< swing height [m]; 0: PlannerSettings::swing_apex_m
  scalar_t support_shift = 0.0;  ///< share of the way the body moves to the support triangle
                                 ///< centroid of the other three feet around each swing [0, 1]

  /// Standing still (mode 15 throughout).
  static Gait standing();
  /// Trot with a 0.5 s cycle: FL and RR (mode 9) then FR and RL (mode 6) in stance.
  static Gait trot();
  /// Stance time of one foot per cycle [s].
  scalar_t stanceTime() const { return period_s * (1.0 - swing_fraction); }
  bool operator==(const Gait& other) const;
  bool operator!=(const Gait& other) const { return !(*this == other); }
};

/// Tunable constants of the planner.
struct PlannerSettings {
  /// Length of schedule and trajectories [s]; the contact force optimisation's horizon follows
  /// it. One trot cycle: a one-second horizon made every gait's figures no better and the
  /// optimisation 2.7 times as expensive.
  scalar_t horizon_s = 0.5;
  scalar_t knot_dt_s = 0.02;  ///< spacing of trajectory knots
  /// Swing height above the ground [m]: a low arc lands on time after a push moves the foothold.
  scalar_t swing_apex_m = 0.08;
  /// Share of the swing after which the foot is over its foothold and only descends (0, 1].
  scalar_t swing_travel_fraction = 0.9;
  scalar_t raibert_gain = 0.1;  ///< k of the velocity feedback term in the foothold [s]
  /// Gain of the centripetal term gain * h / g * (v x yaw rate) of the foothold (h: trunk height).
  scalar_t centripetal_gain = 0.5;
  /// A foothold stays within this horizontal distance of the hip's footprint at touchdown [m].
  /// Well inside the leg's reach: after a push, a foot sent further lands late (the swing lags
  /// its reference) and the steep calf strikes the floor before the foot.
  scalar_t max_foothold_shift_m = 0.10;
  /// ... and within this share (0, 1] of the leg's reach (LegInverseKinematics::reach) of the hip
  /// joint on the planned base at touchdown.
  scalar_t foothold_reach_fraction = 0.9;
  /// A measured base velocity that differs from the command by more than this [m/s] (a push)
  /// carries into the planned base: the excess over this decays as exp(-t / velocity_carry_time_s)
  /// instead of being cancelled at once, which asks the stance feet for more than friction and
  /// the knees give (the trunk sinks), and the footholds move with the planned base.
  scalar_t velocity_carry_deadband_mps = 0.25;
  scalar_t velocity_carry_time_s = 0.5;  ///< [s], >= 0; 0: no carry
  /// ... only while the trunk's roll and pitch are within this [rad]: a tilted trunk moves by
  /// tipping over its feet (a stumble, a fault), and a plan that ran with it would step it over.
  scalar_t velocity_carry_max_tilt_rad = 0.05;
  /// The gait's period shrinks so that a stance foot travels relative to its hip at most this
  /// far forward (sideways) at the commanded speed, an ellipse in between [m] ...
  scalar_t max_stance_stride_m = 0.34;
  scalar_t max_stance_stride_y_m = 0.16;
  scalar_t max_stance_turn_rad = 0.25;  ///< ... and the trunk turns at most this far [rad] ...
  scalar_t min_period_s = 0.3;          ///< ... but never below this period [s]
  scalar_t stand_before_gait_s = 0.5;   ///< standing time before the first lift-off
  /// The command ramps up after the gait starts over this time [s], or longer for a large command
  /// (at most max_ramp_accel [m/s^2] and max_ramp_yaw_accel [rad/s^2]).
  scalar_t command_ramp_s = 1.0;
  scalar_t max_ramp_accel = 1.0;
  scalar_t max_ramp_yaw_accel = 2.0;
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
  /// Share [0, 1] of the support sway the planned body follows (see GaitPlanner::bodyShiftAt);
  /// 0 keeps the body on its path.
  scalar_t support_sway_gain = 1.0;
  GroundPlaneSettings ground;  ///< the ground plane estimator's constants
  /// Also plan actuated joint positions (leg inverse kinematics at every knot), which a swing
  /// optimiser reads. The motion controller does not; without them a cycle costs about half.
  bool plan_joint_positions = false;
};

/// What one planning cycle produces.
struct PlannerOutput {
  /// Phase 0 = the planning time; spans PlannerSettings::horizon_s.
  std::shared_ptr<ModeSchedule> mode_schedule;
  /// Base position (also as base_pos_ref), roll-pitch-yaw (yaw on the branch of the measured
  /// yaw), foot positions keyed by foot name and, with PlannerSettings::plan_joint_positions,
  /// actuated joint positions (leg inverse kinematics of the foot references), all on knots
  /// knot_dt_s apart from the planning time.
  std::shared_ptr<TrajectoriesBuffer> trajectories;
};

/// Stateful gait planner (the ROS 2 host's role). One instance per robot; call `plan` at 50 Hz or
/// faster with increasing times. Not thread-safe.
class GaitPlanner {
 public:
  /// @throws std::invalid_argument when the description does not list four feet.
  GaitPlanner(const ModelInfo& info, const PinocchioInterface& model, PlannerSettings settings);

  /// Sets the gait and command; a new gait takes over at the next `plan`'s time as follows.
  /// The gait runs at its own period or at the shorter stridePeriod of the command; a change of
  /// period alone keeps the gait's phase. From standing the gait starts after
  /// settings.stand_before_gait_s. To standing, no swing starts any more (swings under way end as
  /// planned). From one gait to another, the switch comes at the earliest contact event of the old
  /// gait within two of its cycles at which some phase of the new gait fits: swings under way end
  /// as planned, a foot lifts again only after half the new gait's stance time on the ground (it
  /// skips new swings until then), and no more feet are in the air together than either gait has.
  void setCommand(const Gait& gait, const VelocityCommand& command);

  /// Period [s] at which `gait` runs for `command`: the gait's own, shortened so that no stance
  /// foot (hip footprint moving with the commanded base velocity and yaw rate) travels beyond
  /// the stride ellipse of the settings and the trunk turns at most max_stance_turn_rad during
  /// a stance, and no shorter than settings.min_period_s.
  scalar_t stridePeriod(const Gait& gait, const VelocityCommand& command) const;

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
  /// Body offset [m, world, z = 0] added to the planned base at `time_s`: the move over the
  /// support triangle of gaits with a support shift; for the other gaits the support sway
  /// (supportSwayAt), of which settings.support_sway_gain is followed.
  vector3_t bodyShiftAt(scalar_t time_s) const;
  /// Lateral centre of support [m, yaw-rotated base axes, x = z = 0] at `time_s`: the lateral
  /// offset of the centroid of the standing-pose feet the plan has on the ground from that of
  /// all four; zero when no foot is on the ground (flight) and for gaits with a support shift.
  vector3_t supportCentreAt(scalar_t time_s) const;
  /// Support sway [m, world, z = 0] at `time_s`, rotated by the planned yaw: the bounded solution
  /// of the linear inverted pendulum s'' = w^2 (s - c(t)), s(t) = w / 2 * integral
  /// exp(-w |t - u|) c(u) du, with w^2 = g / h (h: standing base height above the feet) and c
  /// from supportCentreAt. A body on this path keeps its zero-moment point on the centre of
  /// support: a lateral pair (pace) carries the trunk without a roll moment about the line
  /// through its feet. For a periodic centre, harmonic k of period T is followed with gain
  /// w^2 / (w^2 + (2 pi k / T)^2). Valid from the last plan's time to the end of its tables.
  vector3_t supportSwayAt(scalar_t time_s) const;
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
  /// One swing of a foot [s], and the gait it belongs to.
  struct Swing {
    scalar_t lift_s;
    scalar_t touchdown_s;
    const Gait* gait;  ///< nullptr when there is no further swing (the times are infinite)
  };
  /// A gait in force from `from_s` (until the next segment's from_s), its cycles starting at
  /// `origin_s`; foot i lifts no earlier than earliest_lift_s[i]. A swing that starts before
  /// the next segment ends as planned.
  struct Segment {
    Gait gait;
    scalar_t origin_s;
    scalar_t from_s;
    std::array<scalar_t, 4> earliest_lift_s;
  };
  /// The first swing of `foot` that ends after `time_s`.
  Swing swingAfter(size_t foot, scalar_t time_s) const;
  /// Touchdown of the last swing of `foot` lifting before `time_s` (-infinity when none).
  scalar_t lastTouchdownBefore(size_t foot, scalar_t time_s) const;
  /// Most feet in the air together over [from_s, to_s].
  size_t mostFeetInAir(scalar_t from_s, scalar_t to_s) const;
  /// Appends the segment of `gait` at plan time `time_s` (see setCommand).
  void startGait(const Gait& gait, scalar_t time_s);
  /// The gait in force at `time_s`.
  const Gait& gaitAt(scalar_t time_s) const;
  vector3_t raibertFoothold(size_t foot, scalar_t touchdown_s, scalar_t stance_s) const;
  /// Planned roll, pitch (a share of the ground's slope) and yaw on the published branch.
  vector3_t rpyRefAt(scalar_t time_s, scalar_t yaw_branch) const;
  std::shared_ptr<ModeSchedule> buildSchedule(scalar_t time_s) const;
  /// The measured velocity's error against the command at `time_s` beyond the carry deadband
  /// (a push), which the planned base carries on and lets decay [m/s, world, horizontal]; zero
  /// inside the deadband, without a carry time or with the trunk (`base_rotation`) tilted.
  vector3_t velocityToCarry(scalar_t time_s, const matrix3_t& base_rotation) const;
  /// Lateral centre of support (see supportCentreAt) of `gait` with the given feet on the ground.
  vector3_t supportCentreOf(const Gait& gait, const std::array<bool, 4>& stance) const;
  /// Fills the support sway table: `table_size` points base_table_dt_ apart from `time_s`.
  void planSupportSway(scalar_t time_s, size_t table_size);
  /// Adds the joint position trajectory: leg inverse kinematics of the feet at every knot.
  void planJointPositions(const std::vector<scalar_t>& times, const std::vector<vector_t>& base,
                          const std::vector<vector_t>& rpy,
                          const std::array<std::vector<vector_t>, 4>& feet, const vector_t& qpos,
                          TrajectoriesBuffer& trajectories);

  ModelInfo info_;
  PinocchioInterface model_;
  PlannerSettings settings_;
  LegInverseKinematics leg_ik_;
  std::vector<Segment> segments_;  ///< in time order, the first standing
  Gait requested_gait_ = Gait::standing();
  bool gait_change_pending_ = false;
  VelocityCommand command_;
  scalar_t walk_start_s_ = 0.0;  ///< the command ramps from here (the last start from standing)
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
  vector3_t base_vel_world_ = vector3_t::Zero();  ///< measured, less the support shift's rate
  scalar_t yaw_meas_ = 0.0;
  scalar_t yaw_unwrapped_ = 0.0;
  vector3_t commanded_pos_ = vector3_t::Zero();  ///< command integrated in world (z unused) [m]
  scalar_t commanded_yaw_ = 0.0;                 ///< yaw rate command integrated [rad]
  vector3_t position_gap_ = vector3_t::Zero();   ///< commanded minus measured, horizontal [m]
  scalar_t yaw_gap_ = 0.0;                       ///< commanded minus measured yaw [rad]
  scalar_t base_table_dt_ = 0.005;
  std::vector<vector3_t> base_table_;  ///< planned base positions from plan_time_s_ on
  std::vector<scalar_t> yaw_table_;    ///< planned yaw (unwrapped) on the same grid
  std::vector<vector3_t> sway_table_;  ///< support sway [m, base axes] on the same grid ...
  scalar_t sway_table_start_s_ = 0.0;  ///< ... from this time
};

}  // namespace planner
}  // namespace velmora
