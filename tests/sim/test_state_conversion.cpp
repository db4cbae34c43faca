// The plant's state in the controller's layout, checked against MuJoCo's own kinematics through
// the controller's robot model on random states.

#include <random>

#include "SimTestSupport.h"
#include "sim/MujocoPlant.h"
#include "sim/StateConversion.h"

namespace velmora::sim {
namespace {

using StateConversionTest = test::BundledRobotTest;

TEST_F(StateConversionTest, BaseVelocityAndFeetAgreeWithMujocoOnRandomStates) {
  const MujocoPlant plant(test::kUrdf, info_);
  const mjModel& m = plant.model();
  std::unique_ptr<mjData, void (*)(mjData*)> d(mj_makeData(&m), mj_deleteData);
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (int trial = 0; trial < 20; ++trial) {
    for (int k = 0; k < m.nq; ++k) d->qpos[k] = 0.5 * u(rng);
    for (int k = 0; k < m.nv; ++k) d->qvel[k] = 2.0 * u(rng);
    const Eigen::Vector4d quat = Eigen::Vector4d(u(rng), u(rng), u(rng), u(rng)).normalized();
    std::copy(quat.data(), quat.data() + 4, d->qpos + plant.layout().base_qpos_address + 3);
    mj_forward(&m, d.get());
    const Eigen::Map<const vector_t> mj_qpos(d->qpos, m.nq), mj_qvel(d->qvel, m.nv);
    const vector_t qvel = toControllerQvel(mj_qpos, mj_qvel, plant.layout());
    model_.updateRobotState(toControllerQpos(mj_qpos, plant.layout()), qvel);
    // Base velocity: MuJoCo's spatial velocity of the trunk frame in its own axes.
    mjtNum local[6];
    mj_objectVelocity(&m, d.get(), mjOBJ_XBODY, mj_name2id(&m, mjOBJ_BODY, info_.base_name.c_str()),
                      local, 1);
    EXPECT_TRUE(qvel.segment<3>(3).isApprox(Eigen::Map<const vector3_t>(local), 1e-9));
    EXPECT_TRUE(qvel.head<3>().isApprox(Eigen::Map<const vector3_t>(local + 3), 1e-9));
    for (const auto& foot : info_.foot_name) {
      const int body = mj_name2id(&m, mjOBJ_BODY, foot.c_str());
      mjtNum world[6];
      mj_objectVelocity(&m, d.get(), mjOBJ_XBODY, body, world, 0);
      const vector3_t mj_pos = Eigen::Map<const vector3_t>(d->xpos + 3 * body);
      const vector3_t mj_vel = Eigen::Map<const vector3_t>(world + 3);
      EXPECT_LT((model_.getFramePose(foot).translation() - mj_pos).norm(), 1e-9) << foot;
      EXPECT_LT((model_.getFrame6dVel_localWorldAligned(foot).linear() - mj_vel).norm(), 1e-8);
    }
  }
  PlantStateLayout outside;
  outside.joint_qpos_address = {9};
  EXPECT_THROW(toControllerQpos(vector_t::Zero(9), outside), std::invalid_argument);
}

}  // namespace
}  // namespace velmora::sim
