// The MuJoCo convention conversion, checked against MuJoCo's own computations, and the exact
// integration helper used by the finite-difference tests.

#include <random>

#include <gtest/gtest.h>

#include "MujocoConversion.h"
#include "TestHelpers.h"
#include "pinocchio/PinocchioInterface.h"

namespace velmora::test {
namespace {

class MujocoConversionTest : public ::testing::Test {
 protected:
  MujocoConversionTest()
      : robot_(kestrelFile("robot.urdf")), mujoco_(kestrelFile("robot.urdf"), model()) {}
  const rigid_body::Model& model() const { return robot_.getModel(); }

  PinocchioInterface robot_;
  MujocoRobot mujoco_;
  std::mt19937 rng_{99};
};

TEST_F(MujocoConversionTest, StateRoundTrip) {
  for (int k = 0; k < 50; ++k) {
    const RandomState state = randomState(model(), rng_);
    const vector_t mujoco_qpos = mujoco_.toMujocoQpos(state.qpos);
    EXPECT_TRUE(relativelyNear(mujoco_.fromMujocoQpos(mujoco_qpos), state.qpos, 1e-15));
    EXPECT_TRUE(relativelyNear(
        mujoco_.fromMujocoQvel(mujoco_qpos, mujoco_.toMujocoQvel(state.qpos, state.qvel)),
        state.qvel, 1e-14));
  }
}

TEST_F(MujocoConversionTest, BasePoseAndTwistAsMujocoSeesThem) {
  const int trunk = mujoco_.bodyId("trunk");
  for (int k = 0; k < 50; ++k) {
    const RandomState state = randomState(model(), rng_);
    mujoco_.setState(state.qpos, state.qvel);
    // Quaternion stored x, y, z, w.
    const Eigen::Quaternion<scalar_t> orientation(state.qpos[6], state.qpos[3], state.qpos[4],
                                                  state.qpos[5]);
    const rigid_body::SE3 pose = mujoco_.bodyPose("trunk");
    EXPECT_TRUE(relativelyNear(pose.rotation(), orientation.toRotationMatrix(), 1e-14));
    EXPECT_TRUE(relativelyNear(pose.translation(), state.qpos.head<3>(), 1e-15));
    // MuJoCo's local body velocity [angular; linear] is our base twist [linear; angular].
    mjtNum angular_linear[6];
    mj_objectVelocity(&mujoco_.mujocoModel(), &mujoco_.mujocoData(), mjOBJ_XBODY, trunk,
                      angular_linear, 1);
    EXPECT_TRUE(relativelyNear(Eigen::Map<const vector3_t>(angular_linear + 3),
                               state.qvel.head<3>(), 1e-13));
    EXPECT_TRUE(relativelyNear(Eigen::Map<const vector3_t>(angular_linear),
                               state.qvel.segment<3>(3), 1e-13));
  }
}

TEST_F(MujocoConversionTest, JointsMatchedByName) {
  const mjModel& m = mujoco_.mujocoModel();
  for (int j = 0; j + 2 < model().njoints; ++j) {
    RandomState state = randomState(model(), rng_);
    state.qvel.setZero();
    state.qvel[6 + j] = 1.0;
    state.qpos[7 + j] = 0.25;
    mujoco_.setState(state.qpos, state.qvel);
    const int id = mj_name2id(&m, mjOBJ_JOINT, model().names[j + 2].c_str());
    ASSERT_GE(id, 0);
    EXPECT_EQ(mujoco_.mujocoData().qpos[m.jnt_qposadr[id]], 0.25);
    const Eigen::Map<const vector_t> mujoco_qvel(mujoco_.mujocoData().qvel, m.nv);
    EXPECT_EQ(mujoco_qvel[m.jnt_dofadr[id]], 1.0);
    EXPECT_EQ(mujoco_qvel.cwiseAbs().sum(), 1.0);
  }
}

TEST_F(MujocoConversionTest, KineticEnergyIsPreservedByTheMassMatrixMap) {
  for (int k = 0; k < 50; ++k) {
    const RandomState state = randomState(model(), rng_);
    mujoco_.setState(state.qpos, state.qvel);
    mj_energyVel(&mujoco_.mujocoModel(), const_cast<mjData*>(&mujoco_.mujocoData()));
    const scalar_t kinetic = 0.5 * state.qvel.dot(mujoco_.massMatrix() * state.qvel);
    EXPECT_NEAR(kinetic, mujoco_.mujocoData().energy[1], 1e-12 * (1 + kinetic));
  }
}

TEST_F(MujocoConversionTest, NonlinearEffectsByBothRoutesAndByThePowerBalance) {
  // At zero generalised acceleration the generalised forces h supply the power
  // v' h = dE/dt, E = kinetic + potential energy along the motion at constant v.
  const scalar_t h = 1e-5;
  for (int k = 0; k < 50; ++k) {
    const RandomState state = randomState(model(), rng_);
    mujoco_.setState(state.qpos, state.qvel);
    const vector_t nle = mujoco_.nonlinearEffects();
    EXPECT_TRUE(relativelyNear(mujoco_.nonlinearEffectsFromBias(), nle, 1e-11));
    mujoco_.setState(integrateConfiguration(model(), state.qpos, state.qvel, h), state.qvel);
    const scalar_t energy_after = mujoco_.totalEnergy();
    mujoco_.setState(integrateConfiguration(model(), state.qpos, state.qvel, -h), state.qvel);
    const scalar_t energy_before = mujoco_.totalEnergy();
    const scalar_t power = state.qvel.dot(nle);
    EXPECT_NEAR((energy_after - energy_before) / (2 * h), power, 1e-5 * (1 + std::abs(power)));
  }
}

TEST_F(MujocoConversionTest, IntegrationFollowsTheBodyTwist) {
  for (int k = 0; k < 50; ++k) {
    const RandomState state = randomState(model(), rng_);
    // One-parameter group: a then b seconds equals a + b seconds.
    const vector_t two_steps = integrateConfiguration(
        model(), integrateConfiguration(model(), state.qpos, state.qvel, 0.3), state.qvel, 0.4);
    const vector_t one_step = integrateConfiguration(model(), state.qpos, state.qvel, 0.7);
    EXPECT_TRUE(relativelyNear(two_steps, one_step, 1e-12));
    // The base moves, at the start, with the body twist: MuJoCo sees the world velocity R v.
    const scalar_t h = 1e-6;
    const vector_t ahead = integrateConfiguration(model(), state.qpos, state.qvel, h);
    const vector_t behind = integrateConfiguration(model(), state.qpos, state.qvel, -h);
    const vector_t world_velocity = (ahead.head<3>() - behind.head<3>()) / (2 * h);
    EXPECT_TRUE(relativelyNear(world_velocity,
                               mujoco_.toMujocoQvel(state.qpos, state.qvel).head<3>(), 1e-8));
  }
}

}  // namespace
}  // namespace velmora::test
