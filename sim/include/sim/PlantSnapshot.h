#pragma once

// What a picture of the running simulation needs, copied out of the plant.

#include <string>
#include <vector>

#include "planner/GaitPlanner.h"
#include "sim/MujocoPlant.h"

namespace velmora {
namespace sim {

/// A copy of the plant's state at one instant plus the command in effect, so that a frame can
/// be drawn from it on another thread while the plant steps on.
struct PlantSnapshot {
  double time_s = 0.0;               ///< simulation time [s]
  std::vector<double> qpos, qvel;    ///< MuJoCo's generalised position and velocity
  std::vector<double> qfrc_applied;  ///< joint torques being applied [N m]
  std::vector<double> xfrc_applied;  ///< external body wrenches being applied (world)
  planner::VelocityCommand command;  ///< the commanded velocity
  std::string gait;                  ///< name of the commanded gait ("stand", "trot")

  /// Copies the state of `plant` (in place, reusing this snapshot's storage).
  void copyFrom(const MujocoPlant& plant, const planner::VelocityCommand& commanded,
                const std::string& gait_name);
};

}  // namespace sim
}  // namespace velmora
