// Time points are non-negative 64-bit nanosecond counts tagged with their clock kind.

#include "rclcpp/time.hpp"

#include <chrono>
#include <cstdint>
#include <limits>
#include <stdexcept>

#include "nanoseconds.hpp"

namespace rclcpp {
namespace {

using detail::kNanosecondsPerSecond;

int64_t non_negative(int64_t nanoseconds) {
  if (nanoseconds < 0)
    throw std::runtime_error("cannot store a negative time point in rclcpp::Time");
  return nanoseconds;
}

void require_same_clock(const Time& a, const Time& b, const char* operation) {
  if (a.get_clock_type() != b.get_clock_type()) {
    throw std::runtime_error(std::string("can't ") + operation +
                             " times with different time sources");
  }
}

}  // namespace

Time::Time(int32_t seconds, uint32_t nanoseconds, rcl_clock_type_t clock_type)
    : clock_type_(clock_type) {
  if (seconds < 0) throw std::runtime_error("cannot store a negative time point in rclcpp::Time");
  nanoseconds_ = static_cast<int64_t>(seconds) * kNanosecondsPerSecond + nanoseconds;
}

Time::Time(int64_t nanoseconds, rcl_clock_type_t clock_type)
    : nanoseconds_(non_negative(nanoseconds)), clock_type_(clock_type) {}

Time::Time(const builtin_interfaces::msg::Time& time_msg, rcl_clock_type_t clock_type)
    : Time(time_msg.sec, time_msg.nanosec, clock_type) {}

Time& Time::operator=(const builtin_interfaces::msg::Time& time_msg) {
  *this = Time(time_msg);
  return *this;
}

Time::operator builtin_interfaces::msg::Time() const {
  builtin_interfaces::msg::Time msg;
  const int64_t seconds = nanoseconds_ / kNanosecondsPerSecond;
  if (seconds > std::numeric_limits<int32_t>::max()) {
    throw std::overflow_error("time point does not fit a builtin_interfaces/msg/Time");
  }
  msg.sec = static_cast<int32_t>(seconds);
  msg.nanosec = static_cast<uint32_t>(nanoseconds_ % kNanosecondsPerSecond);
  return msg;
}

bool Time::operator==(const Time& rhs) const {
  require_same_clock(*this, rhs, "compare");
  return nanoseconds_ == rhs.nanoseconds_;
}
bool Time::operator!=(const Time& rhs) const { return !(*this == rhs); }
bool Time::operator<(const Time& rhs) const {
  require_same_clock(*this, rhs, "compare");
  return nanoseconds_ < rhs.nanoseconds_;
}
bool Time::operator<=(const Time& rhs) const { return !(rhs < *this); }
bool Time::operator>(const Time& rhs) const { return rhs < *this; }
bool Time::operator>=(const Time& rhs) const { return !(*this < rhs); }

Time Time::operator+(const Duration& rhs) const {
  int64_t sum = 0;
  if (__builtin_add_overflow(nanoseconds_, rhs.nanoseconds(), &sum)) {
    throw std::overflow_error("addition leads to int64_t overflow");
  }
  return Time(sum, clock_type_);
}

Duration Time::operator-(const Time& rhs) const {
  require_same_clock(*this, rhs, "subtract");
  return Duration::from_nanoseconds(nanoseconds_ - rhs.nanoseconds_);  // both non-negative
}

Time Time::operator-(const Duration& rhs) const {
  int64_t difference = 0;
  if (__builtin_sub_overflow(nanoseconds_, rhs.nanoseconds(), &difference)) {
    throw std::overflow_error("time subtraction leads to int64_t overflow");
  }
  return Time(difference, clock_type_);
}

Time& Time::operator+=(const Duration& rhs) { return *this = *this + rhs; }
Time& Time::operator-=(const Duration& rhs) { return *this = *this - rhs; }

rcl_time_point_value_t Time::nanoseconds() const { return nanoseconds_; }

double Time::seconds() const {
  return std::chrono::duration<double>(std::chrono::nanoseconds(nanoseconds_)).count();
}

rcl_clock_type_t Time::get_clock_type() const { return clock_type_; }

Time Time::max(rcl_clock_type_t clock_type) {
  return Time(std::numeric_limits<int32_t>::max(), 999999999u, clock_type);
}

Time operator+(const Duration& lhs, const Time& rhs) { return rhs + lhs; }

}  // namespace rclcpp
