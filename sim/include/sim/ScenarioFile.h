#pragma once

// A scenario of velmora_sim as a file (Boost INFO): robot, ground, gait, command, a timeline of
// disturbances and the figures the run is expected to reach.

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "core/Types.h"
#include "sim/TerrainSpec.h"

namespace velmora {
namespace sim {

/// Floor friction coefficients a run accepts (scenario files, velmora_plant --friction).
constexpr double kMinFloorFriction = 1e-3;
constexpr double kMaxFloorFriction = 10.0;

/// One change a scenario's timeline makes at simulation time `at_s` [s].
struct ScenarioEvent {
  enum class Type {
    kCommand,   ///< new velocity command, reached linearly over ramp_s
    kGait,      ///< switch to the gait `gait`
    kPush,      ///< force_n (world axes) at point_m (trunk axes) for duration_s
    kPayload,   ///< mass_kg added to the trunk at point_m (trunk axes); the controller is not told
    kFriction,  ///< floor friction coefficient becomes mu
  };
  Type type = Type::kCommand;
  double at_s = 0.0;
  std::array<double, 3> command{};  ///< vx, vy [m/s], yaw rate [rad/s]
  double ramp_s = 0.0;              ///< [s], 0: a step
  std::string gait;
  vector3_t force_n = vector3_t::Zero();  ///< world axes [N]
  vector3_t point_m = vector3_t::Zero();  ///< trunk axes from the trunk origin [m]
  double duration_s = 0.0;                ///< push duration [s]
  double mass_kg = 0.0;
  double mu = 0.0;
};

/// Expected value of a run figure: |measured - value| <= tolerance (absolute) or
/// <= tolerance * |value| (relative).
struct ExpectedFigure {
  double value = 0.0;
  double tolerance = 0.0;
  bool relative = false;
};

/// What a scenario expects of its run; figures are measured from `from_s` on (default: the
/// second half of the run).
struct ScenarioExpectations {
  bool present = false;  ///< the file has an expect block
  bool no_fall = false;
  std::optional<double> from_s;
  std::optional<ExpectedFigure> mean_vx, mean_vy, mean_yaw_rate;
  std::optional<double> max_drift_m, max_abs_roll_rad, max_abs_pitch_rad;
};

/// The contents of a scenario file; absent keys stay empty.
struct ScenarioFile {
  std::string path;
  std::string description;
  double duration_s = 10.0;  ///< [s], 10 when the file gives none
  std::string robot_urdf;    ///< resolved path, empty when the file names none
  std::string robot_description;
  std::string params;
  std::optional<TerrainSpec> terrain;
  std::optional<double> friction;
  std::string gait;                              ///< initial gait, empty when absent
  std::optional<std::array<double, 3>> command;  ///< vx, vy [m/s], yaw rate [rad/s]
  std::string command_cycle;                     ///< "soak" or empty
  std::vector<ScenarioEvent> timeline;           ///< in time order
  ScenarioExpectations expect;
  bool ci_test = false;  ///< the build runs the scenario as a test
};

/// Reads the scenario file `path`. Robot paths that are relative are resolved against
/// `robots_dir` first, then against the file's directory.
/// @throws UsageError naming the file, the line and the key at fault: syntax errors, unknown
///         keys, values of the wrong type or out of range (negative durations, NaN), unknown
///         gait names, timeline events out of order or at or past the end of the run.
ScenarioFile readScenarioFile(const std::string& path, const std::string& robots_dir);

/// The file `scenario` names: itself when it contains '/' or ends in ".info", otherwise
/// `scenarios_dir`/`scenario`.info.
/// @throws UsageError when that file does not exist (listing the bundled names for a name).
std::string scenarioFilePath(const std::string& scenario, const std::string& scenarios_dir);

}  // namespace sim
}  // namespace velmora
