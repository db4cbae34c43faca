// Loggers and the console output of the logging macros.
//
// Levels are kept by logger name in one process-wide table (as the console logging of ROS 2
// does); a logger without its own level uses the nearest dotted ancestor's, else Info. Output
// goes to standard error; DEBUG and INFO lines go to standard output instead if
// RCUTILS_LOGGING_USE_STDOUT=1 was set when the first line was written. Each line is formatted
// completely, then written with one call under a mutex and flushed, so lines from different threads
// never interleave.

#include <chrono>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "rclcpp/logger.hpp"
#include "rclcpp/logging.hpp"

namespace rclcpp {
namespace {

constexpr Logger::Level kDefaultLevel = Logger::Level::Info;

/// The console: logger levels and the output stream.
class Console {
 public:
  static Console& instance() {
    static Console console;
    return console;
  }

  void set_level(const std::string& name, Logger::Level level) {
    std::lock_guard<std::mutex> lock(levels_mutex_);
    if (level == Logger::Level::Unset) {
      levels_.erase(name);
    } else {
      levels_[name] = level;
    }
  }

  Logger::Level effective_level(const std::string& name) const {
    std::lock_guard<std::mutex> lock(levels_mutex_);
    if (levels_.empty()) return kDefaultLevel;
    std::string prefix = name;
    while (true) {
      const auto found = levels_.find(prefix);
      if (found != levels_.end()) return found->second;
      const size_t dot = prefix.rfind('.');
      if (dot == std::string::npos) return kDefaultLevel;
      prefix.erase(dot);
    }
  }

  void write(Logger::Level level, const std::string& line) {
    std::FILE* stream = level >= Logger::Level::Warn ? stderr : info_stream_;
    std::lock_guard<std::mutex> lock(output_mutex_);
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fflush(stream);
  }

 private:
  Console() {
    const char* use_stdout = std::getenv("RCUTILS_LOGGING_USE_STDOUT");
    info_stream_ = (use_stdout != nullptr && std::strcmp(use_stdout, "1") == 0) ? stdout : stderr;
  }

  mutable std::mutex levels_mutex_;
  std::map<std::string, Logger::Level> levels_;
  std::mutex output_mutex_;
  std::FILE* info_stream_;  // for DEBUG and INFO
};

const char* severity_label(Logger::Level level) {
  switch (level) {
    case Logger::Level::Debug:
      return "DEBUG";
    case Logger::Level::Info:
      return "INFO";
    case Logger::Level::Warn:
      return "WARN";
    case Logger::Level::Error:
      return "ERROR";
    case Logger::Level::Fatal:
      return "FATAL";
    default:
      return "UNSET";
  }
}

// "[<SEVERITY>] [<seconds>.<nanoseconds>] [<name>]: " stamped with the system time.
std::string line_prefix(Logger::Level level, const Logger& logger) {
  const int64_t now_ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
  char stamp[48];
  std::snprintf(stamp, sizeof(stamp), "%" PRId64 ".%09" PRId64,
                static_cast<int64_t>(now_ns / 1000000000LL),
                static_cast<int64_t>(now_ns % 1000000000LL));
  return std::string("[") + severity_label(level) + "] [" + stamp + "] [" + logger.get_name() +
         "]: ";
}

}  // namespace

Logger::Logger(const std::string& name) : name_(std::make_shared<const std::string>(name)) {}

const char* Logger::get_name() const { return name_->c_str(); }

Logger Logger::get_child(const std::string& suffix) { return Logger(*name_ + "." + suffix); }

void Logger::set_level(Level level) { Console::instance().set_level(*name_, level); }

Logger::Level Logger::get_effective_level() const {
  return Console::instance().effective_level(*name_);
}

Logger get_logger(const std::string& name) { return Logger(name); }

namespace detail {

bool log_enabled(const Logger& logger, Logger::Level level) {
  return static_cast<int>(level) >= static_cast<int>(logger.get_effective_level());
}

void log_string(Logger::Level level, const Logger& logger, const std::string& message) {
  Console::instance().write(level, line_prefix(level, logger) + message + "\n");
}

void log_printf(Logger::Level level, const Logger& logger, const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list args_copy;
  va_copy(args_copy, args);
  const int length = std::vsnprintf(nullptr, 0, format, args_copy);
  va_end(args_copy);
  std::string message;
  if (length > 0) {
    std::vector<char> buffer(static_cast<size_t>(length) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    message.assign(buffer.data(), static_cast<size_t>(length));
  }
  va_end(args);
  log_string(level, logger, message);
}

bool LogThrottle::should_log(int64_t now_ns, int64_t period_ns) {
  std::lock_guard<std::mutex> lock(mutex_);
  const bool due = !logged_ || now_ns < last_logged_ns_ || now_ns - last_logged_ns_ >= period_ns;
  if (due) {
    logged_ = true;
    last_logged_ns_ = now_ns;
  }
  return due;
}

}  // namespace detail
}  // namespace rclcpp
