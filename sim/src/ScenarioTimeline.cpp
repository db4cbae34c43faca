#include "sim/ScenarioTimeline.h"

#include <algorithm>

#include "sim/MujocoPlant.h"
#include "sim/SimOptions.h"

namespace velmora {
namespace sim {

ScenarioTimeline::ScenarioTimeline(const planner::VelocityCommand& command, std::string gait,
                                   std::string command_cycle, std::vector<ScenarioEvent> events)
    : command_(command),
      gait_(std::move(gait)),
      command_cycle_(std::move(command_cycle)),
      events_(std::move(events)) {}

planner::VelocityCommand ScenarioTimeline::commandAt(double t) const {
  if (command_cycle_ == "soak") {
    const std::array<double, 3> c = soakCommandAt(t);
    return planner::VelocityCommand{c[0], c[1], c[2]};
  }
  // The ramp in effect: from `from` at `start` to `to` over `ramp` seconds.
  double start = 0.0, ramp = 0.0;
  std::array<double, 3> from{command_.vx, command_.vy, command_.yaw_rate};
  std::array<double, 3> to = from;
  const auto value = [&](double time) {
    const double s = ramp > 0.0 ? std::clamp((time - start) / ramp, 0.0, 1.0) : 1.0;
    return std::array<double, 3>{from[0] + s * (to[0] - from[0]), from[1] + s * (to[1] - from[1]),
                                 from[2] + s * (to[2] - from[2])};
  };
  for (const ScenarioEvent& event : events_) {
    if (event.at_s > t) break;
    if (event.type != ScenarioEvent::Type::kCommand) continue;
    from = value(event.at_s);
    to = event.command;
    start = event.at_s;
    ramp = event.ramp_s;
  }
  const std::array<double, 3> c = value(t);
  return planner::VelocityCommand{c[0], c[1], c[2]};
}

const std::string& ScenarioTimeline::gaitAt(double t) const {
  const std::string* gait = &gait_;
  for (const ScenarioEvent& event : events_) {
    if (event.at_s > t) break;
    if (event.type == ScenarioEvent::Type::kGait) gait = &event.gait;
  }
  return *gait;
}

TrunkPush ScenarioTimeline::pushAt(double t) const {
  TrunkPush push;
  bool first = true;
  for (const ScenarioEvent& event : events_) {
    if (event.at_s > t) break;
    if (event.type != ScenarioEvent::Type::kPush || t >= event.at_s + event.duration_s) continue;
    push.force_n += event.force_n;
    if (first) push.point_m = event.point_m;
    first = false;
  }
  return push;
}

void ScenarioTimeline::applyPlantEvents(double t, MujocoPlant& plant) {
  for (; next_plant_event_ < events_.size() && events_[next_plant_event_].at_s <= t;
       ++next_plant_event_) {
    const ScenarioEvent& event = events_[next_plant_event_];
    if (event.type == ScenarioEvent::Type::kPayload) plant.addPayload(event.mass_kg, event.point_m);
    if (event.type == ScenarioEvent::Type::kFriction) plant.setFloorFriction(event.mu);
  }
}

}  // namespace sim
}  // namespace velmora
