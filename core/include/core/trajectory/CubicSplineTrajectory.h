#pragma once

#include <vector>

#include "core/Types.h"
#include "core/trajectory/TrajectoryBase.h"

namespace velmora {

/// A C2 piecewise-cubic interpolant of vector values over knot times (seconds on the caller's
/// time axis), used for every planner reference (positions, roll-pitch-yaw, joint positions).
///
/// Boundary conditions: by default the spline is *clamped*, i.e. its first derivative at the
/// first and last knot is prescribed (zero unless given), so a reference starts and ends at rest.
/// A *natural* spline (zero second derivative at both ends) is available through natural().
/// Outside [startTime(), endTime()] the trajectory holds the value of the nearer end, with all
/// derivatives zero; the integral keeps accumulating that held value.
///
/// Immutable after construction: evaluate, derivative and integral are const, keep no cache and
/// may be called concurrently on one object. Evaluation is a binary search over the knots and a
/// Horner step with per-segment coefficients; it allocates only the returned vector.
class CubicSplineTrajectory : public TrajectoryBase<vector_t, vector_t> {
 public:
  /// Clamped spline through (`knot_times[k]`, `knot_values[k]`) with first derivative
  /// `start_rate` at the first knot and `end_rate` at the last (an empty vector means zero).
  /// @throws std::invalid_argument when there are fewer than two knots, when the numbers of times
  ///         and values differ, when the times are not strictly increasing, when values or rates
  ///         differ in dimension or have dimension 0, or when any time, value or rate is NaN or
  ///         infinite. The message names the offending knot.
  CubicSplineTrajectory(const std::vector<scalar_t>& knot_times,
                        const std::vector<vector_t>& knot_values,
                        const vector_t& start_rate = vector_t(),
                        const vector_t& end_rate = vector_t());

  /// Natural spline (zero second derivative at both ends) through the knots.
  /// @throws std::invalid_argument as the constructor.
  static CubicSplineTrajectory natural(const std::vector<scalar_t>& knot_times,
                                       const std::vector<vector_t>& knot_values);

  /// The constant `value` over [start_time, end_time].
  /// @throws std::invalid_argument unless start_time < end_time, both finite, and `value` finite.
  static CubicSplineTrajectory constant(const vector_t& value, scalar_t start_time,
                                        scalar_t end_time);

  /// The straight line from `start_value` at `start_time` to `end_value` at `end_time`, with the
  /// constant rate (end_value - start_value) / (end_time - start_time) inside the interval.
  /// @throws std::invalid_argument as constant(), or when the two values differ in dimension.
  static CubicSplineTrajectory linearRamp(const vector_t& start_value, const vector_t& end_value,
                                          scalar_t start_time, scalar_t end_time);

  /// Value at time `t` [s].
  /// @throws std::invalid_argument when `t` is NaN.
  vector_t evaluate(scalar_t t) const override;

  /// Integral of the value from startTime() to `t` (zero for t <= startTime()).
  /// @throws std::invalid_argument when `t` is NaN.
  vector_t integral(scalar_t t) const override;

  /// The `n`-th time derivative at `t`: n = 1 rate, n = 2 acceleration, n = 3 the piecewise
  /// constant jerk (right-continuous at knots), n >= 4 zero. Zero outside [startTime(), endTime()].
  /// @throws std::invalid_argument when n < 1 or `t` is NaN.
  vector_t derivative(scalar_t t, int n) const override;

  /// Dimension of the values.
  Eigen::Index dimension() const { return coefficients_.rows(); }
  /// Knot times, strictly increasing.
  const std::vector<scalar_t>& knotTimes() const { return knot_times_; }

 private:
  enum class Boundary { kClamped, kNatural };

  CubicSplineTrajectory(const std::vector<scalar_t>& knot_times,
                        const std::vector<vector_t>& knot_values, Boundary boundary,
                        const vector_t& start_rate, const vector_t& end_rate);

  /// Index of the segment containing t, for startTime() <= t <= endTime().
  Eigen::Index segmentIndex(scalar_t t) const;

  std::vector<scalar_t> knot_times_;
  /// Segment k occupies columns 4k .. 4k+3: value = c0 + c1 s + c2 s^2 + c3 s^3, s = t - t_k.
  matrix_t coefficients_;
  /// Column k: integral from the first knot to knot k.
  matrix_t knot_integrals_;
  /// Value at the last knot, held after endTime().
  vector_t end_value_;
};

}  // namespace velmora
