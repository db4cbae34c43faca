#pragma once

// A rigid transformation aMb between two frames a and b: `rotation()` maps b's axes to a's axes,
// `translation()` is the origin of b in a's coordinates. It maps points, motions and forces
// expressed in b to a (`act`) and back (`actInv`).

#include "core/Types.h"
#include "rigid_body/Force.h"
#include "rigid_body/Motion.h"

namespace velmora::rigid_body {

/// Placement of frame b in frame a (aMb): rotation b-to-a and position of b's origin in a [m].
class SE3 {
 public:
  /// The identity placement.
  SE3() : rotation_(matrix3_t::Identity()), translation_(vector3_t::Zero()) {}
  /// Precondition: `rotation` is a rotation matrix.
  SE3(const matrix3_t& rotation, const vector3_t& translation)
      : rotation_(rotation), translation_(translation) {}

  static SE3 Identity() { return SE3(); }

  const matrix3_t& rotation() const { return rotation_; }
  const vector3_t& translation() const { return translation_; }
  matrix3_t& rotation() { return rotation_; }
  vector3_t& translation() { return translation_; }

  /// Composition aMc = aMb * bMc.
  SE3 operator*(const SE3& other) const {
    return SE3(rotation_ * other.rotation_, translation_ + rotation_ * other.translation_);
  }

  /// The inverse placement bMa.
  SE3 inverse() const {
    const matrix3_t rotation_t = rotation_.transpose();
    return SE3(rotation_t, -(rotation_t * translation_));
  }

  /// A point given in b, in a's coordinates.
  vector3_t act(const vector3_t& point) const { return rotation_ * point + translation_; }
  /// A point given in a, in b's coordinates.
  vector3_t actInv(const vector3_t& point) const {
    return rotation_.transpose() * (point - translation_);
  }

  /// A motion expressed in b (at b's origin), expressed in a (at a's origin).
  Motion act(const Motion& motion) const {
    const vector3_t angular = rotation_ * motion.angular();
    return Motion(rotation_ * motion.linear() + translation_.cross(angular), angular);
  }
  /// A motion expressed in a, expressed in b.
  Motion actInv(const Motion& motion) const {
    return Motion(rotation_.transpose() * (motion.linear() - translation_.cross(motion.angular())),
                  rotation_.transpose() * motion.angular());
  }

  /// A force expressed in b (moment about b's origin), expressed in a.
  Force act(const Force& force) const {
    const vector3_t linear = rotation_ * force.linear();
    return Force(linear, rotation_ * force.angular() + translation_.cross(linear));
  }
  /// A force expressed in a, expressed in b.
  Force actInv(const Force& force) const {
    return Force(rotation_.transpose() * force.linear(),
                 rotation_.transpose() * (force.angular() - translation_.cross(force.linear())));
  }

  /// Whether both placements agree entry by entry within `tolerance`.
  bool isApprox(const SE3& other, scalar_t tolerance = 1e-12) const {
    return (rotation_ - other.rotation_).cwiseAbs().maxCoeff() <= tolerance &&
           (translation_ - other.translation_).cwiseAbs().maxCoeff() <= tolerance;
  }

 private:
  matrix3_t rotation_;
  vector3_t translation_;
};

}  // namespace velmora::rigid_body
