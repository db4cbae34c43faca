#pragma once

#include <memory>
#include <string>

namespace rclcpp {

/// A named logger. Names are dot-separated hierarchies ("robot.controller"); a logger without
/// a level of its own uses its nearest ancestor's, and the default level is Info.
class Logger {
 public:
  /// Severity levels, in increasing order.
  enum class Level {
    Unset = 0,
    Debug = 10,
    Info = 20,
    Warn = 30,
    Error = 40,
    Fatal = 50,
  };

  Logger(const Logger&) = default;
  Logger& operator=(const Logger&) = default;

  /// The full logger name.
  const char* get_name() const;

  /// The logger "<name>.<suffix>".
  Logger get_child(const std::string& suffix);

  /// Sets this logger's own level (process-wide, by name); `Level::Unset` makes it inherit.
  void set_level(Level level);

  /// The level in force for this logger: its own, else its nearest ancestor's, else Info.
  Level get_effective_level() const;

  bool operator==(const Logger& other) const { return *name_ == *other.name_; }

 private:
  friend Logger get_logger(const std::string& name);
  explicit Logger(const std::string& name);

  std::shared_ptr<const std::string> name_;
};

/// The logger called `name`.
Logger get_logger(const std::string& name);

}  // namespace rclcpp
