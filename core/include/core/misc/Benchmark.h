#pragma once

// Interval timing for the worker loops, on std::chrono::steady_clock.

#include <chrono>

#include "core/Types.h"

namespace velmora {
namespace benchmark {

/// Accumulates the durations of repeated intervals, each opened by startTimer() and closed by
/// endTimer(). An interval that is opened again before it was closed is simply restarted and
/// leaves the statistics untouched. Not thread-safe: each loop owns its own timer.
class RepeatedTimer {
 public:
  /// No interval timed yet; an interval is open from now.
  RepeatedTimer() : startTime_(std::chrono::steady_clock::now()) {}

  /// Opens (or restarts) the current interval.
  void startTimer() { startTime_ = std::chrono::steady_clock::now(); }

  /// Closes the current interval and adds it to the statistics.
  void endTimer() {
    const auto end_time = std::chrono::steady_clock::now();
    lastIntervalTime_ = std::chrono::duration_cast<std::chrono::nanoseconds>(end_time - startTime_);
    maxIntervalTime_ = std::max(maxIntervalTime_, lastIntervalTime_);
    totalTime_ += lastIntervalTime_;
    ++numTimedIntervals_;
  }

  /// Returns the timer to its constructed state (no interval timed, an interval open from now).
  void reset() { *this = RepeatedTimer(); }

  /// Number of completed intervals.
  int getNumTimedIntervals() const { return numTimedIntervals_; }
  /// Sum of all completed intervals [ms].
  scalar_t getTotalInMilliseconds() const { return toMilliseconds(totalTime_); }
  /// Longest completed interval [ms]; 0 when none completed.
  scalar_t getMaxIntervalInMilliseconds() const { return toMilliseconds(maxIntervalTime_); }
  /// Most recent completed interval [ms]; 0 when none completed.
  scalar_t getLastIntervalInMilliseconds() const { return toMilliseconds(lastIntervalTime_); }
  /// Mean completed interval [ms]; 0 / 0, not a number, when none completed.
  scalar_t getAverageInMilliseconds() const {
    return getTotalInMilliseconds() / static_cast<scalar_t>(numTimedIntervals_);
  }

 private:
  static scalar_t toMilliseconds(std::chrono::nanoseconds duration) {
    return static_cast<scalar_t>(duration.count()) / 1e6;
  }

  int numTimedIntervals_ = 0;
  std::chrono::nanoseconds totalTime_{0};
  std::chrono::nanoseconds maxIntervalTime_{0};
  std::chrono::nanoseconds lastIntervalTime_{0};
  std::chrono::steady_clock::time_point startTime_;
};

}  // namespace benchmark
}  // namespace velmora
