// Orientation helpers against rotations built from elementary ones, finite differences and round
// trips, including at and near the pitch singularity.

#include <cmath>

#include <gtest/gtest.h>

#include "RobotTestSupport.h"
#include "pinocchio/Orientation.h"

namespace velmora::test {
namespace {

/// R = Rz(yaw) Ry(pitch) Rx(roll), each elementary rotation written out.
matrix3_t rotationFromRpy(const vector3_t& rpy) {
  const auto about = [](int axis, scalar_t angle) {
    const int i = (axis + 1) % 3, j = (axis + 2) % 3;
    matrix3_t R = matrix3_t::Identity();
    R(i, i) = R(j, j) = std::cos(angle);
    R(j, i) = std::sin(angle);
    R(i, j) = -R(j, i);
    return R;
  };
  return about(2, rpy.z()) * about(1, rpy.y()) * about(0, rpy.x());
}

class OrientationTest : public ::testing::Test {
 protected:
  /// Roll and yaw in (-pi, pi), pitch in (-pi/2, pi/2).
  vector3_t randomRpy() { return vector3_t(M_PI, M_PI / 2, M_PI).cwiseProduct(randomVector()); }
  vector3_t randomVector() { return vector3_t(unit_(rng_), unit_(rng_), unit_(rng_)); }

  std::mt19937 rng_{7};
  std::uniform_real_distribution<scalar_t> unit_{-1.0, 1.0};
};

TEST_F(OrientationTest, QuaternionEulerAnglesAndSkewAgreeWithTheZYXRotation) {
  for (int k = 0; k < 300; ++k) {
    const vector3_t rpy = randomRpy(), v = randomVector(), w = randomVector();
    const matrix3_t R = rotationFromRpy(rpy);
    ASSERT_TRUE(relativelyNear(toQuaternion(rpy).toRotationMatrix(), R, 1e-14));
    ASSERT_TRUE(relativelyNear(toEulerAngles(R), rpy, 1e-12)) << rpy.transpose();
    ASSERT_TRUE(relativelyNear(skew(v) * w, v.cross(w), 1e-15));
  }
  // At and near the singularity single angles are ill-conditioned; the rotation is not.
  for (const scalar_t pitch_to_pole : {0.0, 1e-12, 1e-9, 1e-6, 1e-3}) {
    for (int k = 0; k < 40; ++k) {
      vector3_t rpy = randomRpy();
      rpy.y() = (k % 2 ? 1 : -1) * (M_PI / 2 - pitch_to_pole);
      const vector3_t recovered = toEulerAngles(rotationFromRpy(rpy));
      ASSERT_TRUE(relativelyNear(rotationFromRpy(recovered), rotationFromRpy(rpy), 1e-9));
    }
  }
}

TEST_F(OrientationTest, RateJacobiansMatchFiniteDifferencesAndInvertEachOther) {
  const scalar_t h = 1e-6;
  for (int k = 0; k < 300; ++k) {
    vector3_t rpy = randomRpy();
    if (k % 3 == 0) rpy.y() = (k % 2 ? 1 : -1) * (M_PI / 2 - 1e-5);
    const vector3_t rpy_dot = randomVector();
    const matrix3_t T = getJacobiFromRPYToOmega(rpy);
    // The world angular velocity is the vee of dR/dt R'.
    const matrix3_t omega_hat =
        (rotationFromRpy(rpy + h * rpy_dot) - rotationFromRpy(rpy - h * rpy_dot)) / (2 * h) *
        rotationFromRpy(rpy).transpose();
    ASSERT_TRUE(relativelyNear(T * rpy_dot,
                               vector3_t(omega_hat(2, 1), omega_hat(0, 2), omega_hat(1, 0)), 1e-8));
    const matrix3_t T_dot =
        (getJacobiFromRPYToOmega(rpy + h * rpy_dot) - getJacobiFromRPYToOmega(rpy - h * rpy_dot)) /
        (2 * h);
    ASSERT_TRUE(relativelyNear(getJacobiDotFromRPYToOmega(rpy, rpy_dot), T_dot, 1e-8));
    const scalar_t conditioning = 1.0 / std::abs(std::cos(rpy.y()));
    ASSERT_TRUE(relativelyNear(T * getJacobiFromOmegaToRPY(rpy), matrix3_t::Identity(),
                               1e-14 * conditioning));
  }
}

// Two orientations 0.1 rad apart in yaw across the wrap at +-pi give a small error; an ordinary
// error, even one near a half-turn, is left as it is; a large one loses a full turn only on the
// axes beyond pi.
TEST_F(OrientationTest, EulerAngleErrorUndoesOnlyAWrap) {
  const vector3_t rpy(0.1, -0.2, M_PI - 0.05), rpy_wrapped(0.11, -0.2, -M_PI + 0.05);
  EXPECT_TRUE(eulerAngleError(rpy, rpy_wrapped).isApprox(vector3_t(-0.01, 0.0, -0.1), 1e-12));
  const vector3_t ordinary(0.5, -0.4, 3.0), large_pair(-3.1, 0.0, 4.0);
  EXPECT_EQ(eulerAngleError(ordinary, vector3_t::Zero()), ordinary);
  EXPECT_TRUE(eulerAngleError(large_pair, vector3_t::Zero())
                  .isApprox(vector3_t(-3.1, 0.0, 4.0 - 2.0 * M_PI), 1e-12));
}

}  // namespace
}  // namespace velmora::test
