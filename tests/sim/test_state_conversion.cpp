// The plant's state in the controller's layout, checked against MuJoCo's own kinematics and the
// controller's robot model on random states.

#include <random>

#include <gtest/gtest.h>

#include "description/ModelInfoLoader.h"
#include "pinocchio/PinocchioInterface.h"
#include "sim/MujocoPlant.h"
#include "sim/StateConversion.h"

namespace velmora {
namespace sim {
namespace {

const std::string kUrdf = std::string(VELMORA_ROBOTS_DIR) + "/kestrel/robot.urdf";
const std::string kDescription = std::string(VELMORA_ROBOTS_DIR) + "/kestrel/description.info";

class StateConversionTest : public ::testing::Test {
 protected:
  StateConversionTest()
      : model_(kUrdf), info_(loadModelInfo(kDescription, model_)), plant_(kUrdf, info_) {}

  /// Random pose and velocity written into a copy of the plant's data.
  mjData* randomState(std::mt19937& rng) {
    const mjModel& m = plant_.model();
    mjData* d = mj_makeData(&m);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int k = 0; k < m.nq; ++k) d->qpos[k] = 0.5 * u(rng);
    for (int k = 0; k < m.nv; ++k) d->qvel[k] = 2.0 * u(rng);
    const int b = plant_.layout().base_qpos_address;
    Eigen::Quaterniond q(Eigen::Vector4d(u(rng), u(rng), u(rng), u(rng)).normalized());
    d->qpos[b + 3] = q.w();
    d->qpos[b + 4] = q.x();
    d->qpos[b + 5] = q.y();
    d->qpos[b + 6] = q.z();
    mj_forward(&m, d);
    return d;
  }

  PinocchioInterface model_;
  ModelInfo info_;
  MujocoPlant plant_;
};

TEST_F(StateConversionTest, FootPositionsAndVelocitiesAgreeWithMujoco) {
  std::mt19937 rng(7);
  const mjModel& m = plant_.model();
  for (int trial = 0; trial < 20; ++trial) {
    mjData* d = randomState(rng);
    const Eigen::Map<const vector_t> mj_qpos(d->qpos, m.nq);
    const Eigen::Map<const vector_t> mj_qvel(d->qvel, m.nv);
    const vector_t qpos = toControllerQpos(mj_qpos, plant_.layout());
    const vector_t qvel = toControllerQvel(mj_qpos, mj_qvel, plant_.layout());
    model_.updateRobotState(qpos, qvel);

    // Base velocity: MuJoCo's body-frame spatial velocity of the trunk frame.
    const int trunk = mj_name2id(&m, mjOBJ_BODY, info_.base_name.c_str());
    mjtNum local[6];
    mj_objectVelocity(&m, d, mjOBJ_XBODY, trunk, local, 1);
    EXPECT_TRUE(qvel.segment<3>(3).isApprox(Eigen::Map<const vector3_t>(local), 1e-9));
    EXPECT_TRUE(qvel.head<3>().isApprox(Eigen::Map<const vector3_t>(local + 3), 1e-9));

    for (const auto& foot : info_.foot_name) {
      const int body = mj_name2id(&m, mjOBJ_BODY, foot.c_str());
      const vector3_t mj_pos = Eigen::Map<const vector3_t>(d->xpos + 3 * body);
      EXPECT_LT((model_.getFramePose(foot).translation() - mj_pos).norm(), 1e-9) << foot;
      mjtNum world[6];
      mj_objectVelocity(&m, d, mjOBJ_XBODY, body, world, 0);
      const vector3_t mj_vel = Eigen::Map<const vector3_t>(world + 3);
      EXPECT_LT((model_.getFrame6dVel_localWorldAligned(foot).linear() - mj_vel).norm(), 1e-8)
          << foot;
    }
    mj_deleteData(d);
  }
}

TEST_F(StateConversionTest, QuaternionOrderAndJointsByName) {
  vector_t mj_qpos = vector_t::Zero(plant_.model().nq);
  const auto& layout = plant_.layout();
  mj_qpos.segment<4>(layout.base_qpos_address + 3) << 0.5, 0.5, -0.5, 0.5;  // w, x, y, z
  for (size_t j = 0; j < layout.joint_qpos_address.size(); ++j) {
    mj_qpos(layout.joint_qpos_address[j]) = 0.1 * static_cast<double>(j + 1);
  }
  const vector_t qpos = toControllerQpos(mj_qpos, layout);
  EXPECT_TRUE(qpos.segment<4>(3).isApprox(Eigen::Vector4d(0.5, -0.5, 0.5, 0.5)));
  for (size_t j = 0; j < info_.joints_name.size(); ++j) {
    const int id = mj_name2id(&plant_.model(), mjOBJ_JOINT, info_.joints_name[j].c_str());
    EXPECT_EQ(qpos(7 + static_cast<Eigen::Index>(j)), mj_qpos(plant_.model().jnt_qposadr[id]));
  }
}

TEST(StateConversion, RejectsAddressesOutsideTheVectors) {
  PlantStateLayout layout;
  layout.joint_qpos_address = {9};
  layout.joint_qvel_address = {8};
  EXPECT_THROW(toControllerQpos(vector_t::Zero(9), layout), std::invalid_argument);
  EXPECT_THROW(toControllerQpos(vector_t::Zero(5), layout), std::invalid_argument);
  EXPECT_THROW(toControllerQvel(vector_t::Zero(10), vector_t::Zero(8), layout),
               std::invalid_argument);
  EXPECT_NO_THROW(toControllerQvel(vector_t::Unit(10, 3), vector_t::Zero(9), layout));
}

}  // namespace
}  // namespace sim
}  // namespace velmora
