#pragma once

#include <chrono>
#include <cstdint>

#include "builtin_interfaces/msg/duration.hpp"
#include "rcl/time.h"

namespace rclcpp {

/// A signed span of time with nanosecond resolution. Arithmetic that would overflow 64-bit
/// nanoseconds throws `std::overflow_error` (or `std::underflow_error`).
class Duration {
 public:
  /// `seconds` s plus `nanoseconds` ns; `seconds` may be negative.
  Duration(int32_t seconds, uint32_t nanoseconds);
  /// From a `std::chrono` duration, truncated to whole nanoseconds.
  explicit Duration(std::chrono::nanoseconds nanoseconds);
  template <class Rep, class Period>
  // NOLINTNEXTLINE(google-explicit-constructor): implicit as in rclcpp
  Duration(const std::chrono::duration<Rep, Period>& duration)
      : Duration(std::chrono::duration_cast<std::chrono::nanoseconds>(duration)) {}
  // NOLINTNEXTLINE(google-explicit-constructor)
  Duration(const builtin_interfaces::msg::Duration& duration_msg);

  Duration(const Duration&) = default;
  Duration& operator=(const Duration&) = default;
  Duration& operator=(const builtin_interfaces::msg::Duration& duration_msg);

  /// Seconds and a non-negative nanosecond remainder: -1.5 s is {sec -2, nanosec 500000000}.
  operator builtin_interfaces::msg::Duration() const;

  bool operator==(const Duration& rhs) const;
  bool operator!=(const Duration& rhs) const;
  bool operator<(const Duration& rhs) const;
  bool operator<=(const Duration& rhs) const;
  bool operator>(const Duration& rhs) const;
  bool operator>=(const Duration& rhs) const;

  Duration operator+(const Duration& rhs) const;
  Duration& operator+=(const Duration& rhs);
  Duration operator-(const Duration& rhs) const;
  Duration& operator-=(const Duration& rhs);
  /// Scaled by a finite `scale`, truncated to whole nanoseconds.
  Duration operator*(double scale) const;
  Duration& operator*=(double scale);

  /// The longest representable duration.
  static Duration max();
  /// From seconds, truncated to whole nanoseconds.
  static Duration from_seconds(double seconds);
  static Duration from_nanoseconds(rcl_duration_value_t nanoseconds);

  /// The span in nanoseconds.
  rcl_duration_value_t nanoseconds() const;
  /// The span in seconds.
  double seconds() const;

  /// The span as a `std::chrono` duration.
  template <class DurationT>
  DurationT to_chrono() const {
    return std::chrono::duration_cast<DurationT>(std::chrono::nanoseconds(nanoseconds_));
  }

 private:
  Duration() = default;
  rcl_duration_value_t nanoseconds_ = 0;
};

}  // namespace rclcpp
