// CubicSplineTrajectory against closed forms, an independently assembled dense spline system,
// finite differences and quadrature; error paths; concurrent evaluation.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <thread>
#include <vector>

#include "core/trajectory/CubicSplineTrajectory.h"

namespace velmora {
namespace {

using ::testing::HasSubstr;

/// p(t) = c0 + c1 t + c2 t^2 + c3 t^3 with vector coefficients, and its closed-form calculus.
struct CubicPolynomial {
  vector_t c0, c1, c2, c3;
  vector_t value(scalar_t t) const { return c0 + t * c1 + t * t * c2 + t * t * t * c3; }
  vector_t rate(scalar_t t) const { return c1 + 2 * t * c2 + 3 * t * t * c3; }
  vector_t acceleration(scalar_t t) const { return 2 * c2 + 6 * t * c3; }
  vector_t jerk() const { return 6 * c3; }
  vector_t antiderivative(scalar_t t) const {
    return t * c0 + t * t / 2 * c1 + t * t * t / 3 * c2 + t * t * t * t / 4 * c3;
  }
};

CubicPolynomial randomCubic(std::mt19937& rng, int dimension) {
  std::uniform_real_distribution<scalar_t> coefficient(-2.0, 2.0);
  auto random_vector = [&] {
    vector_t v(dimension);
    for (int i = 0; i < dimension; ++i) v(i) = coefficient(rng);
    return v;
  };
  return {random_vector(), random_vector(), random_vector(), random_vector()};
}

std::vector<scalar_t> randomKnotTimes(std::mt19937& rng, int count, scalar_t start) {
  std::uniform_real_distribution<scalar_t> spacing(0.05, 0.6);
  std::vector<scalar_t> times{start};
  for (int k = 1; k < count; ++k) times.push_back(times.back() + spacing(rng));
  return times;
}

std::vector<vector_t> randomValues(std::mt19937& rng, int count, int dimension) {
  std::uniform_real_distribution<scalar_t> value(-1.0, 1.0);
  std::vector<vector_t> values;
  for (int k = 0; k < count; ++k) {
    vector_t v(dimension);
    for (int i = 0; i < dimension; ++i) v(i) = value(rng);
    values.push_back(v);
  }
  return values;
}

/// Reference spline by brute force: 4 unknown monomial coefficients per segment (in local time),
/// assembled into one dense system of interpolation, C1 and C2 continuity and end conditions and
/// solved by LU. Shares no code or formulation with the moment-based tridiagonal construction.
/// Returns, per segment, a dim x 4 coefficient block.
std::vector<matrix_t> denseReferenceSpline(const std::vector<scalar_t>& t,
                                           const std::vector<vector_t>& y, bool clamped,
                                           const vector_t& start_rate, const vector_t& end_rate) {
  const int segments = static_cast<int>(t.size()) - 1;
  const int unknowns = 4 * segments;
  const int dimension = static_cast<int>(y.front().size());
  matrix_t system = matrix_t::Zero(unknowns, unknowns);
  matrix_t rhs = matrix_t::Zero(unknowns, dimension);
  int row = 0;
  for (int k = 0; k < segments; ++k) {
    const scalar_t h = t[k + 1] - t[k];
    system(row, 4 * k) = 1;  // value at the segment start
    rhs.row(row++) = y[k].transpose();
    for (int p = 0; p < 4; ++p) system(row, 4 * k + p) = std::pow(h, p);  // value at the end
    rhs.row(row++) = y[k + 1].transpose();
    if (k + 1 < segments) {  // first and second derivative continuous at knot k + 1
      for (int p = 1; p < 4; ++p) system(row, 4 * k + p) = p * std::pow(h, p - 1);
      system(row++, 4 * (k + 1) + 1) = -1;
      for (int p = 2; p < 4; ++p) system(row, 4 * k + p) = p * (p - 1) * std::pow(h, p - 2);
      system(row++, 4 * (k + 1) + 2) = -2;
    }
  }
  const scalar_t h_last = t[segments] - t[segments - 1];
  const int last = 4 * (segments - 1);
  if (clamped) {
    system(row, 1) = 1;
    rhs.row(row++) = start_rate.transpose();
    for (int p = 1; p < 4; ++p) system(row, last + p) = p * std::pow(h_last, p - 1);
    rhs.row(row++) = end_rate.transpose();
  } else {
    system(row++, 2) = 2;
    system(row, last + 2) = 2;
    system(row++, last + 3) = 6 * h_last;
  }
  EXPECT_EQ(row, unknowns);
  // One right-hand side at a time (matrix-vector work only).
  const Eigen::FullPivLU<matrix_t> lu(system);
  matrix_t solution(unknowns, dimension);
  for (int i = 0; i < dimension; ++i) solution.col(i) = lu.solve(vector_t(rhs.col(i)));
  std::vector<matrix_t> blocks;
  for (int k = 0; k < segments; ++k) blocks.push_back(solution.middleRows(4 * k, 4).transpose());
  return blocks;
}

vector_t evaluateReference(const std::vector<matrix_t>& blocks, const std::vector<scalar_t>& t,
                           scalar_t time, int order) {
  int k = 0;
  while (k + 1 < static_cast<int>(blocks.size()) && time >= t[k + 1]) ++k;
  const scalar_t s = time - t[k];
  const matrix_t& c = blocks[k];
  switch (order) {
    case 0:
      return c.col(0) + s * c.col(1) + s * s * c.col(2) + s * s * s * c.col(3);
    case 1:
      return c.col(1) + 2 * s * c.col(2) + 3 * s * s * c.col(3);
    default:
      return 2 * c.col(2) + 6 * s * c.col(3);
  }
}

TEST(CubicSplineTrajectory, ClampedSplineReproducesACubicPolynomialExactly) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 20; ++trial) {
    const CubicPolynomial p = randomCubic(rng, 3);
    const std::vector<scalar_t> times = randomKnotTimes(rng, 2 + trial % 7, -0.7);
    std::vector<vector_t> values;
    for (scalar_t t : times) values.push_back(p.value(t));
    const CubicSplineTrajectory spline(times, values, p.rate(times.front()), p.rate(times.back()));
    std::uniform_real_distribution<scalar_t> sample(times.front(), times.back());
    for (int i = 0; i < 50; ++i) {
      const scalar_t t = sample(rng);
      EXPECT_TRUE(spline.evaluate(t).isApprox(p.value(t), 1e-11)) << "t = " << t;
      EXPECT_LT((spline.derivative(t, 1) - p.rate(t)).norm(), 1e-9) << "t = " << t;
      EXPECT_LT((spline.derivative(t, 2) - p.acceleration(t)).norm(), 1e-8) << "t = " << t;
      EXPECT_LT((spline.derivative(t, 3) - p.jerk()).norm(), 1e-7) << "t = " << t;
      const vector_t expected_integral = p.antiderivative(t) - p.antiderivative(times.front());
      EXPECT_LT((spline.integral(t) - expected_integral).norm(), 1e-10) << "t = " << t;
    }
  }
}

TEST(CubicSplineTrajectory, ClampedAndNaturalSplinesMatchADenseReferenceConstruction) {
  std::mt19937 rng(11);
  for (int trial = 0; trial < 10; ++trial) {
    const int count = 2 + trial * 3;
    const std::vector<scalar_t> times = randomKnotTimes(rng, count, 3.0);
    const std::vector<vector_t> values = randomValues(rng, count, 4);
    const vector_t start_rate = randomValues(rng, 1, 4).front();
    const vector_t end_rate = randomValues(rng, 1, 4).front();
    const CubicSplineTrajectory clamped(times, values, start_rate, end_rate);
    const CubicSplineTrajectory natural = CubicSplineTrajectory::natural(times, values);
    const auto clamped_ref = denseReferenceSpline(times, values, true, start_rate, end_rate);
    const auto natural_ref = denseReferenceSpline(times, values, false, start_rate, end_rate);
    std::uniform_real_distribution<scalar_t> sample(times.front(), times.back());
    for (int i = 0; i < 40; ++i) {
      const scalar_t t = sample(rng);
      for (int order = 0; order <= 2; ++order) {
        const vector_t got_clamped =
            order == 0 ? clamped.evaluate(t) : clamped.derivative(t, order);
        const vector_t got_natural =
            order == 0 ? natural.evaluate(t) : natural.derivative(t, order);
        EXPECT_LT((got_clamped - evaluateReference(clamped_ref, times, t, order)).norm(), 1e-8)
            << "clamped, order " << order << ", t = " << t;
        EXPECT_LT((got_natural - evaluateReference(natural_ref, times, t, order)).norm(), 1e-8)
            << "natural, order " << order << ", t = " << t;
      }
    }
  }
}

TEST(CubicSplineTrajectory, InterpolatesKnotsAndIsTwiceContinuouslyDifferentiable) {
  std::mt19937 rng(3);
  const std::vector<scalar_t> times = randomKnotTimes(rng, 12, 0.0);
  const std::vector<vector_t> values = randomValues(rng, 12, 3);
  for (const bool natural : {false, true}) {
    const CubicSplineTrajectory spline = natural ? CubicSplineTrajectory::natural(times, values)
                                                 : CubicSplineTrajectory(times, values);
    for (size_t k = 0; k < times.size(); ++k) {
      EXPECT_TRUE(spline.evaluate(times[k]).isApprox(values[k], 1e-12)) << "knot " << k;
    }
    // Left and right limits at every interior knot agree up to the step times a bound on the
    // next derivative; a jump (as a C1-only or wrongly assembled spline would have) is O(1).
    const scalar_t step = 1e-7;
    for (size_t k = 1; k + 1 < times.size(); ++k) {
      const scalar_t left = times[k] - step;
      const scalar_t right = times[k] + step;
      EXPECT_LT((spline.evaluate(left) - spline.evaluate(right)).norm(), 1e-4);
      EXPECT_LT((spline.derivative(left, 1) - spline.derivative(right, 1)).norm(), 1e-3);
      EXPECT_LT((spline.derivative(left, 2) - spline.derivative(right, 2)).norm(), 1e-2)
          << "second derivative jumps at knot " << k;
    }
    if (natural) {
      EXPECT_LT(spline.derivative(times.front(), 2).norm(), 1e-9);
      EXPECT_LT(spline.derivative(times.back(), 2).norm(), 1e-9);
    } else {
      EXPECT_LT(spline.derivative(times.front(), 1).norm(), 1e-12);
      EXPECT_LT(spline.derivative(times.back(), 1).norm(), 1e-9);
    }
  }
}

TEST(CubicSplineTrajectory, DerivativesAndIntegralAgreeWithFiniteDifferences) {
  std::mt19937 rng(5);
  const std::vector<scalar_t> times = randomKnotTimes(rng, 9, 1.0);
  const std::vector<vector_t> values = randomValues(rng, 9, 3);
  const CubicSplineTrajectory spline(times, values, vector_t::Constant(3, 0.4),
                                     vector_t::Constant(3, -0.3));
  const scalar_t h = 1e-5;
  for (size_t k = 0; k + 1 < times.size(); ++k) {
    // Sample inside the segment, away from the knots where the third derivative jumps.
    for (const scalar_t fraction : {0.2, 0.5, 0.8}) {
      const scalar_t t = times[k] + fraction * (times[k + 1] - times[k]);
      const vector_t fd_rate = (spline.evaluate(t + h) - spline.evaluate(t - h)) / (2 * h);
      const vector_t fd_acceleration =
          (spline.derivative(t + h, 1) - spline.derivative(t - h, 1)) / (2 * h);
      const vector_t fd_jerk =
          (spline.derivative(t + h, 2) - spline.derivative(t - h, 2)) / (2 * h);
      const vector_t fd_value = (spline.integral(t + h) - spline.integral(t - h)) / (2 * h);
      EXPECT_LT((spline.derivative(t, 1) - fd_rate).norm(), 1e-6);
      EXPECT_LT((spline.derivative(t, 2) - fd_acceleration).norm(), 1e-5);
      EXPECT_LT((spline.derivative(t, 3) - fd_jerk).norm(), 1e-4);
      EXPECT_LT((spline.evaluate(t) - fd_value).norm(), 1e-8);
    }
  }
  // The integral over the whole range against composite Simpson quadrature.
  const int intervals = 20000;
  const scalar_t width = (times.back() - times.front()) / intervals;
  vector_t simpson = spline.evaluate(times.front()) + spline.evaluate(times.back());
  for (int i = 1; i < intervals; ++i) {
    simpson += (i % 2 == 1 ? 4.0 : 2.0) * spline.evaluate(times.front() + i * width);
  }
  simpson *= width / 3.0;
  EXPECT_LT((spline.integral(times.back()) - simpson).norm(), 1e-9);
  EXPECT_EQ(spline.derivative(times[2], 4).size(), 3);
  EXPECT_TRUE(spline.derivative(times[2] + 0.01, 4).isZero(0.0));
  EXPECT_TRUE(spline.derivative(times[2] + 0.01, 7).isZero(0.0));
}

TEST(CubicSplineTrajectory, HoldsEndValuesWithZeroRatesOutsideItsRange) {
  const std::vector<scalar_t> times{2.0, 2.5, 3.0};
  const std::vector<vector_t> values{vector3_t(1, 2, 3), vector3_t(0, 0, 0), vector3_t(-1, 5, 2)};
  const vector3_t rate(1.0, -2.0, 0.5);
  const CubicSplineTrajectory spline(times, values, rate, rate);
  EXPECT_DOUBLE_EQ(spline.startTime(), 2.0);
  EXPECT_DOUBLE_EQ(spline.endTime(), 3.0);
  EXPECT_DOUBLE_EQ(spline.duration(), 1.0);
  for (const scalar_t t : {-100.0, 1.0, 1.999999}) {
    EXPECT_EQ(spline.evaluate(t), values.front()) << "t = " << t;
    for (int n = 1; n <= 4; ++n) EXPECT_TRUE(spline.derivative(t, n).isZero(0.0)) << t;
    EXPECT_TRUE(spline.integral(t).isZero(0.0));
  }
  const vector_t total = spline.integral(3.0);
  for (const scalar_t t : {3.000001, 4.0, 1e6}) {
    EXPECT_EQ(spline.evaluate(t), values.back()) << "t = " << t;
    for (int n = 1; n <= 4; ++n) EXPECT_TRUE(spline.derivative(t, n).isZero(0.0)) << t;
    EXPECT_TRUE(spline.integral(t).isApprox(total + (t - 3.0) * values.back(), 1e-12));
  }
  // Inside the closed interval the end rates are those prescribed.
  EXPECT_TRUE(spline.derivative(2.0, 1).isApprox(rate, 1e-12));
  EXPECT_TRUE(spline.derivative(3.0, 1).isApprox(rate, 1e-9));
}

TEST(CubicSplineTrajectory, ConstantAndLinearRampBuilders) {
  const vector3_t value(0.1, -0.2, 0.3);
  const CubicSplineTrajectory constant = CubicSplineTrajectory::constant(value, 5.0, 7.0);
  EXPECT_EQ(constant.dimension(), 3);
  EXPECT_DOUBLE_EQ(constant.duration(), 2.0);
  for (const scalar_t t : {4.0, 5.0, 5.3, 6.99, 7.0, 9.0}) {
    EXPECT_TRUE(constant.evaluate(t).isApprox(value, 1e-15)) << t;
    EXPECT_TRUE(constant.derivative(t, 1).isZero(1e-15)) << t;
    EXPECT_TRUE(constant.derivative(t, 2).isZero(1e-15)) << t;
  }
  EXPECT_TRUE(constant.integral(6.0).isApprox(value, 1e-14));

  const vector_t start = vector3_t(0, 0, 0.3);
  const vector_t end = vector3_t(1, -2, 0.3);
  const CubicSplineTrajectory ramp = CubicSplineTrajectory::linearRamp(start, end, 1.0, 3.0);
  const vector_t slope = (end - start) / 2.0;
  for (const scalar_t t : {1.0, 1.5, 2.0, 2.9, 3.0}) {
    EXPECT_LT((ramp.evaluate(t) - (start + (t - 1.0) * slope)).norm(), 1e-14) << t;
    EXPECT_LT((ramp.derivative(t, 1) - slope).norm(), 1e-14) << t;
    EXPECT_LT(ramp.derivative(t, 2).norm(), 1e-13) << t;
  }
  EXPECT_TRUE(ramp.integral(3.0).isApprox(start + end, 1e-14));  // mean value x 2 s
}

TEST(CubicSplineTrajectory, StaysAccurateAtLargeAbsoluteTimes) {
  // References live on the node clock, whose seconds can be since the epoch (~1.7e9 s). Local
  // segment time keeps the polynomial well conditioned there.
  const scalar_t t0 = 1.7e9;
  const CubicSplineTrajectory ramp =
      CubicSplineTrajectory::linearRamp(vector3_t(0, 0, 0), vector3_t(1, 2, 3), t0, t0 + 1.0);
  const vector_t middle = ramp.evaluate(t0 + 0.5);
  EXPECT_LT((middle - vector3_t(0.5, 1.0, 1.5)).norm(), 1e-6);
  EXPECT_LT((ramp.derivative(t0 + 0.25, 1) - vector3_t(1, 2, 3)).norm(), 1e-9);
}

TEST(CubicSplineTrajectory, RejectsBadKnotsWithClearMessages) {
  const vector3_t v(1, 2, 3);
  auto expectInvalid = [](auto&& build, const std::string& fragment) {
    try {
      build();
      ADD_FAILURE() << "no exception, expected one mentioning: " << fragment;
    } catch (const std::invalid_argument& e) {
      EXPECT_THAT(e.what(), HasSubstr("CubicSplineTrajectory"));
      EXPECT_THAT(e.what(), HasSubstr(fragment));
    }
  };
  const scalar_t nan = std::numeric_limits<scalar_t>::quiet_NaN();
  const scalar_t inf = std::numeric_limits<scalar_t>::infinity();
  expectInvalid([&] { CubicSplineTrajectory({}, {}); }, "at least two knots are needed, got 0");
  expectInvalid([&] { CubicSplineTrajectory({0.0}, {v}); }, "at least two knots are needed, got 1");
  expectInvalid(
      [&] {
        CubicSplineTrajectory({0.0, 1.0, 2.0}, {v, v});
      },
      "3 knot times but 2 knot values");
  expectInvalid(
      [&] {
        CubicSplineTrajectory({0.0, 2.0, 1.0}, {v, v, v});
      },
      "knot 2 (t = 1) does not follow knot 1 (t = 2)");
  expectInvalid([&] { CubicSplineTrajectory({0.0, 1.0, 1.0}, {v, v, v}); }, "strictly increasing");
  expectInvalid(
      [&] {
        CubicSplineTrajectory({0.0, 1.0}, {v, vector_t::Zero(2)});
      },
      "knot value 1 has dimension 2, knot value 0 has dimension 3");
  expectInvalid(
      [&] {
        CubicSplineTrajectory({0.0, 1.0}, {vector_t(), vector_t()});
      },
      "dimension 0");
  expectInvalid([&] { CubicSplineTrajectory({0.0, nan}, {v, v}); }, "knot time 1 is not finite");
  expectInvalid([&] { CubicSplineTrajectory({-inf, 0.0}, {v, v}); }, "knot time 0 is not finite");
  expectInvalid(
      [&] {
        CubicSplineTrajectory({0.0, 1.0}, {v, vector3_t(0, nan, 0)});
      },
      "knot value 1 has a NaN or infinite entry");
  expectInvalid(
      [&] {
        CubicSplineTrajectory({0.0, 1.0}, {vector3_t(inf, 0, 0), v});
      },
      "knot value 0 has a NaN or infinite entry");
  expectInvalid(
      [&] {
        CubicSplineTrajectory({0.0, 1.0}, {v, v}, vector_t::Zero(2));
      },
      "start rate has dimension 2");
  expectInvalid(
      [&] {
        CubicSplineTrajectory({0.0, 1.0}, {v, v}, v, vector3_t(0, 0, nan));
      },
      "end rate has a NaN or infinite entry");
  expectInvalid([&] { CubicSplineTrajectory::natural({0.0}, {v}); }, "at least two knots");
  expectInvalid([&] { CubicSplineTrajectory::constant(v, 1.0, 1.0); }, "strictly increasing");
  expectInvalid([&] { CubicSplineTrajectory::constant(v, 2.0, 1.0); }, "strictly increasing");
  expectInvalid([&] { CubicSplineTrajectory::linearRamp(v, vector_t::Zero(4), 0.0, 1.0); },
                "dimension");
  expectInvalid([&] { CubicSplineTrajectory::linearRamp(v, v, 0.0, nan); }, "not finite");
  expectInvalid([&] { CubicSplineTrajectory({0.0, 1e-300}, {v, -v}); }, "overflow");

  const CubicSplineTrajectory spline({0.0, 1.0}, {v, v});
  expectInvalid([&] { spline.derivative(0.5, 0); }, "derivative order must be at least 1, got 0");
  expectInvalid([&] { spline.derivative(0.5, -2); }, "got -2");
  expectInvalid([&] { spline.evaluate(nan); }, "evaluate at time NaN");
  expectInvalid([&] { spline.derivative(nan, 1); }, "derivative at time NaN");
  expectInvalid([&] { spline.integral(nan); }, "integral at time NaN");
}

TEST(CubicSplineTrajectory, ConcurrentConstCallsGiveTheSingleThreadedResults) {
  std::mt19937 rng(13);
  const std::vector<scalar_t> times = randomKnotTimes(rng, 50, 0.0);
  const auto spline = std::make_shared<const CubicSplineTrajectory>(
      times, randomValues(rng, 50, 3), vector3_t(0.1, 0.2, 0.3), vector3_t::Zero());
  std::vector<scalar_t> query_times;
  std::uniform_real_distribution<scalar_t> sample(times.front() - 1.0, times.back() + 1.0);
  for (int i = 0; i < 500; ++i) query_times.push_back(sample(rng));
  std::vector<vector_t> expected;
  for (const scalar_t t : query_times) {
    vector_t row(12);
    row << spline->evaluate(t), spline->derivative(t, 1), spline->derivative(t, 2),
        spline->integral(t);
    expected.push_back(row);
  }

  constexpr int kThreads = 8;
  std::vector<int> mismatches(kThreads, 0);
  std::vector<std::thread> threads;
  for (int id = 0; id < kThreads; ++id) {
    threads.emplace_back([&, id] {
      for (int repeat = 0; repeat < 20; ++repeat) {
        for (size_t i = 0; i < query_times.size(); ++i) {
          const size_t j = (i * (id + 1) + repeat) % query_times.size();
          const scalar_t t = query_times[j];
          vector_t row(12);
          row << spline->evaluate(t), spline->derivative(t, 1), spline->derivative(t, 2),
              spline->integral(t);
          if (row != expected[j]) ++mismatches[id];
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int id = 0; id < kThreads; ++id) EXPECT_EQ(mismatches[id], 0) << "thread " << id;
}

}  // namespace
}  // namespace velmora
