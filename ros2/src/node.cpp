// Node: names and endpoints come from the node core; this file adds parameters and the
// simulation-time source behind "use_sim_time".

#include "rclcpp/node.hpp"

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "rclcpp/detail/names.hpp"
#include "rclcpp/exceptions.hpp"
#include "rosgraph_msgs/msg/clock.hpp"

namespace rclcpp {
namespace detail {

/// Drives a ROS-time clock from "/clock" while enabled. The subscription is delivered inline:
/// each published "/clock" message sets the clock on the publishing thread, so simulation time
/// needs no spinning. Until the first message after enabling, the clock reads the last time
/// received before (zero if none).
class SimTimeSource {
 public:
  SimTimeSource(std::shared_ptr<NodeCore> core, Clock::SharedPtr clock)
      : core_(std::move(core)), clock_(std::move(clock)) {}

  void set_enabled(bool enabled) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (enabled == static_cast<bool>(subscription_)) return;
    if (!enabled) {
      clock_->disable_ros_time_override();
      subscription_.reset();
      return;
    }
    clock_->enable_ros_time_override(last_received_ns_->load());
    auto subscription = std::make_shared<Subscription<rosgraph_msgs::msg::Clock>>(
        core_, "/clock", ClockQoS(),
        [clock = clock_, last = last_received_ns_](const rosgraph_msgs::msg::Clock& msg) {
          const int64_t ns = Time(msg.clock).nanoseconds();
          last->store(ns);
          clock->set_ros_time_override(ns);
        });
    subscription->set_deliver_inline(true);
    core_->add_subscription(subscription);
    subscription_ = std::move(subscription);
  }

 private:
  const std::shared_ptr<NodeCore> core_;
  const Clock::SharedPtr clock_;
  const std::shared_ptr<std::atomic<int64_t>> last_received_ns_ =
      std::make_shared<std::atomic<int64_t>>(0);
  std::mutex mutex_;
  std::shared_ptr<SubscriptionBase> subscription_;
};

/// A declared parameter of a node: its value and descriptor. Outside the anonymous namespace
/// because Node::Impl, declared in the public header, holds them.
struct DeclaredParameter {
  ParameterValue value;
  rcl_interfaces::msg::ParameterDescriptor descriptor;
};

}  // namespace detail

namespace {

constexpr const char* kUseSimTime = "use_sim_time";

using detail::DeclaredParameter;

rcl_interfaces::msg::SetParametersResult failure(const std::string& reason) {
  rcl_interfaces::msg::SetParametersResult result;
  result.successful = false;
  result.reason = reason;
  return result;
}

}  // namespace

struct Node::Impl {
  Impl(const std::shared_ptr<detail::NodeCore>& core, const NodeOptions& node_options)
      : options(node_options), time_source(core, clock) {
    if (options.use_global_arguments()) {
      for (const auto& parameter : core->context()->get_global_parameter_overrides()) {
        overrides[parameter.get_name()] = parameter.get_parameter_value();
      }
    }
    for (const auto& parameter : options.parameter_overrides()) {
      overrides[parameter.get_name()] = parameter.get_parameter_value();
    }
  }

  // Applies what a parameter value means to the node itself. Caller holds `mutex`.
  void apply(const std::string& name, const ParameterValue& value) {
    if (name == kUseSimTime) time_source.set_enabled(value.get<bool>());
  }

  const NodeOptions options;
  std::map<std::string, ParameterValue> overrides;
  const Clock::SharedPtr clock = std::make_shared<Clock>(RCL_ROS_TIME);
  detail::SimTimeSource time_source;
  mutable std::recursive_mutex mutex;
  std::map<std::string, DeclaredParameter> parameters;
};

Node::Node(const std::string& node_name, const NodeOptions& options)
    : Node(node_name, "", options) {}

Node::Node(const std::string& node_name, const std::string& namespace_, const NodeOptions& options)
    : core_(std::make_shared<detail::NodeCore>(
          node_name, namespace_,
          options.context() ? options.context() : contexts::get_global_default_context())),
      impl_(std::make_unique<Impl>(core_, options)) {
  declare_parameter(kUseSimTime, ParameterValue(false));
  if (options.automatically_declare_parameters_from_overrides()) {
    for (const auto& [name, value] : impl_->overrides) {
      if (!has_parameter(name)) declare_parameter(name, value);
    }
  }
}

Node::~Node() = default;

const char* Node::get_name() const { return core_->name().c_str(); }
const char* Node::get_namespace() const { return core_->node_namespace().c_str(); }
const char* Node::get_fully_qualified_name() const { return core_->fully_qualified_name().c_str(); }
Logger Node::get_logger() const { return core_->logger(); }

Clock::SharedPtr Node::get_clock() { return impl_->clock; }
Clock::ConstSharedPtr Node::get_clock() const { return impl_->clock; }
Time Node::now() const { return impl_->clock->now(); }

std::string Node::resolve(const std::string& topic_name) const {
  return core_->resolve_topic_name(topic_name);
}

size_t Node::count_publishers(const std::string& topic_name) const {
  return core_->registry()->count_publishers(resolve(topic_name));
}

size_t Node::count_subscribers(const std::string& topic_name) const {
  return core_->registry()->count_subscriptions(resolve(topic_name));
}

const ParameterValue& Node::declare_parameter(
    const std::string& name, const ParameterValue& default_value,
    const rcl_interfaces::msg::ParameterDescriptor& descriptor, bool ignore_override) {
  if (name.empty())
    throw exceptions::InvalidParametersException("parameter name must not be empty");
  std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
  if (impl_->parameters.count(name) > 0) {
    throw exceptions::ParameterAlreadyDeclaredException("parameter '" + name +
                                                        "' has already been declared");
  }
  ParameterValue value = default_value;
  const auto override_it = impl_->overrides.find(name);
  if (!ignore_override && override_it != impl_->overrides.end()) {
    const ParameterType declared_type = default_value.get_type();
    const ParameterType given_type = override_it->second.get_type();
    if (!descriptor.dynamic_typing && declared_type != PARAMETER_NOT_SET &&
        given_type != declared_type) {
      throw exceptions::InvalidParameterTypeException(
          name, "expected [" + to_string(declared_type) + "] got [" + to_string(given_type) + "]");
    }
    value = override_it->second;
  }
  impl_->apply(name, value);
  DeclaredParameter& declared = impl_->parameters[name];
  declared.value = value;
  declared.descriptor = descriptor;
  declared.descriptor.name = name;
  declared.descriptor.type = value.get_type();
  return declared.value;
}

rcl_interfaces::msg::SetParametersResult Node::set_parameter(const Parameter& parameter) {
  const std::string& name = parameter.get_name();
  const ParameterValue& value = parameter.get_parameter_value();
  std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
  const auto found = impl_->parameters.find(name);
  if (found == impl_->parameters.end()) {
    if (!impl_->options.allow_undeclared_parameters()) {
      return failure("parameter '" + name + "' cannot be set because it was not declared");
    }
    rcl_interfaces::msg::ParameterDescriptor descriptor;
    descriptor.dynamic_typing = true;
    declare_parameter(name, value, descriptor, true);
  } else {
    DeclaredParameter& declared = found->second;
    if (declared.descriptor.read_only) {
      return failure("parameter '" + name + "' cannot be set because it is read-only");
    }
    const ParameterType old_type = declared.value.get_type();
    if (!declared.descriptor.dynamic_typing && old_type != value.get_type()) {
      return failure("Wrong parameter type, parameter {" + name + "} is of type {" +
                     to_string(old_type) + "}, setting it to {" + to_string(value.get_type()) +
                     "} is not allowed.");
    }
    impl_->apply(name, value);
    declared.value = value;
  }
  rcl_interfaces::msg::SetParametersResult result;
  result.successful = true;
  return result;
}

std::vector<rcl_interfaces::msg::SetParametersResult> Node::set_parameters(
    const std::vector<Parameter>& parameters) {
  std::vector<rcl_interfaces::msg::SetParametersResult> results;
  results.reserve(parameters.size());
  for (const auto& parameter : parameters) results.push_back(set_parameter(parameter));
  return results;
}

Parameter Node::get_parameter(const std::string& name) const {
  Parameter parameter;
  if (get_parameter(name, parameter)) return parameter;
  std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
  if (impl_->options.allow_undeclared_parameters()) return Parameter(name);
  throw exceptions::ParameterNotDeclaredException("parameter '" + name + "' is not declared");
}

bool Node::get_parameter(const std::string& name, Parameter& parameter) const {
  std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
  const auto found = impl_->parameters.find(name);
  if (found == impl_->parameters.end()) return false;
  parameter = Parameter(name, found->second.value);
  return parameter.get_type() != PARAMETER_NOT_SET;
}

bool Node::has_parameter(const std::string& name) const {
  std::lock_guard<std::recursive_mutex> lock(impl_->mutex);
  return impl_->parameters.count(name) > 0;
}

}  // namespace rclcpp
