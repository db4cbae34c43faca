#pragma once

#include <algorithm>

#include "core/Types.h"

namespace velmora {

/// A time-parameterised function on [startTime(), endTime()] (seconds on the caller's clock).
/// Implementations are immutable after construction and safe for concurrent const calls; each
/// states what it returns outside [startTime(), endTime()].
template <typename ValueT, typename DerivativeT>
class TrajectoryBase {
 public:
  virtual ~TrajectoryBase() = default;

  /// Value at time t.
  virtual ValueT evaluate(scalar_t t) const = 0;
  /// Integral of the value from startTime() to t.
  virtual ValueT integral(scalar_t t) const = 0;
  /// n-th time derivative at time t (n >= 1).
  virtual DerivativeT derivative(scalar_t t, int n) const = 0;

  scalar_t startTime() const { return start_time_; }
  scalar_t endTime() const { return end_time_; }
  /// endTime() - startTime(), or 0 when negative.
  scalar_t duration() const { return std::max<scalar_t>(0.0, end_time_ - start_time_); }

 protected:
  TrajectoryBase(scalar_t start_time, scalar_t end_time)
      : start_time_(start_time), end_time_(end_time) {}

  scalar_t start_time_ = 0.0;
  scalar_t end_time_ = 0.0;
};

}  // namespace velmora
