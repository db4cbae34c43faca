// Roll-pitch-yaw helpers for R = Rz(yaw) Ry(pitch) Rx(roll); see Orientation.h.
//
// omega_world = yaw_dot e_z + pitch_dot Rz e_y + roll_dot Rz Ry e_x, hence
//        | cy cp  -sy  0 |
//   T =  | sy cp   cy  0 |      (columns: roll, pitch, yaw rates)
//        |  -sp     0  1 |

#include "pinocchio/Orientation.h"

#include <cmath>

namespace velmora {

vector3_t toEulerAngles(const matrix3_t& R) {
  // R(2,0) = -sin(pitch); R(2,1) = cp sr; R(2,2) = cp cr; R(1,0) = sy cp; R(0,0) = cy cp.
  const scalar_t cos_pitch = std::hypot(R(0, 0), R(1, 0));
  const scalar_t pitch = std::atan2(-R(2, 0), cos_pitch);
  if (cos_pitch < 1e-10) {
    // Gimbal lock: only yaw - roll (pitch = pi/2) or yaw + roll (pitch = -pi/2) is defined.
    // With roll = 0: R(0,1) = -sy, R(1,1) = cy.
    return vector3_t(0.0, pitch, std::atan2(-R(0, 1), R(1, 1)));
  }
  return vector3_t(std::atan2(R(2, 1), R(2, 2)), pitch, std::atan2(R(1, 0), R(0, 0)));
}

Eigen::Quaternion<scalar_t> toQuaternion(const vector3_t& rpy) {
  using AngleAxis = Eigen::AngleAxis<scalar_t>;
  return Eigen::Quaternion<scalar_t>(AngleAxis(rpy.z(), vector3_t::UnitZ()) *
                                     AngleAxis(rpy.y(), vector3_t::UnitY()) *
                                     AngleAxis(rpy.x(), vector3_t::UnitX()))
      .normalized();
}

matrix3_t skew(const vector3_t& v) {
  matrix3_t out;
  out << 0.0, -v.z(), v.y(),  //
      v.z(), 0.0, -v.x(),     //
      -v.y(), v.x(), 0.0;
  return out;
}

matrix3_t getJacobiFromRPYToOmega(const vector3_t& rpy) {
  const scalar_t sp = std::sin(rpy.y()), cp = std::cos(rpy.y());
  const scalar_t sy = std::sin(rpy.z()), cy = std::cos(rpy.z());
  matrix3_t T;
  T << cy * cp, -sy, 0.0,  //
      sy * cp, cy, 0.0,    //
      -sp, 0.0, 1.0;
  return T;
}

matrix3_t getJacobiFromOmegaToRPY(const vector3_t& rpy) {
  const scalar_t sp = std::sin(rpy.y()), cp = std::cos(rpy.y());
  const scalar_t sy = std::sin(rpy.z()), cy = std::cos(rpy.z());
  matrix3_t T_inv;
  T_inv << cy / cp, sy / cp, 0.0,  //
      -sy, cy, 0.0,                //
      cy * sp / cp, sy * sp / cp, 1.0;
  return T_inv;
}

matrix3_t getJacobiDotFromRPYToOmega(const vector3_t& rpy, const vector3_t& rpy_dot) {
  const scalar_t sp = std::sin(rpy.y()), cp = std::cos(rpy.y());
  const scalar_t sy = std::sin(rpy.z()), cy = std::cos(rpy.z());
  const scalar_t pitch_dot = rpy_dot.y(), yaw_dot = rpy_dot.z();
  matrix3_t T_dot;
  T_dot << -sy * cp * yaw_dot - cy * sp * pitch_dot, -cy * yaw_dot, 0.0,  //
      cy * cp * yaw_dot - sy * sp * pitch_dot, -sy * yaw_dot, 0.0,        //
      -cp * pitch_dot, 0.0, 0.0;
  return T_dot;
}

vector3_t eulerAngleError(const vector3_t& rpy, const vector3_t& rpy_ref) {
  constexpr scalar_t kWrapThreshold = 1.5 * M_PI;
  vector3_t err = rpy - rpy_ref;
  if (err.norm() > kWrapThreshold) {
    for (int i = 0; i < 3; ++i) {
      if (std::abs(err(i)) > M_PI) err(i) += err(i) > 0.0 ? -2.0 * M_PI : 2.0 * M_PI;
    }
  }
  return err;
}

}  // namespace velmora
