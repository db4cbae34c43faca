// The MuJoCo plant: holding the initial pose, the motor driver law, effort clamping, the push,
// contact classification and load errors.

#include <algorithm>

#include <gtest/gtest.h>

#include "BundledRobot.h"
#include "description/ModelInfoLoader.h"
#include "sim/MujocoPlant.h"

namespace velmora {
namespace sim {
namespace {

const std::string kUrdf = test::kestrelFile("robot.urdf");
const std::string kDescription = test::kestrelFile("description.info");

ModelInfo bundledInfo() {
  const PinocchioInterface model(kUrdf);
  return loadModelInfo(kDescription, model);
}

communication::msg::ActuatorCmds command(const ModelInfo& info, float kp, float kd, float pos,
                                         float vel, float torque) {
  communication::msg::ActuatorCmds message;
  for (const auto& name : info.joints_name) {
    message.actuators_name.push_back(name);
    message.kp.push_back(kp);
    message.kd.push_back(kd);
    message.pos.push_back(pos);
    message.vel.push_back(vel);
    message.torque.push_back(torque);
  }
  return message;
}

TEST(MujocoPlant, HoldsTheStandingPoseUntilTheFirstCommand) {
  const ModelInfo info = bundledInfo();
  MujocoPlant plant(kUrdf, info);
  for (int k = 0; k < 200; ++k) plant.step();
  EXPECT_FALSE(plant.released());
  EXPECT_NEAR(plant.time(), 0.2, 1e-9);
  const vector_t q = plant.controllerQpos();
  EXPECT_TRUE(q.head<3>().isApprox(info.base_init_pos));
  EXPECT_TRUE(q.tail(12).isApprox(info.joints_init_pos));
  EXPECT_TRUE(plant.controllerQvel().isZero());
  EXPECT_FALSE(plant.nonFootContact());
  // Released with stiff joint servos at the standing pose, the robot settles on its four feet.
  communication::msg::ActuatorCmds hold;
  for (size_t j = 0; j < info.joints_name.size(); ++j) {
    hold.actuators_name.push_back(info.joints_name[j]);
    hold.kp.push_back(60.0f);
    hold.kd.push_back(1.5f);
    hold.pos.push_back(static_cast<float>(info.joints_init_pos(static_cast<Eigen::Index>(j))));
    hold.vel.push_back(0.0f);
    hold.torque.push_back(0.0f);
  }
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

TEST(MujocoPlant, AppliesTheMotorDriverLawClampedToTheEffortLimit) {
  const ModelInfo info = bundledInfo();
  MujocoPlant plant(kUrdf, info);
  plant.applyCommand(command(info, 20.0f, 0.5f, 0.3f, 0.1f, 1.5f));
  const vector_t q = plant.controllerQpos().tail(12);
  const vector_t qd = plant.controllerQvel().tail(12);
  plant.step();
  const auto& layout = plant.layout();
  for (size_t j = 0; j < 12; ++j) {
    const auto k = static_cast<Eigen::Index>(j);
    const double expected =
        std::clamp(20.0 * (0.3 - q(k)) + 0.5 * (0.1 - qd(k)) + 1.5, -33.5, 33.5);
    EXPECT_NEAR(plant.data().qfrc_applied[layout.joint_qvel_address[j]], expected, 1e-4)
        << info.joints_name[j];
  }
  // A huge gain saturates at the URDF effort limit (33.5 N m for every joint of this robot).
  plant.applyCommand(command(info, 1e5f, 0.0f, 3.0f, 0.0f, 0.0f));
  plant.step();
  for (size_t j = 0; j < 12; ++j) {
    EXPECT_DOUBLE_EQ(plant.data().qfrc_applied[layout.joint_qvel_address[j]], 33.5);
  }
}

TEST(MujocoPlant, MatchesJointsByNameAndIgnoresUnknownNames) {
  const ModelInfo info = bundledInfo();
  MujocoPlant plant(kUrdf, info);
  communication::msg::ActuatorCmds message;
  for (const std::string name : {"RR_calf_joint", "no_such_joint"}) {
    message.actuators_name.push_back(name);
    message.kp.push_back(0.0f);
    message.kd.push_back(0.0f);
    message.pos.push_back(0.0f);
    message.vel.push_back(0.0f);
    message.torque.push_back(2.0f);
  }
  plant.applyCommand(message);
  plant.step();
  const int rr_calf = mj_name2id(&plant.model(), mjOBJ_JOINT, "RR_calf_joint");
  for (int j = 0; j < plant.model().njnt; ++j) {
    if (plant.model().jnt_type[j] == mjJNT_FREE) continue;
    EXPECT_DOUBLE_EQ(plant.data().qfrc_applied[plant.model().jnt_dofadr[j]],
                     j == rr_calf ? 2.0 : 0.0);
  }
  message.torque.pop_back();
  EXPECT_THROW(plant.applyCommand(message), std::invalid_argument);
}

TEST(MujocoPlant, PushMovesTheTrunkSideways) {
  const ModelInfo info = bundledInfo();
  MujocoPlant pushed(kUrdf, info), free(kUrdf, info);
  for (MujocoPlant* plant : {&pushed, &free}) {
    plant->applyCommand(command(info, 30.0f, 1.0f, 0.0f, 0.0f, 0.0f));
  }
  pushed.setBasePush(vector3_t(0.0, 50.0, 0.0));
  for (int k = 0; k < 20; ++k) {
    pushed.step();
    free.step();
  }
  // World lateral trunk velocity gained from the push: positive, and below the impulse over the
  // trunk mass alone (the legs share the motion and the feet's friction resists it).
  const auto lateral = [](const MujocoPlant& plant) {
    const vector_t q = plant.controllerQpos();
    const Eigen::Quaterniond quat(q(6), q(3), q(4), q(5));
    return (quat.toRotationMatrix() * plant.controllerQvel().head<3>())(1);
  };
  const double gained = lateral(pushed) - lateral(free);
  EXPECT_GT(gained, 0.005);
  EXPECT_LT(gained, 50.0 * 0.02 / 6.0);
  pushed.setBasePush(vector3_t::Zero());
  pushed.step();
  for (int k = 0; k < 6 * pushed.model().nbody; ++k) EXPECT_EQ(pushed.data().xfrc_applied[k], 0.0);
}

TEST(MujocoPlant, RejectsMissingFilesAndForeignDescriptions) {
  const ModelInfo info = bundledInfo();
  EXPECT_THROW(MujocoPlant("/nonexistent/robot.urdf", info), std::runtime_error);
  ModelInfo wrong = info;
  wrong.joints_name[3] = "FR_knee";
  try {
    MujocoPlant plant(kUrdf, wrong);
    FAIL() << "a joint the model lacks was accepted";
  } catch (const std::invalid_argument& error) {
    EXPECT_NE(std::string(error.what()).find("FR_knee"), std::string::npos);
  }
}

}  // namespace
}  // namespace sim
}  // namespace velmora
