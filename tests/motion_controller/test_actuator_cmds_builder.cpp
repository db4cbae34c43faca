// The mapping of joint commands onto one ActuatorCmds message: joint order, wire order of the
// five value sequences, unknown joints and the error paths.

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "control/ActuatorCmdsBuilder.h"

namespace velmora {
namespace {

// A model whose joint ids are 0 universe, 1 base, 2.. the actuated joints "j0", "j1", ...
std::vector<std::string> modelNames(int actuated) {
  std::vector<std::string> names{"universe", "root_joint"};
  for (int i = 0; i < actuated; ++i) names.push_back("j" + std::to_string(i));
  return names;
}

ModelInfo infoWithJoints(std::vector<std::string> joints) {
  ModelInfo info;
  info.robot_name = "testbot";
  info.joints_name = std::move(joints);
  return info;
}

TEST(ActuatorCmdsBuilder, ListsKnownJointsInDescriptionOrderWithFieldsInWireOrder) {
  // Field f of joint k holds 100 f + k, so that a field or joint mix-up shows.
  ActuatorCommands commands;
  commands.setZero(4);
  for (int k = 0; k < 4; ++k) {
    commands.Kp[k] = 100 + k;
    commands.Kd[k] = 200 + k;
    commands.pos[k] = 300 + k;
    commands.vel[k] = 400 + k;
    commands.torque[k] = 500 + k;
  }
  builtin_interfaces::msg::Time stamp;
  stamp.sec = 12;
  // Another order than the model's ids, with names the model does not know: those are left out
  // of all six sequences.
  const ModelInfo info = infoWithJoints({"j2", "bogus", "j0", "j3", "j1", "also_missing"});
  const auto message = buildActuatorCmds(info, modelNames(4), commands, stamp);
  EXPECT_EQ(message.header.frame_id, "testbot");
  EXPECT_EQ(message.header.stamp.sec, 12);
  const std::vector<std::string> expected{"j2", "j0", "j3", "j1"};
  ASSERT_EQ(std::vector<std::string>(message.actuators_name.begin(), message.actuators_name.end()),
            expected);
  for (size_t i = 0; i < expected.size(); ++i) {
    const int k = std::stoi(expected[i].substr(1));  // "jk" has command index k
    EXPECT_EQ(message.kp.at(i), 100 + k) << expected[i];
    EXPECT_EQ(message.kd.at(i), 200 + k) << expected[i];
    EXPECT_EQ(message.pos.at(i), 300 + k) << expected[i];
    EXPECT_EQ(message.vel.at(i), 400 + k) << expected[i];
    EXPECT_EQ(message.torque.at(i), 500 + k) << expected[i];
  }
  // The floating base has no command entry; more joints than a message carries do not fit.
  EXPECT_THROW(buildActuatorCmds(infoWithJoints({"root_joint"}), modelNames(4), commands, stamp),
               std::invalid_argument);
  const std::vector<std::string> too_many(kMaxActuatorCmdsJoints + 1, "j0");
  EXPECT_THROW(buildActuatorCmds(infoWithJoints(too_many), modelNames(4), commands, stamp),
               std::length_error);
}

}  // namespace
}  // namespace velmora
