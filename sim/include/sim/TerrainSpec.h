#pragma once

// The ground a simulated run takes place on.

#include <cstdint>

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

}  // namespace sim
}  // namespace velmora
