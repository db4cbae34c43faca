#pragma once

#include <cstddef>
#include <limits>

#include "core/Types.h"

namespace velmora {

/// An affine feedback policy u = a * x + b. The producer fixes what x and u are:
/// the contact-force optimiser hands out a 6 x 12 body-acceleration law, the swing optimiser
/// an nj x 2nj joint-torque law. A record is never changed after it has been handed over.
struct CtrlData {
  matrix_t a;  ///< feedback gain
  vector_t b;  ///< feed-forward term
};

/// Joint-level commands, one entry per actuated joint in the model's joint order
/// (entry k is joint id k + 2 of the robot model), with the two times that tell how fresh they
/// are (node clock; NaN when not stamped, which a staleness check treats as stale).
struct ActuatorCommands {
  vector_t Kp;      ///< position gain [N m / rad]
  vector_t Kd;      ///< velocity gain [N m s / rad]
  vector_t pos;     ///< desired joint position [rad]
  vector_t vel;     ///< desired joint velocity [rad/s]
  vector_t torque;  ///< feed-forward joint torque [N m]
  /// Time at which the commands were computed [s, node clock].
  scalar_t stamp_s = std::numeric_limits<scalar_t>::quiet_NaN();
  /// Time at which the state they were computed from was taken over [s, node clock].
  scalar_t state_stamp_s = std::numeric_limits<scalar_t>::quiet_NaN();

  /// Resizes all five vectors to `n` entries, each zero (the stamps are left as they are).
  void setZero(size_t n) {
    const auto size = static_cast<Eigen::Index>(n);
    Kp.setZero(size);
    Kd.setZero(size);
    pos.setZero(size);
    vel.setZero(size);
    torque.setZero(size);
  }
};

}  // namespace velmora
