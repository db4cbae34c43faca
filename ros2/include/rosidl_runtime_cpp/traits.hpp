#pragma once

/// Compile-time facts about message types, specialised by every message header.

#include <array>
#include <charconv>
#include <cstdint>
#include <limits>
#include <ostream>
#include <string>
#include <type_traits>

namespace rosidl_generator_traits {

/// The C++ spelling of a message type, e.g. "std_msgs::msg::Header".
template <typename T>
inline const char* data_type();

/// The interface name of a message type, e.g. "std_msgs/msg/Header".
template <typename T>
inline const char* name();

/// True for message types.
template <typename T>
struct is_message : std::false_type {};

/// True if the message has no unbounded or bounded sequence or string.
template <typename T>
struct has_fixed_size : std::false_type {};

/// True if every sequence and string of the message is bounded.
template <typename T>
struct has_bounded_size : std::false_type {};

/// Writes a floating-point value as YAML: the shortest text that reads back as the same value,
/// with a decimal point; ".nan", ".inf" and "-.inf" for the special values.
template <typename T>
inline typename std::enable_if<std::is_floating_point<T>::value>::type yaml_scalar(
    std::ostream& out, T value) {
  if (value != value) {
    out << ".nan";
    return;
  }
  if (value == std::numeric_limits<T>::infinity() || value == -std::numeric_limits<T>::infinity()) {
    out << (value > 0 ? ".inf" : "-.inf");
    return;
  }
  std::array<char, 64> text{};
  const auto result = std::to_chars(text.data(), text.data() + text.size(), value);
  const std::string written(text.data(), result.ptr);
  out << written;
  if (written.find_first_of(".en") == std::string::npos) out << ".0";
}

/// Writes an integer (characters and bytes as numbers) or a bool as YAML.
template <typename T>
inline typename std::enable_if<std::is_integral<T>::value>::type yaml_scalar(std::ostream& out,
                                                                             T value) {
  if (std::is_same<T, bool>::value) {
    out << (value ? "true" : "false");
  } else if (std::is_signed<T>::value) {
    out << static_cast<int64_t>(value);
  } else {
    out << static_cast<uint64_t>(value);
  }
}

/// Writes a string as a double-quoted YAML scalar.
template <typename CharT, typename Traits, typename Alloc>
inline void yaml_scalar(std::ostream& out, const std::basic_string<CharT, Traits, Alloc>& text) {
  out << '"';
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out << '\\' << c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      const char* digits = "0123456789abcdef";
      out << "\\x" << digits[(c >> 4) & 0xf] << digits[c & 0xf];
    } else {
      out << c;
    }
  }
  out << '"';
}

}  // namespace rosidl_generator_traits
