#pragma once

// SIGINT and SIGTERM as a stop request a program's loops poll.

#include <atomic>
#include <csignal>
#include <thread>

namespace velmora {
namespace nodes {

/// Blocks SIGINT and SIGTERM in the calling thread (create it in main before any other thread,
/// which then inherit the mask) and turns their delivery into `requested()`. Restores the mask
/// when destroyed.
class StopRequest {
 public:
  StopRequest();
  ~StopRequest();
  StopRequest(const StopRequest&) = delete;
  StopRequest& operator=(const StopRequest&) = delete;

  /// Becomes true at the first SIGINT or SIGTERM.
  const std::atomic<bool>& requested() const { return requested_; }
  /// The signal that arrived (0 before one did).
  int signal() const { return signal_.load(); }

 private:
  sigset_t signals_{};
  sigset_t previous_mask_{};
  std::atomic<bool> requested_{false};
  std::atomic<bool> closing_{false};
  std::atomic<int> signal_{0};
  std::thread waiter_;
};

}  // namespace nodes
}  // namespace velmora
