#pragma once

// Shared helpers of the ROS 2 runtime tests.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "rclcpp/rclcpp.hpp"
#include "std_msgs/msg/header.hpp"

namespace velmora_test {

using Header = std_msgs::msg::Header;
using namespace std::chrono_literals;

/// Initialises the default context for one test (without signal handlers) before the fixture's
/// members and shuts it down after them.
class RosTest : public ::testing::Test {
 protected:
  RosTest() { rclcpp::init(0, nullptr, rclcpp::InitOptions(), rclcpp::SignalHandlerOptions::None); }
  ~RosTest() override { rclcpp::shutdown(); }
};

/// A header carrying `sec` as its stamp and `frame` as its frame id.
inline Header stamped(int32_t sec, const std::string& frame = "") {
  Header header;
  header.stamp.sec = sec;
  header.frame_id = frame;
  return header;
}

/// Runs every callback that is queued for `node`, including those that callbacks queue.
inline void drain(const rclcpp::Node::SharedPtr& node) {
  rclcpp::executors::SingleThreadedExecutor executor;
  executor.add_node(node);
  executor.spin_all(5s);
}

/// Polls `condition` every millisecond until it holds or 10 s pass; returns whether it holds.
inline bool eventually(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!condition() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(1ms);
  }
  return condition();
}

}  // namespace velmora_test
