// Invariants of the spatial algebra: placements, motions, forces and inertias.

#include <random>

#include <gtest/gtest.h>

#include "TestHelpers.h"
#include "rigid_body/Force.h"
#include "rigid_body/Inertia.h"
#include "rigid_body/Motion.h"
#include "rigid_body/SE3.h"

namespace velmora::test {
namespace {

using rigid_body::Force;
using rigid_body::Inertia;
using rigid_body::Motion;
using rigid_body::SE3;

class SpatialAlgebraTest : public ::testing::Test {
 protected:
  vector3_t randomVector() { return vector3_t(normal_(rng_), normal_(rng_), normal_(rng_)); }
  SE3 randomPlacement() {
    const Eigen::Quaternion<scalar_t> q(
        vector4_t(normal_(rng_), normal_(rng_), normal_(rng_), normal_(rng_)).normalized());
    return SE3(q.toRotationMatrix(), randomVector());
  }
  Motion randomMotion() { return Motion(randomVector(), randomVector()); }
  Force randomForce() { return Force(randomVector(), randomVector()); }
  Inertia randomInertia() {
    // Principal moments of a random box, so the triangle inequalities hold.
    const vector3_t sides = randomVector().cwiseAbs() + vector3_t::Constant(0.1);
    const scalar_t mass = 0.5 + std::abs(normal_(rng_));
    const vector3_t moments(mass / 12 * (sides.y() * sides.y() + sides.z() * sides.z()),
                            mass / 12 * (sides.x() * sides.x() + sides.z() * sides.z()),
                            mass / 12 * (sides.x() * sides.x() + sides.y() * sides.y()));
    const matrix3_t R = randomPlacement().rotation();
    return Inertia(mass, randomVector(), R * moments.asDiagonal() * R.transpose());
  }

  std::mt19937 rng_{11};
  std::normal_distribution<scalar_t> normal_{0.0, 1.0};
};

TEST_F(SpatialAlgebraTest, PlacementCompositionAndInverse) {
  for (int k = 0; k < 100; ++k) {
    const SE3 A = randomPlacement(), B = randomPlacement();
    const vector3_t point = randomVector();
    EXPECT_TRUE((A * A.inverse()).isApprox(SE3::Identity(), 1e-14));
    EXPECT_TRUE(relativelyNear((A * B).act(point), A.act(B.act(point)), 1e-14));
    EXPECT_TRUE(relativelyNear(A.actInv(A.act(point)), point, 1e-14));
    const Motion m = randomMotion();
    EXPECT_TRUE(relativelyNear((A * B).act(m).toVector(), A.act(B.act(m)).toVector(), 1e-13));
    EXPECT_TRUE(relativelyNear(A.actInv(A.act(m)).toVector(), m.toVector(), 1e-13));
    const Force f = randomForce();
    EXPECT_TRUE(relativelyNear((A * B).act(f).toVector(), A.act(B.act(f)).toVector(), 1e-13));
    EXPECT_TRUE(relativelyNear(A.actInv(A.act(f)).toVector(), f.toVector(), 1e-13));
  }
}

TEST_F(SpatialAlgebraTest, MotionTransformKeepsTheVelocityField) {
  // A motion (v, w) of frame b moves a point p (b coordinates) at v + w x p; expressed in a,
  // the same point must move at the rotated velocity.
  for (int k = 0; k < 100; ++k) {
    const SE3 aMb = randomPlacement();
    const Motion m_b = randomMotion();
    const vector3_t p_b = randomVector();
    const Motion m_a = aMb.act(m_b);
    const vector3_t velocity_b = m_b.linear() + m_b.angular().cross(p_b);
    const vector3_t velocity_a = m_a.linear() + m_a.angular().cross(aMb.act(p_b));
    EXPECT_TRUE(relativelyNear(velocity_a, aMb.rotation() * velocity_b, 1e-13));
  }
}

TEST_F(SpatialAlgebraTest, ForceTransformKeepsMomentsAndPower) {
  for (int k = 0; k < 100; ++k) {
    const SE3 aMb = randomPlacement();
    const Force f_b = randomForce();
    const Force f_a = aMb.act(f_b);
    // Moment about a point p: n - p x f in either frame, rotated.
    const vector3_t p_b = randomVector();
    const vector3_t moment_b = f_b.angular() - p_b.cross(f_b.linear());
    const vector3_t moment_a = f_a.angular() - aMb.act(p_b).cross(f_a.linear());
    EXPECT_TRUE(relativelyNear(moment_a, aMb.rotation() * moment_b, 1e-13));
    // Power does not depend on the frame.
    const Motion m_b = randomMotion();
    EXPECT_NEAR(f_a.dot(aMb.act(m_b)), f_b.dot(m_b), 1e-12 * (1 + std::abs(f_b.dot(m_b))));
  }
}

TEST_F(SpatialAlgebraTest, CrossProductsAreDual) {
  // (v x* f) . m = -f . (v x m) for all v, f, m.
  for (int k = 0; k < 100; ++k) {
    const Motion v = randomMotion(), m = randomMotion();
    const Force f = randomForce();
    EXPECT_NEAR(crossForce(v, f).dot(m), -f.dot(v.cross(m)), 1e-12);
    // A motion crossed with itself is zero.
    EXPECT_TRUE(relativelyNear(v.cross(v).toVector(), vector6_t::Zero(), 1e-14));
  }
}

TEST_F(SpatialAlgebraTest, InertiaMomentumEnergyAndSums) {
  for (int k = 0; k < 100; ++k) {
    const Inertia I1 = randomInertia(), I2 = randomInertia();
    const Motion m = randomMotion();
    // Kinetic energy from the centre of mass: 1/2 m |v_c|^2 + 1/2 w' Ic w.
    const vector3_t v_com = m.linear() + m.angular().cross(I1.lever());
    const scalar_t energy =
        0.5 * I1.mass() * v_com.squaredNorm() + 0.5 * m.angular().dot(I1.inertia() * m.angular());
    EXPECT_NEAR(0.5 * (I1 * m).dot(m), energy, 1e-12 * (1 + energy));
    // The 6x6 form agrees with the product and is symmetric positive definite.
    EXPECT_TRUE(relativelyNear(I1.matrix() * m.toVector(), (I1 * m).toVector(), 1e-13));
    EXPECT_TRUE(relativelyNear(I1.matrix(), I1.matrix().transpose(), 1e-15));
    const Eigen::LLT<Eigen::Matrix<scalar_t, 6, 6>> cholesky(I1.matrix());
    EXPECT_EQ(cholesky.info(), Eigen::Success);
    // Union of bodies: spatial inertias add.
    EXPECT_TRUE(relativelyNear((I1 + I2).matrix(), I1.matrix() + I2.matrix(), 1e-13));
    // Change of frame: I_a m_a = aXb* (I_b (bXa m_a)).
    const SE3 aMb = randomPlacement();
    EXPECT_TRUE(relativelyNear((I1.transformedBy(aMb) * m).toVector(),
                               aMb.act(I1 * aMb.actInv(m)).toVector(), 1e-12));
  }
  // Adding nothing changes nothing.
  const Inertia I = randomInertia();
  EXPECT_TRUE(relativelyNear((I + Inertia::Zero()).matrix(), I.matrix(), 1e-15));
}

}  // namespace
}  // namespace velmora::test
