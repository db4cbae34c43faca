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

const builtin_interfaces::msg::Time kNoStamp;

ModelInfo infoWithJoints(std::vector<std::string> joints) {
  ModelInfo info;
  info.robot_name = "testbot";
  info.joints_name = std::move(joints);
  return info;
}

TEST(ActuatorCmdsBuilder, ListsKnownJointsInDescriptionOrderWithFieldsInWireOrder) {
  // The description lists the joints in another order than the model's ids, with two names
  // the model does not know: those are left out of all six sequences.
  const ModelInfo info = infoWithJoints({"j2", "bogus", "j0", "j3", "j1", "also_missing"});
  builtin_interfaces::msg::Time stamp;
  stamp.sec = 12;
  stamp.nanosec = 345;
  const auto message = buildActuatorCmds(info, modelNames(4), labelledCommands(4), stamp);
  EXPECT_EQ(message.header.frame_id, "testbot");
  EXPECT_EQ(message.header.stamp.sec, 12);
  EXPECT_EQ(message.header.stamp.nanosec, 345u);
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
}

TEST(ActuatorCmdsBuilder, RejectsJointsWithoutACommandEntryAndOverlongMessages) {
  ActuatorCommands short_commands = labelledCommands(3);
  short_commands.vel.conservativeResize(2);  // the last joint's entry is missing in one field
  const int n = static_cast<int>(kMaxActuatorCmdsJoints);
  std::vector<std::string> too_many;
  for (int i = 0; i <= n; ++i) too_many.push_back("j" + std::to_string(i));
  struct Case {
    std::vector<std::string> joints;
    int model_joints;
    ActuatorCommands commands;
    std::string fragment;  // the error names it
  };
  const std::vector<Case> cases{{{"j0", "root_joint"}, 2, labelledCommands(2), "root_joint"},
                                {{"j0", "j1", "j2"}, 3, short_commands, "'j2'"},
                                {too_many, n + 1, labelledCommands(n + 1), ""}};
  for (const Case& c : cases) {
    try {
      buildActuatorCmds(infoWithJoints(c.joints), modelNames(c.model_joints), c.commands, kNoStamp);
      ADD_FAILURE() << "accepted; expected an error naming '" << c.fragment << "'";
    } catch (const std::logic_error& error) {  // invalid_argument, length_error
      EXPECT_NE(std::string(error.what()).find(c.fragment), std::string::npos) << error.what();
    }
  }
}

}  // namespace
}  // namespace velmora
