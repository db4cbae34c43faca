// Log lines: format, levels and variants, and whole lines under concurrency.

#include <regex>
#include <set>

#include "Ros2TestSupport.h"
#include "rclcpp/logging.hpp"

namespace {

using namespace velmora_test;

/// The lines of `text` without their newline characters.
std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

int64_t systemNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

class Logging : public RosTest {};

TEST_F(Logging, EachLineCarriesSeverityStampLoggerNameAndMessage) {
  auto node = std::make_shared<rclcpp::Node>("ctrl", "/robot");
  auto logger = rclcpp::get_logger("solver");
  const std::string long_text(20000, 'y');
  const int64_t before = systemNs();
  testing::internal::CaptureStderr();
  RCLCPP_INFO(node->get_logger(), "max time %f ms", 1.5);
  RCLCPP_WARN(node->get_logger(), "warn %d", 7);
  RCLCPP_ERROR_STREAM(logger, "stream " << 0.5);
  RCLCPP_FATAL(node->get_logger(), "fatal");
  for (int i = 0; i < 3; ++i) RCLCPP_INFO_ONCE(logger, "once %d", i);
  RCLCPP_INFO(logger, "%s|", long_text.c_str());
  int evaluated = 0;
  RCLCPP_DEBUG(logger, "%d", ++evaluated);  // a disabled level evaluates no argument
  const auto lines = splitLines(testing::internal::GetCapturedStderr());
  const int64_t after = systemNs();
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"INFO", "robot.ctrl]: max time 1.500000 ms"},
      {"WARN", "robot.ctrl]: warn 7"},
      {"ERROR", "solver]: stream 0.5"},
      {"FATAL", "robot.ctrl]: fatal"},
      {"INFO", "solver]: once 0"},
      {"INFO", "solver]: " + long_text + "|"}};
  ASSERT_EQ(lines.size(), expected.size());
  const std::regex format(R"(^\[([A-Z]+)\] \[(\d+)\.(\d{9})\] \[(.*)$)");
  for (size_t i = 0; i < lines.size(); ++i) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(lines[i], match, format)) << lines[i];
    EXPECT_EQ(match[1], expected[i].first);
    EXPECT_EQ(match[4], expected[i].second);
    const int64_t stamp = std::stoll(match[2]) * 1000000000LL + std::stoll(match[3]);
    EXPECT_GE(stamp, before);
    EXPECT_LE(stamp, after);
  }
  EXPECT_EQ(evaluated, 0);
}

TEST_F(Logging, LinesFromConcurrentThreadsNeverInterleave) {
  constexpr int kThreads = 8, kLines = 200;
  const std::string padding(300, 'x');
  testing::internal::CaptureStderr();
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const auto logger = rclcpp::get_logger("thread_" + std::to_string(t));
      for (int i = 0; i < kLines; ++i) RCLCPP_WARN(logger, "line %d %s end", i, padding.c_str());
    });
  }
  for (auto& thread : threads) thread.join();
  const auto lines = splitLines(testing::internal::GetCapturedStderr());
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
  const std::regex format(R"(^\[WARN\] \[\d+\.\d{9}\] \[thread_(\d)\]: line (\d+) x{300} end$)");
  std::set<std::pair<int, int>> seen;
  for (const auto& line : lines) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match, format)) << line.substr(0, 120);
    seen.emplace(std::stoi(match[1]), std::stoi(match[2]));
  }
  EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kLines));
}

}  // namespace
