// numerics::almost_eq: relative to the smaller magnitude, a subnormal floor, never true for NaN.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <tuple>

#include "core/misc/Numerics.h"

namespace velmora {
namespace {

TEST(Numerics, AlmostEqIsRelativeToTheSmallerMagnitudeWithASubnormalFloor) {
  constexpr double eps = std::numeric_limits<double>::epsilon();
  constexpr double nan = std::numeric_limits<double>::quiet_NaN();
  constexpr double tiny = std::numeric_limits<double>::min();
  const std::vector<std::tuple<double, double, double, bool>> cases = {
      // a, b, prec, equal
      {1000.0, 1000.5, 1e-3, true},     {1000.0, 1001.5, 1e-3, false},
      {3.0, 3.3, 0.095, false},         {3.3, 3.0, 0.095, false},  // 0.3 > 3.0 * 0.095
      {-1.0, 1.0, 0.5, false},          {1.0, std::nextafter(1.0, 2.0), eps, true},
      {1.0, 1.0 + 4 * eps, eps, false}, {0.0, -0.0, eps, true},
      {0.0, 1e-20, eps, false},         {0.0, tiny, 1.0, false},
      {0.0, tiny / 2, eps, true},       {nan, nan, 1.0, false}};
  for (const auto& [a, b, precision, equal] : cases) {
    EXPECT_EQ(numerics::almost_eq(a, b, precision), equal) << a << " vs " << b << ", " << precision;
  }
}

}  // namespace
}  // namespace velmora
