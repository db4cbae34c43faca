#pragma once

#include <chrono>
#include <stdexcept>

#include "rclcpp/macros.hpp"
#include "rclcpp/utilities.hpp"

namespace rclcpp {

namespace detail {

/// One step of a fixed-period schedule. `last` is the previous scheduled wake time; the next
/// one is `last + period`. If `now` is before it, the caller sleeps for `sleep` and the
/// schedule advances by one period. If the caller is late by less than a period, it does not
/// sleep and the schedule still advances by one period, so it catches up over the next cycles.
/// If it is late by more than a period, or time went backwards, the schedule restarts at `now`.
template <class Duration, class TimePoint>
struct RateStep {
  bool on_time;        ///< True if the caller should sleep.
  Duration sleep;      ///< How long to sleep (zero if late).
  TimePoint new_last;  ///< The new value of `last`.
};

template <class TimePoint, class Duration>
RateStep<Duration, TimePoint> next_rate_step(TimePoint now, TimePoint last, Duration period) {
  if (now < last) {  // time went backwards: restart the schedule from now
    return {true, period, now + period};
  }
  const TimePoint next = last + period;
  if (now < next) return {true, next - now, next};
  if (now > next + period) return {false, Duration::zero(), now};
  return {false, Duration::zero(), next};
}

}  // namespace detail

/// Sleeps so that a loop runs at a fixed period of `ClockT` time. Construction starts the
/// schedule; each `sleep` waits until the next multiple of the period (returns true) or, if the
/// loop is late, returns false at once (see detail::next_rate_step for catching up). A sleep
/// ends early when the default context shuts down.
template <class ClockT>
class GenericRate {
 public:
  RCLCPP_SMART_PTR_DEFINITIONS(GenericRate<ClockT>)

  /// A rate of `rate` Hz (> 0): period 1 / rate seconds, truncated to whole nanoseconds.
  explicit GenericRate(double rate)
      : GenericRate(std::chrono::duration_cast<std::chrono::nanoseconds>(
            std::chrono::duration<double>(1.0 / checked_rate(rate)))) {}
  /// A rate with the given period (> 0).
  explicit GenericRate(std::chrono::nanoseconds period)
      : period_(checked_period(period)), last_interval_(ClockT::now()) {}

  /// Sleeps until the next tick; false (without sleeping) if the loop is late.
  bool sleep() {
    const auto step =
        detail::next_rate_step(ClockT::now(), last_interval_,
                               std::chrono::duration_cast<typename ClockT::duration>(period_));
    last_interval_ = step.new_last;
    if (!step.on_time) return false;
    rclcpp::sleep_for(std::chrono::duration_cast<std::chrono::nanoseconds>(step.sleep));
    return true;
  }

  bool is_steady() const { return ClockT::is_steady; }

  /// Restarts the schedule at the current time.
  void reset() { last_interval_ = ClockT::now(); }

  std::chrono::nanoseconds period() const { return period_; }

 private:
  static double checked_rate(double rate) {
    if (!(rate > 0.0)) throw std::invalid_argument("rclcpp::Rate: the rate must be positive");
    return rate;
  }
  static std::chrono::nanoseconds checked_period(std::chrono::nanoseconds period) {
    if (period <= std::chrono::nanoseconds::zero()) {
      throw std::invalid_argument("rclcpp::Rate: the period must be positive");
    }
    return period;
  }

  std::chrono::nanoseconds period_;
  typename ClockT::time_point last_interval_;
};

/// A rate on the system clock.
using Rate = GenericRate<std::chrono::system_clock>;
/// A rate on the steady clock.
using WallRate = GenericRate<std::chrono::steady_clock>;

}  // namespace rclcpp
