#pragma once

// The checks a controller applies to the reference trajectories it reads into 3-vectors: the
// dimension once per cycle, finite values wherever the cycle samples them.

#include <string>
#include <utility>

#include "core/Types.h"
#include "core/trajectory/CubicSplineTrajectory.h"

namespace velmora {

/// Keeps the first reference fault of a control cycle as a message naming the trajectory:
/// its slot ("base_pos", "base_rpy", "foot_pos", ...) and, for a foot, "slot[foot name]".
/// Messages are built only when a check fails; one thread.
class ReferenceCheck {
 public:
  /// Dimension of every checked trajectory (positions and roll-pitch-yaw).
  static constexpr Eigen::Index kDimension = 3;

  /// Starts a cycle: forgets the previous fault.
  void clear() { fault_.clear(); }

  /// True when `traj` is null or 3-dimensional. Otherwise false, and the fault (unless one is
  /// kept already) reads "<name> trajectory has dimension <d>, expected 3".
  bool requireDimension(const CubicSplineTrajectory* traj, const char* slot,
                        const std::string& foot = {}) {
    if (traj == nullptr || traj->dimension() == kDimension) return true;
    keep(name(slot, foot) + " trajectory has dimension " + std::to_string(traj->dimension()) +
         ", expected " + std::to_string(kDimension));
    return false;
  }

  /// Notes a non-finite `value` sampled from the trajectory in `slot`: the fault (unless one
  /// is kept already) reads "<name> trajectory gives a non-finite value".
  void requireFinite(const vector3_t& value, const char* slot, const std::string& foot = {}) {
    if (!value.allFinite()) keep(name(slot, foot) + " trajectory gives a non-finite value");
  }

  /// True once a check of this cycle failed.
  bool failed() const { return !fault_.empty(); }
  /// The first fault of this cycle (empty: none).
  const std::string& fault() const { return fault_; }

 private:
  static std::string name(const char* slot, const std::string& foot) {
    return foot.empty() ? std::string(slot) : std::string(slot) + "[" + foot + "]";
  }
  void keep(std::string fault) {
    if (fault_.empty()) fault_ = std::move(fault);
  }

  std::string fault_;
};

}  // namespace velmora
