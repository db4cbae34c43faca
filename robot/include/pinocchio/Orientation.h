#pragma once

// Orientation helpers.
//
// Roll-pitch-yaw convention, used everywhere in velmora: the rotation of roll r, pitch p and yaw y
// is R = Rz(y) Ry(p) Rx(r) (rotate about the world x axis by r, then the world y axis by p, then
// the world z axis by y), mapping body axes to world axes. Angular velocities in the Jacobians
// below are expressed in world axes. The representation is singular at pitch = +-pi/2.

#include <Eigen/Geometry>

#include "core/Types.h"

namespace velmora {

/// Roll, pitch, yaw [rad] of the rotation matrix `R` (body to world): roll and yaw in
/// [-pi, pi], pitch in [-pi/2, pi/2]. At the singularity (|pitch| = pi/2) roll is set to 0 and
/// yaw carries the whole rotation about z. Precondition: `R` is a rotation matrix.
vector3_t toEulerAngles(const matrix3_t& R);

/// Unit quaternion of the rotation with roll, pitch, yaw `rpy` [rad].
Eigen::Quaternion<scalar_t> toQuaternion(const vector3_t& rpy);

/// The cross-product matrix: skew(v) * w == v.cross(w).
matrix3_t skew(const vector3_t& v);

/// T(rpy) with omega_world = T(rpy) * rpy_dot.
matrix3_t getJacobiFromRPYToOmega(const vector3_t& rpy);

/// The inverse of T(rpy): rpy_dot = T^-1(rpy) * omega_world. Precondition: cos(pitch) != 0
/// (the entries grow as 1 / cos(pitch) near the singularity).
matrix3_t getJacobiFromOmegaToRPY(const vector3_t& rpy);

/// dT/dt at roll-pitch-yaw `rpy` moving at `rpy_dot` [rad/s].
matrix3_t getJacobiDotFromRPYToOmega(const vector3_t& rpy, const vector3_t& rpy_dot);

/// Roll-pitch-yaw error `rpy - rpy_ref` [rad]. Only a large error (norm above 3 pi / 2, as
/// after a wrap of one angle at +-pi) is corrected, by one full turn on each component whose
/// magnitude exceeds pi; smaller errors are returned as they are.
vector3_t eulerAngleError(const vector3_t& rpy, const vector3_t& rpy_ref);

}  // namespace velmora
