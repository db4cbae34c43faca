#include "rclcpp/exceptions.hpp"

#include <string>
#include <utility>
#include <vector>

namespace rclcpp {
namespace exceptions {

NameValidationError::NameValidationError(const char* name_type_, const char* name_,
                                         const char* error_msg_, size_t invalid_index_)
    : std::invalid_argument(format_error(name_type_, name_, error_msg_, invalid_index_)),
      name_type(name_type_),
      name(name_),
      error_msg(error_msg_),
      invalid_index(invalid_index_) {}

std::string NameValidationError::format_error(const char* name_type, const char* name,
                                              const char* error_msg, size_t invalid_index) {
  std::string message = std::string("Invalid ") + name_type + ": " + error_msg + ":\n";
  message += std::string("  '") + name + "'\n";
  message += "   " + std::string(invalid_index, ' ') + "^\n";
  return message;
}

namespace {
std::string join_quoted(const std::vector<std::string>& items) {
  std::string joined;
  for (const auto& item : items) joined += (joined.empty() ? "'" : ", '") + item + "'";
  return joined;
}
}  // namespace

UnknownROSArgsError::UnknownROSArgsError(std::vector<std::string>&& unknown_ros_args_in)
    : std::runtime_error("found unknown ROS arguments: " + join_quoted(unknown_ros_args_in)),
      unknown_ros_args(std::move(unknown_ros_args_in)) {}

}  // namespace exceptions
}  // namespace rclcpp
