// The host's planner: schedule invariants against the gait's own contact timing, trajectory
// coverage of the force horizon, base and yaw references against the integrated command, and
// footholds and swing arcs against their geometric definitions.

#include <cmath>

#include <gtest/gtest.h>

#include "BundledRobot.h"
#include "common/MotionPhaseDefinition.h"
#include "description/ModelInfoLoader.h"
#include "sim/GaitPlanner.h"

namespace velmora {
namespace sim {
namespace {

const std::string kUrdf = test::kestrelFile("robot.urdf");
const std::string kDescription = test::kestrelFile("description.info");

class GaitPlannerTest : public ::testing::Test {
 protected:
  GaitPlannerTest() : model_(kUrdf), info_(loadModelInfo(kDescription, model_)) {
    qpos_.resize(19);
    qpos_ << info_.base_init_pos, info_.base_init_quat, info_.joints_init_pos;
    qvel_ = vector_t::Zero(18);
  }
  PinocchioInterface model_;
  ModelInfo info_;
  vector_t qpos_, qvel_;
};

TEST_F(GaitPlannerTest, StandingScheduleAndReferencesHoldThePose) {
  GaitPlanner planner(info_, model_, PlannerSettings{});
  const PlannerOutput out = planner.plan(3.0, qpos_, qvel_);
  ASSERT_TRUE(out.mode_schedule->isValidModeSequence());
  EXPECT_EQ(out.mode_schedule->modeSequence(), std::vector<size_t>{15});
  const auto base = out.trajectories->get_base_pos_traj();
  ASSERT_TRUE(base);
  // The force horizon is the base trajectory's duration over 0.02 s: at least 50 stages.
  EXPECT_GE(static_cast<int>(base->duration() / 0.02), 50);
  for (double t = 3.0; t < 4.0; t += 0.05) {
    EXPECT_TRUE(base->evaluate(t).isApprox(info_.base_init_pos, 1e-9));
    for (const auto& [name, traj] : out.trajectories->get_foot_pos_traj()) {
      model_.updateRobotState(qpos_, qvel_);
      const vector3_t foot = model_.getFramePose(name).translation();
      EXPECT_LT((traj->evaluate(t) - foot).norm(), 1e-9) << name;
    }
  }
}

TEST_F(GaitPlannerTest, TrotScheduleMatchesTheGaitTimingOverTheHorizon) {
  GaitPlanner planner(info_, model_, PlannerSettings{});
  planner.setCommand(Gait::trot(), VelocityCommand{0.3, 0.0, 0.0});
  for (double t = 1.0; t < 3.0; t += 0.037) {
    const PlannerOutput out = planner.plan(t, qpos_, qvel_);
    const ModeSchedule& schedule = *out.mode_schedule;
    ASSERT_TRUE(schedule.isValidModeSequence()) << t;
    EXPECT_GE(schedule.duration(), 1.0);
    for (double phase = 0.0; phase < 1.0; phase += 0.013) {
      const double s = t + phase * schedule.duration();
      const size_t mode = schedule.getModeFromPhase(phase);
      EXPECT_EQ(mode, planner.modeAt(s)) << "t " << t << " phase " << phase;
      const contact_flag_t stance = quadruped::modeNumber2StanceLeg(mode);
      for (size_t i = 0; i < 4; ++i) EXPECT_EQ(stance[i], planner.stanceAt(i, s));
    }
  }
  // Standing for 0.5 s after the start, then the diagonals alternate every 0.25 s.
  EXPECT_EQ(planner.modeAt(1.2), 15u);
  EXPECT_EQ(planner.modeAt(1.6), 9u);
  EXPECT_EQ(planner.modeAt(1.8), 6u);
  EXPECT_EQ(planner.modeAt(2.1), 9u);
}

TEST_F(GaitPlannerTest, BaseAndYawFollowTheRampedCommand) {
  // Without pose tracking the plan is the command integrated from the measured pose.
  PlannerSettings settings;
  settings.pose_tracking_rate = 0.0;
  GaitPlanner planner(info_, model_, settings);
  const VelocityCommand cmd{0.4, -0.1, 0.8};
  planner.setCommand(Gait::trot(), cmd);
  planner.plan(0.0, qpos_, qvel_);  // the gait starts at 0.5 s, the command is full from 1.5 s
  const PlannerOutput out = planner.plan(2.0, qpos_, qvel_);
  const auto base = out.trajectories->get_base_pos_traj();
  const auto rpy = out.trajectories->get_base_rpy_traj();
  const double yaw0 = 0.0;
  for (double s = 2.0; s <= 2.9; s += 0.1) {
    // Closed form of the base path under constant body velocity and yaw rate.
    const double yaw = yaw0 + cmd.yaw_rate * (s - 2.0);
    EXPECT_NEAR(rpy->evaluate(s)(2), yaw, 1e-6);
    const double w = cmd.yaw_rate;
    const double x =
        (cmd.vx * (std::sin(yaw) - std::sin(yaw0)) + cmd.vy * (std::cos(yaw) - std::cos(yaw0))) / w;
    const double y =
        (-cmd.vx * (std::cos(yaw) - std::cos(yaw0)) + cmd.vy * (std::sin(yaw) - std::sin(yaw0))) /
        w;
    EXPECT_NEAR(base->evaluate(s)(0), qpos_(0) + x, 2e-4) << s;
    EXPECT_NEAR(base->evaluate(s)(1), qpos_(1) + y, 2e-4) << s;
    EXPECT_NEAR(base->evaluate(s)(2), info_.base_init_pos(2), 1e-9);
    const vector3_t v = base->derivative(s, 1);
    EXPECT_NEAR(v.head<2>().norm(), std::hypot(cmd.vx, cmd.vy), 2e-3) << s;
  }
}

TEST_F(GaitPlannerTest, PlanClosesTheGapToTheIntegratedCommandWithinItsBounds) {
  PlannerSettings settings;
  GaitPlanner planner(info_, model_, settings);
  const VelocityCommand cmd{0.4, 0.0, 0.0};
  planner.setCommand(Gait::trot(), cmd);
  // The robot does not move: the gap is the command integrated so far. The gait starts at 0.5 s
  // and the command ramps to full over the next second: gap(t) = vx (t - 0.5)^2 / 2.
  const double dt = 0.01;
  PlannerOutput out;
  for (int k = 0; k <= 120; ++k) out = planner.plan(k * dt, qpos_, qvel_);
  const double expected_gap = 0.5 * cmd.vx * 0.7 * 0.7;
  ASSERT_LT(expected_gap, settings.max_position_gap_m);
  // Right-end sums of the ramp overshoot its integral by at most vx dt / 2.
  EXPECT_NEAR(planner.positionGap()(0), expected_gap, 0.5 * cmd.vx * dt);
  EXPECT_NEAR(planner.positionGap()(1), 0.0, 1e-12);
  EXPECT_NEAR(planner.yawGap(), 0.0, 1e-12);
  // Planned path: command integrated from the measured position plus gap (1 - exp(-rate tau)).
  const auto base = out.trajectories->get_base_pos_traj();
  const double t0 = 1.2;
  for (double tau = 0.0; tau <= 0.8; tau += 0.1) {
    const double s = t0 + tau;
    const double ramp_end = std::min(s, 1.5);
    const double x_cmd = 0.5 * cmd.vx * ((ramp_end - 0.5) * (ramp_end - 0.5) - 0.7 * 0.7) +
                         cmd.vx * std::max(0.0, s - 1.5);
    const double x_gap =
        planner.positionGap()(0) * (1.0 - std::exp(-settings.pose_tracking_rate * tau));
    EXPECT_NEAR(base->evaluate(s)(0), qpos_(0) + x_cmd + x_gap, 1e-3) << "tau " << tau;
    EXPECT_NEAR(base->evaluate(s)(1), qpos_(1), 1e-9);
  }
  // Held still for long, the gap saturates at its bound along the command.
  for (int k = 121; k <= 1000; ++k) planner.plan(k * dt, qpos_, qvel_);
  EXPECT_NEAR(planner.positionGap().norm(), settings.max_position_gap_m, 1e-9);
  EXPECT_GT(planner.positionGap()(0), 0.0);
  // The same for yaw.
  GaitPlanner turning(info_, model_, settings);
  turning.setCommand(Gait::trot(), VelocityCommand{0.0, 0.0, -1.0});
  for (int k = 0; k <= 1000; ++k) turning.plan(k * dt, qpos_, qvel_);
  EXPECT_NEAR(turning.yawGap(), -settings.max_yaw_gap_rad, 1e-9);
  EXPECT_NEAR(turning.positionGap().norm(), 0.0, 1e-12);
}

TEST_F(GaitPlannerTest, PublishedYawStaysOnTheBranchOfTheMeasuredYaw) {
  GaitPlanner planner(info_, model_, PlannerSettings{});
  planner.setCommand(Gait::trot(), VelocityCommand{0.0, 0.0, 2.0});
  // The robot turns at 2 rad/s for 8 s (two and a half turns); the measured yaw wraps at pi.
  vector_t q = qpos_;
  for (double t = 0.0; t < 8.0; t += 0.01) {
    const double yaw = 2.0 * std::max(0.0, t - 1.5);
    const Eigen::Quaterniond turn(Eigen::AngleAxisd(yaw, vector3_t::UnitZ()));
    q.segment<4>(3) << turn.x(), turn.y(), turn.z(), turn.w();
    const PlannerOutput out = planner.plan(t, q, qvel_);
    const double measured = std::remainder(yaw, 2.0 * M_PI);
    const double published = out.trajectories->get_base_rpy_traj()->evaluate(t)(2);
    // Same angle as the measurement up to the yaw gap, never a whole turn away.
    EXPECT_LT(std::abs(published - measured), 0.5) << "t " << t;
    // The unwrapped plan keeps counting turns.
    EXPECT_NEAR(planner.yawRefAt(t), yaw, 0.5) << "t " << t;
  }
}

TEST_F(GaitPlannerTest, SwingArcsRiseToTheApexAndLandOnRaibertFootholds) {
  PlannerSettings settings;
  GaitPlanner planner(info_, model_, settings);
  planner.setCommand(Gait::trot(), VelocityCommand{0.0, 0.0, 0.0});
  planner.plan(0.0, qpos_, qvel_);
  model_.updateRobotState(qpos_, qvel_);
  // FR and RL swing first, during [0.5, 0.75) s.
  const PlannerOutput out = planner.plan(0.5, qpos_, qvel_);
  const auto feet = out.trajectories->get_foot_pos_traj();
  for (const size_t foot : {1u, 2u}) {
    const auto& traj = feet.at(info_.foot_name[foot]);
    const vector3_t start = model_.getFramePose(info_.foot_name[foot]).translation();
    EXPECT_NEAR(planner.footRefAt(foot, 0.625)(2), start(2) + settings.swing_apex_m, 1e-9);
    EXPECT_NEAR(traj->evaluate(0.625)(2), start(2) + settings.swing_apex_m, 2e-3);
    // Standing still: the foot lands where it lifted off (under its hip).
    EXPECT_LT((planner.footRefAt(foot, 0.75) - start).norm(), 1e-9);
    EXPECT_LT((traj->evaluate(0.8) - start).norm(), 2e-3);
  }
  for (const size_t foot : {0u, 3u}) {
    const vector3_t start = model_.getFramePose(info_.foot_name[foot]).translation();
    for (double s = 0.5; s < 0.75; s += 0.01) {
      EXPECT_LT((planner.footRefAt(foot, s) - start).norm(), 1e-9) << "stance foot moved";
    }
  }
  // A forward command moves the foothold ahead by half the stance time times the speed.
  GaitPlanner walking(info_, model_, settings);
  walking.setCommand(Gait::trot(), VelocityCommand{0.5, 0.0, 0.0});
  walking.plan(0.0, qpos_, qvel_);
  walking.plan(3.0, qpos_, qvel_);
  // Next touchdown of FL after 3.0 s: it swings in [3.25, 3.5).
  const vector3_t landing = walking.footRefAt(0, 3.5);
  const vector3_t hip_at_landing = walking.baseRefAt(3.5) + vector3_t(0.19, 0.13, 0.0);
  // The velocity error of the foothold feedback is against the command plus the rate at which
  // the plan closes the gap to the commanded position (the robot here stays at the origin).
  const double gap_x = walking.positionGap()(0);
  EXPECT_GT(gap_x, 0.0);
  EXPECT_NEAR(landing(0),
              hip_at_landing(0) + 0.5 * 0.25 * 0.5 +
                  0.1 * (0.0 - 0.5 - settings.pose_tracking_rate * gap_x),
              1e-6);
  EXPECT_NEAR(landing(1), hip_at_landing(1), 1e-6);
}

TEST_F(GaitPlannerTest, RejectsBadStates) {
  GaitPlanner planner(info_, model_, PlannerSettings{});
  EXPECT_THROW(planner.plan(0.0, vector_t::Zero(7), qvel_), std::invalid_argument);
  vector_t bad = qpos_;
  bad(0) = std::nan("");
  EXPECT_THROW(planner.plan(0.0, bad, qvel_), std::invalid_argument);
  ModelInfo three_feet = info_;
  three_feet.foot_name.pop_back();
  EXPECT_THROW(GaitPlanner(three_feet, model_, PlannerSettings{}), std::invalid_argument);
}

}  // namespace
}  // namespace sim
}  // namespace velmora
