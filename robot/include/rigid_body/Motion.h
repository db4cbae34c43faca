#pragma once

// A spatial motion vector (twist or spatial acceleration): a linear part (the velocity, or
// acceleration, of the body point at the origin of the frame it is expressed in) and an angular
// part, both in that frame's axes. Stacked linear first.

#include "core/Types.h"

namespace velmora::rigid_body {

/// Spatial motion vector: linear part [m/s or m/s^2] and angular part [rad/s or rad/s^2], in the
/// axes of the frame it is expressed in, at that frame's origin.
class Motion {
 public:
  /// The zero motion.
  Motion() : linear_(vector3_t::Zero()), angular_(vector3_t::Zero()) {}
  Motion(const vector3_t& linear, const vector3_t& angular) : linear_(linear), angular_(angular) {}
  /// From a 6-vector stacked linear first.
  explicit Motion(const vector6_t& linear_angular)
      : linear_(linear_angular.head<3>()), angular_(linear_angular.tail<3>()) {}

  static Motion Zero() { return Motion(); }

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

  Motion operator+(const Motion& other) const {
    return Motion(linear_ + other.linear_, angular_ + other.angular_);
  }
  Motion operator-(const Motion& other) const {
    return Motion(linear_ - other.linear_, angular_ - other.angular_);
  }
  Motion& operator+=(const Motion& other) {
    linear_ += other.linear_;
    angular_ += other.angular_;
    return *this;
  }
  Motion operator*(scalar_t factor) const { return Motion(linear_ * factor, angular_ * factor); }

  /// Spatial cross product of motions, this x other (the derivative of `other` when it is carried
  /// along by a frame moving with this velocity).
  Motion cross(const Motion& other) const {
    return Motion(angular_.cross(other.linear_) + linear_.cross(other.angular_),
                  angular_.cross(other.angular_));
  }

 private:
  vector3_t linear_;
  vector3_t angular_;
};

}  // namespace velmora::rigid_body
