#pragma once

// The simulated ground of a TerrainSpec, both as MuJoCo geometry and as a height function.
//
// World axes, metres. The robot starts at the origin on level ground (a slope is tilted about
// the origin, the first riser of steps lies ahead of it and rough ground is flat within
// kRoughFlatRadius of it).

#include <string>
#include <vector>

#include "core/Types.h"
#include "sim/TerrainSpec.h"

namespace velmora {
namespace sim {

/// Ground geometry built from a validated TerrainSpec. Immutable; cheap queries.
///
/// - flat: the plane z = 0.
/// - slope: the plane through the origin tilted by angle_deg, rising towards heading_deg.
/// - steps: z = h k(x), k = number of risers at x >= start_x + i depth (i = 0..count-1) passed,
///   boxes for the raised levels over a floor plane at the lowest level.
/// - rough: a MuJoCo height field (kRoughCell spacing, linear on the two triangles of each cell
///   as MuJoCo collides and casts rays) of smooth random bumps of about wavelength_m, heights
///   in [-amplitude, amplitude], over a plane at -amplitude beyond the field.
class Terrain {
 public:
  /// Grid spacing of the rough height field [m].
  static constexpr scalar_t kRoughCell = 0.04;
  /// Radius around the origin where rough ground is level (the robot's start) [m].
  static constexpr scalar_t kRoughFlatRadius = 0.6;

  /// @throws std::invalid_argument naming the field and its limits when `spec` is out of range
  ///         (see validateTerrainSpec).
  explicit Terrain(const TerrainSpec& spec);

  const TerrainSpec& spec() const { return spec_; }

  /// Height [m] of the ground surface at world (x, y) (the top of a step at a riser).
  scalar_t heightAt(scalar_t x, scalar_t y) const;

  /// Rotation taking the level ground to the ground at the origin (identity unless a slope):
  /// the plant turns the robot's initial pose by it so that all feet start on the ground.
  matrix3_t startRotation() const;

  /// MJCF elements for <asset> (the hfield of rough ground; empty otherwise).
  std::string mjcfAssets() const;
  /// MJCF geoms for <worldbody>, all named with the prefix groundGeomPrefix() and drawn with
  /// the material `material`; `friction` is the MJCF friction attribute value.
  std::string mjcfGeoms(const std::string& material, const std::string& friction) const;
  /// Prefix of the name of every ground geom.
  static const char* groundGeomPrefix() { return "velmora_ground"; }

  /// Rough ground: the height field's elevations in MuJoCo's layout (row-major, rows along y,
  /// normalised to [0, 1]); empty for other terrains. Copied into the compiled model.
  const std::vector<float>& hfieldElevation() const { return elevation_; }

 private:
  void buildRoughField();

  TerrainSpec spec_;
  // Rough field grid: nodes at (x0 + c cell, y0 + r cell), r < rows_, c < cols_.
  int rows_ = 0;
  int cols_ = 0;
  scalar_t x0_ = 0.0;
  scalar_t y0_ = 0.0;
  std::vector<scalar_t> height_;  ///< [m], row-major
  std::vector<float> elevation_;  ///< height_ normalised to [0, 1] over [-amplitude, amplitude]
};

}  // namespace sim
}  // namespace velmora
