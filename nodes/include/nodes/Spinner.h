#pragma once

// An executor serving a node's callbacks on a thread of its own.

#include <memory>
#include <thread>

#include <rclcpp/rclcpp.hpp>

namespace velmora {
namespace nodes {

/// Spins `node` with a single-threaded executor on its own thread for the life of the object;
/// the destructor cancels the executor and joins the thread. Not copyable.
class Spinner {
 public:
  explicit Spinner(const std::shared_ptr<rclcpp::Node>& node) {
    executor_.add_node(node);
    thread_ = std::thread([this] { executor_.spin(); });
  }
  ~Spinner() {
    executor_.cancel();
    thread_.join();
  }
  Spinner(const Spinner&) = delete;
  Spinner& operator=(const Spinner&) = delete;

 private:
  rclcpp::executors::SingleThreadedExecutor executor_;
  std::thread thread_;
};

}  // namespace nodes
}  // namespace velmora
