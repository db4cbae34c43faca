#pragma once

// The spatial inertia of a rigid body (or of several rigidly joined bodies) expressed in some
// frame: its mass, the position of its centre of mass in that frame ("lever") and its rotational
// inertia about the centre of mass in that frame's axes.

#include "core/Types.h"
#include "rigid_body/Force.h"
#include "rigid_body/Motion.h"
#include "rigid_body/SE3.h"

namespace velmora::rigid_body {

/// Spatial inertia: mass [kg], centre of mass [m] and rotational inertia about the centre of
/// mass [kg m^2], in the axes of the frame it is expressed in.
class Inertia {
 public:
  /// The inertia of nothing (zero mass).
  Inertia() : mass_(0.0), lever_(vector3_t::Zero()), inertia_(matrix3_t::Zero()) {}
  /// Preconditions: mass >= 0; `rotational_inertia_com` symmetric positive semi-definite.
  Inertia(scalar_t mass, const vector3_t& lever, const matrix3_t& rotational_inertia_com)
      : mass_(mass), lever_(lever), inertia_(rotational_inertia_com) {}

  static Inertia Zero() { return Inertia(); }

  scalar_t mass() const { return mass_; }
  const vector3_t& lever() const { return lever_; }
  const matrix3_t& inertia() const { return inertia_; }

  /// Momentum of the body moving with `motion` (both in this frame): linear momentum and angular
  /// momentum about the frame origin.
  Force operator*(const Motion& motion) const {
    const vector3_t linear = mass_ * (motion.linear() - lever_.cross(motion.angular()));
    return Force(linear, inertia_ * motion.angular() + lever_.cross(linear));
  }

  /// The inertia of the union of both bodies (same frame).
  Inertia& operator+=(const Inertia& other) {
    const scalar_t total = mass_ + other.mass_;
    if (total <= 0.0) {
      inertia_ += other.inertia_;
      return *this;
    }
    const vector3_t offset = lever_ - other.lever_;
    // Parallel-axis terms of both bodies about the common centre of mass.
    const scalar_t reduced_mass = mass_ * other.mass_ / total;
    inertia_ += other.inertia_ + reduced_mass * (offset.squaredNorm() * matrix3_t::Identity() -
                                                 offset * offset.transpose());
    lever_ = (mass_ * lever_ + other.mass_ * other.lever_) / total;
    mass_ = total;
    return *this;
  }
  Inertia operator+(const Inertia& other) const {
    Inertia sum = *this;
    sum += other;
    return sum;
  }

  /// This inertia (given in frame b) expressed in frame a, with `placement` = aMb.
  Inertia transformedBy(const SE3& placement) const {
    const matrix3_t& rotation = placement.rotation();
    return Inertia(mass_, placement.act(lever_), rotation * inertia_ * rotation.transpose());
  }

  /// Rotational inertia about the frame origin [kg m^2].
  matrix3_t inertiaAboutOrigin() const {
    return inertia_ +
           mass_ * (lever_.squaredNorm() * matrix3_t::Identity() - lever_ * lever_.transpose());
  }

  /// The 6 x 6 matrix mapping a motion [linear; angular] to the momentum [linear; angular].
  Eigen::Matrix<scalar_t, 6, 6> matrix() const;

 private:
  scalar_t mass_;
  vector3_t lever_;
  matrix3_t inertia_;
};

}  // namespace velmora::rigid_body
