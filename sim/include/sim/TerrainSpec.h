#pragma once

// The ground a simulated run takes place on.

#include <cstdint>
#include <string>

namespace velmora {
namespace sim {

/// Shape of the simulated ground. The controller never sees it: the planner estimates the local
/// ground plane from the stance feet. Heights in metres, angles in degrees, world axes.
struct TerrainSpec {
  enum class Type { kFlat, kSlope, kSteps, kRough };
  Type type = Type::kFlat;
  double angle_deg = 0.0;       ///< slope: tilt of the plane (0..15)
  double heading_deg = 0.0;     ///< slope: direction of the uphill in the x-y plane (0 = +x)
  double step_height_m = 0.0;   ///< steps: rise of each step (negative: steps down), |h| <= 0.05
  double step_depth_m = 0.4;    ///< steps: tread length along x
  int step_count = 5;           ///< steps: number of steps
  double step_start_x_m = 1.0;  ///< steps: x of the first riser
  double amplitude_m = 0.0;     ///< rough: peak height deviation (0..0.02)
  double wavelength_m = 0.3;    ///< rough: typical distance between bumps
  uint32_t seed = 1;            ///< rough: seed of the random heightfield
};

/// Checks every field the type uses: slope angle 0..15 deg, heading within one turn either way;
/// steps |height| <= 0.05 m, depth 0.05..10 m, count 1..100, first riser within 1 km (ahead of
/// the robot's feet, about 0.3 m, for a clean start); rough amplitude 0..0.02 m (0: level),
/// wavelength 0.01..100 m.
/// @throws std::invalid_argument naming the field, its limits and the value.
void validateTerrainSpec(const TerrainSpec& spec);

/// Parses the compact form `flat`, `slope:ANGLE_DEG[:HEADING_DEG]`,
/// `steps:HEIGHT_M[:DEPTH_M[:COUNT[:START_X_M]]]` or `rough:AMPLITUDE_M[:WAVELENGTH_M[:SEED]]`;
/// omitted parts keep TerrainSpec's defaults. The result is validated (validateTerrainSpec).
/// @throws std::invalid_argument naming the bad part and, for a value out of range, its limits.
TerrainSpec parseTerrainSpec(const std::string& text);

/// The compact form of `spec` with every part of its type written out (each number in the
/// fewest digits that read back exactly), which parseTerrainSpec reads back to an equal spec. This
/// is how a terrain reaches a simulator in another process.
std::string formatTerrainSpec(const TerrainSpec& spec);

}  // namespace sim
}  // namespace velmora
