#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "rclcpp/parameter_value.hpp"

namespace rclcpp {

/// A named parameter value.
class Parameter {
 public:
  /// An unnamed parameter without value.
  Parameter() = default;
  /// A parameter `name` without value (PARAMETER_NOT_SET).
  explicit Parameter(const std::string& name) : name_(name) {}
  Parameter(const std::string& name, const ParameterValue& value) : name_(name), value_(value) {}
  /// A parameter `name` holding `value` (anything a ParameterValue is built from).
  template <typename ValueTypeT>
  Parameter(const std::string& name, ValueTypeT value) : Parameter(name, ParameterValue(value)) {}

  ParameterType get_type() const { return value_.get_type(); }
  std::string get_type_name() const { return to_string(get_type()); }
  const std::string& get_name() const { return name_; }
  const ParameterValue& get_parameter_value() const { return value_; }

  /// The value as `T`; throws ParameterTypeException if the stored type differs.
  template <typename T>
  decltype(auto) get_value() const {
    return value_.get<T>();
  }

  bool as_bool() const { return value_.get<bool>(); }
  int64_t as_int() const { return value_.get<int64_t>(); }
  double as_double() const { return value_.get<double>(); }
  const std::string& as_string() const { return value_.get<std::string>(); }
  const std::vector<uint8_t>& as_byte_array() const { return value_.get<std::vector<uint8_t>>(); }
  const std::vector<bool>& as_bool_array() const { return value_.get<std::vector<bool>>(); }
  const std::vector<int64_t>& as_integer_array() const {
    return value_.get<std::vector<int64_t>>();
  }
  const std::vector<double>& as_double_array() const { return value_.get<std::vector<double>>(); }
  const std::vector<std::string>& as_string_array() const {
    return value_.get<std::vector<std::string>>();
  }

  /// The value as text.
  std::string value_to_string() const { return to_string(value_); }

  bool operator==(const Parameter& rhs) const { return name_ == rhs.name_ && value_ == rhs.value_; }
  bool operator!=(const Parameter& rhs) const { return !(*this == rhs); }

 private:
  std::string name_;
  ParameterValue value_;
};

}  // namespace rclcpp
