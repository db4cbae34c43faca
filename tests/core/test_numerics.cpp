// numerics::almost_eq: relative comparison, the subnormal floor, NaN.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/misc/Numerics.h"

namespace velmora {
namespace {

using numerics::almost_eq;

TEST(AlmostEq, IsRelativeToTheSmallerMagnitude) {
  EXPECT_TRUE(almost_eq(1.0, 1.0, 0.0));
  EXPECT_TRUE(almost_eq(1000.0, 1000.5, 1e-3));   // 0.5 <= 1000 * 1e-3
  EXPECT_FALSE(almost_eq(1000.0, 1001.5, 1e-3));  // 1.5 > 1.0
  EXPECT_TRUE(almost_eq(1e-9, 1.0000001e-9, 1e-6));
  EXPECT_FALSE(almost_eq(1e-9, 1.1e-9, 1e-6));
  EXPECT_TRUE(almost_eq(-2.0, -2.0 - 1e-12, 1e-12));
  EXPECT_FALSE(almost_eq(-1.0, 1.0, 0.5));
  // Symmetric in its two arguments.
  EXPECT_EQ(almost_eq(3.0, 3.3, 0.095), almost_eq(3.3, 3.0, 0.095));
  EXPECT_FALSE(almost_eq(3.0, 3.3, 0.095));  // 0.3 > 3.0 * 0.095 although 0.3 < 3.3 * 0.095
}

TEST(AlmostEq, OneUlpWithMachineEpsilon) {
  constexpr double eps = std::numeric_limits<double>::epsilon();
  EXPECT_TRUE(almost_eq(1.0, std::nextafter(1.0, 2.0), eps));
  EXPECT_TRUE(almost_eq(1.0, std::nextafter(1.0, 0.0), eps));
  EXPECT_FALSE(almost_eq(1.0, 1.0 + 4 * eps, eps));
}

TEST(AlmostEq, AgainstZeroOnlyExactOrSubnormal) {
  constexpr double eps = std::numeric_limits<double>::epsilon();
  EXPECT_TRUE(almost_eq(0.0, 0.0, eps));
  EXPECT_TRUE(almost_eq(0.0, -0.0, eps));
  EXPECT_FALSE(almost_eq(0.0, 1e-20, eps));
  EXPECT_FALSE(almost_eq(0.0, std::numeric_limits<double>::min(), 1.0));
  EXPECT_TRUE(almost_eq(0.0, std::numeric_limits<double>::denorm_min(), eps));
  EXPECT_TRUE(almost_eq(0.0, std::numeric_limits<double>::min() / 2, eps));
}

TEST(AlmostEq, NaNIsNeverEqual) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_FALSE(almost_eq(nan, nan, 1.0));
  EXPECT_FALSE(almost_eq(nan, 0.0, 1.0));
  EXPECT_FALSE(almost_eq(1.0, nan, 1.0));
}

TEST(ClampOrLowerLimit, ClampsAndSendsNaNToTheLowerLimit) {
  using numerics::clampOrLowerLimit;
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(clampOrLowerLimit(0.3, 0.01, 1.0), 0.3);
  EXPECT_EQ(clampOrLowerLimit(0.01, 0.01, 1.0), 0.01);
  EXPECT_EQ(clampOrLowerLimit(-5.0, 0.01, 1.0), 0.01);
  EXPECT_EQ(clampOrLowerLimit(7.0, 0.01, 1.0), 1.0);
  EXPECT_EQ(clampOrLowerLimit(inf, 0.01, 1.0), 1.0);
  EXPECT_EQ(clampOrLowerLimit(-inf, 0.01, 1.0), 0.01);
  EXPECT_EQ(clampOrLowerLimit(std::numeric_limits<double>::quiet_NaN(), 0.01, 1.0), 0.01);
}

}  // namespace
}  // namespace velmora
