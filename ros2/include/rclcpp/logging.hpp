#pragma once

/// Logging macros. Each call that passes its level (and throttle or once condition) writes one
/// complete line
///   [<SEVERITY>] [<seconds>.<nanoseconds>] [<logger name>]: <message>
/// to standard error, stamped with the system time. If the environment sets
/// RCUTILS_LOGGING_USE_STDOUT=1, DEBUG and INFO lines go to standard output instead. Lines from
/// concurrent threads never interleave.
///
/// RCLCPP_<LEVEL>(logger, format, ...)                        printf-style
/// RCLCPP_<LEVEL>_STREAM(logger, stream_expression)           operator<< style
/// RCLCPP_<LEVEL>_ONCE(logger, format, ...)                   only the first time reached
/// RCLCPP_<LEVEL>_THROTTLE(logger, clock, duration_ms, ...)   at most once per duration_ms
///   of `clock` (an rclcpp::Clock, e.g. *node->get_clock()); the first call always logs, and
///   a clock that jumps backwards restarts the period.

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <mutex>
#include <sstream>
#include <string>
#include <type_traits>

#include "rclcpp/clock.hpp"
#include "rclcpp/logger.hpp"

namespace rclcpp {
namespace detail {

/// True if `logger` lets messages of `level` through.
bool log_enabled(const Logger& logger, Logger::Level level);

/// Writes one formatted line for `logger` at `level` (no level check).
void log_printf(Logger::Level level, const Logger& logger, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

/// Writes one line with `message` for `logger` at `level` (no level check).
void log_string(Logger::Level level, const Logger& logger, const std::string& message);

/// The per-call-site state of a throttled log statement.
class LogThrottle {
 public:
  /// True if a message may pass at `now_ns`, given `period_ns` between messages; records it.
  bool should_log(int64_t now_ns, int64_t period_ns);

 private:
  std::mutex mutex_;
  bool logged_ = false;
  int64_t last_logged_ns_ = 0;
};

}  // namespace detail
}  // namespace rclcpp

#define RCLCPP_LOG_DETAIL_CHECK_LOGGER_(logger)                                           \
  static_assert(                                                                          \
      ::std::is_same<typename ::std::remove_cv<                                           \
                         typename ::std::remove_reference<decltype(logger)>::type>::type, \
                     ::rclcpp::Logger>::value,                                            \
      "First argument to logging macros must be an rclcpp::Logger")

#define RCLCPP_LOG_DETAIL_CHECK_CLOCK_(clock)                                                 \
  static_assert(::std::is_base_of<::rclcpp::Clock,                                            \
                                  typename ::std::remove_cv<typename ::std::remove_reference< \
                                      decltype(clock)>::type>::type>::value,                  \
                "Second argument to throttled logging macros must be an rclcpp::Clock")

#define RCLCPP_LOG_DETAIL_(level, logger, ...)                              \
  do {                                                                      \
    RCLCPP_LOG_DETAIL_CHECK_LOGGER_(logger);                                \
    const ::rclcpp::Logger& rclcpp_log_logger_ = (logger);                  \
    if (::rclcpp::detail::log_enabled(rclcpp_log_logger_, level)) {         \
      ::rclcpp::detail::log_printf(level, rclcpp_log_logger_, __VA_ARGS__); \
    }                                                                       \
  } while (0)

#define RCLCPP_LOG_STREAM_DETAIL_(level, logger, stream_arg)                             \
  do {                                                                                   \
    RCLCPP_LOG_DETAIL_CHECK_LOGGER_(logger);                                             \
    const ::rclcpp::Logger& rclcpp_log_logger_ = (logger);                               \
    if (::rclcpp::detail::log_enabled(rclcpp_log_logger_, level)) {                      \
      ::std::stringstream rclcpp_log_stream_;                                            \
      rclcpp_log_stream_ << stream_arg;                                                  \
      ::rclcpp::detail::log_string(level, rclcpp_log_logger_, rclcpp_log_stream_.str()); \
    }                                                                                    \
  } while (0)

#define RCLCPP_LOG_ONCE_DETAIL_(level, logger, ...)                           \
  do {                                                                        \
    RCLCPP_LOG_DETAIL_CHECK_LOGGER_(logger);                                  \
    const ::rclcpp::Logger& rclcpp_log_logger_ = (logger);                    \
    if (::rclcpp::detail::log_enabled(rclcpp_log_logger_, level)) {           \
      static ::std::atomic<bool> rclcpp_log_done_{false};                     \
      if (!rclcpp_log_done_.exchange(true)) {                                 \
        ::rclcpp::detail::log_printf(level, rclcpp_log_logger_, __VA_ARGS__); \
      }                                                                       \
    }                                                                         \
  } while (0)

#define RCLCPP_LOG_THROTTLE_DETAIL_(level, logger, clock, duration, ...)                 \
  do {                                                                                   \
    RCLCPP_LOG_DETAIL_CHECK_LOGGER_(logger);                                             \
    RCLCPP_LOG_DETAIL_CHECK_CLOCK_(clock);                                               \
    const ::rclcpp::Logger& rclcpp_log_logger_ = (logger);                               \
    if (::rclcpp::detail::log_enabled(rclcpp_log_logger_, level)) {                      \
      static ::rclcpp::detail::LogThrottle rclcpp_log_throttle_;                         \
      if (rclcpp_log_throttle_.should_log((clock).now().nanoseconds(),                   \
                                          static_cast<int64_t>(duration) * 1000000LL)) { \
        ::rclcpp::detail::log_printf(level, rclcpp_log_logger_, __VA_ARGS__);            \
      }                                                                                  \
    }                                                                                    \
  } while (0)

#define RCLCPP_DEBUG(logger, ...) \
  RCLCPP_LOG_DETAIL_(::rclcpp::Logger::Level::Debug, logger, __VA_ARGS__)
#define RCLCPP_INFO(logger, ...) \
  RCLCPP_LOG_DETAIL_(::rclcpp::Logger::Level::Info, logger, __VA_ARGS__)
#define RCLCPP_WARN(logger, ...) \
  RCLCPP_LOG_DETAIL_(::rclcpp::Logger::Level::Warn, logger, __VA_ARGS__)
#define RCLCPP_ERROR(logger, ...) \
  RCLCPP_LOG_DETAIL_(::rclcpp::Logger::Level::Error, logger, __VA_ARGS__)
#define RCLCPP_FATAL(logger, ...) \
  RCLCPP_LOG_DETAIL_(::rclcpp::Logger::Level::Fatal, logger, __VA_ARGS__)

#define RCLCPP_DEBUG_STREAM(logger, stream_arg) \
  RCLCPP_LOG_STREAM_DETAIL_(::rclcpp::Logger::Level::Debug, logger, stream_arg)
#define RCLCPP_INFO_STREAM(logger, stream_arg) \
  RCLCPP_LOG_STREAM_DETAIL_(::rclcpp::Logger::Level::Info, logger, stream_arg)
#define RCLCPP_WARN_STREAM(logger, stream_arg) \
  RCLCPP_LOG_STREAM_DETAIL_(::rclcpp::Logger::Level::Warn, logger, stream_arg)
#define RCLCPP_ERROR_STREAM(logger, stream_arg) \
  RCLCPP_LOG_STREAM_DETAIL_(::rclcpp::Logger::Level::Error, logger, stream_arg)
#define RCLCPP_FATAL_STREAM(logger, stream_arg) \
  RCLCPP_LOG_STREAM_DETAIL_(::rclcpp::Logger::Level::Fatal, logger, stream_arg)

#define RCLCPP_DEBUG_ONCE(logger, ...) \
  RCLCPP_LOG_ONCE_DETAIL_(::rclcpp::Logger::Level::Debug, logger, __VA_ARGS__)
#define RCLCPP_INFO_ONCE(logger, ...) \
  RCLCPP_LOG_ONCE_DETAIL_(::rclcpp::Logger::Level::Info, logger, __VA_ARGS__)
#define RCLCPP_WARN_ONCE(logger, ...) \
  RCLCPP_LOG_ONCE_DETAIL_(::rclcpp::Logger::Level::Warn, logger, __VA_ARGS__)
#define RCLCPP_ERROR_ONCE(logger, ...) \
  RCLCPP_LOG_ONCE_DETAIL_(::rclcpp::Logger::Level::Error, logger, __VA_ARGS__)
#define RCLCPP_FATAL_ONCE(logger, ...) \
  RCLCPP_LOG_ONCE_DETAIL_(::rclcpp::Logger::Level::Fatal, logger, __VA_ARGS__)

#define RCLCPP_DEBUG_THROTTLE(logger, clock, duration, ...) \
  RCLCPP_LOG_THROTTLE_DETAIL_(::rclcpp::Logger::Level::Debug, logger, clock, duration, __VA_ARGS__)
#define RCLCPP_INFO_THROTTLE(logger, clock, duration, ...) \
  RCLCPP_LOG_THROTTLE_DETAIL_(::rclcpp::Logger::Level::Info, logger, clock, duration, __VA_ARGS__)
#define RCLCPP_WARN_THROTTLE(logger, clock, duration, ...) \
  RCLCPP_LOG_THROTTLE_DETAIL_(::rclcpp::Logger::Level::Warn, logger, clock, duration, __VA_ARGS__)
#define RCLCPP_ERROR_THROTTLE(logger, clock, duration, ...) \
  RCLCPP_LOG_THROTTLE_DETAIL_(::rclcpp::Logger::Level::Error, logger, clock, duration, __VA_ARGS__)
#define RCLCPP_FATAL_THROTTLE(logger, clock, duration, ...) \
  RCLCPP_LOG_THROTTLE_DETAIL_(::rclcpp::Logger::Level::Fatal, logger, clock, duration, __VA_ARGS__)
