// The mapping of joint commands onto one ActuatorCmds message: joint order, wire order of the
// five value sequences, unknown joints, float rounding and the error paths.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
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

// Commands whose every entry tells field and joint apart: field f of joint k holds 100 f + k.
ActuatorCommands labelledCommands(int n) {
  ActuatorCommands commands;
  commands.setZero(static_cast<size_t>(n));
  for (int k = 0; k < n; ++k) {
    commands.Kp[k] = 100 + k;
    commands.Kd[k] = 200 + k;
    commands.pos[k] = 300 + k;
    commands.vel[k] = 400 + k;
    commands.torque[k] = 500 + k;
  }
  return commands;
}

ModelInfo infoWithJoints(std::vector<std::string> joints) {
  ModelInfo info;
  info.robot_name = "testbot";
  info.joints_name = std::move(joints);
  return info;
}

builtin_interfaces::msg::Time stampAt(int32_t sec, uint32_t nanosec) {
  builtin_interfaces::msg::Time stamp;
  stamp.sec = sec;
  stamp.nanosec = nanosec;
  return stamp;
}

TEST(ActuatorCmdsBuilder, ListsJointsInDescriptionOrderWithFieldsInWireOrder) {
  // The description lists the joints in a different order from the model's ids.
  const ModelInfo info = infoWithJoints({"j2", "j0", "j3", "j1"});
  const auto message =
      buildActuatorCmds(info, modelNames(4), labelledCommands(4), stampAt(12, 345));
  EXPECT_EQ(message.header.frame_id, "testbot");
  EXPECT_EQ(message.header.stamp.sec, 12);
  EXPECT_EQ(message.header.stamp.nanosec, 345u);
  ASSERT_EQ(message.actuators_name.size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    const std::string& name = info.joints_name[i];
    EXPECT_EQ(message.actuators_name[i], name);
    const int k = std::stoi(name.substr(1));  // "jk" has command index k
    EXPECT_EQ(message.kp[i], 100 + k) << name;
    EXPECT_EQ(message.kd[i], 200 + k) << name;
    EXPECT_EQ(message.pos[i], 300 + k) << name;
    EXPECT_EQ(message.vel[i], 400 + k) << name;
    EXPECT_EQ(message.torque[i], 500 + k) << name;
  }
}

TEST(ActuatorCmdsBuilder, UnknownJointsAreLeftOutOfAllSixSequences) {
  const ModelInfo info = infoWithJoints({"j0", "bogus_joint", "j2", "j1", "also_missing"});
  const auto message = buildActuatorCmds(info, modelNames(3), labelledCommands(3), stampAt(0, 0));
  const std::vector<std::string> expected{"j0", "j2", "j1"};
  EXPECT_EQ(std::vector<std::string>(message.actuators_name.begin(), message.actuators_name.end()),
            expected);
  for (size_t size : {message.kp.size(), message.pos.size(), message.kd.size(), message.vel.size(),
                      message.torque.size()}) {
    EXPECT_EQ(size, expected.size());
  }
  EXPECT_EQ(message.torque[1], 502.0f);  // j2 keeps its own entry after the skipped name
}

TEST(ActuatorCmdsBuilder, EmptyDescriptionGivesAnEmptyMessage) {
  const auto message =
      buildActuatorCmds(infoWithJoints({}), modelNames(3), labelledCommands(3), stampAt(0, 0));
  EXPECT_TRUE(message.actuators_name.empty());
  EXPECT_TRUE(message.kp.empty() && message.pos.empty() && message.kd.empty() &&
              message.vel.empty() && message.torque.empty());
}

TEST(ActuatorCmdsBuilder, ValuesAreRoundedToTheNearestFloat) {
  ActuatorCommands commands = labelledCommands(1);
  commands.pos[0] = 0.1;  // not representable: rounds to the nearest float
  commands.torque[0] = 1.0 + 1e-9;
  commands.vel[0] = -std::numeric_limits<double>::infinity();
  commands.Kd[0] = std::numeric_limits<double>::quiet_NaN();
  const auto message =
      buildActuatorCmds(infoWithJoints({"j0"}), modelNames(1), commands, stampAt(0, 0));
  EXPECT_EQ(message.pos[0], 0.1f);
  EXPECT_EQ(message.torque[0], 1.0f);
  EXPECT_TRUE(std::isinf(message.vel[0]) && message.vel[0] < 0);
  EXPECT_TRUE(std::isnan(message.kd[0]));  // passed on unchecked, as produced
}

TEST(ActuatorCmdsBuilder, RejectsNamesWithoutACommandEntry) {
  // The floating base (id 1) and the universe (id 0) have no command entry.
  for (const char* name : {"root_joint", "universe"}) {
    try {
      buildActuatorCmds(infoWithJoints({"j0", name}), modelNames(2), labelledCommands(2),
                        stampAt(0, 0));
      ADD_FAILURE() << name << " accepted";
    } catch (const std::invalid_argument& error) {
      EXPECT_NE(std::string(error.what()).find(name), std::string::npos) << error.what();
    }
  }
  // Commands shorter than the model: the last joint's entry is missing in one field.
  ActuatorCommands short_commands = labelledCommands(3);
  short_commands.vel.conservativeResize(2);
  try {
    buildActuatorCmds(infoWithJoints({"j0", "j1", "j2"}), modelNames(3), short_commands,
                      stampAt(0, 0));
    ADD_FAILURE() << "short command vector accepted";
  } catch (const std::invalid_argument& error) {
    EXPECT_NE(std::string(error.what()).find("'j2'"), std::string::npos) << error.what();
  }
}

TEST(ActuatorCmdsBuilder, MoreJointsThanTheMessageCarriesRaiseALengthError) {
  const int n = static_cast<int>(kMaxActuatorCmdsJoints);
  std::vector<std::string> joints;
  for (int i = 0; i < n; ++i) joints.push_back("j" + std::to_string(i));
  const auto full = buildActuatorCmds(infoWithJoints(joints), modelNames(n + 1),
                                      labelledCommands(n + 1), stampAt(0, 0));
  EXPECT_EQ(full.actuators_name.size(), kMaxActuatorCmdsJoints);
  joints.push_back("j" + std::to_string(n));
  EXPECT_THROW(buildActuatorCmds(infoWithJoints(joints), modelNames(n + 1), labelledCommands(n + 1),
                                 stampAt(0, 0)),
               std::length_error);
}

}  // namespace
}  // namespace velmora
