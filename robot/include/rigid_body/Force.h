#pragma once

// A spatial force vector (wrench or momentum): a linear part (force [N] or linear momentum) and an
// angular part (moment [N m] or angular momentum about the origin of the frame it is expressed
// in), both in that frame's axes. Stacked linear first.

#include "core/Types.h"
#include "rigid_body/Motion.h"

namespace velmora::rigid_body {

/// Spatial force vector: linear part and moment about the frame origin, in the frame's axes.
class Force {
 public:
  /// The zero force.
  Force() : linear_(vector3_t::Zero()), angular_(vector3_t::Zero()) {}
  Force(const vector3_t& linear, const vector3_t& angular) : linear_(linear), angular_(angular) {}

  const vector3_t& linear() const { return linear_; }
  const vector3_t& angular() const { return angular_; }
  vector3_t& linear() { return linear_; }
  vector3_t& angular() { return angular_; }

  /// The 6-vector [linear; angular].
  vector6_t toVector() const {
    vector6_t out;
    out << linear_, angular_;
    return out;
  }

  void setZero() {
    linear_.setZero();
    angular_.setZero();
  }

  Force operator+(const Force& other) const {
    return Force(linear_ + other.linear_, angular_ + other.angular_);
  }
  Force& operator+=(const Force& other) {
    linear_ += other.linear_;
    angular_ += other.angular_;
    return *this;
  }

  /// Power of this force along a motion expressed in the same frame [W].
  scalar_t dot(const Motion& motion) const {
    return linear_.dot(motion.linear()) + angular_.dot(motion.angular());
  }

 private:
  vector3_t linear_;
  vector3_t angular_;
};

/// Spatial cross product of a motion with a force, motion x* force (the rate of change of a
/// momentum carried along by a frame moving with `motion`).
inline Force crossForce(const Motion& motion, const Force& force) {
  return Force(motion.angular().cross(force.linear()),
               motion.angular().cross(force.angular()) + motion.linear().cross(force.linear()));
}

}  // namespace velmora::rigid_body
