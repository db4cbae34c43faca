#pragma once

// Command-line options of velmora_sim.

#include <array>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/FaultInjector.h"
#include "sim/ScenarioFile.h"
#include "sim/TerrainSpec.h"

namespace velmora {
namespace sim {

/// A bad command line or input file; the program reports it and exits with code 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// Everything a run needs to know. Defaults give the bundled robot and the scenario's own
/// command and duration.
struct SimOptions {
  std::string scenario = "stand";  ///< name of the scenario (a bundled one or a file's stem)
  std::string scenario_file;       ///< the scenario file the run was read from
  double vx = 0.0;                 ///< [m/s]
  double vy = 0.0;                 ///< [m/s]
  double yaw_rate = 0.0;           ///< [rad/s]
  double duration_s = 10.0;
  std::string gait;           ///< gait of the run, a name of the gait table; empty: the scenario's
  TerrainSpec terrain;        ///< the simulated ground (flat by default)
  double friction = 1.0;      ///< floor friction coefficient at the start
  std::string command_cycle;  ///< "soak": the command follows soakCommandAt
  std::vector<ScenarioEvent> timeline;  ///< commands, gaits and disturbances, in time order
  ScenarioExpectations expect;          ///< what the run is checked against
  bool lockstep = false;
  std::string robot_urdf;
  std::string robot_description;
  std::string params;
  std::string out_dir = "sim_out";
  bool quiet = false;             ///< no progress lines (tests)
  std::vector<FaultSpec> faults;  ///< injected faults, in the order given
  unsigned fault_seed = 1;        ///< seed of the random faults (drops, encoder noise)
  std::string video_path;         ///< .mp4 or .gif to record; empty: no video
  int video_fps = 30;             ///< frames per simulated second
  int video_width = 960;          ///< [pixels]
  int video_height = 540;         ///< [pixels]
  std::string camera = "follow";  ///< follow | side | top
  bool show_forces = false;       ///< contact forces drawn as arrows in the video and viewer
  bool viewer = false;            ///< live window with keyboard driving (real time only)
  /// "inproc": plant, host and controller in this process; "dds": velmora_plant and
  /// velmora_host as child processes talking over DDS (real time only).
  std::string transport = "inproc";
};

/// Parses `args` (without the program name). `--scenario NAME` reads the bundled scenario file
/// NAME.info from the directory `scenarios` beside `robots_dir` (default: stand), `--scenario
/// FILE` (containing '/' or ending in .info) a user's file; explicit flags override the file's
/// values (a file without a gait trots). `--fault NAME@T` is repeatable;
/// mpc_fail needs `--lockstep`. `--video FILE` (.mp4 or .gif) needs ffmpeg on PATH (whether
/// FILE can be written is checked when the run starts); `--video-size WxH` takes even sizes from
/// 16x16 to 3840x2160;
/// `--gait NAME` takes a gait of the gait table (gaitNames()).
/// `--viewer` needs real time and a display (DISPLAY). `--transport dds` needs real time, flat
/// ground, a scenario of velocity commands only (one gait), and no faults, video or viewer.
/// `robots_dir` holds the bundled robot (kestrel/robot.urdf, description.info, params.info).
/// @throws UsageError naming the flag or value at fault, or a file that cannot be read.
SimOptions parseSimOptions(const std::vector<std::string>& args, const std::string& robots_dir);

/// Period [s] at which the soak scenario changes its command.
double soakCommandPeriod();

/// The soak scenario's command at simulation time `t` [s]: vx, vy [m/s] and yaw rate [rad/s]
/// stepping every soakCommandPeriod() through a fixed cycle of walks, turns and side steps.
std::array<double, 3> soakCommandAt(double t);

/// The usage text.
std::string simUsage();

}  // namespace sim
}  // namespace velmora
