#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "rclcpp/context.hpp"
#include "rclcpp/detail/topic_registry.hpp"
#include "rclcpp/logger.hpp"

namespace rclcpp {
class SubscriptionBase;

namespace detail {
class WakeSignal;

/// What a node shares with its endpoints and its executor: its names, its context, its
/// subscriptions and the wake signal of the executor it belongs to. Thread-safe.
class NodeCore {
 public:
  /// Validates the names; throws on invalid ones or if `context` is not running.
  NodeCore(const std::string& node_name, const std::string& node_namespace,
           Context::SharedPtr context);

  const std::string& name() const { return name_; }
  const std::string& node_namespace() const { return namespace_; }
  const std::string& fully_qualified_name() const { return fully_qualified_name_; }
  const Context::SharedPtr& context() const { return context_; }
  const std::shared_ptr<TopicRegistry>& registry() const { return context_->topic_registry(); }
  const Logger& logger() const { return logger_; }

  /// The fully qualified form of `topic_name` for this node.
  std::string resolve_topic_name(const std::string& topic_name) const;

  /// Registers `subscription` with the transport and, unless it is delivered inline, with
  /// this node so that its executor runs it.
  void add_subscription(const std::shared_ptr<SubscriptionBase>& subscription);

  /// The live subscriptions run by the executor.
  std::vector<std::shared_ptr<SubscriptionBase>> subscriptions();

  /// Wakes this node's executor, if any.
  void notify_executor();

  /// Attaches this node to an executor; throws std::runtime_error if it already has one.
  void attach_executor(const std::shared_ptr<WakeSignal>& signal);
  /// Detaches it from the executor owning `signal`; false if that executor did not own it.
  bool detach_executor(const WakeSignal* signal);

 private:
  const std::string name_;
  const std::string namespace_;
  const std::string fully_qualified_name_;
  const Context::SharedPtr context_;
  const Logger logger_;

  std::mutex mutex_;
  std::vector<std::weak_ptr<SubscriptionBase>> subscriptions_;
  std::shared_ptr<WakeSignal> executor_signal_;
};

}  // namespace detail
}  // namespace rclcpp
