#include "rclcpp/clock.hpp"

#include <chrono>
#include <stdexcept>

namespace rclcpp {
namespace {

template <class ChronoClock>
rcl_time_point_value_t nanoseconds_now() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(ChronoClock::now().time_since_epoch())
      .count();
}

}  // namespace

Clock::Clock(rcl_clock_type_t clock_type) : clock_type_(clock_type) {
  if (clock_type != RCL_ROS_TIME && clock_type != RCL_SYSTEM_TIME &&
      clock_type != RCL_STEADY_TIME) {
    throw std::invalid_argument("rclcpp::Clock: unknown clock type");
  }
}

Time Clock::now() const {
  switch (clock_type_) {
    case RCL_ROS_TIME:
      if (ros_time_override_active_.load()) return Time(ros_time_override_ns_.load(), clock_type_);
      return Time(nanoseconds_now<std::chrono::system_clock>(), clock_type_);
    case RCL_STEADY_TIME:
      return Time(nanoseconds_now<std::chrono::steady_clock>(), clock_type_);
    default:
      return Time(nanoseconds_now<std::chrono::system_clock>(), clock_type_);
  }
}

bool Clock::ros_time_is_active() const {
  return clock_type_ == RCL_ROS_TIME && ros_time_override_active_.load();
}

rcl_clock_type_t Clock::get_clock_type() const noexcept { return clock_type_; }

void Clock::enable_ros_time_override(rcl_time_point_value_t initial_ns) {
  ros_time_override_ns_.store(initial_ns);
  ros_time_override_active_.store(true);
}

void Clock::disable_ros_time_override() { ros_time_override_active_.store(false); }

void Clock::set_ros_time_override(rcl_time_point_value_t ns) { ros_time_override_ns_.store(ns); }

}  // namespace rclcpp
