#include "sim/PlantSnapshot.h"

namespace velmora {
namespace sim {

void PlantSnapshot::copyFrom(const MujocoPlant& plant, const planner::VelocityCommand& commanded,
                             const std::string& gait_name) {
  const mjModel& model = plant.model();
  const mjData& data = plant.data();
  time_s = data.time;
  qpos.assign(data.qpos, data.qpos + model.nq);
  qvel.assign(data.qvel, data.qvel + model.nv);
  qfrc_applied.assign(data.qfrc_applied, data.qfrc_applied + model.nv);
  xfrc_applied.assign(data.xfrc_applied, data.xfrc_applied + 6 * model.nbody);
  command = commanded;
  gait = gait_name;
}

}  // namespace sim
}  // namespace velmora
