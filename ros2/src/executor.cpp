// Executors.
//
// An executor owns a wake signal that its nodes' subscriptions notify when a message arrives,
// that `cancel` notifies, and that the context notifies at shutdown. To wait for work it reads
// the signal's generation, looks for a queued message, and only if there is none blocks until
// the generation changes: a message arriving in between is never missed. Subscriptions are
// served round-robin so that a busy topic cannot starve the others.

#include "rclcpp/executor.hpp"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "rclcpp/detail/subscription_base.hpp"
#include "rclcpp/detail/wake_signal.hpp"
#include "rclcpp/utilities.hpp"

namespace rclcpp {
namespace {

// Clears the spinning flag however a spin function is left.
class SpinGuard {
 public:
  explicit SpinGuard(std::atomic<bool>& spinning) : spinning_(spinning) {}
  ~SpinGuard() { spinning_.store(false); }
  SpinGuard(const SpinGuard&) = delete;
  SpinGuard& operator=(const SpinGuard&) = delete;

 private:
  std::atomic<bool>& spinning_;
};

std::chrono::steady_clock::time_point deadline_after(std::chrono::nanoseconds duration) {
  if (duration < std::chrono::nanoseconds::zero())
    return std::chrono::steady_clock::time_point::max();
  return std::chrono::steady_clock::now() + duration;
}

}  // namespace

Executor::Executor(const ExecutorOptions& options)
    : context_(options.context ? options.context : contexts::get_global_default_context()),
      wake_signal_(std::make_shared<detail::WakeSignal>()) {
  context_->add_wake_signal(wake_signal_);
}

Executor::~Executor() {
  std::lock_guard<std::mutex> lock(nodes_mutex_);
  for (const auto& weak_node : nodes_) {
    if (const auto node = weak_node.lock()) node->detach_executor(wake_signal_.get());
  }
}

void Executor::add_node(Node::SharedPtr node, bool notify) {
  if (!node) throw std::invalid_argument("Executor::add_node: the node is null");
  const auto& core = node->get_node_core();
  core->attach_executor(wake_signal_);
  {
    std::lock_guard<std::mutex> lock(nodes_mutex_);
    nodes_.push_back(core);
  }
  if (notify) wake_signal_->notify();
}

void Executor::remove_node(Node::SharedPtr node, bool notify) {
  if (!node) throw std::invalid_argument("Executor::remove_node: the node is null");
  const auto& core = node->get_node_core();
  if (!core->detach_executor(wake_signal_.get())) {
    throw std::runtime_error("Node '" + core->fully_qualified_name() +
                             "' needs to be associated with this executor.");
  }
  {
    std::lock_guard<std::mutex> lock(nodes_mutex_);
    nodes_.erase(std::remove_if(nodes_.begin(), nodes_.end(),
                                [&](const auto& weak_node) {
                                  const auto other = weak_node.lock();
                                  return !other || other == core;
                                }),
                 nodes_.end());
  }
  if (notify) wake_signal_->notify();
}

std::vector<std::shared_ptr<SubscriptionBase>> Executor::collect_subscriptions() {
  std::vector<std::shared_ptr<SubscriptionBase>> subscriptions;
  std::vector<std::shared_ptr<detail::NodeCore>> nodes;
  {
    std::lock_guard<std::mutex> lock(nodes_mutex_);
    for (const auto& weak_node : nodes_) {
      if (auto node = weak_node.lock()) nodes.push_back(std::move(node));
    }
  }
  for (const auto& node : nodes) {
    const auto node_subscriptions = node->subscriptions();
    subscriptions.insert(subscriptions.end(), node_subscriptions.begin(), node_subscriptions.end());
  }
  if (!subscriptions.empty()) {
    const size_t start = next_start_ % subscriptions.size();
    std::rotate(subscriptions.begin(), subscriptions.begin() + start, subscriptions.end());
  }
  return subscriptions;
}

bool Executor::execute_one_ready() {
  const auto subscriptions = collect_subscriptions();
  for (size_t i = 0; i < subscriptions.size(); ++i) {
    if (auto message = subscriptions[i]->take()) {
      next_start_ += i + 1;
      subscriptions[i]->execute(message);
      return true;
    }
  }
  return false;
}

bool Executor::wait_and_execute_one(std::chrono::nanoseconds timeout) {
  const auto deadline = deadline_after(timeout);
  while (ok(context_) && spinning_.load()) {
    const uint64_t seen = wake_signal_->generation();
    if (execute_one_ready()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    wake_signal_->wait(seen, deadline);
  }
  return false;
}

void Executor::begin_spin(const char* function) {
  if (spinning_.exchange(true)) {
    throw std::runtime_error(std::string(function) + "() called while already spinning");
  }
}

void Executor::spin_some(std::chrono::nanoseconds max_duration) {
  begin_spin("spin_some");
  SpinGuard guard(spinning_);
  const auto start = std::chrono::steady_clock::now();
  const auto subscriptions = collect_subscriptions();
  for (const auto& subscription : subscriptions) {
    if (!ok(context_) || !spinning_.load()) break;
    if (max_duration > std::chrono::nanoseconds::zero() &&
        std::chrono::steady_clock::now() - start >= max_duration) {
      break;
    }
    if (auto message = subscription->take()) subscription->execute(message);
  }
}

void Executor::spin_all(std::chrono::nanoseconds max_duration) {
  if (max_duration < std::chrono::nanoseconds::zero()) {
    throw std::invalid_argument("max_duration must be greater than or equal to 0");
  }
  begin_spin("spin_all");
  SpinGuard guard(spinning_);
  const auto start = std::chrono::steady_clock::now();
  auto time_left = [&] {
    return max_duration == std::chrono::nanoseconds::zero() ||
           std::chrono::steady_clock::now() - start < max_duration;
  };
  bool worked = true;
  while (worked && ok(context_) && spinning_.load() && time_left()) {
    worked = false;
    for (const auto& subscription : collect_subscriptions()) {
      if (!ok(context_) || !spinning_.load() || !time_left()) break;
      if (auto message = subscription->take()) {
        subscription->execute(message);
        worked = true;
      }
    }
  }
}

void Executor::spin_once(std::chrono::nanoseconds timeout) {
  begin_spin("spin_once");
  SpinGuard guard(spinning_);
  wait_and_execute_one(timeout);
}

void Executor::cancel() {
  spinning_.store(false);
  wake_signal_->notify();
}

namespace executors {

SingleThreadedExecutor::SingleThreadedExecutor(const ExecutorOptions& options)
    : Executor(options) {}

void SingleThreadedExecutor::spin() {
  begin_spin("spin");
  SpinGuard guard(spinning_);
  while (ok(context_) && spinning_.load()) {
    wait_and_execute_one(std::chrono::nanoseconds(-1));
  }
}

}  // namespace executors

void spin(Node::SharedPtr node) {
  executors::SingleThreadedExecutor executor;
  executor.add_node(node, false);
  executor.spin();
  executor.remove_node(node, false);
}

void spin_some(Node::SharedPtr node) {
  executors::SingleThreadedExecutor executor;
  executor.add_node(node, false);
  executor.spin_some();
  executor.remove_node(node, false);
}

}  // namespace rclcpp
