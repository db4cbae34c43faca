#pragma once

// The unit of rclcpp::Time and rclcpp::Duration.

#include <cstdint>

namespace rclcpp::detail {

/// Nanoseconds in one second.
inline constexpr int64_t kNanosecondsPerSecond = 1000000000LL;

}  // namespace rclcpp::detail
