#pragma once

#include <cstddef>

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
/// (entry k is joint id k + 2 of the robot model).
struct ActuatorCommands {
  vector_t Kp;      ///< position gain [N m / rad]
  vector_t Kd;      ///< velocity gain [N m s / rad]
  vector_t pos;     ///< desired joint position [rad]
  vector_t vel;     ///< desired joint velocity [rad/s]
  vector_t torque;  ///< feed-forward joint torque [N m]

  /// Resizes all five vectors to `n` entries, each zero.
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
