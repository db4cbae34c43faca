#include "rclcpp/detail/node_core.hpp"

#include <algorithm>
#include <stdexcept>

#include "rclcpp/detail/names.hpp"
#include "rclcpp/detail/subscription_base.hpp"
#include "rclcpp/detail/wake_signal.hpp"
#include "rclcpp/exceptions.hpp"

namespace rclcpp {
namespace detail {
namespace {

std::string validated_name(const std::string& node_name) {
  validate_node_name(node_name);
  return node_name;
}

// "<namespace>.<name>" with dots for slashes and no leading dot.
std::string logger_name(const std::string& node_namespace, const std::string& node_name) {
  std::string name = node_namespace == "/" ? "" : node_namespace.substr(1) + "/";
  name += node_name;
  std::replace(name.begin(), name.end(), '/', '.');
  return name;
}

Context::SharedPtr running(Context::SharedPtr context) {
  if (!context->is_valid()) {
    throw exceptions::RCLError(
        "failed to create node: the context is not initialized (call rclcpp::init first) or "
        "has been shut down");
  }
  return context;
}

}  // namespace

NodeCore::NodeCore(const std::string& node_name, const std::string& node_namespace,
                   Context::SharedPtr context)
    : name_(validated_name(node_name)),
      namespace_(normalize_namespace(node_namespace)),
      fully_qualified_name_((namespace_ == "/" ? "" : namespace_) + "/" + name_),
      context_(running(std::move(context))),
      logger_(get_logger(logger_name(namespace_, name_))) {}

std::string NodeCore::resolve_topic_name(const std::string& topic_name) const {
  return expand_topic_name(topic_name, name_, namespace_);
}

void NodeCore::add_subscription(const std::shared_ptr<SubscriptionBase>& subscription) {
  registry()->add_subscription(subscription);
  if (subscription->deliver_inline()) return;
  std::lock_guard<std::mutex> lock(mutex_);
  subscriptions_.erase(std::remove_if(subscriptions_.begin(), subscriptions_.end(),
                                      [](const auto& weak) { return weak.expired(); }),
                       subscriptions_.end());
  subscriptions_.push_back(subscription);
}

std::vector<std::shared_ptr<SubscriptionBase>> NodeCore::subscriptions() {
  std::vector<std::shared_ptr<SubscriptionBase>> live;
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& weak : subscriptions_) {
    if (auto subscription = weak.lock()) live.push_back(std::move(subscription));
  }
  return live;
}

void NodeCore::notify_executor() {
  std::shared_ptr<WakeSignal> signal;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    signal = executor_signal_;
  }
  if (signal) signal->notify();
}

void NodeCore::attach_executor(const std::shared_ptr<WakeSignal>& signal) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (executor_signal_) {
    throw std::runtime_error("Node '" + fully_qualified_name_ +
                             "' has already been added to an executor.");
  }
  executor_signal_ = signal;
}

bool NodeCore::detach_executor(const WakeSignal* signal) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (executor_signal_.get() != signal) return false;
  executor_signal_.reset();
  return true;
}

}  // namespace detail
}  // namespace rclcpp
