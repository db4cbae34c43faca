#include "control/ActuatorCmdsBuilder.h"

#include <algorithm>
#include <stdexcept>

namespace velmora {
namespace {

/// Index of `name` in `names`, or -1 when absent.
Eigen::Index findJointId(const std::vector<std::string>& names, const std::string& name) {
  const auto found = std::find(names.begin(), names.end(), name);
  return found == names.end() ? -1 : static_cast<Eigen::Index>(found - names.begin());
}

/// Throws unless every command vector has an entry `k` for joint `name`.
void checkCommandIndex(const ActuatorCommands& commands, Eigen::Index k, const std::string& name) {
  if (k < 0) {
    throw std::invalid_argument("buildActuatorCmds: joint '" + name +
                                "' is not an actuated joint of the robot model");
  }
  for (const vector_t* field :
       {&commands.Kp, &commands.Kd, &commands.pos, &commands.vel, &commands.torque}) {
    if (field->size() <= k) {
      throw std::invalid_argument("buildActuatorCmds: joint '" + name + "' needs command entry " +
                                  std::to_string(k) + " but a command vector has only " +
                                  std::to_string(field->size()) + " entries");
    }
  }
}

}  // namespace

communication::msg::ActuatorCmds buildActuatorCmds(
    const ModelInfo& modelInfo, const std::vector<std::string>& model_joint_names,
    const ActuatorCommands& commands, const builtin_interfaces::msg::Time& stamp) {
  communication::msg::ActuatorCmds message;
  message.header.frame_id = modelInfo.robot_name;
  message.header.stamp = stamp;
  for (const auto& name : modelInfo.joints_name) {
    const Eigen::Index joint_id = findJointId(model_joint_names, name);
    if (joint_id < 0) continue;
    const Eigen::Index k = joint_id - 2;
    checkCommandIndex(commands, k, name);
    message.actuators_name.push_back(name);
    message.kp.push_back(static_cast<float>(commands.Kp[k]));
    message.pos.push_back(static_cast<float>(commands.pos[k]));
    message.kd.push_back(static_cast<float>(commands.Kd[k]));
    message.vel.push_back(static_cast<float>(commands.vel[k]));
    message.torque.push_back(static_cast<float>(commands.torque[k]));
  }
  return message;
}

}  // namespace velmora
