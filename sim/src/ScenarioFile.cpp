#include "sim/ScenarioFile.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "core/misc/InfoFileError.h"
#include "core/misc/InfoNode.h"
#include "core/misc/Numerics.h"
#include "sim/DrivingCommand.h"
#include "sim/SimOptions.h"

namespace velmora {
namespace sim {
namespace {

namespace fs = std::filesystem;

/// Reads values of one file and reports what is wrong with them as file:line: key: problem.
class Reader {
 public:
  explicit Reader(std::string path) : path_(std::move(path)) {}

  [[noreturn]] void fail(const InfoNode& node, const std::string& key,
                         const std::string& problem) const {
    std::ostringstream message;
    message << "velmora_sim: " << path_ << ":" << node.line << ": " << key << ": " << problem;
    throw UsageError(message.str());
  }

  /// Rejects keys of `block` outside `allowed` and keys given twice.
  void onlyKeys(const InfoNode& block, const std::string& where,
                const std::set<std::string>& allowed) const {
    std::set<std::string> seen;
    for (const InfoNode& child : block.children) {
      const std::string name = where.empty() ? child.key : where + "." + child.key;
      if (allowed.count(child.key) == 0) fail(child, name, "unknown key");
      if (!seen.insert(child.key).second) fail(child, name, "given twice");
    }
  }

  const std::string& text(const InfoNode& node, const std::string& key) const {
    if (!node.children.empty()) fail(node, key, "expects a value, not a block");
    return node.value;
  }

  double number(const InfoNode& node, const std::string& key, double low, double high) const {
    const std::string& value = text(node, key);
    const auto parsed = numerics::parseFiniteNumber(value);
    if (!parsed) fail(node, key, "expects a finite number, got '" + value + "'");
    const double x = *parsed;
    if (x < low || x > high) {
      std::ostringstream range;
      range << "must lie in [" << low << ", " << high << "], got " << value;
      fail(node, key, range.str());
    }
    return x;
  }

  long integer(const InfoNode& node, const std::string& key, long low, long high) const {
    const double x = number(node, key, static_cast<double>(low), static_cast<double>(high));
    if (x != std::floor(x)) fail(node, key, "expects a whole number, got '" + node.value + "'");
    return static_cast<long>(x);
  }

  bool boolean(const InfoNode& node, const std::string& key) const {
    const std::string& value = text(node, key);
    if (value != "true" && value != "false") {
      fail(node, key, "expects true or false, got '" + value + "'");
    }
    return value == "true";
  }

  vector3_t vector(const InfoNode& node, const std::string& key) const {
    std::istringstream in(text(node, key));
    vector3_t v;
    std::string rest;
    if (!(in >> v(0) >> v(1) >> v(2)) || (in >> rest) || !v.allFinite()) {
      fail(node, key, "expects three finite numbers in quotes, got '" + node.value + "'");
    }
    return v;
  }

  const InfoNode& block(const InfoNode& node, const std::string& key) const {
    if (!node.value.empty()) fail(node, key, "expects a block { ... }, got '" + node.value + "'");
    return node;
  }

 private:
  std::string path_;
};

constexpr double kHuge = 1e9;
constexpr double kMaxDuration = 3600.0;

TerrainSpec readTerrain(const Reader& reader, const InfoNode& node) {
  static const std::map<std::string, std::pair<TerrainSpec::Type, std::set<std::string>>> kTypes = {
      {"flat", {TerrainSpec::Type::kFlat, {"type"}}},
      {"slope", {TerrainSpec::Type::kSlope, {"type", "angle_deg", "heading_deg"}}},
      {"steps", {TerrainSpec::Type::kSteps, {"type", "height_m", "depth_m", "count", "start_x_m"}}},
      {"rough", {TerrainSpec::Type::kRough, {"type", "amplitude_m", "wavelength_m", "seed"}}}};
  const InfoNode* type_node = node.child("type");
  if (type_node == nullptr) reader.fail(node, "terrain.type", "missing");
  const std::string& type = reader.text(*type_node, "terrain.type");
  const auto kind = kTypes.find(type);
  if (kind == kTypes.end()) {
    reader.fail(*type_node, "terrain.type",
                "unknown type '" + type + "' (flat, slope, steps or rough)");
  }
  reader.onlyKeys(node, "terrain", kind->second.second);
  TerrainSpec terrain;
  terrain.type = kind->second.first;
  for (const InfoNode& child : node.children) {
    const std::string& key = child.key;
    const std::string name = "terrain." + key;
    if (key == "angle_deg") terrain.angle_deg = reader.number(child, name, 0.0, 15.0);
    if (key == "heading_deg") terrain.heading_deg = reader.number(child, name, -360.0, 360.0);
    if (key == "height_m") terrain.step_height_m = reader.number(child, name, -0.05, 0.05);
    if (key == "depth_m") terrain.step_depth_m = reader.number(child, name, 0.05, 10.0);
    if (key == "count") terrain.step_count = static_cast<int>(reader.integer(child, name, 1, 100));
    if (key == "start_x_m") terrain.step_start_x_m = reader.number(child, name, -kHuge, kHuge);
    if (key == "amplitude_m") terrain.amplitude_m = reader.number(child, name, 0.0, 0.02);
    if (key == "wavelength_m") terrain.wavelength_m = reader.number(child, name, 0.01, 100.0);
    if (key == "seed") {
      terrain.seed = static_cast<uint32_t>(reader.integer(child, name, 0, 4294967295L));
    }
  }
  return terrain;
}

std::string checkedGait(const Reader& reader, const InfoNode& node, const std::string& key) {
  const std::string& name = reader.text(node, key);
  try {
    planner::gaitNamed(name);
  } catch (const std::invalid_argument& error) {
    reader.fail(node, key, error.what());
  }
  return name;
}

ScenarioEvent readEvent(const Reader& reader, const InfoNode& node) {
  using Type = ScenarioEvent::Type;
  static const std::map<std::string, std::pair<Type, std::set<std::string>>> kTypes = {
      {"command", {Type::kCommand, {"at_s", "type", "vx", "vy", "yaw_rate", "ramp_s"}}},
      {"gait", {Type::kGait, {"at_s", "type", "name"}}},
      {"push", {Type::kPush, {"at_s", "type", "force_n", "point_m", "duration_s"}}},
      {"payload", {Type::kPayload, {"at_s", "type", "mass_kg", "point_m"}}},
      {"friction", {Type::kFriction, {"at_s", "type", "mu"}}}};
  reader.block(node, "timeline.event");
  for (const char* required : {"at_s", "type"}) {
    if (node.child(required) == nullptr) {
      reader.fail(node, std::string("timeline.event.") + required, "missing");
    }
  }
  const InfoNode& type_node = *node.child("type");
  const std::string& type = reader.text(type_node, "timeline.event.type");
  const auto kind = kTypes.find(type);
  if (kind == kTypes.end()) {
    reader.fail(type_node, "timeline.event.type",
                "unknown type '" + type + "' (command, gait, push, payload or friction)");
  }
  reader.onlyKeys(node, "timeline.event", kind->second.second);
  ScenarioEvent event;
  event.type = kind->second.first;
  const std::map<Type, std::vector<std::string>> required = {
      {Type::kCommand, {}},
      {Type::kGait, {"name"}},
      {Type::kPush, {"force_n", "duration_s"}},
      {Type::kPayload, {"mass_kg"}},
      {Type::kFriction, {"mu"}}};
  for (const std::string& key : required.at(event.type)) {
    if (node.child(key) == nullptr) {
      reader.fail(node, "timeline.event." + key, "missing in an event of type " + type);
    }
  }
  for (const InfoNode& child : node.children) {
    const std::string& key = child.key;
    const std::string name = "timeline.event." + key;
    if (key == "at_s") event.at_s = reader.number(child, name, 0.0, kMaxDuration);
    if (key == "vx") event.command[0] = reader.number(child, name, -kHuge, kHuge);
    if (key == "vy") event.command[1] = reader.number(child, name, -kHuge, kHuge);
    if (key == "yaw_rate") event.command[2] = reader.number(child, name, -kHuge, kHuge);
    if (key == "ramp_s") event.ramp_s = reader.number(child, name, 0.0, kMaxDuration);
    if (key == "name") event.gait = checkedGait(reader, child, name);
    if (key == "force_n") event.force_n = reader.vector(child, name);
    if (key == "point_m") event.point_m = reader.vector(child, name);
    if (key == "duration_s") event.duration_s = reader.number(child, name, 1e-3, kMaxDuration);
    if (key == "mass_kg") event.mass_kg = reader.number(child, name, 1e-3, 1000.0);
    if (key == "mu") event.mu = reader.number(child, name, kMinFloorFriction, kMaxFloorFriction);
  }
  return event;
}

ExpectedFigure readFigure(const Reader& reader, const InfoNode& node, const std::string& where) {
  reader.block(node, where);
  reader.onlyKeys(node, where, {"value", "tolerance", "abs_tolerance"});
  const bool relative = node.child("tolerance") != nullptr;
  const bool absolute = node.child("abs_tolerance") != nullptr;
  if (node.child("value") == nullptr) reader.fail(node, where + ".value", "missing");
  if (relative == absolute) {
    reader.fail(node, where, "needs exactly one of tolerance (relative) and abs_tolerance");
  }
  ExpectedFigure figure;
  figure.relative = relative;
  figure.value = reader.number(*node.child("value"), where + ".value", -kHuge, kHuge);
  const std::string tolerance_key = relative ? "tolerance" : "abs_tolerance";
  figure.tolerance =
      reader.number(*node.child(tolerance_key), where + "." + tolerance_key, 0.0, kHuge);
  return figure;
}

ScenarioExpectations readExpectations(const Reader& reader, const InfoNode& node,
                                      double duration_s) {
  reader.block(node, "expect");
  reader.onlyKeys(node, "expect",
                  {"no_fall", "from_s", "mean_vx", "mean_vy", "mean_yaw_rate", "max_drift_m",
                   "max_abs_roll_rad", "max_abs_pitch_rad"});
  ScenarioExpectations expect;
  expect.present = true;
  for (const InfoNode& child : node.children) {
    const std::string& key = child.key;
    const std::string name = "expect." + key;
    if (key == "no_fall") expect.no_fall = reader.boolean(child, name);
    if (key == "from_s") {
      expect.from_s = reader.number(child, name, 0.0, kMaxDuration);
      if (*expect.from_s >= duration_s) {
        reader.fail(
            child, name,
            "lies at or after the end of the run (duration_s " + std::to_string(duration_s) + ")");
      }
    }
    if (key == "mean_vx") expect.mean_vx = readFigure(reader, child, name);
    if (key == "mean_vy") expect.mean_vy = readFigure(reader, child, name);
    if (key == "mean_yaw_rate") expect.mean_yaw_rate = readFigure(reader, child, name);
    if (key == "max_drift_m") expect.max_drift_m = reader.number(child, name, 0.0, kHuge);
    if (key == "max_abs_roll_rad") expect.max_abs_roll_rad = reader.number(child, name, 0.0, 4.0);
    if (key == "max_abs_pitch_rad") {
      expect.max_abs_pitch_rad = reader.number(child, name, 0.0, 4.0);
    }
  }
  return expect;
}

/// The robot file `relative` of a scenario: absolute as given, else below `robots_dir`, else
/// beside the scenario file.
std::string robotFile(const Reader& reader, const InfoNode& node, const std::string& key,
                      const std::string& robots_dir, const fs::path& scenario_dir) {
  const fs::path given = reader.text(node, key);
  if (given.empty()) reader.fail(node, key, "needs a file name");
  std::error_code error;
  if (given.is_absolute()) {
    if (!fs::exists(given, error)) reader.fail(node, key, "no file '" + given.string() + "'");
    return given.string();
  }
  for (const fs::path& base : {fs::path(robots_dir), scenario_dir}) {
    if (fs::exists(base / given, error)) return (base / given).lexically_normal().string();
  }
  reader.fail(node, key,
              "no file '" + given.string() + "' in " + robots_dir + " nor beside the scenario");
}

}  // namespace

ScenarioFile readScenarioFile(const std::string& path, const std::string& robots_dir) {
  std::ifstream in(path);
  if (!in) throw UsageError("velmora_sim: cannot read the scenario file '" + path + "'");
  std::ostringstream contents;
  contents << in.rdbuf();
  InfoNode root;
  try {
    root = parseInfo(contents.str(), path);
  } catch (const InfoFileError& error) {
    throw UsageError("velmora_sim: " + path + ":" + std::to_string(error.line()) +
                     ": syntax error: " + error.problem());
  }
  const Reader reader(path);
  reader.onlyKeys(root, "",
                  {"description", "duration_s", "robot", "terrain", "friction", "gait", "command",
                   "command_cycle", "timeline", "expect", "ci_test"});
  ScenarioFile file;
  file.path = path;
  const fs::path scenario_dir = fs::path(path).parent_path();
  for (const InfoNode& child : root.children) {
    const std::string& key = child.key;
    if (key == "description") file.description = reader.text(child, key);
    if (key == "duration_s") file.duration_s = reader.number(child, key, 1e-3, kMaxDuration);
    if (key == "friction") {
      file.friction = reader.number(child, key, kMinFloorFriction, kMaxFloorFriction);
    }
    if (key == "gait") file.gait = checkedGait(reader, child, key);
    if (key == "ci_test") file.ci_test = reader.boolean(child, key);
    if (key == "terrain") file.terrain = readTerrain(reader, reader.block(child, key));
    if (key == "command_cycle") {
      file.command_cycle = reader.text(child, key);
      if (file.command_cycle != "soak") {
        reader.fail(child, key, "unknown cycle '" + file.command_cycle + "' (soak)");
      }
    }
    if (key == "robot") {
      reader.onlyKeys(reader.block(child, key), key, {"urdf", "description", "params"});
      for (const InfoNode& value : child.children) {
        const std::string& name = value.key;
        const std::string resolved =
            robotFile(reader, value, "robot." + name, robots_dir, scenario_dir);
        (name == "urdf"          ? file.robot_urdf
         : name == "description" ? file.robot_description
                                 : file.params) = resolved;
      }
    }
    if (key == "command") {
      reader.onlyKeys(reader.block(child, key), key, {"vx", "vy", "yaw_rate"});
      std::array<double, 3> command{};
      for (const InfoNode& value : child.children) {
        const std::string& name = value.key;
        const size_t index = name == "vx" ? 0 : name == "vy" ? 1 : 2;
        command[index] = reader.number(value, "command." + name, -kHuge, kHuge);
      }
      file.command = command;
    }
  }
  // The timeline and the expectations are checked against the run's duration.
  for (const InfoNode& child : root.children) {
    const std::string& key = child.key;
    if (key == "timeline") {
      reader.block(child, key);
      for (const InfoNode& value : child.children) {
        const std::string& name = value.key;
        if (name != "event") reader.fail(value, "timeline." + name, "unknown key");
        const ScenarioEvent event = readEvent(reader, value);
        const InfoNode& at = *value.child("at_s");
        if (event.at_s >= file.duration_s) {
          reader.fail(at, "timeline.event.at_s",
                      "lies at or after the end of the run (duration_s " +
                          std::to_string(file.duration_s) + ")");
        }
        if (!file.timeline.empty() && event.at_s < file.timeline.back().at_s) {
          reader.fail(at, "timeline.event.at_s", "events must come in time order");
        }
        if (event.type == ScenarioEvent::Type::kCommand && !file.command_cycle.empty()) {
          reader.fail(
              value, "timeline.event.type",
              "a command event cannot change the command of command_cycle " + file.command_cycle);
        }
        file.timeline.push_back(event);
      }
    }
    if (key == "expect") file.expect = readExpectations(reader, child, file.duration_s);
  }
  return file;
}

std::string scenarioFilePath(const std::string& scenario, const std::string& scenarios_dir) {
  const bool is_path = scenario.find('/') != std::string::npos ||
                       (scenario.size() > 5 && scenario.rfind(".info") == scenario.size() - 5);
  std::error_code error;
  if (is_path) {
    if (!fs::is_regular_file(scenario, error)) {
      throw UsageError("velmora_sim: cannot read the scenario file '" + scenario + "'");
    }
    return scenario;
  }
  const fs::path bundled = fs::path(scenarios_dir) / (scenario + ".info");
  if (fs::is_regular_file(bundled, error)) return bundled.string();
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(scenarios_dir, error)) {
    if (entry.path().extension() == ".info") names.push_back(entry.path().stem().string());
  }
  std::sort(names.begin(), names.end());
  std::string known;
  for (const std::string& name : names) known += (known.empty() ? "" : ", ") + name;
  throw UsageError("velmora_sim: unknown scenario '" + scenario + "' (bundled in " + scenarios_dir +
                   ": " + (known.empty() ? "none" : known) + ")");
}

}  // namespace sim
}  // namespace velmora
