#pragma once

// Shared pieces of the DDS transport tests: a domain id of each test's own, the environment that
// selects DDS, and numbered commands whose every field follows from their number.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "communication/msg/actuator_cmds.hpp"
#include "rclcpp/rclcpp.hpp"

namespace velmora::dds_test {

using communication::msg::ActuatorCmds;

/// A DDS domain id in [100, 220) derived from the running test's name, so that tests run in
/// parallel do not meet.
inline uint32_t testDomainId() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string name = std::string(info->test_suite_name()) + "." + info->name();
  return 100 + static_cast<uint32_t>(std::hash<std::string>()(name) % 120);
}

/// Selects the DDS transport in domain `domain_id` for contexts initialised while it lives.
class DdsEnvironment {
 public:
  explicit DdsEnvironment(uint32_t domain_id) {
    setenv("RMW_IMPLEMENTATION", "rmw_cyclonedds_cpp", 1);
    setenv("ROS_DOMAIN_ID", std::to_string(domain_id).c_str(), 1);
  }
  ~DdsEnvironment() {
    unsetenv("RMW_IMPLEMENTATION");
    unsetenv("ROS_DOMAIN_ID");
  }
  DdsEnvironment(const DdsEnvironment&) = delete;
  DdsEnvironment& operator=(const DdsEnvironment&) = delete;
};

/// Collects the messages of one topic on a spinning node of a fresh (default) context.
template <typename MessageT>
class MessageCollector {
 public:
  MessageCollector(const std::string& topic, const rclcpp::QoS& qos) {
    rclcpp::init(0, nullptr);
    node_ = std::make_shared<rclcpp::Node>("collector");
    subscription_ =
        node_->create_subscription<MessageT>(topic, qos, [this](const MessageT& message) {
          std::lock_guard<std::mutex> lock(mutex_);
          received_.push_back(message);
        });
    executor_.add_node(node_);
    spinner_ = std::thread([this] { executor_.spin(); });
  }
  ~MessageCollector() {
    executor_.cancel();
    spinner_.join();
    subscription_.reset();
    node_.reset();
    rclcpp::shutdown();
  }
  std::vector<MessageT> received() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
  }
  /// Waits up to 5 s for at least `count` messages; true if they came.
  bool await(size_t count) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (received().size() < count && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return received().size() >= count;
  }
  const rclcpp::Subscription<MessageT>& subscription() const { return *subscription_; }

 private:
  std::shared_ptr<rclcpp::Node> node_;
  typename rclcpp::Subscription<MessageT>::SharedPtr subscription_;
  rclcpp::executors::SingleThreadedExecutor executor_;
  std::thread spinner_;
  mutable std::mutex mutex_;
  std::vector<MessageT> received_;
};

/// Command number `index` (< 10^6) for `joints` joints: the stamp carries the index (twice), every
/// value is a distinct function of index and joint (with fractions that need every bit of a float).
inline ActuatorCmds numberedCommand(uint32_t index, size_t joints) {
  ActuatorCmds command;
  command.header.stamp.sec = static_cast<int32_t>(index / 1000);
  command.header.stamp.nanosec = index % 1000 * 1000000u + index;
  command.header.frame_id = "peer";
  for (size_t j = 0; j < joints; ++j) {
    const float x = static_cast<float>(index) + static_cast<float>(j) / 7.0f;
    command.actuators_name.push_back("joint_" + std::to_string(j));
    command.kp.push_back(x * 1.1f);
    command.pos.push_back(-x / 3.0f);
    command.kd.push_back(x / 9.0f + 0.25f);
    command.vel.push_back(x * -0.7f);
    command.torque.push_back(1.0f / (x + 1.0f));
  }
  return command;
}

/// The index a numbered command carries in its stamp.
inline uint32_t commandIndex(const ActuatorCmds& command) {
  return command.header.stamp.nanosec % 1000000u;
}

}  // namespace velmora::dds_test
