// The robot model against MuJoCo loading the same URDF, at many random states.

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "MujocoConversion.h"
#include "TestHelpers.h"
#include "pinocchio/PinocchioInterface.h"

namespace velmora::test {
namespace {

constexpr scalar_t kTolerance = 1e-8;
constexpr int kStates = 200;

struct RobotCase {
  std::string name;
  std::string urdf;
  std::vector<std::string> bodies;  // link names (body frames in both models)
};

void PrintTo(const RobotCase& robot_case, std::ostream* out) { *out << robot_case.name; }

std::vector<RobotCase> robotCases() {
  return {
      {"kestrel",
       kestrelFile("robot.urdf"),
       {"trunk", "FL_hip", "FL_thigh", "FL_calf", "FL_foot", "FR_foot", "RL_foot", "RR_foot",
        "RR_calf", "RL_thigh"}},
      {"spider",
       testDataFile("spider.urdf"),
       {"body", "sensor", "upper_arm", "slide", "tool", "hand", "leg", "leg_tip"}},
  };
}

class DynamicsVsMujoco : public ::testing::TestWithParam<RobotCase> {
 protected:
  DynamicsVsMujoco()
      : robot_(GetParam().urdf), mujoco_(GetParam().urdf, robot_.getModel()), rng_(1234) {}

  /// Sets the same random state in both models.
  void setRandomState(scalar_t velocity_scale = 2.0) {
    const RandomState state = randomState(robot_.getModel(), rng_, velocity_scale);
    robot_.updateRobotState(state.qpos, state.qvel);
    mujoco_.setState(state.qpos, state.qvel);
  }

  PinocchioInterface robot_;
  MujocoRobot mujoco_;
  std::mt19937 rng_;
};

TEST_P(DynamicsVsMujoco, TotalMassAndCentroidalInertia) {
  EXPECT_NEAR(robot_.total_mass(), mujoco_.totalMass(), kTolerance * mujoco_.totalMass());
  for (int k = 0; k < kStates; ++k) {
    setRandomState();
    const rigid_body::Data& data = robot_.getData();
    const rigid_body::Inertia expected = mujoco_.centroidalInertia();
    EXPECT_NEAR(data.mass[0], expected.mass(), kTolerance * expected.mass());
    EXPECT_NEAR(data.Ig.mass(), expected.mass(), kTolerance * expected.mass());
    ASSERT_TRUE(relativelyNear(data.com[0], expected.lever(), kTolerance));
    ASSERT_TRUE(relativelyNear(data.Ig.lever(), expected.lever(), kTolerance));
    ASSERT_TRUE(relativelyNear(data.Ig.inertia(), expected.inertia(), kTolerance));
    // MuJoCo's own subtree centre of mass of the root body as a third opinion.
    const int root = mujoco_.mujocoModel().body_rootid[1];
    ASSERT_TRUE(relativelyNear(
        data.com[0], Eigen::Map<const vector3_t>(mujoco_.mujocoData().subtree_com + 3 * root),
        kTolerance));
  }
}

TEST_P(DynamicsVsMujoco, MassMatrixAndNonlinearEffects) {
  for (int k = 0; k < kStates; ++k) {
    setRandomState();
    const matrix_t expected_mass = mujoco_.massMatrix();
    ASSERT_TRUE(relativelyNear(robot_.getData().M, expected_mass, kTolerance)) << "state " << k;
    ASSERT_TRUE(robot_.getData().M.isApprox(robot_.getData().M.transpose(), 0.0));
    const vector_t expected_nle = mujoco_.nonlinearEffects();
    ASSERT_TRUE(relativelyNear(robot_.nle(), expected_nle, kTolerance)) << "state " << k;
    ASSERT_TRUE(relativelyNear(robot_.getData().nle, expected_nle, kTolerance));
  }
}

TEST_P(DynamicsVsMujoco, GravityAloneAtRest) {
  // At zero velocity the nonlinear effects are the gravity forces; on the base they are the
  // weight expressed in base axes.
  for (int k = 0; k < 20; ++k) {
    setRandomState(0.0);
    ASSERT_TRUE(relativelyNear(robot_.nle(), mujoco_.nonlinearEffects(), kTolerance));
    const matrix3_t base_rotation = robot_.getData().oMi[1].rotation();
    const vector3_t weight_in_base =
        base_rotation.transpose() * vector3_t(0, 0, 9.81 * robot_.total_mass());
    ASSERT_TRUE(relativelyNear(robot_.nle().head<3>(), weight_in_base, 1e-10));
  }
}

TEST_P(DynamicsVsMujoco, BodyPlacementsVelocitiesAndJacobians) {
  matrix6x_t J_world_aligned, J_local;
  for (int k = 0; k < kStates; ++k) {
    setRandomState();
    for (const std::string& body : GetParam().bodies) {
      SCOPED_TRACE("state " + std::to_string(k) + ", body " + body);
      const rigid_body::SE3 pose = robot_.getFramePose(body);
      const rigid_body::SE3 expected_pose = mujoco_.bodyPose(body);
      ASSERT_TRUE(relativelyNear(pose.rotation(), expected_pose.rotation(), kTolerance));
      ASSERT_TRUE(relativelyNear(pose.translation(), expected_pose.translation(), kTolerance));

      const rigid_body::Motion velocity = robot_.getFrame6dVel_localWorldAligned(body);
      ASSERT_TRUE(relativelyNear(velocity.toVector(),
                                 mujoco_.bodyVelocityWorldAligned(body).toVector(), kTolerance));

      robot_.getJacobia_localWorldAligned(body, J_world_aligned);
      ASSERT_TRUE(
          relativelyNear(J_world_aligned, mujoco_.bodyJacobianWorldAligned(body), kTolerance));
      robot_.getJacobia_local(body, J_local);
      ASSERT_TRUE(relativelyNear(J_local, mujoco_.bodyJacobianLocal(body), kTolerance));
      // The Jacobian reproduces the velocity it reports.
      ASSERT_TRUE(relativelyNear(J_world_aligned * robot_.qvel(), velocity.toVector(), 1e-10));
    }
  }
}

TEST_P(DynamicsVsMujoco, DriftAccelerationsMatchMujocoPostConstraintPass) {
  for (int k = 0; k < kStates; ++k) {
    setRandomState();
    for (const std::string& body : GetParam().bodies) {
      SCOPED_TRACE("state " + std::to_string(k) + ", body " + body);
      const rigid_body::Motion expected = mujoco_.bodyDriftAccelerationWorldAligned(body);
      const rigid_body::Motion world_aligned = robot_.getFrame6dAcc_localWorldAligned(body);
      ASSERT_TRUE(relativelyNear(world_aligned.toVector(), expected.toVector(), kTolerance));
      const matrix3_t rotation_t = mujoco_.bodyPose(body).rotation().transpose();
      const rigid_body::Motion local = robot_.getFrame6dAcc_local(body);
      ASSERT_TRUE(relativelyNear(local.linear(), rotation_t * expected.linear(), kTolerance));
      ASSERT_TRUE(relativelyNear(local.angular(), rotation_t * expected.angular(), kTolerance));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Robots, DynamicsVsMujoco, ::testing::ValuesIn(robotCases()),
                         [](const ::testing::TestParamInfo<RobotCase>& info) {
                           return info.param.name;
                         });

}  // namespace
}  // namespace velmora::test
