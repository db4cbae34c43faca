// The MuJoCo plant: holding the initial pose, the motor driver law with its effort clamp,
// joints matched by name.

#include <algorithm>

#include "SimTestSupport.h"
#include "sim/MujocoPlant.h"

namespace velmora::sim {
namespace {

using test::uniformCommand;
using MujocoPlantTest = test::BundledRobotTest;

TEST_F(MujocoPlantTest, HoldsTheStandingPoseUntilTheFirstCommandThenStandsOnFourFeet) {
  MujocoPlant plant(test::kUrdf, info_);
  for (int k = 0; k < 200; ++k) plant.step();
  EXPECT_FALSE(plant.released());
  EXPECT_TRUE(plant.controllerQpos().isApprox(qpos_));
  EXPECT_TRUE(plant.controllerQvel().isZero());
  auto hold = uniformCommand(info_, 60.0f, 1.5f, 0.0f, 0.0f, 0.0f);
  for (size_t j = 0; j < hold.pos.size(); ++j) hold.pos[j] = info_.joints_init_pos(j);
  plant.applyCommand(hold);
  for (int k = 0; k < 300; ++k) plant.step();
  EXPECT_TRUE(plant.released());
  EXPECT_FALSE(plant.nonFootContact());
  for (const bool c : plant.footContacts()) EXPECT_TRUE(c);
  // Settling on the servos, the floor carries the whole weight through the feet (on average
  // over 1 s), each foot a share of it.
  const double weight = mj_getTotalmass(&plant.model()) * -plant.model().opt.gravity[2];
  double mean_total = 0.0;
  for (int k = 0; k < 1000; ++k) {
    plant.step();
    for (const double f : plant.footVerticalForces()) mean_total += f / 1000.0;
  }
  for (const double f : plant.footVerticalForces()) EXPECT_GT(f, 0.1 * weight);
  EXPECT_NEAR(mean_total, weight, 0.01 * weight);
  // Stiff floor: under a quarter of the weight each, the feet sink less than 2 mm (the calf ends
  // 8 mm above the bottom of the foot sphere and must stay clear of the floor).
  for (int c = 0; c < plant.data().ncon; ++c) {
    EXPECT_GT(plant.data().contact[c].dist, -0.002) << "contact " << c;
  }
}

TEST_F(MujocoPlantTest, AppliesTheMotorDriverLawByJointNameClampedToTheEffortLimit) {
  MujocoPlant plant(test::kUrdf, info_);
  // Joints in reverse order with distinct feed-forward torques; one unknown name is ignored.
  auto command = uniformCommand(info_, 20.0f, 0.5f, 0.3f, 0.1f, 0.0f);
  std::reverse(command.actuators_name.begin(), command.actuators_name.end());
  for (size_t k = 0; k < 12; ++k) command.torque[k] = 0.5f * static_cast<float>(k);
  command.actuators_name[0] = "no_such_joint";  // joint 11: no torque at all
  plant.applyCommand(command);
  const vector_t q = plant.controllerQpos().tail(12), qd = plant.controllerQvel().tail(12);
  plant.step();
  const auto& layout = plant.layout();
  for (size_t j = 0; j < 12; ++j) {
    const double expected =
        j == 11
            ? 0.0
            : std::clamp(20.0 * (0.3 - q(j)) + 0.5 * (0.1 - qd(j)) + 0.5 * (11 - j), -33.5, 33.5);
    EXPECT_NEAR(plant.data().qfrc_applied[layout.joint_qvel_address[j]], expected, 1e-4)
        << info_.joints_name[j];
  }
  // A huge gain saturates at the URDF effort limit (33.5 N m for every joint of this robot).
  plant.applyCommand(uniformCommand(info_, 1e5f, 0.0f, 3.0f, 0.0f, 0.0f));
  plant.step();
  for (size_t j = 0; j < 12; ++j) {
    EXPECT_DOUBLE_EQ(plant.data().qfrc_applied[layout.joint_qvel_address[j]], 33.5);
  }
  command.torque.pop_back();
  EXPECT_THROW(plant.applyCommand(command), std::invalid_argument);
}

}  // namespace
}  // namespace velmora::sim
