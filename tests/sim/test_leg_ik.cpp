// Leg inverse kinematics against the robot model's own forward kinematics (PinocchioInterface):
// round trips from random poses, limits, unreachable targets and bad input; and the planner's
// joint-position trajectory against its foot references.

#include <random>

#include <gtest/gtest.h>

#include "BundledRobot.h"
#include "description/ModelInfoLoader.h"
#include "pinocchio/Orientation.h"
#include "sim/GaitPlanner.h"
#include "sim/LegInverseKinematics.h"

namespace velmora {
namespace sim {
namespace {

const std::string kUrdf = test::kestrelFile("robot.urdf");
const std::string kDescription = test::kestrelFile("description.info");

class LegIkTest : public ::testing::Test {
 protected:
  LegIkTest() : model_(kUrdf), info_(loadModelInfo(kDescription, model_)) {}

  /// Foot positions from PinocchioInterface (the controller's model path).
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

  PinocchioInterface model_;
  ModelInfo info_;
};

TEST_F(LegIkTest, RecoversFootPositionsOfRandomPosesFromTheStandingGuess) {
  LegIkSettings settings;
  settings.tolerance_m = 1e-9;
  LegInverseKinematics ik(info_, model_, settings);
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
    const auto reached = feetOf(pos, rpy, solution);
    for (size_t i = 0; i < 4; ++i) {
      EXPECT_LT((reached[i] - targets[i]).norm(), 1e-6) << "trial " << trial << " foot " << i;
    }
    // Same knee branch: the solution is the configuration the targets came from.
    EXPECT_LT((solution - joints).cwiseAbs().maxCoeff(), 1e-4) << "trial " << trial;
    // footPositions agrees with the controller's model.
    const auto own = ik.footPositions(pos, rpy, joints);
    for (size_t i = 0; i < 4; ++i) EXPECT_LT((own[i] - targets[i]).norm(), 1e-12);
  }
}

TEST_F(LegIkTest, UnreachableTargetStaysWithinLimitsAndReportsTheResidual) {
  LegInverseKinematics ik(info_, model_);
  const vector3_t pos(0.0, 0.0, 0.3), rpy = vector3_t::Zero();
  auto targets = feetOf(pos, rpy, info_.joints_init_pos);
  targets[0](2) -= 1.0;  // a metre below the standing foot: beyond the leg's reach (0.4 m)
  double residual = 0.0;
  const vector_t solution = ik.solve(pos, rpy, targets, info_.joints_init_pos, &residual);
  ASSERT_TRUE(solution.allFinite());
  EXPECT_GT(residual, 0.5);
  const rigid_body::Model& m = model_.getModel();
  for (size_t j = 0; j < info_.joints_name.size(); ++j) {
    const int iq = m.idx_qs[m.getJointId(info_.joints_name[j])];
    const auto k = static_cast<Eigen::Index>(j);
    EXPECT_GE(solution(k), m.lowerPositionLimit(iq) - 1e-12) << info_.joints_name[j];
    EXPECT_LE(solution(k), m.upperPositionLimit(iq) + 1e-12) << info_.joints_name[j];
  }
  // The other feet are still reached.
  const auto reached = feetOf(pos, rpy, solution);
  for (size_t i = 1; i < 4; ++i) {
    EXPECT_LT((reached[i] - targets[i]).norm(), LegIkSettings{}.tolerance_m);
  }
  // The foot got as low as it can: straight leg, about 0.4 m below the hip.
  EXPECT_LT(reached[0](2), targets[0](2) + 1.0 - 0.05);
}

TEST_F(LegIkTest, RejectsBadInput) {
  LegInverseKinematics ik(info_, model_);
  const vector3_t pos(0.0, 0.0, 0.3), rpy = vector3_t::Zero();
  auto targets = feetOf(pos, rpy, info_.joints_init_pos);
  EXPECT_THROW(ik.solve(pos, rpy, targets, vector_t::Zero(5)), std::invalid_argument);
  targets[2](1) = std::nan("");
  EXPECT_THROW(ik.solve(pos, rpy, targets, info_.joints_init_pos), std::invalid_argument);
  ModelInfo wrong = info_;
  wrong.foot_name[1] = "trunk";
  EXPECT_THROW(LegInverseKinematics(wrong, model_), std::invalid_argument);
}

TEST_F(LegIkTest, PlannerJointTrajectoryPlacesTheFeetOnTheirReferences) {
  GaitPlanner planner(info_, model_, PlannerSettings{});
  planner.setCommand(Gait::trot(), VelocityCommand{0.4, 0.1, 0.5});
  vector_t qpos(7 + info_.joints_init_pos.size());
  qpos << info_.base_init_pos, info_.base_init_quat, info_.joints_init_pos;
  const vector_t qvel = vector_t::Zero(6 + info_.joints_init_pos.size());
  planner.plan(0.0, qpos, qvel);
  const PlannerOutput out = planner.plan(2.0, qpos, qvel);
  const auto joints = out.trajectories->get_joint_pos_traj();
  ASSERT_TRUE(joints);
  EXPECT_EQ(joints->dimension(), static_cast<Eigen::Index>(info_.joints_name.size()));
  EXPECT_GE(joints->duration(), 1.0);
  const auto base = out.trajectories->get_base_pos_traj();
  const auto rpy = out.trajectories->get_base_rpy_traj();
  const auto feet = out.trajectories->get_foot_pos_traj();
  const double ground = feetOf(info_.base_init_pos, vector3_t::Zero(), info_.joints_init_pos)[0](2);
  // At the knots the splines pass through the solved values exactly.
  int swinging = 0;
  for (const double t : joints->knotTimes()) {
    const auto reached = feetOf(base->evaluate(t), rpy->evaluate(t), joints->evaluate(t));
    for (size_t i = 0; i < 4; ++i) {
      const vector3_t ref = feet.at(info_.foot_name[i])->evaluate(t);
      EXPECT_LT((reached[i] - ref).norm(), LegIkSettings{}.tolerance_m)
          << "t " << t << " foot " << i;
      if (ref(2) > ground + 0.02) ++swinging;
    }
  }
  EXPECT_GT(swinging, 0);  // swing arcs are among the targets
}

}  // namespace
}  // namespace sim
}  // namespace velmora
