#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

namespace rclcpp {

/// The type of a parameter value.
enum ParameterType : uint8_t {
  PARAMETER_NOT_SET = 0,
  PARAMETER_BOOL = 1,
  PARAMETER_INTEGER = 2,
  PARAMETER_DOUBLE = 3,
  PARAMETER_STRING = 4,
  PARAMETER_BYTE_ARRAY = 5,
  PARAMETER_BOOL_ARRAY = 6,
  PARAMETER_INTEGER_ARRAY = 7,
  PARAMETER_DOUBLE_ARRAY = 8,
  PARAMETER_STRING_ARRAY = 9,
};

/// "not set", "bool", "integer", "double", "string", "byte_array", "bool_array",
/// "integer_array", "double_array" or "string_array".
std::string to_string(ParameterType type);

/// A parameter value was read as a type it does not have: "expected [<type>] got [<type>]".
class ParameterTypeException : public std::runtime_error {
 public:
  ParameterTypeException(ParameterType expected, ParameterType actual)
      : std::runtime_error("expected [" + to_string(expected) + "] got [" + to_string(actual) +
                           "]") {}
};

/// A typed parameter value: nothing, a bool, a 64-bit integer, a double, a string, or an array
/// of bytes, bools, integers, doubles or strings. Integers of any width are stored as int64_t,
/// floats as double.
class ParameterValue {
 public:
  /// A value of type PARAMETER_NOT_SET.
  ParameterValue() = default;
  explicit ParameterValue(bool bool_value) : value_(bool_value) {}
  explicit ParameterValue(int int_value) : value_(static_cast<int64_t>(int_value)) {}
  explicit ParameterValue(int64_t int_value) : value_(int_value) {}
  explicit ParameterValue(float double_value) : value_(static_cast<double>(double_value)) {}
  explicit ParameterValue(double double_value) : value_(double_value) {}
  explicit ParameterValue(const std::string& string_value) : value_(string_value) {}
  explicit ParameterValue(const char* string_value) : value_(std::string(string_value)) {}
  explicit ParameterValue(const std::vector<uint8_t>& byte_array_value)
      : value_(byte_array_value) {}
  explicit ParameterValue(const std::vector<bool>& bool_array_value) : value_(bool_array_value) {}
  explicit ParameterValue(const std::vector<int>& int_array_value)
      : value_(std::vector<int64_t>(int_array_value.begin(), int_array_value.end())) {}
  explicit ParameterValue(const std::vector<int64_t>& int_array_value) : value_(int_array_value) {}
  explicit ParameterValue(const std::vector<float>& double_array_value)
      : value_(std::vector<double>(double_array_value.begin(), double_array_value.end())) {}
  explicit ParameterValue(const std::vector<double>& double_array_value)
      : value_(double_array_value) {}
  explicit ParameterValue(const std::vector<std::string>& string_array_value)
      : value_(string_array_value) {}

  ParameterType get_type() const { return static_cast<ParameterType>(value_.index()); }

  /// The value as `T` (bool, any integer type, float or double, std::string, one of the vector
  /// types, or ParameterValue itself). Throws ParameterTypeException if the stored type differs.
  template <typename T>
  decltype(auto) get() const {
    using U = std::decay_t<T>;
    if constexpr (std::is_same_v<U, ParameterValue>) {
      return static_cast<const ParameterValue&>(*this);
    } else if constexpr (std::is_same_v<U, bool>) {
      return static_cast<bool>(get_as<bool, PARAMETER_BOOL>());
    } else if constexpr (std::is_integral_v<U>) {
      return static_cast<int64_t>(get_as<int64_t, PARAMETER_INTEGER>());
    } else if constexpr (std::is_floating_point_v<U>) {
      return static_cast<double>(get_as<double, PARAMETER_DOUBLE>());
    } else if constexpr (std::is_same_v<U, std::string> || std::is_same_v<U, const char*> ||
                         std::is_same_v<U, char*>) {
      return get_as<std::string, PARAMETER_STRING>();
    } else if constexpr (std::is_same_v<U, std::vector<uint8_t>>) {
      return get_as<std::vector<uint8_t>, PARAMETER_BYTE_ARRAY>();
    } else if constexpr (std::is_same_v<U, std::vector<bool>>) {
      return get_as<std::vector<bool>, PARAMETER_BOOL_ARRAY>();
    } else if constexpr (std::is_same_v<U, std::vector<int64_t>>) {
      return get_as<std::vector<int64_t>, PARAMETER_INTEGER_ARRAY>();
    } else if constexpr (std::is_same_v<U, std::vector<double>>) {
      return get_as<std::vector<double>, PARAMETER_DOUBLE_ARRAY>();
    } else if constexpr (std::is_same_v<U, std::vector<std::string>>) {
      return get_as<std::vector<std::string>, PARAMETER_STRING_ARRAY>();
    } else {
      static_assert(sizeof(U) == 0, "unsupported parameter value type");
    }
  }

  bool operator==(const ParameterValue& rhs) const { return value_ == rhs.value_; }
  bool operator!=(const ParameterValue& rhs) const { return !(*this == rhs); }

 private:
  template <typename Stored, ParameterType type>
  const Stored& get_as() const {
    if (get_type() != type) throw ParameterTypeException(type, get_type());
    return std::get<Stored>(value_);
  }

  // Alternative i holds the type ParameterType(i).
  std::variant<std::monostate, bool, int64_t, double, std::string, std::vector<uint8_t>,
               std::vector<bool>, std::vector<int64_t>, std::vector<double>,
               std::vector<std::string>>
      value_;
};

/// The value as text, e.g. "true", "42", "0.5", "abc", "[1, 2]".
std::string to_string(const ParameterValue& value);

}  // namespace rclcpp
