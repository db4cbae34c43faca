#pragma once

#include <string>

#include "description/ModelInfo.h"
#include "pinocchio/PinocchioInterface.h"

namespace velmora {

/// Reads a robot description (Boost INFO) and checks it against the robot model. Keys:
///
///   robot_name  <name>
///   base_name   <frame>
///   foot_names  { <frame> ... }          one name per line, in foot order
///   hip_names   { <frame> ... }          as many as feet, in foot order
///   joint_names { <joint> ... }          the model's actuated joints, in model order
///   base_init_pos  "x y z"               [m]
///   base_init_quat "x y z w"             normalised on loading
///   joints_init_pos    { <joint> <rad> ... }   one entry per actuated joint, any order
///   joints_nominal_pos { <joint> <rad> ... }
///
/// Joint position vectors are returned in model order.
/// Throws std::runtime_error naming the file when it cannot be read or parsed, and
/// std::invalid_argument naming the file and the key when a key is missing or malformed, or
/// naming the frame or joint when the model lacks it or the joint list differs from the model's.
ModelInfo loadModelInfo(const std::string& description_path,
                        const PinocchioInterface& pinocchio_interface);

}  // namespace velmora
