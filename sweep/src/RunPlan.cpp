#include "sweep/RunPlan.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <set>

#include "core/misc/Numerics.h"
#include "sweep/SweepError.h"

namespace velmora::sweep {
namespace {

const std::set<std::string> kDerived = {"push.direction_deg", "push.force_n",   "push.at_s",
                                        "push.duration_s",    "push.point_m",   "payload.mass_kg",
                                        "payload.at_s",       "payload.point_m"};

/// The keys of the scenario format that take a value: a sweep may set them even where the base
/// scenario leaves them at their defaults.
bool isScenarioKey(const std::string& path) {
  static const std::vector<std::string> kKeys = splitWords(
      "description duration_s friction gait robot.urdf robot.description robot.params "
      "terrain.type terrain.angle_deg terrain.heading_deg terrain.height_m terrain.depth_m "
      "terrain.count terrain.start_x_m terrain.amplitude_m terrain.wavelength_m terrain.seed "
      "command.vx command.vy command.yaw_rate expect.no_fall expect.from_s expect.max_drift_m "
      "expect.max_abs_roll_rad expect.max_abs_pitch_rad");
  for (const char* figure : {"expect.mean_vx.", "expect.mean_vy.", "expect.mean_yaw_rate."})
    for (const char* part : {"value", "tolerance", "abs_tolerance"})
      if (path == std::string(figure) + part) return true;
  return std::find(kKeys.begin(), kKeys.end(), path) != kKeys.end();
}

bool isNumber(const std::string& text) { return numerics::parseFiniteNumber(text).has_value(); }

/// A derived value is a number, or three comma-separated numbers for a point ("0,0,0.05").
bool isDerivedValue(const std::string& path, const std::string& value) {
  if (path.size() < 7 || path.compare(path.size() - 7, 7, "point_m") != 0) return isNumber(value);
  std::string spaced = value;
  for (char& c : spaced) c = c == ',' ? ' ' : c;
  const std::vector<std::string> words = splitWords(spaced);
  return words.size() == 3 && isNumber(words[0]) && isNumber(words[1]) && isNumber(words[2]);
}

void checkParameter(const SweepParameter& p, const SweepSpec& spec, const InfoNode& base) {
  if (isDerivedParameter(p.path)) {
    if (kDerived.count(p.path) == 0)
      throw SweepFileError(spec.file, p.line,
                           "unknown derived parameter '" + p.path +
                               "' (push.direction_deg, push.force_n, push.at_s, push.duration_s, "
                               "push.point_m, payload.mass_kg, payload.at_s, payload.point_m)");
    std::vector<std::string> values = p.grid_values;
    if (p.distribution) values = p.distribution->choices;
    for (const std::string& v : values)
      if (!isDerivedValue(p.path, v))
        throw SweepFileError(spec.file, p.line, "'" + p.path + "': bad value '" + v + "'");
    if (p.distribution && p.distribution->kind == Distribution::Kind::kUniform &&
        p.path.find("point_m") != std::string::npos)
      throw SweepFileError(spec.file, p.line, "'" + p.path + "' is a point: use choice");
  } else if (!isScenarioKey(p.path) && base.find(p.path) == nullptr) {
    throw SweepFileError(spec.file, p.line,
                         "parameter '" + p.path + "': neither a key of the base scenario '" +
                             spec.scenario +
                             "' or of the scenario format, nor push.* or payload.*");
  } else if (const InfoNode* node = base.find(p.path); node && !node->children.empty()) {
    throw SweepFileError(spec.file, p.line,
                         "parameter '" + p.path +
                             "' is a block of the base scenario: name one "
                             "of its keys ('" +
                             p.path + "." + node->children.front().key + "', ...)");
  }
}

std::string formatNumber(double value, double low, double high) {
  char text[40];
  std::snprintf(text, sizeof text, "%.6g", value);
  const double rounded = std::stod(text);
  if (rounded < low || rounded > high) std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

int parameterLine(const SweepSpec& spec, const std::string& path) {
  for (const auto* list : {&spec.grid, &spec.random})
    for (const SweepParameter& p : *list)
      if (p.path == path) return p.line;
  return 0;
}

/// A push or payload event must start before the run ends (default start: 3 s).
void checkEventTimes(const RunSpec& run, const SweepSpec& spec, const InfoNode& base) {
  const InfoNode* base_duration = base.child("duration_s");
  std::string duration;
  if (run.value("duration_s") != nullptr)
    duration = *run.value("duration_s");
  else if (spec.duration_s)
    duration = std::to_string(*spec.duration_s);
  else if (base_duration != nullptr)
    duration = base_duration->value;
  if (!isNumber(duration)) return;  // velmora_sim judges the duration itself
  for (const std::string event : {"push", "payload"}) {
    const std::string amount = event + (event == "push" ? ".force_n" : ".mass_kg");
    if (run.value(amount) == nullptr) continue;
    const std::string* at = run.value(event + ".at_s");
    if (std::stod(at != nullptr ? *at : "3") < std::stod(duration)) continue;
    throw SweepFileError(spec.file, parameterLine(spec, at ? event + ".at_s" : amount),
                         "'" + event + ".at_s' " + (at ? *at : "3 (default)") +
                             " s is not before the end of run " + run.id + " (duration_s " +
                             duration + ")");
  }
}

}  // namespace

const std::string* RunSpec::value(const std::string& path) const {
  for (const auto& [key, v] : values)
    if (key == path) return &v;
  return nullptr;
}

bool isDerivedParameter(const std::string& path) {
  return path.rfind("push.", 0) == 0 || path.rfind("payload.", 0) == 0;
}

std::vector<RunSpec> expandRuns(const SweepSpec& spec, const InfoNode& base) {
  bool push = false, payload = false, force = false, mass = false;
  for (const auto* list : {&spec.grid, &spec.random}) {
    for (const SweepParameter& p : *list) {
      checkParameter(p, spec, base);
      push = push || p.path.rfind("push.", 0) == 0;
      payload = payload || p.path.rfind("payload.", 0) == 0;
      force = force || p.path == "push.force_n";
      mass = mass || p.path == "payload.mass_kg";
    }
  }
  if (push && !force) throw SweepFileError(spec.file, 0, "push.* parameters need push.force_n");
  if (payload && !mass)
    throw SweepFileError(spec.file, 0, "payload.* parameters need payload.mass_kg");

  double total = spec.draws;
  for (const SweepParameter& p : spec.grid) total *= static_cast<double>(p.grid_values.size());
  if (total > 1e6)
    throw SweepFileError(spec.file, 0,
                         "the sweep has " +
                             std::to_string(static_cast<long long>(std::min(total, 1e18))) +
                             " runs; at most 1000000 are allowed");
  std::mt19937_64 generator(spec.seed);
  const auto uniform01 = [&generator] {
    return static_cast<double>(generator() >> 11) * 0x1.0p-53;
  };
  std::vector<RunSpec> runs;
  std::vector<size_t> digit(spec.grid.size(), 0);
  for (bool more = true; more;) {
    for (int draw = 0; draw < spec.draws; ++draw) {
      RunSpec run;
      run.index = static_cast<int>(runs.size()) + 1;
      char id[16];
      std::snprintf(id, sizeof id, "%04d", run.index);
      run.id = id;
      for (size_t k = 0; k < spec.grid.size(); ++k)
        run.values.emplace_back(spec.grid[k].path, spec.grid[k].grid_values[digit[k]]);
      for (const SweepParameter& p : spec.random) {
        const Distribution& d = *p.distribution;
        if (d.kind == Distribution::Kind::kUniform) {
          run.values.emplace_back(
              p.path, formatNumber(d.low + (d.high - d.low) * uniform01(), d.low, d.high));
        } else {
          run.values.emplace_back(p.path, d.choices[generator() % d.choices.size()]);
        }
      }
      for (const std::string& path : spec.family)
        run.family += (run.family.empty() ? "" : " ") + path + "=" + *run.value(path);
      if (run.family.empty()) run.family = "all";
      checkEventTimes(run, spec, base);
      runs.push_back(std::move(run));
    }
    // Odometer over the grid, last parameter fastest.
    more = false;
    for (size_t k = spec.grid.size(); k-- > 0;) {
      if (++digit[k] < spec.grid[k].grid_values.size()) {
        more = true;
        break;
      }
      digit[k] = 0;
    }
  }
  return runs;
}

}  // namespace velmora::sweep
