// Log lines under concurrency: each whole, in the documented format.

#include <regex>
#include <set>

#include "Ros2TestSupport.h"
#include "rclcpp/logging.hpp"

namespace {

using namespace velmora_test;

/// The lines written to standard error while `log` runs.
std::vector<std::string> linesLoggedBy(const std::function<void()>& log) {
  testing::internal::CaptureStderr();
  log();
  std::istringstream stream(testing::internal::GetCapturedStderr());
  std::vector<std::string> lines;
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

class Logging : public RosTest {};

TEST_F(Logging, LinesFromConcurrentThreadsNeverInterleave) {
  constexpr int kThreads = 8, kLines = 200;
  const std::string padding(300, 'x');
  const auto lines = linesLoggedBy([&] {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        const auto logger = rclcpp::get_logger("thread_" + std::to_string(t));
        for (int i = 0; i < kLines; ++i) RCLCPP_WARN(logger, "line %d %s end", i, padding.c_str());
      });
    }
    for (auto& thread : threads) thread.join();
  });
  const std::regex format(R"(^\[WARN\] \[\d+\.\d{9}\] \[thread_(\d)\]: line (\d+) x{300} end$)");
  std::set<std::pair<int, int>> seen;
  for (const auto& line : lines) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match, format)) << line.substr(0, 120);
    seen.emplace(std::stoi(match[1]), std::stoi(match[2]));
  }
  EXPECT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
  EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kLines));
}

}  // namespace
