#pragma once

#include <string>
#include <vector>

#include "core/Types.h"

namespace velmora {

/// The robot description: names of the frames and joints the controller works with.
/// Foot order (the order of `foot_name`) is the order of contact flags and force blocks
/// everywhere; `joints_name` lists the actuated joints in the model's joint order.
struct ModelInfo {
  std::string robot_name;                            ///< frame id of published commands
  std::string base_name;                             ///< frame of the floating base
  std::vector<std::string> foot_name;                ///< foot frames, in foot order
  std::vector<std::string> hip_name;                 ///< hip frames, in foot order
  std::vector<std::string> joints_name;              ///< actuated joints, in model order
  vector3_t base_init_pos = vector3_t::Zero();       ///< initial base position in world [m]
  vector4_t base_init_quat = vector4_t(0, 0, 0, 1);  ///< initial base orientation (x, y, z, w)
  vector_t joints_init_pos;                          ///< initial joint positions [rad], model order
  vector_t joints_nominal_pos;                       ///< nominal joint positions [rad], model order
};

}  // namespace velmora
