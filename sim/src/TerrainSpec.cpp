#include "sim/TerrainSpec.h"
#include "core/misc/Numerics.h"

#include <cmath>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace velmora {
namespace sim {
namespace {

/// Throws std::invalid_argument "`name` must lie in [lo, hi] `unit`, got `value`" unless
/// lo <= value <= hi (a non-finite value never does).
void requireWithin(const char* name, double value, double lo, double hi, const char* unit) {
  if (std::isfinite(value) && value >= lo && value <= hi) return;
  std::ostringstream message;
  message << name << " must lie in [" << lo << ", " << hi << "] " << unit << ", got " << value;
  throw std::invalid_argument(message.str());
}

double parsePart(const std::string& name, const std::string& text) {
  const auto value = numerics::parseFiniteNumber(text);
  if (!value) throw std::invalid_argument(name + " expects a finite number, got '" + text + "'");
  return *value;
}

}  // namespace

void validateTerrainSpec(const TerrainSpec& spec) {
  switch (spec.type) {
    case TerrainSpec::Type::kFlat:
      return;
    case TerrainSpec::Type::kSlope:
      requireWithin("slope angle_deg", spec.angle_deg, 0.0, 15.0, "deg");
      requireWithin("slope heading_deg", spec.heading_deg, -360.0, 360.0, "deg");
      return;
    case TerrainSpec::Type::kSteps:
      requireWithin("steps height_m", spec.step_height_m, -0.05, 0.05, "m");
      requireWithin("steps depth_m", spec.step_depth_m, 0.05, 10.0, "m");
      requireWithin("steps count", spec.step_count, 1, 100, "");
      requireWithin("steps start_x_m", spec.step_start_x_m, -1000.0, 1000.0, "m");
      return;
    case TerrainSpec::Type::kRough:
      requireWithin("rough amplitude_m", spec.amplitude_m, 0.0, 0.02, "m");
      requireWithin("rough wavelength_m", spec.wavelength_m, 0.01, 100.0, "m");
      return;
  }
}

TerrainSpec parseTerrainSpec(const std::string& text) {
  std::vector<std::string> parts;
  for (size_t begin = 0;;) {
    const size_t colon = text.find(':', begin);
    parts.push_back(text.substr(begin, colon - begin));
    if (colon == std::string::npos) break;
    begin = colon + 1;
  }
  const std::string& kind = parts[0];
  const std::vector<std::string> names =
      kind == "slope"   ? std::vector<std::string>{"angle_deg", "heading_deg"}
      : kind == "steps" ? std::vector<std::string>{"height_m", "depth_m", "count", "start_x_m"}
      : kind == "rough" ? std::vector<std::string>{"amplitude_m", "wavelength_m", "seed"}
                        : std::vector<std::string>{};
  if (kind != "flat" && names.empty()) {
    throw std::invalid_argument("unknown terrain '" + kind + "' (flat, slope, steps or rough)");
  }
  if (parts.size() - 1 > names.size() || (kind != "flat" && parts.size() < 2)) {
    const std::string form = kind == "flat"    ? "flat"
                             : kind == "slope" ? "slope:ANGLE_DEG[:HEADING_DEG]"
                             : kind == "steps" ? "steps:HEIGHT_M[:DEPTH_M[:COUNT[:START_X_M]]]"
                                               : "rough:AMPLITUDE_M[:WAVELENGTH_M[:SEED]]";
    throw std::invalid_argument("expects " + form + ", got '" + text + "'");
  }
  std::vector<double> values;
  for (size_t k = 1; k < parts.size(); ++k) {
    values.push_back(parsePart(kind + " " + names[k - 1], parts[k]));
  }
  const auto whole = [&](size_t k, double lo, double hi) {
    requireWithin((kind + " " + names[k]).c_str(), values[k], lo, hi, "");
    if (values[k] != std::floor(values[k])) {
      throw std::invalid_argument(kind + " " + names[k] + " must be a whole number, got '" +
                                  parts[k + 1] + "'");
    }
    return values[k];
  };
  TerrainSpec spec;
  if (kind == "slope") {
    spec.type = TerrainSpec::Type::kSlope;
    spec.angle_deg = values[0];
    if (values.size() > 1) spec.heading_deg = values[1];
  } else if (kind == "steps") {
    spec.type = TerrainSpec::Type::kSteps;
    spec.step_height_m = values[0];
    if (values.size() > 1) spec.step_depth_m = values[1];
    if (values.size() > 2) spec.step_count = static_cast<int>(whole(2, 1, 100));
    if (values.size() > 3) spec.step_start_x_m = values[3];
  } else if (kind == "rough") {
    spec.type = TerrainSpec::Type::kRough;
    spec.amplitude_m = values[0];
    if (values.size() > 1) spec.wavelength_m = values[1];
    if (values.size() > 2) spec.seed = static_cast<uint32_t>(whole(2, 0, 4294967295.0));
  }
  validateTerrainSpec(spec);
  return spec;
}

std::string formatTerrainSpec(const TerrainSpec& spec) {
  switch (spec.type) {
    case TerrainSpec::Type::kFlat:
      return "flat";
    case TerrainSpec::Type::kSlope:
      return "slope:" + numerics::exactText(spec.angle_deg) + ':' +
             numerics::exactText(spec.heading_deg);
    case TerrainSpec::Type::kSteps:
      return "steps:" + numerics::exactText(spec.step_height_m) + ':' +
             numerics::exactText(spec.step_depth_m) + ':' + std::to_string(spec.step_count) + ':' +
             numerics::exactText(spec.step_start_x_m);
    case TerrainSpec::Type::kRough:
      return "rough:" + numerics::exactText(spec.amplitude_m) + ':' +
             numerics::exactText(spec.wavelength_m) + ':' + std::to_string(spec.seed);
  }
  return "flat";
}

}  // namespace sim
}  // namespace velmora
