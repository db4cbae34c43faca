#pragma once

// Mapping of the whole-body controller's joint commands onto the ActuatorCmds message.
//
// Command vectors are indexed by actuated joint: entry k belongs to joint id k + 2 of the robot
// model (id 0 is the universe, id 1 the floating base). The message lists joints in the order of
// ModelInfo::joints_name, with its five value sequences in wire order kp, pos, kd, vel, torque.

#include <string>
#include <vector>

#include "builtin_interfaces/msg/time.hpp"
#include "common/ControlData.h"
#include "communication/msg/actuator_cmds.hpp"
#include "description/ModelInfo.h"

namespace velmora {

/// Most joints one ActuatorCmds message can carry (the bound of its sequences).
constexpr size_t kMaxActuatorCmdsJoints = 30;

/// Builds one ActuatorCmds message: `header.frame_id` = `modelInfo.robot_name`,
/// `header.stamp` = `stamp`, then one entry per name of `modelInfo.joints_name`, in that order,
/// for each name found in `model_joint_names` (the model's joint names indexed by joint id);
/// unknown names are skipped, so the six sequences always have equal length. Values are
/// rounded to the nearest 32-bit float.
/// @throws std::invalid_argument naming the joint when a listed name is not an actuated joint
///         (id below 2) or when `commands` has no entry for it (a vector shorter than id - 1);
///         std::length_error when more than kMaxActuatorCmdsJoints joints are to be listed.
communication::msg::ActuatorCmds buildActuatorCmds(
    const ModelInfo& modelInfo, const std::vector<std::string>& model_joint_names,
    const ActuatorCommands& commands, const builtin_interfaces::msg::Time& stamp);

}  // namespace velmora
