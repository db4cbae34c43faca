#pragma once

// Rate limit for repeated error and warning reports of one object.

#include <chrono>
#include <cstddef>
#include <map>
#include <string>

namespace velmora {

/// Lets the report of each cause through at most once per period (steady clock), and counts
/// the reports it held back since the last one let through. Each owner keeps its own throttle,
/// so two controllers in one process do not silence each other. Not thread-safe: one thread.
class ReportThrottle {
 public:
  using clock = std::chrono::steady_clock;

  /// `period`: shortest time between two reports of one cause.
  explicit ReportThrottle(clock::duration period = std::chrono::seconds(1)) : period_(period) {}

  /// True when the report of `cause` may be made now. On true, `suppressed` receives the
  /// number of reports of that cause held back since the previous one.
  bool allow(const std::string& cause, std::size_t& suppressed) {
    const clock::time_point now = clock::now();
    auto it = causes_.find(cause);
    if (it == causes_.end()) {
      causes_.emplace(cause, Entry{now, 0});
      suppressed = 0;
      return true;
    }
    if (now - it->second.last_report < period_) {
      ++it->second.suppressed;
      return false;
    }
    suppressed = it->second.suppressed;
    it->second = Entry{now, 0};
    return true;
  }

 private:
  struct Entry {
    clock::time_point last_report;
    std::size_t suppressed;
  };
  clock::duration period_;
  std::map<std::string, Entry> causes_;
};

}  // namespace velmora
