#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace rclcpp {
namespace detail {

/// A generation counter with a condition variable: an executor sleeps on it until a message
/// arrives, it is cancelled or its context shuts down. Reading the generation before looking
/// for work and waiting for it to change loses no wake-up. Thread-safe.
class WakeSignal {
 public:
  /// The number of `notify` calls so far.
  uint64_t generation() const;

  /// Advances the generation and wakes all waiters.
  void notify();

  /// Blocks until the generation differs from `seen` or `deadline` passes.
  void wait(uint64_t seen, std::chrono::steady_clock::time_point deadline) const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable condition_;
  uint64_t generation_ = 0;
};

}  // namespace detail
}  // namespace rclcpp
