// C2 cubic spline through vector-valued knots.
//
// Conventions: n knots t_0 < ... < t_{n-1}, segment k = [t_k, t_{k+1}] of length h_k, local time
// s = t - t_k. The spline is built from its second derivatives M_k at the knots (the "moments"),
// which solve the tridiagonal system
//   h_{k-1} M_{k-1} + 2 (h_{k-1} + h_k) M_k + h_k M_{k+1} = 6 (d_k - d_{k-1}),  d_k =
//   (y_{k+1}-y_k)/h_k,
// closed by 2 h_0 M_0 + h_0 M_1 = 6 (d_0 - v_start) and h_{n-2} M_{n-2} + 2 h_{n-2} M_{n-1} =
// 6 (v_end - d_{n-2}) for a clamped spline, or by M_0 = M_{n-1} = 0 for a natural one. The system
// is strictly diagonally dominant, so the Thomas algorithm needs no pivoting. All value dimensions
// are solved at once (right-hand sides as the columns of a dim x n matrix).

#include "core/trajectory/CubicSplineTrajectory.h"

#include <algorithm>
#include <cmath>
#include <sstream>
#include <stdexcept>
#include <string>

namespace velmora {
namespace {

[[noreturn]] void fail(const std::string& what) {
  throw std::invalid_argument("CubicSplineTrajectory: " + what);
}

void checkKnots(const std::vector<scalar_t>& knot_times, const std::vector<vector_t>& knot_values) {
  if (knot_times.size() < 2) {
    fail("at least two knots are needed, got " + std::to_string(knot_times.size()));
  }
  if (knot_times.size() != knot_values.size()) {
    fail(std::to_string(knot_times.size()) + " knot times but " +
         std::to_string(knot_values.size()) + " knot values");
  }
  const Eigen::Index dimension = knot_values.front().size();
  if (dimension == 0) {
    fail("knot values have dimension 0");
  }
  for (size_t k = 0; k < knot_times.size(); ++k) {
    if (!std::isfinite(knot_times[k])) {
      std::ostringstream message;
      message << "knot time " << k << " is not finite (" << knot_times[k] << ")";
      fail(message.str());
    }
    if (k > 0 && !(knot_times[k] > knot_times[k - 1])) {
      std::ostringstream message;
      message.precision(17);
      message << "knot times must be strictly increasing, but knot " << k
              << " (t = " << knot_times[k] << ") does not follow knot " << k - 1
              << " (t = " << knot_times[k - 1] << ")";
      fail(message.str());
    }
    if (knot_values[k].size() != dimension) {
      fail("knot value " + std::to_string(k) + " has dimension " +
           std::to_string(knot_values[k].size()) + ", knot value 0 has dimension " +
           std::to_string(dimension));
    }
    if (!knot_values[k].allFinite()) {
      fail("knot value " + std::to_string(k) + " has a NaN or infinite entry");
    }
  }
}

/// Checks an optional end rate; returns it, or zeros when it is empty.
vector_t endRate(const vector_t& rate, Eigen::Index dimension, const char* name) {
  if (rate.size() == 0) {
    return vector_t::Zero(dimension);
  }
  if (rate.size() != dimension) {
    fail(std::string(name) + " has dimension " + std::to_string(rate.size()) +
         ", the knot values have dimension " + std::to_string(dimension));
  }
  if (!rate.allFinite()) {
    fail(std::string(name) + " has a NaN or infinite entry");
  }
  return rate;
}

void checkTime(scalar_t t, const char* operation) {
  if (std::isnan(t)) {
    fail(std::string(operation) + " at time NaN");
  }
}

}  // namespace

CubicSplineTrajectory::CubicSplineTrajectory(const std::vector<scalar_t>& knot_times,
                                             const std::vector<vector_t>& knot_values,
                                             const vector_t& start_rate, const vector_t& end_rate)
    : CubicSplineTrajectory(knot_times, knot_values, Boundary::kClamped, start_rate, end_rate) {}

CubicSplineTrajectory::CubicSplineTrajectory(const std::vector<scalar_t>& knot_times,
                                             const std::vector<vector_t>& knot_values,
                                             Boundary boundary, const vector_t& start_rate,
                                             const vector_t& end_rate)
    : TrajectoryBase<vector_t, vector_t>(knot_times.empty() ? 0.0 : knot_times.front(),
                                         knot_times.empty() ? 0.0 : knot_times.back()) {
  checkKnots(knot_times, knot_values);
  const Eigen::Index dimension = knot_values.front().size();
  const vector_t rate_start = endRate(start_rate, dimension, "start rate");
  const vector_t rate_end = endRate(end_rate, dimension, "end rate");

  const Eigen::Index num_knots = static_cast<Eigen::Index>(knot_times.size());
  const Eigen::Index num_segments = num_knots - 1;
  knot_times_ = knot_times;
  end_value_ = knot_values.back();

  vector_t h(num_segments);
  matrix_t slope(dimension, num_segments);
  for (Eigen::Index k = 0; k < num_segments; ++k) {
    h(k) = knot_times[k + 1] - knot_times[k];
    slope.col(k) = (knot_values[k + 1] - knot_values[k]) / h(k);
  }

  // Tridiagonal system for the moments: lower(k) M_{k-1} + diag(k) M_k + upper(k) M_{k+1} = rhs.
  vector_t lower = vector_t::Zero(num_knots);
  vector_t diag(num_knots);
  vector_t upper = vector_t::Zero(num_knots);
  matrix_t rhs(dimension, num_knots);
  for (Eigen::Index k = 1; k < num_knots - 1; ++k) {
    lower(k) = h(k - 1);
    diag(k) = 2.0 * (h(k - 1) + h(k));
    upper(k) = h(k);
    rhs.col(k) = 6.0 * (slope.col(k) - slope.col(k - 1));
  }
  const Eigen::Index last = num_knots - 1;
  if (boundary == Boundary::kClamped) {
    diag(0) = 2.0 * h(0);
    upper(0) = h(0);
    rhs.col(0) = 6.0 * (slope.col(0) - rate_start);
    lower(last) = h(last - 1);
    diag(last) = 2.0 * h(last - 1);
    rhs.col(last) = 6.0 * (rate_end - slope.col(last - 1));
  } else {
    diag(0) = 1.0;
    rhs.col(0).setZero();
    diag(last) = 1.0;
    rhs.col(last).setZero();
  }

  // Thomas algorithm: forward elimination, then back substitution into `rhs` (becoming M).
  upper(0) /= diag(0);
  rhs.col(0) /= diag(0);
  for (Eigen::Index k = 1; k < num_knots; ++k) {
    const scalar_t pivot = diag(k) - lower(k) * upper(k - 1);
    upper(k) /= pivot;
    rhs.col(k) = (rhs.col(k) - lower(k) * rhs.col(k - 1)) / pivot;
  }
  for (Eigen::Index k = num_knots - 2; k >= 0; --k) {
    rhs.col(k) -= upper(k) * rhs.col(k + 1);
  }
  const matrix_t& moments = rhs;

  coefficients_.resize(dimension, 4 * num_segments);
  knot_integrals_.resize(dimension, num_knots);
  knot_integrals_.col(0).setZero();
  for (Eigen::Index k = 0; k < num_segments; ++k) {
    const scalar_t hk = h(k);
    auto c = coefficients_.middleCols<4>(4 * k);
    c.col(0) = knot_values[k];
    c.col(1) = slope.col(k) - hk * (2.0 * moments.col(k) + moments.col(k + 1)) / 6.0;
    c.col(2) = 0.5 * moments.col(k);
    c.col(3) = (moments.col(k + 1) - moments.col(k)) / (6.0 * hk);
    knot_integrals_.col(k + 1) =
        knot_integrals_.col(k) +
        hk * (c.col(0) + hk * (c.col(1) / 2.0 + hk * (c.col(2) / 3.0 + hk * c.col(3) / 4.0)));
  }
  if (!coefficients_.allFinite() || !knot_integrals_.allFinite()) {
    fail("the spline coefficients overflow (knots too close for the size of their values)");
  }
}

CubicSplineTrajectory CubicSplineTrajectory::natural(const std::vector<scalar_t>& knot_times,
                                                     const std::vector<vector_t>& knot_values) {
  return CubicSplineTrajectory(knot_times, knot_values, Boundary::kNatural, vector_t(), vector_t());
}

CubicSplineTrajectory CubicSplineTrajectory::constant(const vector_t& value, scalar_t start_time,
                                                      scalar_t end_time) {
  return CubicSplineTrajectory({start_time, end_time}, {value, value});
}

CubicSplineTrajectory CubicSplineTrajectory::linearRamp(const vector_t& start_value,
                                                        const vector_t& end_value,
                                                        scalar_t start_time, scalar_t end_time) {
  checkKnots({start_time, end_time}, {start_value, end_value});
  const vector_t rate = (end_value - start_value) / (end_time - start_time);
  return CubicSplineTrajectory({start_time, end_time}, {start_value, end_value}, rate, rate);
}

Eigen::Index CubicSplineTrajectory::segmentIndex(scalar_t t) const {
  const auto first_later = std::upper_bound(knot_times_.begin(), knot_times_.end(), t);
  const Eigen::Index index = static_cast<Eigen::Index>(first_later - knot_times_.begin()) - 1;
  const Eigen::Index last_segment = static_cast<Eigen::Index>(knot_times_.size()) - 2;
  return std::clamp<Eigen::Index>(index, 0, last_segment);
}

vector_t CubicSplineTrajectory::evaluate(scalar_t t) const {
  checkTime(t, "evaluate");
  if (t <= start_time_) {
    return coefficients_.col(0);
  }
  if (t >= end_time_) {
    return end_value_;
  }
  const Eigen::Index k = segmentIndex(t);
  const scalar_t s = t - knot_times_[static_cast<size_t>(k)];
  const auto c = coefficients_.middleCols<4>(4 * k);
  return c.col(0) + s * (c.col(1) + s * (c.col(2) + s * c.col(3)));
}

vector_t CubicSplineTrajectory::integral(scalar_t t) const {
  checkTime(t, "integral");
  if (t <= start_time_) {
    return vector_t::Zero(dimension());
  }
  if (t >= end_time_) {
    return knot_integrals_.col(knot_integrals_.cols() - 1) + (t - end_time_) * end_value_;
  }
  const Eigen::Index k = segmentIndex(t);
  const scalar_t s = t - knot_times_[static_cast<size_t>(k)];
  const auto c = coefficients_.middleCols<4>(4 * k);
  return knot_integrals_.col(k) +
         s * (c.col(0) + s * (c.col(1) / 2.0 + s * (c.col(2) / 3.0 + s * c.col(3) / 4.0)));
}

vector_t CubicSplineTrajectory::derivative(scalar_t t, int n) const {
  if (n < 1) {
    fail("derivative order must be at least 1, got " + std::to_string(n));
  }
  checkTime(t, "derivative");
  if (t < start_time_ || t > end_time_ || n > 3) {
    return vector_t::Zero(dimension());
  }
  const Eigen::Index k = segmentIndex(t);
  const scalar_t s = t - knot_times_[static_cast<size_t>(k)];
  const auto c = coefficients_.middleCols<4>(4 * k);
  switch (n) {
    case 1:
      return c.col(1) + s * (2.0 * c.col(2) + s * 3.0 * c.col(3));
    case 2:
      return 2.0 * c.col(2) + s * 6.0 * c.col(3);
    default:
      return 6.0 * c.col(3);
  }
}

}  // namespace velmora
