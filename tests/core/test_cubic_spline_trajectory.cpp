// CubicSplineTrajectory against closed forms and the conditions that define a cubic spline;
// behaviour outside its range; error paths.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <random>

#include "core/trajectory/CubicSplineTrajectory.h"

namespace velmora {
namespace {

using ::testing::HasSubstr;

std::vector<scalar_t> randomKnotTimes(std::mt19937& rng, int count, scalar_t start) {
  std::uniform_real_distribution<scalar_t> spacing(0.05, 0.6);
  std::vector<scalar_t> times{start};
  for (int k = 1; k < count; ++k) times.push_back(times.back() + spacing(rng));
  return times;
}

vector_t randomVector(std::mt19937& rng) {
  std::uniform_real_distribution<scalar_t> value(-2.0, 2.0);
  return vector3_t(value(rng), value(rng), value(rng));
}

TEST(CubicSplineTrajectory, ClampedSplineReproducesACubicPolynomialExactly) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 20; ++trial) {
    // p(t) = c0 + c1 t + c2 t^2 + c3 t^3 with its closed-form calculus.
    const vector_t c0 = randomVector(rng), c1 = randomVector(rng);
    const vector_t c2 = randomVector(rng), c3 = randomVector(rng);
    const auto p = [&](scalar_t t) -> vector_t {
      return c0 + t * c1 + t * t * c2 + t * t * t * c3;
    };
    const auto rate = [&](scalar_t t) -> vector_t { return c1 + 2 * t * c2 + 3 * t * t * c3; };
    const auto primitive = [&](scalar_t t) -> vector_t {
      return t * c0 + t * t / 2 * c1 + t * t * t / 3 * c2 + t * t * t * t / 4 * c3;
    };
    const std::vector<scalar_t> times = randomKnotTimes(rng, 2 + trial % 7, -0.7);
    std::vector<vector_t> values;
    for (const scalar_t t : times) values.push_back(p(t));
    const CubicSplineTrajectory spline(times, values, rate(times.front()), rate(times.back()));
    std::uniform_real_distribution<scalar_t> sample(times.front(), times.back());
    for (int i = 0; i < 30; ++i) {
      const scalar_t t = sample(rng);
      ASSERT_TRUE(spline.evaluate(t).isApprox(p(t), 1e-11)) << "t = " << t;
      ASSERT_LT((spline.derivative(t, 1) - rate(t)).norm(), 1e-9);
      ASSERT_LT((spline.derivative(t, 2) - (2 * c2 + 6 * t * c3)).norm(), 1e-8);
      ASSERT_LT((spline.derivative(t, 3) - 6 * c3).norm(), 1e-7);
      ASSERT_LT((spline.integral(t) - primitive(t) + primitive(times.front())).norm(), 1e-10);
    }
  }
}

// Interpolation, continuous first and second derivatives at the interior knots and the end
// conditions determine the spline: a wrongly assembled system breaks one of them by O(1). The
// knots lie at node-clock times since the epoch, where only local segment time stays accurate.
TEST(CubicSplineTrajectory, ClampedAndNaturalSplinesAreC2InterpolantsWithTheirEndConditions) {
  std::mt19937 rng(3);
  const std::vector<scalar_t> times = randomKnotTimes(rng, 12, 1.7e9);
  std::vector<vector_t> values;
  for (std::size_t k = 0; k < times.size(); ++k) values.push_back(randomVector(rng));
  const vector_t start_rate = randomVector(rng), end_rate = randomVector(rng);
  const CubicSplineTrajectory clamped(times, values, start_rate, end_rate);
  const CubicSplineTrajectory natural = CubicSplineTrajectory::natural(times, values);
  for (const CubicSplineTrajectory* spline : {&clamped, &natural}) {
    for (std::size_t k = 0; k < times.size(); ++k) {
      EXPECT_TRUE(spline->evaluate(times[k]).isApprox(values[k], 1e-12)) << "knot " << k;
      if (k == 0 || k + 1 == times.size()) continue;
      // One-sided Taylor steps to the knot; the steps are exact differences of doubles.
      const scalar_t left = times[k] - 1e-6, right = times[k] + 1e-6;
      const scalar_t hl = times[k] - left, hr = right - times[k];
      const auto d = [&](scalar_t t, int n) { return spline->derivative(t, n); };
      EXPECT_LT((d(right, 1) - d(left, 1) - hl * d(left, 2) - hr * d(right, 2)).norm(), 1e-6);
      EXPECT_LT((d(right, 2) - d(left, 2) - hl * d(left, 3) - hr * d(right, 3)).norm(), 1e-6);
    }
  }
  EXPECT_LT((clamped.derivative(times.front(), 1) - start_rate).norm(), 1e-12);
  EXPECT_LT((clamped.derivative(times.back(), 1) - end_rate).norm(), 1e-9);
  EXPECT_LT(natural.derivative(times.front(), 2).norm(), 1e-9);
  EXPECT_LT(natural.derivative(times.back(), 2).norm(), 1e-9);
}

TEST(CubicSplineTrajectory, HoldsEndValuesWithZeroRatesOutsideItsRange) {
  const std::vector<vector_t> values{vector3_t(1, 2, 3), vector3_t(0, 0, 0), vector3_t(-1, 5, 2)};
  const CubicSplineTrajectory spline({2.0, 2.5, 3.0}, values, vector3_t(1, -2, 0.5));
  for (const scalar_t t : {-100.0, 1.999999, 3.000001, 1e6}) {
    const bool before = t < 2.0;
    EXPECT_EQ(spline.evaluate(t), before ? values.front() : values.back()) << "t = " << t;
    EXPECT_TRUE(spline.derivative(t, 1).isZero(0.0) && spline.derivative(t, 2).isZero(0.0));
    const vector_t integral =
        before ? vector_t::Zero(3) : vector_t(spline.integral(3.0) + (t - 3.0) * values.back());
    EXPECT_TRUE(spline.integral(t).isApprox(integral) ||
                (before && spline.integral(t).isZero(0.0)));
  }
}

/// Expects `call` to throw std::invalid_argument naming the class and holding `fragment`.
void expectInvalid(const std::function<void()>& call, const std::string& fragment) {
  try {
    call();
    ADD_FAILURE() << "no error, expected one mentioning: " << fragment;
  } catch (const std::invalid_argument& e) {
    EXPECT_THAT(e.what(), HasSubstr("CubicSplineTrajectory"));
    EXPECT_THAT(e.what(), HasSubstr(fragment));
  }
}

TEST(CubicSplineTrajectory, RejectsBadInputsNamingTheProblem) {
  const vector3_t v(1, 2, 3);
  const scalar_t nan = std::numeric_limits<scalar_t>::quiet_NaN();
  struct BadKnots {
    std::vector<scalar_t> times;
    std::vector<vector_t> values;
    vector_t end_rate;
    std::string fragment;
  };
  const std::vector<BadKnots> cases = {
      {{0.0}, {v}, {}, "at least two knots are needed, got 1"},
      {{0, 1}, {v, vector_t::Zero(2)}, {}, "knot value 1 has dimension 2"},
      {{0, 2, 1}, {v, v, v}, {}, "knot 2 (t = 1) does not follow knot 1 (t = 2)"},
      {{-1 / 0.0, 0}, {v, v}, {}, "knot time 0 is not finite"},
      {{0, 1}, {v, vector3_t(0, nan, 0)}, {}, "knot value 1 has a NaN or infinite entry"},
      {{0, 1}, {v, v}, vector3_t(0, 0, nan), "end rate has a NaN or infinite entry"},
      {{0, 1e-300}, {v, -v}, {}, "overflow"}};
  for (const BadKnots& c : cases) {
    expectInvalid([&] { CubicSplineTrajectory(c.times, c.values, vector_t(), c.end_rate); },
                  c.fragment);
  }
  const CubicSplineTrajectory spline({0.0, 1.0}, {v, v});
  expectInvalid([&] { spline.derivative(0.5, 0); }, "derivative order must be at least 1, got 0");
  expectInvalid([&] { spline.integral(nan); }, "integral at time NaN");
  expectInvalid([&] { CubicSplineTrajectory::linearRamp(v, vector_t::Zero(4), 0, 1); },
                "dimension");
}

}  // namespace
}  // namespace velmora
