// Orientation helpers against elementary rotations, finite differences and round trips,
// including near the pitch singularity.

#include <cmath>
#include <random>

#include <gtest/gtest.h>

#include "TestHelpers.h"
#include "pinocchio/Orientation.h"

namespace velmora::test {
namespace {

matrix3_t rotationX(scalar_t angle) {
  const scalar_t c = std::cos(angle), s = std::sin(angle);
  matrix3_t R;
  R << 1, 0, 0, 0, c, -s, 0, s, c;
  return R;
}
matrix3_t rotationY(scalar_t angle) {
  const scalar_t c = std::cos(angle), s = std::sin(angle);
  matrix3_t R;
  R << c, 0, s, 0, 1, 0, -s, 0, c;
  return R;
}
matrix3_t rotationZ(scalar_t angle) {
  const scalar_t c = std::cos(angle), s = std::sin(angle);
  matrix3_t R;
  R << c, -s, 0, s, c, 0, 0, 0, 1;
  return R;
}
/// R = Rz(yaw) Ry(pitch) Rx(roll) from elementary rotations.
matrix3_t rotationFromRpy(const vector3_t& rpy) {
  return rotationZ(rpy.z()) * rotationY(rpy.y()) * rotationX(rpy.x());
}
vector3_t vee(const matrix3_t& skew_matrix) {
  return vector3_t(skew_matrix(2, 1), skew_matrix(0, 2), skew_matrix(1, 0));
}

class OrientationTest : public ::testing::Test {
 protected:
  /// Roll and yaw in (-pi, pi), pitch in (-pi/2, pi/2).
  vector3_t randomRpy() {
    std::uniform_real_distribution<scalar_t> unit(-1.0, 1.0);
    return vector3_t(M_PI * unit(rng_), 0.5 * M_PI * unit(rng_), M_PI * unit(rng_));
  }
  vector3_t randomVector() {
    std::normal_distribution<scalar_t> normal(0.0, 1.0);
    return vector3_t(normal(rng_), normal(rng_), normal(rng_));
  }
  std::mt19937 rng_{7};
};

TEST_F(OrientationTest, QuaternionIsTheZYXRotation) {
  for (int k = 0; k < 500; ++k) {
    const vector3_t rpy = randomRpy();
    const Eigen::Quaternion<scalar_t> q = toQuaternion(rpy);
    EXPECT_NEAR(q.norm(), 1.0, 1e-15);
    ASSERT_TRUE(relativelyNear(q.toRotationMatrix(), rotationFromRpy(rpy), 1e-14));
  }
  // Closed forms: a pure yaw is (0, 0, sin(y/2), cos(y/2)); a pure roll (sin(r/2), 0, 0, cos(r/2)).
  const Eigen::Quaternion<scalar_t> yaw = toQuaternion(vector3_t(0, 0, 0.8));
  EXPECT_NEAR(yaw.z(), std::sin(0.4), 1e-15);
  EXPECT_NEAR(yaw.w(), std::cos(0.4), 1e-15);
  const Eigen::Quaternion<scalar_t> roll = toQuaternion(vector3_t(-0.6, 0, 0));
  EXPECT_NEAR(roll.x(), std::sin(-0.3), 1e-15);
  EXPECT_NEAR(roll.w(), std::cos(-0.3), 1e-15);
}

TEST_F(OrientationTest, EulerAnglesRoundTrip) {
  for (int k = 0; k < 500; ++k) {
    const vector3_t rpy = randomRpy();
    ASSERT_TRUE(relativelyNear(toEulerAngles(rotationFromRpy(rpy)), rpy, 1e-12)) << rpy;
  }
  // From arbitrary rotations: angles in range and the rotation rebuilt.
  for (int k = 0; k < 500; ++k) {
    const vector3_t a = randomVector(), b = randomVector();
    const Eigen::Quaternion<scalar_t> q(vector4_t(a.x(), a.y(), a.z(), b.x()).normalized());
    const matrix3_t R = q.toRotationMatrix();
    const vector3_t rpy = toEulerAngles(R);
    EXPECT_LE(std::abs(rpy.x()), M_PI);
    EXPECT_LE(std::abs(rpy.y()), M_PI / 2);
    EXPECT_LE(std::abs(rpy.z()), M_PI);
    ASSERT_TRUE(relativelyNear(rotationFromRpy(rpy), R, 1e-12));
  }
}

TEST_F(OrientationTest, EulerAnglesAtAndNearThePitchSingularity) {
  for (const scalar_t sign : {1.0, -1.0}) {
    for (const scalar_t distance : {0.0, 1e-12, 1e-9, 1e-6, 1e-3}) {
      for (int k = 0; k < 50; ++k) {
        vector3_t rpy = randomRpy();
        rpy.y() = sign * (0.5 * M_PI - distance);
        const matrix3_t R = rotationFromRpy(rpy);
        const vector3_t recovered = toEulerAngles(R);
        ASSERT_TRUE(recovered.allFinite());
        // Individual angles are ill-conditioned here; the rotation is not.
        ASSERT_TRUE(relativelyNear(rotationFromRpy(recovered), R, 1e-9))
            << "pitch " << rpy.y() << " recovered " << recovered.transpose();
        EXPECT_NEAR(recovered.y(), rpy.y(), 1e-6 + 10 * distance);
      }
    }
  }
}

TEST_F(OrientationTest, SkewIsTheCrossProduct) {
  for (int k = 0; k < 100; ++k) {
    const vector3_t v = randomVector(), w = randomVector();
    ASSERT_TRUE(relativelyNear(skew(v) * w, v.cross(w), 1e-15));
    ASSERT_TRUE(relativelyNear(skew(v).transpose(), -skew(v), 0.0));
  }
}

TEST_F(OrientationTest, RpyRatesToWorldAngularVelocityMatchFiniteDifferences) {
  const scalar_t h = 1e-6;
  for (int k = 0; k < 300; ++k) {
    const vector3_t rpy = randomRpy(), rpy_dot = randomVector();
    const matrix3_t R_dot =
        (rotationFromRpy(rpy + h * rpy_dot) - rotationFromRpy(rpy - h * rpy_dot)) / (2 * h);
    const vector3_t omega_world = vee(R_dot * rotationFromRpy(rpy).transpose());
    ASSERT_TRUE(relativelyNear(getJacobiFromRPYToOmega(rpy) * rpy_dot, omega_world, 1e-8));
  }
}

TEST_F(OrientationTest, OmegaToRpyIsTheInverseAwayFromAndNearTheSingularity) {
  for (int k = 0; k < 300; ++k) {
    vector3_t rpy = randomRpy();
    if (k % 3 == 0) rpy.y() = (k % 2 ? 1 : -1) * (0.5 * M_PI - 1e-5);
    const matrix3_t T = getJacobiFromRPYToOmega(rpy);
    const matrix3_t T_inv = getJacobiFromOmegaToRPY(rpy);
    const scalar_t conditioning = 1.0 / std::abs(std::cos(rpy.y()));
    ASSERT_TRUE(relativelyNear(T * T_inv, matrix3_t::Identity(), 1e-14 * conditioning));
    ASSERT_TRUE(relativelyNear(T_inv * T, matrix3_t::Identity(), 1e-14 * conditioning));
  }
}

TEST_F(OrientationTest, JacobianDerivativeMatchesFiniteDifferences) {
  const scalar_t h = 1e-6;
  for (int k = 0; k < 300; ++k) {
    const vector3_t rpy = randomRpy(), rpy_dot = randomVector();
    const matrix3_t expected =
        (getJacobiFromRPYToOmega(rpy + h * rpy_dot) - getJacobiFromRPYToOmega(rpy - h * rpy_dot)) /
        (2 * h);
    ASSERT_TRUE(relativelyNear(getJacobiDotFromRPYToOmega(rpy, rpy_dot), expected, 1e-8));
  }
}

// Two orientations 0.1 rad apart in yaw across the wrap at +-pi give a small error; an ordinary
// error, even one near a half-turn, is left as it is; a large one loses a full turn only on the
// axes beyond pi.
TEST_F(OrientationTest, EulerAngleErrorUndoesOnlyAWrap) {
  const vector3_t rpy(0.1, -0.2, M_PI - 0.05);
  const vector3_t rpy_wrapped(0.1, -0.2, -M_PI + 0.05);
  const vector3_t across_wrap = eulerAngleError(rpy, rpy_wrapped + vector3_t(0.01, 0.0, 0.0));
  EXPECT_TRUE(across_wrap.isApprox(vector3_t(-0.01, 0.0, -0.1), 1e-12)) << across_wrap.transpose();

  const vector3_t ordinary(0.5, -0.4, 3.0);
  EXPECT_TRUE(eulerAngleError(ordinary, vector3_t::Zero()).isApprox(ordinary, 0.0));
  const vector3_t large_pair(-3.1, 0.0, 4.0);  // norm above 3 pi / 2: only yaw is beyond pi
  EXPECT_TRUE(eulerAngleError(large_pair, vector3_t::Zero())
                  .isApprox(vector3_t(-3.1, 0.0, 4.0 - 2.0 * M_PI), 1e-12));
}

}  // namespace
}  // namespace velmora::test
