#pragma once

// Shared helpers of the ROS 2 runtime tests.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "rclcpp/rclcpp.hpp"

namespace velmora_test {

/// Initialises the default context for one test (without signal handlers) and shuts it down.
class RosTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rclcpp::init(0, nullptr, rclcpp::InitOptions(), rclcpp::SignalHandlerOptions::None);
  }
  void TearDown() override { rclcpp::shutdown(); }
};

/// Polls `condition` until it holds or `timeout` passes; returns whether it holds.
inline bool eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

/// The lines of `text` (without their newline characters).
inline std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

/// Aborts the test program with a message if it is still alive after `limit`: a deadlocked
/// concurrency test then fails at once instead of hanging until the ctest timeout.
class Watchdog {
 public:
  explicit Watchdog(const char* what, std::chrono::seconds limit = std::chrono::seconds(60))
      : thread_([this, what, limit] {
          std::unique_lock<std::mutex> lock(mutex_);
          if (!condition_.wait_for(lock, limit, [this] { return done_; })) {
            std::fprintf(stderr, "Watchdog: '%s' did not finish (deadlock?)\n", what);
            std::abort();
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    condition_.notify_all();
    thread_.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  std::mutex mutex_;
  std::condition_variable condition_;
  bool done_ = false;
  std::thread thread_;
};

}  // namespace velmora_test
