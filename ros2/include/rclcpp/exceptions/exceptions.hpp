#pragma once

/// The exceptions rclcpp throws.

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

namespace rclcpp {
namespace exceptions {

/// A node name, namespace or topic name broke the naming rules. `what()` names the kind of
/// name, the reason, the name itself and marks the offending character.
class NameValidationError : public std::invalid_argument {
 public:
  NameValidationError(const char* name_type_, const char* name_, const char* error_msg_,
                      size_t invalid_index_);

  /// "Invalid <name_type>: <error_msg>:\n  '<name>'\n   <spaces>^\n".
  static std::string format_error(const char* name_type, const char* name, const char* error_msg,
                                  size_t invalid_index);

  const std::string name_type;
  const std::string name;
  const std::string error_msg;
  const size_t invalid_index;
};

/// A node name broke the naming rules.
class InvalidNodeNameError : public NameValidationError {
 public:
  InvalidNodeNameError(const char* node_name, const char* error_msg, size_t invalid_index)
      : NameValidationError("node name", node_name, error_msg, invalid_index) {}
};

/// A node namespace broke the naming rules.
class InvalidNamespaceError : public NameValidationError {
 public:
  InvalidNamespaceError(const char* namespace_, const char* error_msg, size_t invalid_index)
      : NameValidationError("namespace", namespace_, error_msg, invalid_index) {}
};

/// A topic name broke the naming rules, before or after expansion.
class InvalidTopicNameError : public NameValidationError {
 public:
  InvalidTopicNameError(const char* topic_name, const char* error_msg, size_t invalid_index)
      : NameValidationError("topic name", topic_name, error_msg, invalid_index) {}
};

/// The runtime refused an operation, e.g. creating a node on a context that is not initialised.
class RCLError : public std::runtime_error {
 public:
  explicit RCLError(const std::string& message) : std::runtime_error(message) {}
};

/// Command-line ROS arguments that the runtime does not understand.
class UnknownROSArgsError : public std::runtime_error {
 public:
  explicit UnknownROSArgsError(std::vector<std::string>&& unknown_ros_args_in);

  const std::vector<std::string> unknown_ros_args;
};

/// A parameter was read or set before it was declared.
class ParameterNotDeclaredException : public std::runtime_error {
  using std::runtime_error::runtime_error;
};

/// A parameter was declared twice.
class ParameterAlreadyDeclaredException : public std::runtime_error {
  using std::runtime_error::runtime_error;
};

/// A parameter name or set of parameters is invalid (e.g. an empty name).
class InvalidParametersException : public std::runtime_error {
  using std::runtime_error::runtime_error;
};

/// A parameter's value was rejected.
class InvalidParameterValueException : public std::runtime_error {
  using std::runtime_error::runtime_error;
};

/// A parameter got a value of a type other than its declared one.
class InvalidParameterTypeException : public std::runtime_error {
 public:
  InvalidParameterTypeException(const std::string& name, const std::string& message)
      : std::runtime_error("parameter '" + name + "' has invalid type: " + message) {}
};

}  // namespace exceptions
}  // namespace rclcpp
