#pragma once

#include <string>
#include <vector>

#include "rclcpp/context.hpp"
#include "rclcpp/parameter.hpp"

namespace rclcpp {

/// Options for building a Node, with fluent setters.
class NodeOptions {
 public:
  NodeOptions() = default;

  /// The context of the node; the default context if null.
  Context::SharedPtr context() const { return context_; }
  NodeOptions& context(Context::SharedPtr context) {
    context_ = std::move(context);
    return *this;
  }

  /// Initial values for parameters, used when they are declared; they win over the
  /// command-line overrides.
  const std::vector<Parameter>& parameter_overrides() const { return parameter_overrides_; }
  NodeOptions& parameter_overrides(const std::vector<Parameter>& parameter_overrides) {
    parameter_overrides_ = parameter_overrides;
    return *this;
  }
  template <typename ParameterT>
  NodeOptions& append_parameter_override(const std::string& name, const ParameterT& value) {
    parameter_overrides_.emplace_back(name, ParameterValue(value));
    return *this;
  }

  /// Whether the command-line parameter overrides of the context apply (default true).
  bool use_global_arguments() const { return use_global_arguments_; }
  NodeOptions& use_global_arguments(bool use_global_arguments) {
    use_global_arguments_ = use_global_arguments;
    return *this;
  }

  /// Whether parameters may be set and read without declaring them (default false).
  bool allow_undeclared_parameters() const { return allow_undeclared_parameters_; }
  NodeOptions& allow_undeclared_parameters(bool allow) {
    allow_undeclared_parameters_ = allow;
    return *this;
  }

  /// Whether every override is declared when the node is built (default false).
  bool automatically_declare_parameters_from_overrides() const {
    return automatically_declare_parameters_from_overrides_;
  }
  NodeOptions& automatically_declare_parameters_from_overrides(bool declare) {
    automatically_declare_parameters_from_overrides_ = declare;
    return *this;
  }

 private:
  Context::SharedPtr context_;
  std::vector<Parameter> parameter_overrides_;
  bool use_global_arguments_ = true;
  bool allow_undeclared_parameters_ = false;
  bool automatically_declare_parameters_from_overrides_ = false;
};

}  // namespace rclcpp
