#pragma once

#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "rcl_interfaces/msg/parameter_descriptor.hpp"
#include "rcl_interfaces/msg/set_parameters_result.hpp"
#include "rclcpp/clock.hpp"
#include "rclcpp/context.hpp"
#include "rclcpp/detail/node_core.hpp"
#include "rclcpp/logger.hpp"
#include "rclcpp/macros.hpp"
#include "rclcpp/node_options.hpp"
#include "rclcpp/parameter.hpp"
#include "rclcpp/publisher.hpp"
#include "rclcpp/qos.hpp"
#include "rclcpp/subscription.hpp"
#include "rclcpp/time.hpp"

namespace rclcpp {

/// A named participant of a ROS 2 session: it creates publishers and subscriptions, owns
/// parameters, a clock and a logger. Executors run its subscription callbacks.
///
/// Every node has the parameter "use_sim_time" (bool, default false). While it is true the
/// node's clock reads the latest time published on "/clock" (rosgraph_msgs/msg/Clock): zero
/// until the first one arrives (after switching back on: the last one received before). The
/// clock takes "/clock" messages on the publishing thread, so simulation time advances without
/// spinning the node (a real ROS 2 node receives them through its executor).
/// Thread-safe.
class Node : public std::enable_shared_from_this<Node> {
 public:
  RCLCPP_SMART_PTR_DEFINITIONS(Node)

  /// A node `node_name` in the root namespace. Throws exceptions::InvalidNodeNameError for an
  /// invalid name and exceptions::RCLError if the context is not initialised.
  explicit Node(const std::string& node_name, const NodeOptions& options = NodeOptions());
  /// A node `node_name` in `namespace_` ("" is the root, a relative one is made absolute).
  /// Throws exceptions::InvalidNamespaceError for an invalid namespace.
  Node(const std::string& node_name, const std::string& namespace_,
       const NodeOptions& options = NodeOptions());
  virtual ~Node();
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;

  const char* get_name() const;
  /// The absolute namespace, "/" for the root.
  const char* get_namespace() const;
  /// "<namespace>/<name>".
  const char* get_fully_qualified_name() const;
  /// The node's logger, named "<namespace>.<name>" with dots for slashes and no leading dot.
  Logger get_logger() const;

  /// The node's ROS-time clock.
  Clock::SharedPtr get_clock();
  Clock::ConstSharedPtr get_clock() const;
  /// The current time of the node's clock (RCL_ROS_TIME).
  Time now() const;

  /// A publisher on `topic_name` (resolved against this node's namespace). Throws
  /// exceptions::InvalidTopicNameError for an invalid name, std::invalid_argument if the topic
  /// carries another message type.
  template <typename MessageT, typename AllocatorT = std::allocator<void>,
            typename PublisherT = Publisher<MessageT, AllocatorT>>
  std::shared_ptr<PublisherT> create_publisher(const std::string& topic_name, const QoS& qos) {
    auto publisher = std::make_shared<PublisherT>(core_, resolve(topic_name), qos);
    core_->registry()->add_publisher(publisher);
    return publisher;
  }

  /// A subscription on `topic_name` whose `callback` runs when an executor spins this node.
  /// Throws like create_publisher.
  template <typename MessageT, typename CallbackT, typename AllocatorT = std::allocator<void>,
            typename SubscriptionT = Subscription<MessageT, AllocatorT>>
  std::shared_ptr<SubscriptionT> create_subscription(const std::string& topic_name, const QoS& qos,
                                                     CallbackT&& callback) {
    auto subscription = std::make_shared<SubscriptionT>(core_, resolve(topic_name), qos,
                                                        std::forward<CallbackT>(callback));
    core_->add_subscription(subscription);
    return subscription;
  }

  /// The number of publishers / subscriptions on `topic_name` in this process.
  size_t count_publishers(const std::string& topic_name) const;
  size_t count_subscribers(const std::string& topic_name) const;

  /// Declares parameter `name` with the override for it if there is one (unless
  /// `ignore_override`), else `default_value`, and returns the value. Throws
  /// exceptions::ParameterAlreadyDeclaredException, exceptions::InvalidParametersException
  /// (empty name) or exceptions::InvalidParameterTypeException (override of another type).
  const ParameterValue& declare_parameter(
      const std::string& name, const ParameterValue& default_value,
      const rcl_interfaces::msg::ParameterDescriptor& descriptor =
          rcl_interfaces::msg::ParameterDescriptor(),
      bool ignore_override = false);

  /// As above for a plain value; returns it as that type (integers as int64_t, strings as
  /// std::string).
  template <typename ParameterT>
  auto declare_parameter(const std::string& name, const ParameterT& default_value,
                         const rcl_interfaces::msg::ParameterDescriptor& descriptor =
                             rcl_interfaces::msg::ParameterDescriptor(),
                         bool ignore_override = false) {
    using Stored = std::conditional_t<std::is_array_v<ParameterT>, std::string, ParameterT>;
    const ParameterValue& value =
        declare_parameter(name, ParameterValue(default_value), descriptor, ignore_override);
    return std::decay_t<decltype(value.get<Stored>())>(value.get<Stored>());
  }

  /// Sets a declared parameter. Fails (with the reason) if it is not declared (unless undeclared
  /// parameters are allowed), read-only, or of another type.
  rcl_interfaces::msg::SetParametersResult set_parameter(const Parameter& parameter);
  std::vector<rcl_interfaces::msg::SetParametersResult> set_parameters(
      const std::vector<Parameter>& parameters);

  /// The parameter `name`; throws exceptions::ParameterNotDeclaredException if it is not
  /// declared (unless undeclared parameters are allowed: then it is returned unset).
  Parameter get_parameter(const std::string& name) const;
  /// Stores parameter `name` into `parameter`; false if it is not set.
  bool get_parameter(const std::string& name, Parameter& parameter) const;
  /// Stores the value of parameter `name` into `value`; false if it is not set. Throws
  /// ParameterTypeException if it has another type.
  template <typename ParameterT>
  bool get_parameter(const std::string& name, ParameterT& value) const {
    Parameter parameter;
    if (!get_parameter(name, parameter)) return false;
    value = static_cast<ParameterT>(parameter.get_value<ParameterT>());
    return true;
  }
  /// Like get_parameter, storing `alternative_value` when it is not set.
  template <typename ParameterT>
  bool get_parameter_or(const std::string& name, ParameterT& value,
                        const ParameterT& alternative_value) const {
    const bool got = get_parameter(name, value);
    if (!got) value = alternative_value;
    return got;
  }
  bool has_parameter(const std::string& name) const;

  /// The runtime core shared with endpoints and executors (internals).
  const std::shared_ptr<detail::NodeCore>& get_node_core() const { return core_; }

 private:
  struct Impl;

  std::string resolve(const std::string& topic_name) const;

  std::shared_ptr<detail::NodeCore> core_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace rclcpp
