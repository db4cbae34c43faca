#include "sim/SimOptions.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "core/misc/Numerics.h"
#include "sim/DrivingCommand.h"
#include "sim/VideoEncoder.h"

namespace velmora {
namespace sim {
namespace {

double parseNumber(const std::string& flag, const std::string& text) {
  const auto value = numerics::parseFiniteNumber(text);
  if (!value) {
    throw UsageError("velmora_sim: " + flag + " expects a finite number, got '" + text + "'");
  }
  return *value;
}

void requireReadable(const std::string& flag, const std::string& path) {
  if (!std::ifstream(path).good()) {
    throw UsageError("velmora_sim: cannot read the file '" + path + "' given by " + flag);
  }
}

/// Parses "WxH" of --video-size into `width` and `height`.
void parseVideoSize(const std::string& value, int& width, int& height) {
  const size_t x = value.find('x');
  const auto dimension = [&value](const std::string& text) {
    size_t used = 0;
    long number = 0;
    try {
      number = std::stol(text, &used);
    } catch (const std::exception&) {
      used = 0;
    }
    if (used == 0 || used != text.size()) {
      throw UsageError("velmora_sim: --video-size expects WIDTHxHEIGHT in pixels, got '" + value +
                       "'");
    }
    return number;
  };
  if (x == std::string::npos) {
    throw UsageError("velmora_sim: --video-size expects WIDTHxHEIGHT in pixels, got '" + value +
                     "'");
  }
  const long w = dimension(value.substr(0, x));
  const long h = dimension(value.substr(x + 1));
  if (w < 16 || h < 16 || w > 3840 || h > 2160 || w % 2 != 0 || h % 2 != 0) {
    throw UsageError("velmora_sim: --video-size '" + value +
                     "' must have even sizes from 16x16 to 3840x2160");
  }
  width = static_cast<int>(w);
  height = static_cast<int>(h);
}

/// Checks that the video can be made: a known extension and ffmpeg on PATH.
void checkVideoOutput(const std::string& path) {
  const auto ends_with = [&path](const std::string& suffix) {
    return path.size() > suffix.size() &&
           path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0;
  };
  if (!ends_with(".mp4") && !ends_with(".gif")) {
    throw UsageError("velmora_sim: --video '" + path + "' must end in .mp4 or .gif");
  }
  if (findOnPath("ffmpeg").empty()) {
    throw UsageError(
        "velmora_sim: --video needs the program 'ffmpeg', which is not on PATH (install the "
        "Debian package ffmpeg)");
  }
}

/// Fills `options` from the scenario file `scenario` names (bundled in the directory
/// `scenarios` beside `robots_dir`, or a path); robot files given by flags stay.
void applyScenarioFile(const std::string& scenario, const std::string& robots_dir,
                       SimOptions& options) {
  std::filesystem::path robots = std::filesystem::path(robots_dir).lexically_normal();
  if (!robots.has_filename()) robots = robots.parent_path();
  const std::string path =
      scenarioFilePath(scenario, (robots.parent_path() / "scenarios").string());
  const ScenarioFile file = readScenarioFile(path, robots_dir);
  options.scenario = std::filesystem::path(path).stem().string();
  options.scenario_file = path;
  options.duration_s = file.duration_s;
  if (file.command) {
    options.vx = (*file.command)[0];
    options.vy = (*file.command)[1];
    options.yaw_rate = (*file.command)[2];
  }
  if (options.gait.empty()) options.gait = file.gait.empty() ? "trot" : file.gait;
  if (file.terrain) options.terrain = *file.terrain;
  if (file.friction) options.friction = *file.friction;
  options.command_cycle = file.command_cycle;
  options.timeline = file.timeline;
  options.expect = file.expect;
  if (options.robot_urdf.empty()) options.robot_urdf = file.robot_urdf;
  if (options.robot_description.empty()) options.robot_description = file.robot_description;
  if (options.params.empty()) options.params = file.params;
}

}  // namespace

double soakCommandPeriod() { return 10.0; }

std::array<double, 3> soakCommandAt(double t) {
  // Forward, turn left, side step, back, forward while turning right, trot in place.
  static constexpr std::array<std::array<double, 3>, 6> kCycle{{{0.4, 0.0, 0.0},
                                                                {0.0, 0.0, 0.6},
                                                                {0.0, 0.2, 0.0},
                                                                {-0.2, 0.0, 0.0},
                                                                {0.3, 0.0, -0.4},
                                                                {0.0, 0.0, 0.0}}};
  const double step = std::floor(std::max(0.0, t) / soakCommandPeriod());
  return kCycle[static_cast<size_t>(std::fmod(step, static_cast<double>(kCycle.size())))];
}

std::string simUsage() {
  return "usage: velmora_sim [--scenario NAME|FILE.info] [--vx M_S] [--vy M_S]\n"
         "                   [--yaw-rate RAD_S] [--duration S] [--gait NAME] [--lockstep]\n"
         "                   [--robot-urdf FILE] [--robot-description FILE] [--params FILE]\n"
         "                   [--out DIR] [--fault NAME@SECONDS]... (faults: " +
         faultNames() +
         "; mpc_fail in lockstep only)\n"
         "                   [--video FILE.mp4|FILE.gif] [--video-fps N] [--video-size WxH]\n"
         "                   [--camera follow|side|top] [--show-forces] [--viewer]\n"
         "                   [--transport inproc|dds]\n"
         "                   [--terrain flat|slope:DEG[:HEADING_DEG]|\n"
         "                              steps:H_M[:DEPTH_M[:COUNT[:START_X_M]]]|\n"
         "                              rough:AMPLITUDE_M[:WAVELENGTH_M[:SEED]]]\n"
         "scenarios: NAME is a bundled file (stand, trot_in_place, walk, turn, push, soak, "
         "push_8_directions,\n"
         "  payload_3kg, ...), a path names your own; flags override the file's values; a run "
         "that misses\n"
         "  the file's expect figures exits with 4 (a fall: 3); with --vx, --vy, --yaw-rate or\n"
         "  --duration only its no_fall is checked\n"
         "viewer keys: arrows change the velocity command, space stops, G next gait, Esc ends\n";
}

SimOptions parseSimOptions(const std::vector<std::string>& args, const std::string& robots_dir) {
  SimOptions options;
  std::optional<double> vx, vy, yaw_rate, duration;
  std::string scenario = "stand";
  for (size_t k = 0; k < args.size(); ++k) {
    const std::string& flag = args[k];
    if (flag == "--lockstep") {
      options.lockstep = true;
      continue;
    }
    if (flag == "--quiet") {
      options.quiet = true;
      continue;
    }
    if (flag == "--show-forces") {
      options.show_forces = true;
      continue;
    }
    if (flag == "--viewer") {
      options.viewer = true;
      continue;
    }
    static const char* const kValued[] = {
        "--scenario",          "--vx",     "--vy",   "--yaw-rate", "--duration", "--robot-urdf",
        "--robot-description", "--params", "--out",  "--fault",    "--video",    "--video-fps",
        "--video-size",        "--camera", "--gait", "--terrain",  "--transport"};
    bool known = false;
    for (const char* name : kValued) known = known || flag == name;
    if (!known) throw UsageError("velmora_sim: unknown flag '" + flag + "'");
    if (k + 1 >= args.size()) throw UsageError("velmora_sim: " + flag + " needs a value");
    const std::string& value = args[++k];
    if (flag == "--scenario") {
      if (value.empty()) throw UsageError("velmora_sim: --scenario needs a name or a file");
      scenario = value;
    } else if (flag == "--vx") {
      vx = parseNumber(flag, value);
    } else if (flag == "--vy") {
      vy = parseNumber(flag, value);
    } else if (flag == "--yaw-rate") {
      yaw_rate = parseNumber(flag, value);
    } else if (flag == "--duration") {
      duration = parseNumber(flag, value);
      if (*duration <= 0.0 || *duration > 3600.0) {
        throw UsageError("velmora_sim: --duration must lie in (0, 3600] s, got '" + value + "'");
      }
    } else if (flag == "--robot-urdf") {
      options.robot_urdf = value;
    } else if (flag == "--robot-description") {
      options.robot_description = value;
    } else if (flag == "--params") {
      options.params = value;
    } else if (flag == "--out") {
      if (value.empty()) throw UsageError("velmora_sim: --out needs a directory name");
      options.out_dir = value;
    } else if (flag == "--fault") {
      options.faults.push_back(parseFaultSpec(flag, value));
    } else if (flag == "--video") {
      if (value.empty()) throw UsageError("velmora_sim: --video needs a file name");
      options.video_path = value;
    } else if (flag == "--video-fps") {
      const double fps = parseNumber(flag, value);
      if (fps < 1.0 || fps > 240.0 || fps != std::floor(fps)) {
        throw UsageError("velmora_sim: --video-fps must be a whole number from 1 to 240, got '" +
                         value + "'");
      }
      options.video_fps = static_cast<int>(fps);
    } else if (flag == "--video-size") {
      parseVideoSize(value, options.video_width, options.video_height);
    } else if (flag == "--gait") {
      try {
        planner::gaitNamed(value);
      } catch (const std::invalid_argument& error) {
        throw UsageError(std::string("velmora_sim: --gait: ") + error.what());
      }
      options.gait = value;
    } else if (flag == "--terrain") {
      try {
        options.terrain = parseTerrainSpec(value);
      } catch (const std::invalid_argument& error) {
        throw UsageError("velmora_sim: --terrain '" + value + "': " + error.what());
      }
    } else if (flag == "--transport") {
      if (value != "inproc" && value != "dds") {
        throw UsageError("velmora_sim: --transport must be inproc or dds, got '" + value + "'");
      }
      options.transport = value;
    } else if (flag == "--camera") {
      if (value != "follow" && value != "side" && value != "top") {
        throw UsageError("velmora_sim: --camera must be follow, side or top, got '" + value + "'");
      }
      options.camera = value;
    }
  }
  if (options.viewer && options.lockstep) {
    throw UsageError("velmora_sim: --viewer runs in real time only; drop --lockstep");
  }
  if (options.viewer && !options.video_path.empty()) {
    throw UsageError("velmora_sim: --viewer and --video cannot be combined; record without it");
  }
  if (options.viewer) {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') {
      throw UsageError("velmora_sim: --viewer needs a display, but DISPLAY is not set");
    }
  }
  applyScenarioFile(scenario, robots_dir, options);
  if (vx || vy || yaw_rate || duration) {
    // The file's figures belong to its own command and duration; only no_fall still applies.
    ScenarioExpectations expect;
    expect.present = options.expect.present;
    expect.no_fall = options.expect.no_fall;
    options.expect = expect;
  }
  options.duration_s = duration.value_or(options.duration_s);
  options.vx = vx.value_or(options.vx);
  options.vy = vy.value_or(options.vy);
  options.yaw_rate = yaw_rate.value_or(options.yaw_rate);
  for (const FaultSpec& fault : options.faults) {
    if (fault.kind == FaultKind::kMpcFail && !options.lockstep) {
      throw UsageError(
          "velmora_sim: --fault mpc_fail needs --lockstep (in real time the contact "
          "force optimisation runs inside the controller's threads)");
    }
  }
  for (const FaultSpec& fault : options.faults) {
    if (fault.start_s >= options.duration_s) {
      std::ostringstream message;
      message << "velmora_sim: --fault " << faultName(fault.kind) << "@" << fault.start_s
              << " starts at or after the end of the run (" << options.duration_s << " s)";
      throw UsageError(message.str());
    }
  }
  if (options.transport == "dds") {
    const auto refuse = [](const std::string& what) {
      throw UsageError("velmora_sim: --transport dds cannot run " + what +
                       " (the plant runs in its own process)");
    };
    if (options.lockstep) refuse("in lockstep");
    if (!options.faults.empty()) refuse("--fault");
    if (!options.video_path.empty() || options.viewer) refuse("--video or --viewer");
    for (const ScenarioEvent& event : options.timeline) {
      if (event.type != ScenarioEvent::Type::kCommand) {
        refuse("a scenario with gait changes, pushes, payloads or friction changes");
      }
    }
  }
  if (options.robot_urdf.empty()) options.robot_urdf = robots_dir + "/kestrel/robot.urdf";
  if (options.robot_description.empty()) {
    options.robot_description = robots_dir + "/kestrel/description.info";
  }
  if (options.params.empty()) options.params = robots_dir + "/kestrel/params.info";
  requireReadable("--robot-urdf", options.robot_urdf);
  requireReadable("--robot-description", options.robot_description);
  requireReadable("--params", options.params);
  if (!options.video_path.empty()) checkVideoOutput(options.video_path);
  return options;
}

}  // namespace sim
}  // namespace velmora
