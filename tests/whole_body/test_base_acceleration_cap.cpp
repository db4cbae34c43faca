// The cap of the demanded base acceleration against its closed form: each part (linear, angular)
// keeps its direction, ends at most at its own cap, and is independent of the other part.

#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "control/BaseAccelerationCap.h"

namespace velmora {
namespace {

TEST(BaseAccelerationCap, LeavesADemandWithinBothCapsUnchanged) {
  vector6_t acc;
  acc << 3.0, -4.0, 12.0, 10.0, -20.0, 5.0;  // |linear| = 13, |angular| = 22.9
  EXPECT_EQ(capBaseAcceleration(acc, 13.0 + 1e-9, 23.0), acc);
}

TEST(BaseAccelerationCap, ScalesEachPartToItsOwnCapAlongItsDirection) {
  vector6_t acc;
  acc << 3.0, -4.0, 12.0, 30.0, -40.0, 0.0;  // |linear| = 13, |angular| = 50
  const vector6_t capped = capBaseAcceleration(acc, 6.5, 20.0);
  // Closed form: linear halved, angular times 0.4.
  vector6_t expected;
  expected << 1.5, -2.0, 6.0, 12.0, -16.0, 0.0;
  EXPECT_TRUE(capped.isApprox(expected, 1e-12)) << capped.transpose();
  EXPECT_NEAR(capped.head<3>().norm(), 6.5, 1e-12);
  EXPECT_NEAR(capped.tail<3>().norm(), 20.0, 1e-12);
}

TEST(BaseAccelerationCap, ALargeAngularDemandLeavesTheLinearOneAlone) {
  // A trunk rolled by a push: the vertical acceleration that holds it up survives a roll demand
  // far beyond the angular cap.
  vector6_t acc;
  acc << 0.5, -1.0, 8.0, 100.0, 0.0, 0.0;
  const vector6_t capped = capBaseAcceleration(acc, 20.0, 40.0);
  EXPECT_EQ(capped.head<3>(), acc.head<3>());
  EXPECT_NEAR(capped(3), 40.0, 1e-12);
  EXPECT_EQ(capped(4), 0.0);
  EXPECT_EQ(capped(5), 0.0);
}

TEST(BaseAccelerationCap, RandomDemandsStayWithinTheCapsAndKeepTheirDirections) {
  std::srand(7);
  for (int n = 0; n < 200; ++n) {
    const vector6_t acc = 50.0 * vector6_t::Random();
    const vector6_t capped = capBaseAcceleration(acc, 20.0, 40.0);
    EXPECT_LE(capped.head<3>().norm(), 20.0 + 1e-9);
    EXPECT_LE(capped.tail<3>().norm(), 40.0 + 1e-9);
    // Same direction: parallel and non-negative scale, never larger than the input.
    for (const int start : {0, 3}) {
      const vector3_t in = acc.segment<3>(start), out = capped.segment<3>(start);
      EXPECT_NEAR(in.cross(out).norm(), 0.0, 1e-9 * in.squaredNorm());
      EXPECT_GE(in.dot(out), 0.0);
      EXPECT_LE(out.norm(), in.norm() + 1e-12);
    }
  }
}

TEST(BaseAccelerationCap, RejectsCapsThatAreNotPositiveAndFinite) {
  const vector6_t acc = vector6_t::Ones();
  EXPECT_THROW(capBaseAcceleration(acc, 0.0, 40.0), std::invalid_argument);
  EXPECT_THROW(capBaseAcceleration(acc, 20.0, -1.0), std::invalid_argument);
  EXPECT_THROW(capBaseAcceleration(acc, std::nan(""), 40.0), std::invalid_argument);
  EXPECT_THROW(capBaseAcceleration(acc, 20.0, INFINITY), std::invalid_argument);
  try {
    capBaseAcceleration(acc, 20.0, 0.0);
    FAIL() << "no exception";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("max_angular_radps2"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace velmora
