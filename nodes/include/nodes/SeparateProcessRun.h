#pragma once

// velmora_sim --transport dds: the plant and the host as separate ROS 2 processes.

#include <atomic>
#include <ostream>
#include <string>

#include "sim/ScenarioRunner.h"
#include "sim/SimOptions.h"

namespace velmora {
namespace nodes {

/// Runs `options` (real time, transport "dds") with velmora_plant and velmora_host started as
/// child processes from the directory `node_dir` (velmora_sim's own), all three with
/// RMW_IMPLEMENTATION=rmw_cyclonedds_cpp and the inherited ROS_DOMAIN_ID, the plant on
/// options.terrain with floor friction options.friction. Once the host's first actuators_cmds
/// arrive, plays the scenario's command on cmd_vel for options.duration_s and records the run
/// from odom (every 10 ms) and the actuators_cmds it sees (their count: report.messages); the
/// optimisers' figures, the height error and the drift are not seen here (null). Stops early
/// when the robot fell. Both children are stopped on return (SIGTERM, SIGKILL after 0.5 s).
/// @throws std::runtime_error naming the child and its exit status when one ends during the
///         run, when `stop` becomes true (a signal), or when no command arrives within 60 s.
sim::RunResult runScenarioAsProcesses(const sim::SimOptions& options, std::ostream& progress,
                                      const std::atomic<bool>& stop, const std::string& node_dir);

}  // namespace nodes
}  // namespace velmora
