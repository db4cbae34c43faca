// Frame drift accelerations against finite differences of J v along the motion: with
// J qdd + drift the true acceleration of the frame origin.

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestHelpers.h"
#include "pinocchio/PinocchioInterface.h"

namespace velmora::test {
namespace {

/// World-aligned velocity of a frame origin along q(t), v(t) = v + t qdd.
vector6_t frameVelocityAt(PinocchioInterface& robot, const RandomState& state, const vector_t& qacc,
                          const std::string& frame, scalar_t t) {
  const rigid_body::Model& model = robot.getModel();
  // Second-order accurate position for a linearly varying velocity (errors are odd in t at
  // third order, so they cancel in central differences).
  const vector_t qvel = state.qvel + t * qacc;
  const vector_t qpos = integrateConfiguration(model, state.qpos, state.qvel + 0.5 * t * qacc, t);
  robot.updateRobotState(qpos, qvel);
  matrix6x_t J;
  robot.getJacobia_localWorldAligned(frame, J);
  return J * qvel;
}

void checkRobot(const std::string& urdf, const std::vector<std::string>& frames) {
  PinocchioInterface robot(urdf);
  std::mt19937 rng(5);
  const scalar_t h = 1e-5;
  matrix6x_t J_world_aligned, J_local;
  for (int k = 0; k < 60; ++k) {
    const RandomState state = randomState(robot.getModel(), rng, 2.0);
    const vector_t qacc = k % 2 == 0 ? vector_t(vector_t::Zero(robot.Nv()))
                                     : vector_t(randomState(robot.getModel(), rng, 3.0).qvel);
    for (const std::string& frame : frames) {
      SCOPED_TRACE("state " + std::to_string(k) + ", frame " + frame);
      const vector6_t expected = (frameVelocityAt(robot, state, qacc, frame, h) -
                                  frameVelocityAt(robot, state, qacc, frame, -h)) /
                                 (2 * h);
      robot.updateRobotState(state.qpos, state.qvel);
      robot.getJacobia_localWorldAligned(frame, J_world_aligned);
      robot.getJacobia_local(frame, J_local);
      const vector6_t world_aligned =
          J_world_aligned * qacc + robot.getFrame6dAcc_localWorldAligned(frame).toVector();
      ASSERT_TRUE(relativelyNear(world_aligned, expected, 1e-6));
      // Local axes: the same classical acceleration, rotated into the frame.
      const matrix3_t R = robot.getFramePose(frame).rotation();
      const vector6_t local = J_local * qacc + robot.getFrame6dAcc_local(frame).toVector();
      ASSERT_TRUE(relativelyNear(local.head<3>(), R.transpose() * expected.head<3>(), 1e-6));
      ASSERT_TRUE(relativelyNear(local.tail<3>(), R.transpose() * expected.tail<3>(), 1e-6));
    }
  }
}

TEST(DriftAcceleration, KestrelFeetAndBodiesMatchFiniteDifferences) {
  checkRobot(kestrelFile("robot.urdf"), {"FL_foot", "FR_foot", "RL_foot", "RR_foot", "trunk",
                                         "FL_hip", "RR_calf", "RL_calf_joint", "FR_foot_fixed"});
}

TEST(DriftAcceleration, SpiderFramesMatchFiniteDifferences) {
  checkRobot(testDataFile("spider.urdf"),
             {"body", "sensor", "sensor_mount", "hand", "tool", "slide", "leg_tip", "c_wrist"});
}

TEST(DriftAcceleration, ZeroVelocityMeansZeroDrift) {
  PinocchioInterface robot(kestrelFile("robot.urdf"));
  std::mt19937 rng(8);
  const RandomState state = randomState(robot.getModel(), rng, 0.0);
  robot.updateRobotState(state.qpos, state.qvel);
  for (const char* frame : {"FL_foot", "trunk", "RR_thigh"}) {
    EXPECT_TRUE(
        relativelyNear(robot.getFrame6dAcc_local(frame).toVector(), vector6_t::Zero(), 0.0));
    EXPECT_TRUE(relativelyNear(robot.getFrame6dAcc_localWorldAligned(frame).toVector(),
                               vector6_t::Zero(), 0.0));
  }
}

}  // namespace
}  // namespace velmora::test
