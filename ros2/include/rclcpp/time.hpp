#pragma once

#include <cstdint>

#include "builtin_interfaces/msg/time.hpp"
#include "rcl/time.h"
#include "rclcpp/duration.hpp"

namespace rclcpp {

/// A non-negative point in time, in nanoseconds, tagged with the kind of clock it came from.
/// Comparing or subtracting time points of different clock kinds throws `std::runtime_error`;
/// a negative time point throws `std::runtime_error`.
class Time {
 public:
  /// `seconds` s plus `nanoseconds` ns; throws if `seconds` is negative.
  Time(int32_t seconds, uint32_t nanoseconds, rcl_clock_type_t clock_type = RCL_SYSTEM_TIME);
  /// `nanoseconds` ns; throws if negative.
  explicit Time(int64_t nanoseconds = 0, rcl_clock_type_t clock_type = RCL_SYSTEM_TIME);
  // NOLINTNEXTLINE(google-explicit-constructor): implicit as in rclcpp
  Time(const builtin_interfaces::msg::Time& time_msg, rcl_clock_type_t clock_type = RCL_ROS_TIME);

  Time(const Time&) = default;
  Time& operator=(const Time&) = default;
  /// Takes the value of `time_msg` and becomes a ROS time point.
  Time& operator=(const builtin_interfaces::msg::Time& time_msg);

  operator builtin_interfaces::msg::Time() const;

  bool operator==(const Time& rhs) const;
  bool operator!=(const Time& rhs) const;
  bool operator<(const Time& rhs) const;
  bool operator<=(const Time& rhs) const;
  bool operator>(const Time& rhs) const;
  bool operator>=(const Time& rhs) const;

  Time operator+(const Duration& rhs) const;
  Duration operator-(const Time& rhs) const;
  Time operator-(const Duration& rhs) const;
  Time& operator+=(const Duration& rhs);
  Time& operator-=(const Duration& rhs);

  /// Nanoseconds since the epoch of the clock.
  rcl_time_point_value_t nanoseconds() const;
  /// Seconds since the epoch of the clock.
  double seconds() const;
  rcl_clock_type_t get_clock_type() const;

  /// The latest representable time point.
  static Time max(rcl_clock_type_t clock_type = RCL_SYSTEM_TIME);

 private:
  rcl_time_point_value_t nanoseconds_ = 0;
  rcl_clock_type_t clock_type_ = RCL_SYSTEM_TIME;
};

Time operator+(const Duration& lhs, const Time& rhs);

}  // namespace rclcpp
