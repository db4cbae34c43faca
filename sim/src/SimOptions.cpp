#include "sim/SimOptions.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

namespace velmora {
namespace sim {
namespace {

double parseNumber(const std::string& flag, const std::string& text) {
  size_t used = 0;
  double value = 0.0;
  try {
    value = std::stod(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != text.size() || !std::isfinite(value)) {
    throw UsageError("velmora_sim: " + flag + " expects a finite number, got '" + text + "'");
  }
  return value;
}

void requireReadable(const std::string& flag, const std::string& path) {
  if (!std::ifstream(path).good()) {
    throw UsageError("velmora_sim: cannot read the file '" + path + "' given by " + flag);
  }
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
  return "usage: velmora_sim [--scenario stand|trot_in_place|walk|turn|push|soak] [--vx M_S] "
         "[--vy M_S]\n"
         "                   [--yaw-rate RAD_S] [--duration S] [--lockstep] [--robot-urdf FILE]\n"
         "                   [--robot-description FILE] [--params FILE] [--out DIR]\n"
         "                   [--fault NAME@SECONDS]... (faults: " +
         faultNames() + "; mpc_fail in lockstep only)\n";
}

SimOptions parseSimOptions(const std::vector<std::string>& args, const std::string& robots_dir) {
  SimOptions options;
  std::optional<double> vx, vy, yaw_rate, duration;
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
    static const char* const kValued[] = {
        "--scenario",          "--vx",     "--vy",  "--yaw-rate", "--duration", "--robot-urdf",
        "--robot-description", "--params", "--out", "--fault"};
    bool known = false;
    for (const char* name : kValued) known = known || flag == name;
    if (!known) throw UsageError("velmora_sim: unknown flag '" + flag + "'");
    if (k + 1 >= args.size()) throw UsageError("velmora_sim: " + flag + " needs a value");
    const std::string& value = args[++k];
    if (flag == "--scenario") {
      if (value != "stand" && value != "trot_in_place" && value != "walk" && value != "turn" &&
          value != "push" && value != "soak") {
        throw UsageError("velmora_sim: unknown scenario '" + value +
                         "' (stand, trot_in_place, walk, turn, push or soak)");
      }
      options.scenario = value;
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
    }
  }
  const std::map<std::string, double> default_duration = {{"stand", 10.0}, {"trot_in_place", 20.0},
                                                          {"walk", 20.0},  {"turn", 20.0},
                                                          {"push", 10.0},  {"soak", 1800.0}};
  options.duration_s = duration.value_or(default_duration.at(options.scenario));
  options.vx = vx.value_or(options.scenario == "walk" ? 0.5 : 0.0);
  options.vy = vy.value_or(0.0);
  options.yaw_rate = yaw_rate.value_or(options.scenario == "turn" ? 1.0 : 0.0);
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
  if (options.robot_urdf.empty()) options.robot_urdf = robots_dir + "/kestrel/robot.urdf";
  if (options.robot_description.empty()) {
    options.robot_description = robots_dir + "/kestrel/description.info";
  }
  if (options.params.empty()) options.params = robots_dir + "/kestrel/params.info";
  requireReadable("--robot-urdf", options.robot_urdf);
  requireReadable("--robot-description", options.robot_description);
  requireReadable("--params", options.params);
  return options;
}

}  // namespace sim
}  // namespace velmora
