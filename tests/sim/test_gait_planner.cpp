// The host's planner: the schedule against the gait's own contact timing, base and yaw
// references against the integrated command (and a carried velocity error) in closed form,
// footholds against the Raibert rule and the leg's reach, the period at speed against the stride
// limits in closed form.

#include <cmath>
#include <limits>
#include <string>
#include <utility>

#include <gmock/gmock.h>

#include "SimTestSupport.h"
#include "common/MotionPhaseDefinition.h"
#include "pinocchio/Orientation.h"
#include "planner/GaitPlanner.h"
#include "planner/LegInverseKinematics.h"

namespace velmora::sim {
namespace {

using GaitPlannerTest = test::BundledRobotTest;

TEST_F(GaitPlannerTest, TrotScheduleMatchesTheGaitTimingOverTheHorizon) {
  planner::GaitPlanner planner(info_, model_, planner::PlannerSettings{});
  planner.setCommand(planner::Gait::trot(), planner::VelocityCommand{0.3, 0.0, 0.0});
  for (double t = 1.0; t < 3.0; t += 0.037) {
    const ModeSchedule schedule = *planner.plan(t, qpos_, qvel_).mode_schedule;
    ASSERT_TRUE(schedule.isValidModeSequence()) << t;
    EXPECT_GE(schedule.duration(), planner::PlannerSettings{}.horizon_s);
    for (double phase = 0.0; phase < 1.0; phase += 0.013) {
      const size_t mode = schedule.getModeFromPhase(phase);
      const double s = t + phase * schedule.duration();
      EXPECT_EQ(mode, planner.modeAt(s)) << "t " << t << " phase " << phase;
      const contact_flag_t stance = quadruped::modeNumber2StanceLeg(mode);
      for (size_t i = 0; i < 4; ++i) EXPECT_EQ(stance[i], planner.stanceAt(i, s));
    }
  }
  // Standing for 0.5 s after the start, then the diagonals alternate every 0.25 s.
  EXPECT_EQ(planner.modeAt(1.2), 15u);
  EXPECT_EQ(planner.modeAt(1.6), 9u);
  EXPECT_EQ(planner.modeAt(1.8), 6u);
}

TEST_F(GaitPlannerTest, BaseAndYawFollowTheCommandIntegratedInClosedForm) {
  planner::PlannerSettings settings;
  settings.pose_tracking_rate = 0.0;     // the plan is the command integrated from the measurement
  settings.velocity_carry_time_s = 0.0;  // (the robot at rest is off the command)
  settings.horizon_s = 1.0;
  planner::GaitPlanner planner(info_, model_, settings);
  const planner::VelocityCommand cmd{0.4, -0.1, 0.8};
  planner.setCommand(planner::Gait::trot(), cmd);
  planner.plan(0.0, qpos_, qvel_);  // the gait starts at 0.5 s, the command is full from 1.5 s
  const planner::PlannerOutput out = planner.plan(2.0, qpos_, qvel_);
  const auto base = out.trajectories->get_base_pos_traj();
  for (double s = 2.0; s <= 2.9; s += 0.1) {
    // Constant body velocity and yaw rate from yaw 0 at s = 2.
    const double yaw = cmd.yaw_rate * (s - 2.0), w = cmd.yaw_rate;
    const double x = (cmd.vx * std::sin(yaw) + cmd.vy * (std::cos(yaw) - 1.0)) / w;
    const double y = (-cmd.vx * (std::cos(yaw) - 1.0) + cmd.vy * std::sin(yaw)) / w;
    EXPECT_NEAR(out.trajectories->get_base_rpy_traj()->evaluate(s)(2), yaw, 1e-6);
    EXPECT_NEAR(base->evaluate(s)(0), qpos_(0) + x, 2e-4) << s;
    EXPECT_NEAR(base->evaluate(s)(1), qpos_(1) + y, 2e-4) << s;
    EXPECT_NEAR(base->evaluate(s)(2), info_.base_init_pos(2), 1e-9);
  }
}

TEST_F(GaitPlannerTest, SwingArcsRiseToTheApexAndLandOnRaibertFootholds) {
  planner::PlannerSettings settings;
  planner::GaitPlanner planner(info_, model_, settings);
  planner.setCommand(planner::Gait::trot(), planner::VelocityCommand{0.5, 0.0, 0.0});
  planner.plan(0.0, qpos_, qvel_);
  planner.plan(3.0, qpos_, qvel_);  // the robot stays at the origin
  // FL swings in [3.25, 3.5): apex half-way, then the foothold leads the hip by half the stance
  // time times the speed, corrected by the velocity error against the command plus the rate at
  // which the plan closes the gap to the commanded position.
  const vector3_t lift_off = planner.footRefAt(0, 3.25), landing = planner.footRefAt(0, 3.5);
  EXPECT_NEAR(planner.footRefAt(0, 3.375)(2), lift_off(2) + settings.swing_apex_m, 1e-9);
  const vector3_t hip = planner.baseRefAt(3.5) + vector3_t(0.19, 0.13, 0.0);
  const double gap_x = planner.positionGap()(0);
  EXPECT_NEAR(landing(0),
              hip(0) + 0.5 * 0.25 * 0.5 + 0.1 * (0.0 - 0.5 - settings.pose_tracking_rate * gap_x),
              1e-6);
  EXPECT_NEAR(landing(1), hip(1), 1e-6);
  EXPECT_NEAR(landing(2), lift_off(2), 1e-9);
}

// The planned joints put the feet on their references on the planned base pose, by the robot
// model's own forward kinematics; without plan_joint_positions there is no joint trajectory.
TEST_F(GaitPlannerTest, PlannedJointPositionsPlaceTheFeetOnTheirReferences) {
  planner::PlannerSettings settings;
  settings.plan_joint_positions = true;
  planner::GaitPlanner planner(info_, model_, settings);
  planner.setCommand(planner::Gait::trot(), planner::VelocityCommand{0.5, 0.1, 0.4});
  planner.plan(0.0, qpos_, qvel_);
  const planner::PlannerOutput out = planner.plan(2.0, qpos_, qvel_);
  const auto joints = out.trajectories->get_joint_pos_traj();
  ASSERT_NE(joints, nullptr);
  const auto nJ = static_cast<Eigen::Index>(info_.joints_name.size());
  for (double s = 2.0; s <= 2.0 + settings.horizon_s; s += settings.knot_dt_s) {
    const Eigen::Quaterniond quat =
        toQuaternion(vector3_t(out.trajectories->get_base_rpy_traj()->evaluate(s)));
    vector_t q(7 + nJ);
    q << out.trajectories->get_base_pos_traj()->evaluate(s), quat.x(), quat.y(), quat.z(), quat.w(),
        joints->evaluate(s);
    model_.updateRobotState(q, vector_t::Zero(6 + nJ));
    for (size_t i = 0; i < 4; ++i) {
      const vector_t foot_ref =
          out.trajectories->get_foot_pos_traj().at(info_.foot_name[i])->evaluate(s);
      EXPECT_LT((model_.getFramePose(info_.foot_name[i]).translation() - foot_ref).norm(), 1e-4)
          << "foot " << i << " at " << s;
    }
  }
  settings.plan_joint_positions = false;
  planner::GaitPlanner without(info_, model_, settings);
  EXPECT_EQ(without.plan(0.0, qpos_, qvel_).trajectories->get_joint_pos_traj(), nullptr);
}

// Hips of the bundled robot in trunk axes [m]: (+-0.19, +-0.13).
TEST_F(GaitPlannerTest, PeriodShrinksToTheStrideLimitsAndKeepsThePhase) {
  const planner::PlannerSettings s;
  const planner::GaitPlanner planner(info_, model_, s);
  const double stance = 0.5;  // stance share of the trot
  const struct {
    planner::VelocityCommand cmd;
    double period;
  } cases[] = {
      {{0.5, 0.0, 0.0}, 0.5},  // within the limits: the gait's own period
      {{2.0, 0.0, 0.0}, s.max_stance_stride_m / (2.0 * stance)},
      {{0.0, -1.0, 0.0}, s.max_stance_stride_y_m / (1.0 * stance)},
      {{1.5, 0.5, 0.0},
       1.0 / (stance * std::hypot(1.5 / s.max_stance_stride_m, 0.5 / s.max_stance_stride_y_m))},
      {{0.0, 0.0, 1.5}, s.max_stance_turn_rad / (1.5 * stance)},
      {{0.0, 0.0, -3.0}, s.min_period_s},  // the turn limit would ask for less than the minimum
      {{0.0, 0.0, 0.4}, 0.5},              // the hips move at 0.09 m/s: well inside
  };
  for (const auto& c : cases) {
    EXPECT_NEAR(planner.stridePeriod(planner::Gait::trot(), c.cmd), std::min(0.5, c.period), 1e-9)
        << c.cmd.vx << " " << c.cmd.vy << " " << c.cmd.yaw_rate;
  }

  // A new period while walking keeps every foot in swing or stance as it was at the last cycle;
  // the swings under way land as planned, never with all four feet in the air, and the schedule
  // then alternates the diagonals every half period.
  for (double t = 2.0; t < 2.5; t += 0.043) {
    planner::GaitPlanner walker(info_, model_, s);
    walker.setCommand(planner::Gait::trot(), planner::VelocityCommand{0.5, 0.0, 0.0});
    walker.plan(0.0, qpos_, qvel_);
    walker.plan(t, qpos_, qvel_);
    const size_t mode_before = walker.modeAt(t);
    walker.setCommand(planner::Gait::trot(), planner::VelocityCommand{2.0, 0.0, 0.0});
    EXPECT_EQ(walker.modeAt(t), mode_before) << t;
    const double half = 0.5 * walker.stridePeriod(planner::Gait::trot(), {2.0, 0.0, 0.0});
    const ModeSchedule schedule = *walker.plan(t + 0.01, qpos_, qvel_).mode_schedule;
    const auto& phases = schedule.eventPhases();
    for (size_t k = 4; k + 1 < phases.size(); ++k) {
      EXPECT_NEAR((phases[k] - phases[k - 1]) * schedule.duration(), half, 1e-9) << t;
    }
    for (double u = t; u < t + 1.0; u += 0.001) EXPECT_NE(walker.modeAt(u), 0u) << t << " " << u;
  }
}

// After a push (4 m/s in the trunk's plane) the foothold is held by whichever bound binds: the
// shift from the hip's footprint, or (shift limit lifted) the share of the leg's reach around the
// hip joint on the planned base.
TEST_F(GaitPlannerTest, FootholdsStayWithinReachOfTheHip) {
  const planner::LegInverseKinematics ik(info_, model_);
  for (const bool reach_binds : {false, true}) {
    planner::PlannerSettings s;
    if (reach_binds) {
      s.max_foothold_shift_m = 1.0;
      s.foothold_reach_fraction = 0.8;
    }
    for (const double angle : {0.0, 1.0, 2.5, 4.0}) {
      planner::GaitPlanner planner(info_, model_, s);
      planner.setCommand(planner::Gait::trot(), planner::VelocityCommand{0.5, 0.0, 0.5});
      planner.plan(0.0, qpos_, qvel_);
      vector_t qvel = qvel_;
      qvel.head<2>() << 4.0 * std::cos(angle), 4.0 * std::sin(angle);
      planner.plan(3.0, qpos_, qvel);
      const double yaw = planner.yawRefAt(3.5);
      const vector3_t base = planner.baseRefAt(3.5);
      const vector3_t foothold = planner.footRefAt(0, 3.5);  // FL lands at 3.5
      const vector3_t hip = base + vector3_t(0.19 * std::cos(yaw) - 0.13 * std::sin(yaw),
                                             0.19 * std::sin(yaw) + 0.13 * std::cos(yaw), 0.0);
      const vector3_t shift = foothold - hip;
      const double to_hip_joint = (foothold - ik.hipPosition(0, base, {0.0, 0.0, yaw})).norm();
      if (reach_binds) {
        EXPECT_NEAR(to_hip_joint, s.foothold_reach_fraction * ik.reach(0), 1e-9) << angle;
      } else {
        EXPECT_NEAR(shift.head<2>().norm(), s.max_foothold_shift_m, 1e-9) << angle;
        EXPECT_LT(to_hip_joint, s.foothold_reach_fraction * ik.reach(0)) << angle;
      }
      EXPECT_GT(shift.head<2>().dot(qvel.head<2>()), 0.0) << angle;  // towards the push
    }
  }
}

// A measured velocity off the command by more than the deadband carries into the planned base
// and decays there: base(t) = p0 + (|dv| - deadband) / |dv| * dv * T (1 - exp(-t / T)), dv in
// world axes (the trunk yawed); within the deadband, or with the trunk tilted beyond the limit,
// the plan ignores it.
TEST_F(GaitPlannerTest, PlannedBaseCarriesAVelocityErrorBeyondTheDeadband) {
  planner::PlannerSettings s;
  s.pose_tracking_rate = 0.0;  // no pull towards the commanded pose
  const double yaw = 0.7;
  for (const auto& [speed, roll] : {std::pair{0.15, 0.0}, {0.9, 0.0}, {0.9, 0.1}}) {
    vector_t qpos = qpos_;
    const Eigen::Quaterniond q = toQuaternion(vector3_t(roll, 0.0, yaw));
    qpos.segment<4>(3) << q.x(), q.y(), q.z(), q.w();
    planner::GaitPlanner planner(info_, model_, s);
    planner.setCommand(planner::Gait::trot(), planner::VelocityCommand{});
    planner.plan(0.0, qpos, qvel_);
    vector_t qvel = qvel_;
    qvel.head<3>() << 0.6 * speed, -0.8 * speed, 0.0;  // base axes
    planner.plan(2.0, qpos, qvel);
    const vector3_t world_velocity = q.toRotationMatrix() * qvel.head<3>();
    const double carried = roll > s.velocity_carry_max_tilt_rad
                               ? 0.0
                               : std::max(0.0, speed - s.velocity_carry_deadband_mps) / speed;
    for (double t = 0.0; t < 1.0; t += 0.1) {
      const vector3_t expected =
          qpos.head<3>() + carried * s.velocity_carry_time_s *
                               (1.0 - std::exp(-t / s.velocity_carry_time_s)) * world_velocity;
      const vector3_t planned = planner.baseRefAt(2.0 + t);
      EXPECT_NEAR((planned - expected).head<2>().norm(), 0.0, 1e-9)
          << speed << " " << roll << " " << t;
    }
  }
}

// The support sway against the inverted pendulum it solves, y'' = g / h (y - c), checked by
// second differences, with c the lateral centre of the stance feet from the hips' +-0.13 m.
TEST_F(GaitPlannerTest, PaceSwaysOverTheStancePairAsAnInvertedPendulumAndTrotDoesNot) {
  planner::Gait pace = planner::Gait::trot();
  pace.period_s = 0.6;
  pace.swing_fraction = 0.25;
  pace.swing_offset = {0.5, 0.0, 0.5, 0.0};  // right pair, then left pair
  for (const planner::Gait& gait : {pace, planner::Gait::trot()}) {
    planner::GaitPlanner planner(info_, model_, planner::PlannerSettings{});
    planner.setCommand(gait, planner::VelocityCommand{});
    planner.plan(0.0, qpos_, qvel_);
    planner.plan(3.0, qpos_, qvel_);
    const double w2 = 9.81 / (planner.baseHeight() - planner.footRefAt(0, 3.0)(2));
    const double h = 0.005;
    double largest = 0.0;
    for (int k = 1; k < 180; ++k) {
      const double s = 3.0 + k * h;
      const auto stance = [&](size_t i) { return planner.stanceAt(i, s); };
      // Left pair alone: +0.13, right pair alone: -0.13, all four: 0.
      const double centre = 0.13 * ((stance(0) && stance(2)) - (stance(1) && stance(3)));
      const double y = planner.supportSwayAt(s)(1);
      largest = std::max(largest, std::abs(y));
      if (gait == planner::Gait::trot()) {
        EXPECT_NEAR(planner.supportSwayAt(s).norm(), 0.0, 1e-12) << s;
        continue;
      }
      EXPECT_NEAR(planner.supportCentreAt(s)(1), centre, 1e-9) << s;
      if (centre != 0.0) {
        EXPECT_GT(y * centre, 0.0) << "sways away from the stance pair at " << s;
      }
      if (planner.modeAt(s - 2 * h) != planner.modeAt(s + 2 * h)) continue;  // c jumps
      const double y_dd =
          (planner.supportSwayAt(s + h)(1) - 2.0 * y + planner.supportSwayAt(s - h)(1)) / (h * h);
      EXPECT_NEAR(y_dd, w2 * (y - centre), 0.02 * w2 * 0.13) << s;
    }
    if (gait != planner::Gait::trot()) {
      EXPECT_GT(largest, 0.01);
    }
  }
}

TEST_F(GaitPlannerTest, RejectsSettingsOutsideTheirRangeNamingThem) {
  const auto error = [this](auto change) -> std::string {
    planner::PlannerSettings s;
    change(s);
    try {
      planner::GaitPlanner planner(info_, model_, s);
    } catch (const std::invalid_argument& e) {
      return e.what();
    }
    return "accepted";
  };
  const double nan = std::nan("");
  const double inf = std::numeric_limits<double>::infinity();
  using testing::HasSubstr;
  EXPECT_THAT(error([](auto& s) { s.swing_travel_fraction = 0.0; }),
              HasSubstr("swing_travel_fraction must be in (0, 1], got 0"));
  EXPECT_THAT(error([](auto& s) { s.swing_travel_fraction = 1.5; }),
              HasSubstr("swing_travel_fraction must be in (0, 1], got 1.5"));
  EXPECT_THAT(error([](auto& s) { s.max_stance_stride_m = -0.1; }),
              HasSubstr("max_stance_stride_m must be positive, got -0.1"));
  EXPECT_THAT(error([=](auto& s) { s.min_period_s = nan; }), HasSubstr("min_period_s"));
  EXPECT_THAT(error([](auto& s) { s.foothold_reach_fraction = 1.2; }),
              HasSubstr("foothold_reach_fraction"));
  EXPECT_THAT(error([](auto& s) { s.velocity_carry_time_s = -0.1; }),
              HasSubstr("velocity_carry_time_s must be at least 0, got -0.1"));
  EXPECT_THAT(error([=](auto& s) { s.velocity_carry_deadband_mps = nan; }),
              HasSubstr("velocity_carry_deadband_mps"));
  EXPECT_THAT(error([](auto& s) { s.support_sway_gain = 1.5; }),
              HasSubstr("support_sway_gain must be in [0, 1], got 1.5"));
  // Those a plan divides by or sizes its tables with: no crash, no runaway allocation.
  EXPECT_THAT(error([](auto& s) { s.horizon_s = 0.0; }), HasSubstr("horizon_s must be positive"));
  EXPECT_THAT(error([=](auto& s) { s.horizon_s = inf; }), HasSubstr("horizon_s"));
  EXPECT_THAT(error([](auto& s) { s.knot_dt_s = 0.0; }), HasSubstr("knot_dt_s"));
  EXPECT_THAT(error([](auto& s) { s.knot_dt_s = 1.0; }),
              HasSubstr("knot_dt_s must be in (0, 0.5], got 1"));
  EXPECT_THAT(error([](auto& s) { s.knot_dt_s = 1e-9; }), HasSubstr("(knots)"));
  EXPECT_THAT(error([](auto& s) { s.raibert_gain = -1.0; }), HasSubstr("raibert_gain"));
  EXPECT_THAT(error([](auto& s) { s.ground_attitude_fraction = 2.0; }),
              HasSubstr("ground_attitude_fraction"));
  EXPECT_THAT(error([=](auto& s) { s.max_ramp_accel = nan; }), HasSubstr("max_ramp_accel"));
  // The ends of the ranges are accepted, and so are the defaults.
  EXPECT_EQ(error([](auto& s) { s.swing_travel_fraction = 1.0; }), "accepted");
  EXPECT_EQ(error([](auto& s) {
              s.knot_dt_s = s.horizon_s;
              s.velocity_carry_time_s = 0.0;
              s.support_sway_gain = 0.0;
            }),
            "accepted");
  EXPECT_EQ(error([](auto&) {}), "accepted");
}

}  // namespace
}  // namespace velmora::sim
