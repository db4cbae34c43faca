// Leg inverse kinematics against the robot model's own forward kinematics (PinocchioInterface).

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
    EXPECT_LT((solution - joints).cwiseAbs().maxCoeff(), 1e-4) << "trial " << trial;
    const auto own = ik.footPositions(pos, rpy, joints);
    for (size_t i = 0; i < 4; ++i) EXPECT_LT((own[i] - targets[i]).norm(), 1e-12);
  }
}

}  // namespace
}  // namespace velmora::sim
