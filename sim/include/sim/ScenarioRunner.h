#pragma once

// Runs one closed-loop scenario: the plant, the host's planner and the controller together.

#include <functional>
#include <ostream>
#include <vector>

#include "communication/msg/actuator_cmds.hpp"
#include "sim/RunLog.h"
#include "sim/SimOptions.h"

namespace velmora {
namespace sim {

/// Samples and figures of one run.
struct RunResult {
  RunReport report;
  std::vector<RunSample> samples;  ///< every 0.01 s of simulation time
};

/// Sees every command message the plant applies, with the simulation time [s] it is applied at.
using CommandObserver =
    std::function<void(double time_s, const communication::msg::ActuatorCmds& message)>;

/// Runs `options` in lockstep (simulation time drives the node clock; the planner, the contact
/// force optimisation and the whole-body controller are called at their periods) or in real
/// time (a MotionController with its threads, commands through the topic). Prints a progress
/// line per simulated second to `progress` unless options.quiet. Stops early once the robot fell.
/// Both modes inject options.faults (mpc_fail only in lockstep). In lockstep the run applies the
/// publication rule of the controller's loop (CommandWatchdog) between the whole-body controller
/// and the plant; an optimiser that throws is counted and leaves its last output in place. In
/// real time the controller's own loops do all that and the run sees their messages. `observer`,
/// when set, sees each applied message.
/// @throws UsageError when the robot or parameter files are rejected; other exceptions of the
///         controller construction pass through.
RunResult runScenario(const SimOptions& options, std::ostream& progress,
                      const CommandObserver& observer = {});

/// Writes report.json, log.csv, plot.svg and the page report.html (figures, plot, the program's
/// `command_line` with its name first, the robot files of `options`) into `out_dir` (created if
/// missing).
/// @throws std::runtime_error naming the file that cannot be written; std::invalid_argument
///         when `result` holds no samples.
void writeRunFiles(const RunResult& result, const SimOptions& options, const std::string& out_dir,
                   const std::vector<std::string>& command_line = {});

}  // namespace sim
}  // namespace velmora
