#pragma once

/// Time value types and clock kinds shared by the rclcpp time classes.

#include <cstdint>

/// A time point: nanoseconds since the epoch of its clock.
typedef int64_t rcl_time_point_value_t;
/// A signed span of time in nanoseconds.
typedef int64_t rcl_duration_value_t;

/// The kind of clock a time point belongs to. Time points of different kinds never mix.
typedef enum rcl_clock_type_e {
  RCL_CLOCK_UNINITIALIZED = 0,
  RCL_ROS_TIME,     ///< System time, or simulation time when a time override is active.
  RCL_SYSTEM_TIME,  ///< Wall-clock time (may jump).
  RCL_STEADY_TIME   ///< Monotonic time.
} rcl_clock_type_t;

#define RCL_S_TO_NS(seconds) ((seconds) * (1000LL * 1000LL * 1000LL))
#define RCL_MS_TO_NS(milliseconds) ((milliseconds) * (1000LL * 1000LL))
#define RCL_US_TO_NS(microseconds) ((microseconds)*1000LL)
#define RCL_NS_TO_S(nanoseconds) ((nanoseconds) / (1000LL * 1000LL * 1000LL))
#define RCL_NS_TO_MS(nanoseconds) ((nanoseconds) / (1000LL * 1000LL))
