// Durations are signed 64-bit nanosecond counts; every operation checks for overflow.

#include "rclcpp/duration.hpp"

#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>

#include "nanoseconds.hpp"

namespace rclcpp {
namespace {

using detail::kNanosecondsPerSecond;

int64_t checked_add(int64_t a, int64_t b) {
  int64_t sum = 0;
  if (__builtin_add_overflow(a, b, &sum)) {
    if (b > 0) throw std::overflow_error("addition leads to int64_t overflow");
    throw std::underflow_error("addition leads to int64_t underflow");
  }
  return sum;
}

int64_t checked_sub(int64_t a, int64_t b) {
  int64_t difference = 0;
  if (__builtin_sub_overflow(a, b, &difference)) {
    if (b < 0) throw std::overflow_error("subtraction leads to int64_t overflow");
    throw std::underflow_error("subtraction leads to int64_t underflow");
  }
  return difference;
}

int64_t from_seconds_and_nanoseconds(int64_t seconds, uint32_t nanoseconds) {
  return seconds * kNanosecondsPerSecond + static_cast<int64_t>(nanoseconds);
}

}  // namespace

Duration::Duration(int32_t seconds, uint32_t nanoseconds)
    : nanoseconds_(from_seconds_and_nanoseconds(seconds, nanoseconds)) {}

Duration::Duration(std::chrono::nanoseconds nanoseconds) : nanoseconds_(nanoseconds.count()) {}

Duration::Duration(const builtin_interfaces::msg::Duration& duration_msg)
    : Duration(duration_msg.sec, duration_msg.nanosec) {}

Duration& Duration::operator=(const builtin_interfaces::msg::Duration& duration_msg) {
  *this = Duration(duration_msg);
  return *this;
}

Duration::operator builtin_interfaces::msg::Duration() const {
  builtin_interfaces::msg::Duration msg;
  int64_t seconds = nanoseconds_ / kNanosecondsPerSecond;
  int64_t remainder = nanoseconds_ % kNanosecondsPerSecond;
  if (remainder < 0) {
    remainder += kNanosecondsPerSecond;
    --seconds;
  }
  if (seconds > std::numeric_limits<int32_t>::max() ||
      seconds < std::numeric_limits<int32_t>::min()) {
    throw std::overflow_error("duration does not fit a builtin_interfaces/msg/Duration");
  }
  msg.sec = static_cast<int32_t>(seconds);
  msg.nanosec = static_cast<uint32_t>(remainder);
  return msg;
}

bool Duration::operator==(const Duration& rhs) const { return nanoseconds_ == rhs.nanoseconds_; }
bool Duration::operator!=(const Duration& rhs) const { return nanoseconds_ != rhs.nanoseconds_; }
bool Duration::operator<(const Duration& rhs) const { return nanoseconds_ < rhs.nanoseconds_; }
bool Duration::operator<=(const Duration& rhs) const { return nanoseconds_ <= rhs.nanoseconds_; }
bool Duration::operator>(const Duration& rhs) const { return nanoseconds_ > rhs.nanoseconds_; }
bool Duration::operator>=(const Duration& rhs) const { return nanoseconds_ >= rhs.nanoseconds_; }

Duration Duration::operator+(const Duration& rhs) const {
  return from_nanoseconds(checked_add(nanoseconds_, rhs.nanoseconds_));
}
Duration& Duration::operator+=(const Duration& rhs) { return *this = *this + rhs; }
Duration Duration::operator-(const Duration& rhs) const {
  return from_nanoseconds(checked_sub(nanoseconds_, rhs.nanoseconds_));
}
Duration& Duration::operator-=(const Duration& rhs) { return *this = *this - rhs; }

Duration Duration::operator*(double scale) const {
  if (!std::isfinite(scale)) throw std::runtime_error("abnormal scale in rclcpp::Duration");
  const long double scaled = static_cast<long double>(nanoseconds_) * scale;
  if (scaled >= static_cast<long double>(std::numeric_limits<int64_t>::max())) {
    throw std::overflow_error("duration scaling leads to int64_t overflow");
  }
  if (scaled < static_cast<long double>(std::numeric_limits<int64_t>::min())) {
    throw std::underflow_error("duration scaling leads to int64_t underflow");
  }
  return from_nanoseconds(static_cast<int64_t>(scaled));
}
Duration& Duration::operator*=(double scale) { return *this = *this * scale; }

Duration Duration::max() { return Duration(std::numeric_limits<int32_t>::max(), 999999999u); }

Duration Duration::from_seconds(double seconds) {
  if (!std::isfinite(seconds)) throw std::runtime_error("abnormal seconds in rclcpp::Duration");
  const long double nanoseconds = static_cast<long double>(seconds) * kNanosecondsPerSecond;
  if (nanoseconds >= static_cast<long double>(std::numeric_limits<int64_t>::max()) ||
      nanoseconds < static_cast<long double>(std::numeric_limits<int64_t>::min())) {
    throw std::overflow_error("seconds out of the range of rclcpp::Duration");
  }
  return from_nanoseconds(static_cast<int64_t>(nanoseconds));
}

Duration Duration::from_nanoseconds(rcl_duration_value_t nanoseconds) {
  Duration duration;
  duration.nanoseconds_ = nanoseconds;
  return duration;
}

rcl_duration_value_t Duration::nanoseconds() const { return nanoseconds_; }

double Duration::seconds() const {
  return std::chrono::duration<double>(std::chrono::nanoseconds(nanoseconds_)).count();
}

}  // namespace rclcpp
