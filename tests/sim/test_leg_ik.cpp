// Leg inverse kinematics against the robot model's own forward kinematics (PinocchioInterface).

#include <cmath>
#include <random>

#include "SimTestSupport.h"
#include "pinocchio/Orientation.h"
#include "planner/LegInverseKinematics.h"

namespace velmora::sim {
namespace {

class LegIkTest : public test::BundledRobotTest {
 protected:
  /// Foot positions [m, world] from PinocchioInterface (the controller's model path).
  std::array<vector3_t, 4> feetOf(const vector3_t& pos, const vector3_t& rpy,
                                  const vector_t& joints) {
    const Eigen::Quaterniond quat = toQuaternion(rpy);
    vector_t q(7 + joints.size());
    q << pos, quat.x(), quat.y(), quat.z(), quat.w(), joints;
    model_.updateRobotState(q, vector_t::Zero(6 + joints.size()));
    std::array<vector3_t, 4> feet;
    for (size_t i = 0; i < 4; ++i) feet[i] = model_.getFramePose(info_.foot_name[i]).translation();
    return feet;
  }
};

TEST_F(LegIkTest, RecoversTheJointsOfRandomPosesFromTheStandingGuess) {
  planner::LegIkSettings settings;
  settings.tolerance_m = 1e-9;
  planner::LegInverseKinematics ik(info_, model_, settings);
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  for (int trial = 0; trial < 50; ++trial) {
    // Joints within +-0.3 rad of the standing pose (the knee stays bent the same way).
    vector_t joints = info_.joints_init_pos;
    for (Eigen::Index j = 0; j < joints.size(); ++j) joints(j) += 0.3 * unit(rng);
    const vector3_t pos(unit(rng), unit(rng), 0.3 + 0.05 * unit(rng));
    const vector3_t rpy(0.2 * unit(rng), 0.2 * unit(rng), 3.0 * unit(rng));
    const auto targets = feetOf(pos, rpy, joints);
    double residual = -1.0;
    const vector_t solution = ik.solve(pos, rpy, targets, info_.joints_init_pos, &residual);
    EXPECT_LT(residual, 1e-6) << "trial " << trial;
    EXPECT_LT((solution - joints).cwiseAbs().maxCoeff(), 1e-4) << "trial " << trial;
    const auto own = ik.footPositions(pos, rpy, joints);
    for (size_t i = 0; i < 4; ++i) EXPECT_LT((own[i] - targets[i]).norm(), 1e-12);
  }
}

// The reach ball against the solver itself: a foot on its surface is reached, one 2 % beyond it
// is not, for every leg and tilted base poses.
TEST_F(LegIkTest, ReachIsTheLongestDistanceTheSolverAttainsFromTheHip) {
  planner::LegInverseKinematics ik(info_, model_);
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  for (int trial = 0; trial < 8; ++trial) {
    const vector3_t pos(unit(rng), unit(rng), 0.3);
    const vector3_t rpy(0.1 * unit(rng), 0.1 * unit(rng), 3.0 * unit(rng));
    std::array<vector3_t, 4> on_ball, beyond;
    for (size_t i = 0; i < 4; ++i) {
      const vector3_t hip = ik.hipPosition(i, pos, rpy);
      // Down and outwards, inside the hip's and thigh's limits.
      const vector3_t direction =
          vector3_t(0.4 * unit(rng), 0.5 * (i % 2 == 0 ? 1 : -1), -1.0).normalized();
      on_ball[i] = hip + ik.reach(i) * direction;
      beyond[i] = hip + 1.02 * ik.reach(i) * direction;
    }
    double residual = -1.0;
    ik.solve(pos, rpy, on_ball, info_.joints_init_pos, &residual);
    EXPECT_LT(residual, 1e-3) << "trial " << trial;
    ik.solve(pos, rpy, beyond, info_.joints_init_pos, &residual);
    EXPECT_GT(residual, 0.01 * ik.reach(0) - 1e-3) << "trial " << trial;
  }
}

TEST_F(LegIkTest, ClampToReachMovesFarTargetsHorizontallyOntoTheBall) {
  const planner::LegInverseKinematics ik(info_, model_);
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  const double fraction = 0.9;
  for (int trial = 0; trial < 40; ++trial) {
    const size_t foot = static_cast<size_t>(trial % 4);
    const vector3_t pos(unit(rng), unit(rng), 0.3);
    const vector3_t rpy(0.2 * unit(rng), 0.2 * unit(rng), 3.0 * unit(rng));
    const vector3_t hip = ik.hipPosition(foot, pos, rpy);
    const double radius = fraction * ik.reach(foot);
    // Targets 0.25 m below the hip, 0.05 m to 0.5 m away horizontally.
    const double heading = 3.0 * unit(rng), distance = 0.275 + 0.225 * unit(rng);
    const vector3_t target =
        hip + vector3_t(distance * std::cos(heading), distance * std::sin(heading), -0.25);
    const vector3_t clamped = ik.clampToReach(foot, pos, rpy, target, fraction);
    EXPECT_DOUBLE_EQ(clamped(2), target(2));
    const double allowed = std::sqrt(radius * radius - 0.25 * 0.25);
    if (distance <= allowed) {
      EXPECT_EQ(clamped, target) << "trial " << trial;
    } else {
      EXPECT_NEAR((clamped - hip).norm(), radius, 1e-12) << "trial " << trial;
      // Same direction from the hip, seen from above.
      const Eigen::Vector2d horizontal = (clamped - hip).head<2>();
      EXPECT_NEAR(horizontal.norm(), allowed, 1e-12);
      EXPECT_NEAR(std::atan2(horizontal(1), horizontal(0)), std::remainder(heading, 2.0 * M_PI),
                  1e-9);
    }
  }
  // Further below the hip than the ball reaches: straight under the hip.
  const vector3_t pos(0.0, 0.0, 0.3), rpy = vector3_t::Zero();
  const vector3_t hip = ik.hipPosition(0, pos, rpy);
  const vector3_t deep = hip + vector3_t(0.1, 0.1, -ik.reach(0));
  const vector3_t clamped = ik.clampToReach(0, pos, rpy, deep, fraction);
  EXPECT_NEAR((clamped - vector3_t(hip(0), hip(1), deep(2))).norm(), 0.0, 1e-12);
}

TEST_F(LegIkTest, ClampToReachRejectsInputsOutsideTheirRange) {
  const planner::LegInverseKinematics ik(info_, model_);
  const vector3_t pos(0.0, 0.0, 0.3), rpy = vector3_t::Zero(), target(0.2, 0.1, 0.0);
  EXPECT_THROW(ik.clampToReach(4, pos, rpy, target, 0.9), std::invalid_argument);
  for (const double fraction : {0.0, -0.5, 1.5, std::nan("")}) {
    EXPECT_THROW(ik.clampToReach(0, pos, rpy, target, fraction), std::invalid_argument) << fraction;
  }
  EXPECT_THROW(ik.clampToReach(0, pos, rpy, vector3_t(0.2, std::nan(""), 0.0), 0.9),
               std::invalid_argument);
}

}  // namespace
}  // namespace velmora::sim
