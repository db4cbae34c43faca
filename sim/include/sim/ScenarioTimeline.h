#pragma once

// What a scenario's timeline asks of the run at a given simulation time.

#include <string>
#include <vector>

#include "planner/GaitPlanner.h"
#include "sim/ScenarioFile.h"

namespace velmora {
namespace sim {

class MujocoPlant;

/// A push on the trunk: `force_n` [N] in world axes at `point_m` [m] in trunk axes from the
/// trunk origin; a zero force when none acts.
struct TrunkPush {
  vector3_t force_n = vector3_t::Zero();
  vector3_t point_m = vector3_t::Zero();
};

/// The command, gait, pushes and plant changes of a scenario over time [s]. The queries are
/// pure functions of time; applyPlantEvents applies each payload and friction event once.
class ScenarioTimeline {
 public:
  /// Starts from `command` and `gait` (a name of gaitNames()); `command_cycle` "soak" takes the
  /// command from soakCommandAt instead; `events` in time order.
  ScenarioTimeline(const planner::VelocityCommand& command, std::string gait,
                   std::string command_cycle, std::vector<ScenarioEvent> events);

  /// The velocity command at `t`: each command event moves linearly from the command in effect
  /// at its start to its own over its ramp_s (a later event starts from where the ramp got).
  planner::VelocityCommand commandAt(double t) const;
  /// The gait name at `t`.
  const std::string& gaitAt(double t) const;
  /// The sum of the pushes acting at `t` (start inclusive, end exclusive); when several act at
  /// once their forces add and the point is the first one's.
  TrunkPush pushAt(double t) const;
  /// Applies the payload and friction events at or before `t` not applied yet, in order.
  void applyPlantEvents(double t, MujocoPlant& plant);

 private:
  planner::VelocityCommand command_;
  std::string gait_;
  std::string command_cycle_;
  std::vector<ScenarioEvent> events_;
  size_t next_plant_event_ = 0;  ///< index from which events_ may hold unapplied plant events
};

}  // namespace sim
}  // namespace velmora
