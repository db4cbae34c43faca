#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <vector>

#include "rclcpp/context.hpp"
#include "rclcpp/macros.hpp"
#include "rclcpp/node.hpp"

namespace rclcpp {

namespace detail {
class WakeSignal;
}  // namespace detail

/// Options for an executor.
struct ExecutorOptions {
  /// The context whose shutdown stops spinning; the default context if null.
  Context::SharedPtr context;
};

/// Runs the subscription callbacks of its nodes on the thread that spins it. Waiting for work
/// blocks on a condition variable (no polling); a message, `cancel` or the context's shutdown
/// wakes it. A node belongs to at most one executor at a time.
class Executor {
 public:
  RCLCPP_SMART_PTR_DEFINITIONS_NOT_COPYABLE(Executor)

  explicit Executor(const ExecutorOptions& options = ExecutorOptions());
  virtual ~Executor();
  Executor(const Executor&) = delete;
  Executor& operator=(const Executor&) = delete;

  /// Adds `node`; throws std::runtime_error if it already belongs to an executor.
  void add_node(Node::SharedPtr node, bool notify = true);
  /// Removes `node`; throws std::runtime_error if it does not belong to this executor.
  void remove_node(Node::SharedPtr node, bool notify = true);

  /// Runs callbacks until `cancel` or shutdown. Throws std::runtime_error if already spinning.
  virtual void spin() = 0;

  /// Takes one message from each subscription that has one, runs its callback, and returns;
  /// stops early after `max_duration` (0: no limit). Never waits for new work.
  void spin_some(std::chrono::nanoseconds max_duration = std::chrono::nanoseconds(0));

  /// Like spin_some, repeated until no subscription has a message or `max_duration` (0: no
  /// limit; negative throws std::invalid_argument) has passed.
  void spin_all(std::chrono::nanoseconds max_duration);

  /// Waits up to `timeout` (negative: forever) for one message and runs its callback.
  void spin_once(std::chrono::nanoseconds timeout = std::chrono::nanoseconds(-1));

  /// Makes a running spin return (a spin not started yet is not affected).
  void cancel();

  /// True while a spin function runs.
  bool is_spinning() const { return spinning_.load(); }

 protected:
  /// Blocks until there is work, `timeout` passes, cancel or shutdown; then runs at most one
  /// callback. Returns true if it ran one.
  bool wait_and_execute_one(std::chrono::nanoseconds timeout);

  /// Claims the spinning state; throws std::runtime_error naming `function` if already held.
  void begin_spin(const char* function);
  void end_spin() { spinning_.store(false); }

  std::atomic<bool> spinning_{false};
  Context::SharedPtr context_;

 private:
  /// The live subscriptions of all nodes, starting after the one served last.
  std::vector<std::shared_ptr<SubscriptionBase>> collect_subscriptions();
  bool execute_one_ready();

  const std::shared_ptr<detail::WakeSignal> wake_signal_;
  std::mutex nodes_mutex_;
  std::vector<std::weak_ptr<detail::NodeCore>> nodes_;
  size_t next_start_ = 0;
};

namespace executors {

/// An executor that runs every callback on the one thread calling `spin`.
class SingleThreadedExecutor : public Executor {
 public:
  RCLCPP_SMART_PTR_DEFINITIONS_NOT_COPYABLE(SingleThreadedExecutor)

  explicit SingleThreadedExecutor(const ExecutorOptions& options = ExecutorOptions());

  void spin() override;
};

}  // namespace executors

/// Spins `node` in a single-threaded executor until shutdown.
void spin(Node::SharedPtr node);

/// Runs the callbacks of `node` whose messages are already waiting, then returns.
void spin_some(Node::SharedPtr node);

}  // namespace rclcpp
