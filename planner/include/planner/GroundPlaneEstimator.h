#pragma once

// The local ground as the planner sees it without any terrain sensing: a plane fitted to where
// the feet last stood.

#include <cstddef>
#include <optional>
#include <vector>

#include "core/Types.h"

namespace velmora {
namespace planner {

/// The plane z = height + slope_x x + slope_y y in world axes [m].
struct GroundPlane {
  scalar_t height = 0.0;   ///< z at the world origin [m]
  scalar_t slope_x = 0.0;  ///< dz/dx
  scalar_t slope_y = 0.0;  ///< dz/dy

  /// z of the plane at world (x, y) [m].
  scalar_t heightAt(scalar_t x, scalar_t y) const { return height + slope_x * x + slope_y * y; }
  /// Least-squares plane through `points` (world [m]); nullopt when they are fewer than three
  /// or their horizontal spread leaves the slope undetermined (all within a line up to
  /// `min_spread_m` across).
  static std::optional<GroundPlane> fit(const std::vector<vector3_t>& points,
                                        scalar_t min_spread_m = 0.01);
};

/// Tunable constants of the ground plane estimator.
struct GroundPlaneSettings {
  size_t footholds_per_foot = 2;  ///< foothold positions kept per foot
  scalar_t smoothing = 0.5;       ///< share (0, 1] of each new fit taken into the estimate
  /// A point further than this from the plane of the others is left out of the fit [m]
  /// (at most one per fit, and only with at least five points).
  scalar_t outlier_m = 0.03;
};

/// Fits the ground plane to the last footholds of the feet (measured positions of feet standing
/// on the ground, from forward kinematics of the measured state; world [m]) and low-passes it
/// from one foothold to the next. The plane is that of the foot
/// reference points (the foot centres), so it lies a foot radius above the ground. Not
/// thread-safe.
class GroundPlaneEstimator {
 public:
  /// @throws std::invalid_argument unless num_feet >= 3, footholds_per_foot >= 1 and
  ///         0 < smoothing <= 1.
  GroundPlaneEstimator(size_t num_feet, GroundPlaneSettings settings);

  /// Restarts from all feet standing at `feet` (one position per foot): the estimate becomes
  /// their plane, or the level plane at their mean height when they do not span one.
  /// @throws std::invalid_argument when `feet` does not hold one finite position per foot.
  void reset(const std::vector<vector3_t>& feet);
  /// Records that `foot` stood at `position` and updates the estimate.
  /// @throws std::invalid_argument for a foot index out of range or a non-finite position.
  void addFoothold(size_t foot, const vector3_t& position);

  /// The filtered plane.
  const GroundPlane& plane() const { return plane_; }
  /// Root mean square distance [m] (vertical) of the kept footholds from the last fit: near
  /// zero on even ground, larger on rough or stepped ground.
  scalar_t roughness() const { return roughness_; }

 private:
  void refit();

  GroundPlaneSettings settings_;
  std::vector<std::vector<vector3_t>> footholds_;  ///< per foot, newest last
  GroundPlane plane_;
  scalar_t roughness_ = 0.0;
};

}  // namespace planner
}  // namespace velmora
