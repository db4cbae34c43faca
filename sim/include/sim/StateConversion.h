#pragma once

// Conversion of the MuJoCo plant state into the controller's generalised coordinates.
//
// MuJoCo free joint: qpos = (position [m, world], quaternion w, x, y, z), qvel = (linear velocity
// [m/s, world axes], angular velocity [rad/s, body axes]).
// Controller: qpos = (position [m, world], quaternion x, y, z, w, joint angles in model order),
// qvel = (linear and angular velocity, both in base axes, then joint rates in model order).

#include <string>
#include <vector>

#include "core/Types.h"

namespace velmora {
namespace sim {

/// Where the base and each controller joint live in the MuJoCo state vectors.
struct PlantStateLayout {
  int base_qpos_address = 0;            ///< first qpos entry of the free joint
  int base_qvel_address = 0;            ///< first qvel entry of the free joint
  std::vector<int> joint_qpos_address;  ///< per controller joint (model order)
  std::vector<int> joint_qvel_address;  ///< per controller joint (model order)
};

/// Controller qpos (7 + nJ, quaternion x, y, z, w) from MuJoCo qpos (see file header).
/// @throws std::invalid_argument when an address lies outside `mj_qpos`.
vector_t toControllerQpos(const vector_t& mj_qpos, const PlantStateLayout& layout);

/// Controller qvel (6 + nJ, linear and angular velocity in base axes) from MuJoCo qpos and qvel.
/// @throws std::invalid_argument when an address lies outside the vectors.
vector_t toControllerQvel(const vector_t& mj_qpos, const vector_t& mj_qvel,
                          const PlantStateLayout& layout);

}  // namespace sim
}  // namespace velmora
