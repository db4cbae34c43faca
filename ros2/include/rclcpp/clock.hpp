#pragma once

#include <atomic>
#include <memory>

#include "rcl/time.h"
#include "rclcpp/macros.hpp"
#include "rclcpp/time.hpp"

namespace rclcpp {

namespace detail {
class SimTimeSource;
}  // namespace detail

/// A source of `Time` of one kind. A ROS-time clock reads the system time unless a time
/// override is active (a node with "use_sim_time" set), in which case it reads the latest
/// simulation time. Thread-safe.
class Clock {
 public:
  RCLCPP_SMART_PTR_DEFINITIONS(Clock)

  explicit Clock(rcl_clock_type_t clock_type = RCL_SYSTEM_TIME);
  Clock(const Clock&) = delete;
  Clock& operator=(const Clock&) = delete;

  /// The current time of this clock.
  Time now() const;

  /// True if this is a ROS-time clock reading simulation time.
  bool ros_time_is_active() const;

  rcl_clock_type_t get_clock_type() const noexcept;

 private:
  friend class detail::SimTimeSource;

  void enable_ros_time_override(rcl_time_point_value_t initial_ns);
  void disable_ros_time_override();
  void set_ros_time_override(rcl_time_point_value_t ns);

  const rcl_clock_type_t clock_type_;
  std::atomic<bool> ros_time_override_active_{false};
  std::atomic<rcl_time_point_value_t> ros_time_override_ns_{0};
};

}  // namespace rclcpp
