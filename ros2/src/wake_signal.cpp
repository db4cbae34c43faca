#include "rclcpp/detail/wake_signal.hpp"

namespace rclcpp {
namespace detail {

uint64_t WakeSignal::generation() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return generation_;
}

void WakeSignal::notify() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++generation_;
  }
  condition_.notify_all();
}

void WakeSignal::wait(uint64_t seen, std::chrono::steady_clock::time_point deadline) const {
  std::unique_lock<std::mutex> lock(mutex_);
  condition_.wait_until(lock, deadline, [&] { return generation_ != seen; });
}

}  // namespace detail
}  // namespace rclcpp
