#include "rigid_body/Inertia.h"

namespace velmora::rigid_body {

Eigen::Matrix<scalar_t, 6, 6> Inertia::matrix() const {
  matrix3_t lever_skew;
  lever_skew << 0.0, -lever_.z(), lever_.y(), lever_.z(), 0.0, -lever_.x(), -lever_.y(), lever_.x(),
      0.0;
  Eigen::Matrix<scalar_t, 6, 6> out;
  out.topLeftCorner<3, 3>() = mass_ * matrix3_t::Identity();
  out.topRightCorner<3, 3>() = -mass_ * lever_skew;
  out.bottomLeftCorner<3, 3>() = mass_ * lever_skew;
  out.bottomRightCorner<3, 3>() = inertiaAboutOrigin();
  return out;
}

}  // namespace velmora::rigid_body
