// WholeBodyController: per-leg joint targets and gains (stance extrapolation, swing inverse
// kinematics with its step and velocity limits and gain rules), and the degenerate legs.
// Swing targets are checked through the leg Jacobian of an independent model copy:
// J_leg (pos - q_leg) is the commanded foot displacement, J_leg vel the commanded foot velocity.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <string>
#include <thread>

#include "WbcTestRig.h"

namespace velmora::wbc_test {
namespace {

constexpr int kNv = 18;

/// Joint indices of foot `foot`'s leg in the bundled robot (three per leg, in foot order).
std::array<int, 3> legOf(int foot) { return {3 * foot, 3 * foot + 1, 3 * foot + 2}; }

matrix3_t legJacobian(const Rig& rig, int foot) {
  const matrix_t J = rig.linearJacobian(rig.info->foot_name[foot]);
  matrix3_t J_leg;
  for (int k = 0; k < 3; ++k) J_leg.col(k) = J.col(6 + legOf(foot)[k]);
  return J_leg;
}

vector3_t legValues(const vector_t& joint_values, int foot) {
  const auto leg = legOf(foot);
  return {joint_values(leg[0]), joint_values(leg[1]), joint_values(leg[2])};
}

/// Foot position relative to the base, world axes, from the test's model.
vector3_t footRelative(const Rig& rig, int foot) {
  return rig.model->getFramePose(rig.info->foot_name[foot]).translation() -
         rig.model->getFramePose(rig.info->base_name).translation();
}

/// Runs one cycle with mode `mode` and foot 0's reference at `relative_target` from the base
/// (base references hold the present base position).
std::shared_ptr<ActuatorCommands> cycleWithSwingTarget(Rig& rig, size_t mode,
                                                       const vector3_t& relative_target) {
  auto refs = rig.holdReferences();
  const vector3_t base = rig.model->getFramePose(rig.info->base_name).translation();
  FootMap feet = refs->get_foot_pos_traj();
  feet[rig.info->foot_name[0]] = constantTraj(base + relative_target, rig.now());
  refs->set_foot_pos_traj(feet);
  rig.wbc->update_mode(mode);
  rig.wbc->update_trajectory_reference(refs);
  rig.wbc->update_control_data(Rig::constantPolicy(vector6_t::Zero()));
  return rig.wbc->optimize();
}

TEST(WholeBodyCommands, StanceLegsExtrapolateWithTheSolvedAccelerations) {
  Rig rig;
  vector_t qvel = vector_t::Zero(kNv);
  qvel.tail(12) = 0.5 * vector_t::LinSpaced(12, -1.0, 1.0);
  rig.setState(rig.standingQpos(), qvel);
  rig.wbc->update_mode(15);
  rig.wbc->update_trajectory_reference(rig.holdReferences());
  rig.wbc->update_control_data(Rig::constantPolicy(vector6_t::Zero()));
  const auto commands = rig.wbc->optimize();
  const double dt = rig.wbc->dt();
  const vector_t q = rig.model->qpos().tail(12);
  const vector_t qd = qvel.tail(12);
  const vector_t qdd = rig.wbc->lastSolution().segment(6, 12);
  ASSERT_FALSE(qdd.isZero(1e-3));
  EXPECT_TRUE(commands->pos.isApprox(q + dt * qd + 0.5 * dt * dt * qdd, 1e-14));
  EXPECT_TRUE(commands->vel.isApprox(qd + dt * qdd, 1e-14));
  EXPECT_TRUE((commands->Kp.array() == 10.0).all());
  EXPECT_TRUE((commands->Kd.array() == 0.1).all());
}

TEST(WholeBodyCommands, StanceLegAtRestHoldsItsPosition) {
  Rig rig;
  rig.wbc->update_mode(15);
  rig.wbc->update_trajectory_reference(rig.holdReferences());
  rig.wbc->update_control_data(Rig::constantPolicy(vector6_t::Zero()));
  const auto commands = rig.wbc->optimize();
  EXPECT_LT((commands->pos - rig.model->qpos().tail(12)).cwiseAbs().maxCoeff(), 1e-9);
  EXPECT_LT(commands->vel.cwiseAbs().maxCoeff(), 1e-7);
}

TEST(WholeBodyCommands, SwingStepIsCutTo10cmAndGainsFollowTheDistance) {
  Rig rig;
  const vector3_t r = footRelative(rig, 0);
  const matrix3_t J_leg = legJacobian(rig, 0);
  struct Case {
    vector3_t offset;  // target minus present foot position (relative to the base)
    double kp;
  };
  const Case cases[] = {{{0.2, 0.0, 0.0}, 30.0},     // cut to 0.1
                        {{0.0, 0.05, -0.02}, 30.0},  // 0.054: no cut, far
                        {{0.02, 0.0, 0.0}, 60.0},    // close
                        {{0.0, -0.01, 0.01}, 60.0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.offset.transpose());
    const auto commands = cycleWithSwingTarget(rig, 7, r + c.offset);
    const vector3_t q_leg = legValues(rig.model->qpos().tail(12), 0);
    const vector3_t step = J_leg * (legValues(commands->pos, 0) - q_leg);
    const vector3_t expected =
        c.offset.norm() > 0.1 ? vector3_t(0.1 * c.offset.normalized()) : c.offset;
    EXPECT_TRUE(step.isApprox(expected, 1e-9)) << step.transpose();
    EXPECT_LT((J_leg * legValues(commands->vel, 0)).norm(), 1e-12);  // at rest, reference at rest
    for (int j : legOf(0)) {
      EXPECT_EQ(commands->Kp(j), c.kp);
      EXPECT_EQ(commands->Kd(j), 2.0);
    }
    // The other legs are in stance.
    for (int j = 3; j < 12; ++j) EXPECT_EQ(commands->Kp(j), 10.0);
  }
}

TEST(WholeBodyCommands, SwingTargetStaysAtLeast15cmBelowTheBase) {
  Rig rig;
  const vector3_t r = footRelative(rig, 0);
  const matrix3_t J_leg = legJacobian(rig, 0);
  // Target only 5 cm below the base: lowered to 15 cm.
  const vector3_t target(r.x(), r.y(), -0.05);
  const auto commands = cycleWithSwingTarget(rig, 7, target);
  const vector3_t step =
      J_leg * (legValues(commands->pos, 0) - legValues(rig.model->qpos().tail(12), 0));
  vector3_t expected = vector3_t(r.x(), r.y(), -0.15) - r;
  if (expected.norm() > 0.1) expected = 0.1 * expected.normalized();
  EXPECT_TRUE(step.isApprox(expected, 1e-9)) << step.transpose() << " vs " << expected.transpose();
  EXPECT_GT(expected.z(), 0.0);  // the foot does go up, but only to the cap
}

/// Sets joint velocities of leg 0 so that the foot moves at `foot_velocity` relative to the base.
void moveFoot0(Rig& rig, const vector3_t& foot_velocity) {
  const vector3_t leg_rates = legJacobian(rig, 0).inverse() * foot_velocity;
  vector_t qvel = vector_t::Zero(kNv);
  qvel.segment<3>(6) = leg_rates;
  rig.setState(rig.model->qpos(), qvel);
}

TEST(WholeBodyCommands, VelocityErrorDropsTheGainAndIsLimited) {
  Rig rig;
  const vector3_t r = footRelative(rig, 0);
  const matrix3_t J_leg = legJacobian(rig, 0);
  const vector3_t close = r + vector3_t(0.02, 0, 0);  // would give kp = 60 at the right speed

  // Velocity error 0.3 (foot moving at -0.3 x, reference at rest): kp = 1, no limit.
  moveFoot0(rig, vector3_t(-0.3, 0, 0));
  auto commands = cycleWithSwingTarget(rig, 7, close);
  for (int j : legOf(0)) EXPECT_EQ(commands->Kp(j), 1.0);
  EXPECT_LT((J_leg * legValues(commands->vel, 0)).norm(), 1e-12);

  // Velocity error 0.8: the commanded foot velocity is the measured one plus 0.5 toward the
  // reference.
  const vector3_t foot_velocity(0.0, 0.48, -0.64);  // norm 0.8
  moveFoot0(rig, foot_velocity);
  commands = cycleWithSwingTarget(rig, 7, close);
  const vector3_t commanded = J_leg * legValues(commands->vel, 0);
  const vector3_t expected = foot_velocity + 0.5 * (-foot_velocity).normalized();
  EXPECT_TRUE(commanded.isApprox(expected, 1e-9)) << commanded.transpose();
  for (int j : legOf(0)) EXPECT_EQ(commands->Kp(j), 1.0);

  // Velocity errors just above and just below 0.1: the threshold of the gain drop.
  moveFoot0(rig, vector3_t(0.0, 0.0, 0.101));
  commands = cycleWithSwingTarget(rig, 7, close);
  for (int j : legOf(0)) EXPECT_EQ(commands->Kp(j), 1.0);
  moveFoot0(rig, vector3_t(0.0, 0.0, 0.099));
  commands = cycleWithSwingTarget(rig, 7, close);
  for (int j : legOf(0)) EXPECT_EQ(commands->Kp(j), 60.0);
}

TEST(WholeBodyCommands, EmptyFootMapLeavesOnlyTheSolvedTorques) {
  Rig rig;
  auto refs = rig.holdReferences();
  refs->set_foot_pos_traj({});
  rig.wbc->update_mode(15);
  rig.wbc->update_trajectory_reference(refs);
  rig.wbc->update_control_data(Rig::constantPolicy(vector6_t::Zero()));
  const auto commands = rig.wbc->optimize();
  EXPECT_TRUE(commands->Kp.isZero(0.0));
  EXPECT_TRUE(commands->Kd.isZero(0.0));
  EXPECT_TRUE(commands->pos.isZero(0.0));
  EXPECT_TRUE(commands->vel.isZero(0.0));
  EXPECT_GT(commands->torque.norm(), 1.0);
  EXPECT_EQ(commands->torque, rig.wbc->lastSolution().tail(12));
}

TEST(WholeBodyCommands, EmptyReferencePointerSkipsJointTargets) {
  Rig rig;
  rig.wbc->update_mode(9);
  rig.wbc->update_trajectory_reference(nullptr);
  rig.wbc->update_control_data(Rig::constantPolicy(vector6_t::Zero()));
  const auto commands = rig.wbc->optimize();
  EXPECT_TRUE(commands->Kp.isZero(0.0));
  EXPECT_TRUE(commands->pos.isZero(0.0));
  EXPECT_GT(commands->torque.norm(), 1.0);
}

TEST(WholeBodyCommands, WithoutBaseTrajectoryTheSwingTargetIsRelativeToTheMeasuredBase) {
  Rig rig;
  const vector3_t r = footRelative(rig, 0);
  const matrix3_t J_leg = legJacobian(rig, 0);
  const vector3_t base = rig.model->getFramePose(rig.info->base_name).translation();
  auto refs = std::make_shared<TrajectoriesBuffer>();  // no base trajectories at all
  FootMap feet;
  for (const auto& foot : rig.info->foot_name) {
    feet[foot] = constantTraj(rig.model->getFramePose(foot).translation(), rig.now());
  }
  const vector3_t offset(0.0, 0.03, 0.01);
  feet[rig.info->foot_name[0]] = constantTraj(base + r + offset, rig.now());
  refs->set_foot_pos_traj(feet);
  rig.wbc->update_mode(7);
  rig.wbc->update_trajectory_reference(refs);
  rig.wbc->update_control_data(Rig::constantPolicy(vector6_t::Zero()));
  const auto commands = rig.wbc->optimize();
  const vector3_t step =
      J_leg * (legValues(commands->pos, 0) - legValues(rig.model->qpos().tail(12), 0));
  EXPECT_TRUE(step.isApprox(offset, 1e-9)) << step.transpose();
}

TEST(WholeBodyCommands, DegenerateLegsGetZeroGainsAndNoNaN) {
  struct Case {
    std::string what;
    vector3_t leg_angles;  // hip, thigh, calf of leg 0
  };
  // Straight leg: thigh and calf columns are parallel (singular). Folded calf: the foot sits on
  // the thigh axis, so only two joints move it.
  const Case cases[] = {{"straight", {0.0, 0.0, 0.0}}, {"folded", {0.0, 0.8, -3.14159265358979}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Rig rig;
    vector_t qpos = rig.standingQpos();
    qpos.segment<3>(7) = c.leg_angles;
    rig.setState(qpos, vector_t::Zero(kNv));
    for (size_t mode : {7, 15}) {  // leg 0 in swing, then in stance
      // The warning is throttled to one per second per call site: let the window pass.
      if (mode == 7) std::this_thread::sleep_for(std::chrono::milliseconds(1100));
      ::testing::internal::CaptureStdout();
      ::testing::internal::CaptureStderr();
      const auto commands = cycleWithSwingTarget(rig, mode, footRelative(rig, 0));
      const std::string log =
          ::testing::internal::GetCapturedStdout() + ::testing::internal::GetCapturedStderr();
      for (const vector_t* field :
           {&commands->Kp, &commands->Kd, &commands->pos, &commands->vel, &commands->torque}) {
        EXPECT_TRUE(field->allFinite());
      }
      const bool inverted = c.what == "straight" && mode == 15;  // stance needs no inverse
      for (int j : legOf(0)) {
        if (inverted) {
          EXPECT_EQ(commands->Kp(j), 10.0);
        } else {
          EXPECT_EQ(commands->Kp(j), 0.0);
          EXPECT_EQ(commands->Kd(j), 0.0);
        }
      }
      for (int j = 3; j < 12; ++j) EXPECT_EQ(commands->Kp(j), 10.0);
      if (!inverted && mode == 7) {
        EXPECT_THAT(log, ::testing::HasSubstr("FL_foot"));
      }
    }
  }
}

TEST(WholeBodyCommands, SwingLegWithoutReferenceGetsZeroGains) {
  Rig rig;
  auto refs = rig.holdReferences();
  FootMap feet = refs->get_foot_pos_traj();
  feet[rig.info->foot_name[0]] = nullptr;
  refs->set_foot_pos_traj(feet);
  rig.wbc->update_mode(7);
  rig.wbc->update_trajectory_reference(refs);
  rig.wbc->update_control_data(Rig::constantPolicy(vector6_t::Zero()));
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  const auto commands = rig.wbc->optimize();
  ::testing::internal::GetCapturedStdout();
  ::testing::internal::GetCapturedStderr();
  for (int j : legOf(0)) EXPECT_EQ(commands->Kp(j), 0.0);
  for (int j = 3; j < 12; ++j) EXPECT_EQ(commands->Kp(j), 10.0);
  EXPECT_TRUE(commands->torque.allFinite());
}

}  // namespace
}  // namespace velmora::wbc_test
