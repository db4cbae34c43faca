// Log line format, levels, the once/stream/throttle variants and whole lines under concurrency.

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "rclcpp/logging.hpp"
#include "ros_test_support.hpp"

namespace {

using velmora_test::RosTest;
using velmora_test::split_lines;

int64_t system_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

class Logging : public RosTest {};

TEST_F(Logging, EachMacroWritesOneLineWithSeverityStampLoggerNameAndMessage) {
  auto node = std::make_shared<rclcpp::Node>("ctrl", "/robot");
  const int64_t before = system_ns();
  testing::internal::CaptureStderr();
  RCLCPP_INFO(node->get_logger(), "max time %f ms,  average time %f ms", 1.5, 0.25);
  RCLCPP_WARN(node->get_logger(), "warn %d", 7);
  RCLCPP_ERROR(rclcpp::get_logger("solver"), "%s", "error text");
  RCLCPP_FATAL(node->get_logger(), "fatal");
  RCLCPP_DEBUG(node->get_logger(), "hidden at the default level");
  const auto lines = split_lines(testing::internal::GetCapturedStderr());
  const int64_t after = system_ns();
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"INFO", "robot.ctrl]: max time 1.500000 ms,  average time 0.250000 ms"},
      {"WARN", "robot.ctrl]: warn 7"},
      {"ERROR", "solver]: error text"},
      {"FATAL", "robot.ctrl]: fatal"},
  };
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
}

TEST_F(Logging, LoggerNamesAndLevelsFollowTheHierarchy) {
  EXPECT_STREQ(rclcpp::Node("n").get_logger().get_name(), "n");
  EXPECT_STREQ(rclcpp::Node("n", "/a/b").get_logger().get_name(), "a.b.n");
  auto parent = rclcpp::get_logger("levels_test");
  auto child = parent.get_child("child");
  EXPECT_STREQ(child.get_name(), "levels_test.child");
  EXPECT_EQ(child.get_effective_level(), rclcpp::Logger::Level::Info);

  parent.set_level(rclcpp::Logger::Level::Debug);
  testing::internal::CaptureStderr();
  RCLCPP_DEBUG(child, "debug visible");
  child.set_level(rclcpp::Logger::Level::Error);
  RCLCPP_WARN(child, "warn hidden");
  RCLCPP_DEBUG(parent, "parent debug visible");
  child.set_level(rclcpp::Logger::Level::Unset);  // inherits Debug again
  RCLCPP_DEBUG(child, "debug visible again");
  parent.set_level(rclcpp::Logger::Level::Unset);
  RCLCPP_DEBUG(child, "debug hidden");
  const auto lines = split_lines(testing::internal::GetCapturedStderr());
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[0].find("[DEBUG]"), std::string::npos);
  EXPECT_NE(lines[0].find("[levels_test.child]: debug visible"), std::string::npos);
  EXPECT_NE(lines[1].find("[levels_test]: parent debug visible"), std::string::npos);
  EXPECT_NE(lines[2].find("debug visible again"), std::string::npos);
}

TEST_F(Logging, OnceStreamAndThrottleVariants) {
  auto logger = rclcpp::get_logger("variants");
  rclcpp::Clock steady(RCL_STEADY_TIME);
  int evaluated = 0;
  testing::internal::CaptureStderr();
  for (int i = 0; i < 5; ++i) {
    RCLCPP_INFO_ONCE(logger, "once %d", i);
    RCLCPP_ERROR_THROTTLE(logger, steady, 60000, "throttled %d", i);  // once a minute
    RCLCPP_INFO_STREAM(logger, "stream " << i << " " << 0.5);
  }
  RCLCPP_DEBUG(logger, "%d", ++evaluated);  // arguments of a disabled level are not evaluated
  const auto lines = split_lines(testing::internal::GetCapturedStderr());
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_NE(lines[0].find("]: once 0"), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find("[ERROR]"), std::string::npos) << lines[1];
  EXPECT_NE(lines[1].find("]: throttled 0"), std::string::npos) << lines[1];
  for (int i = 0; i < 5; ++i) {
    EXPECT_NE(lines[2 + i].find("]: stream " + std::to_string(i) + " 0.5"), std::string::npos);
  }
  EXPECT_EQ(evaluated, 0);
}

TEST_F(Logging, LinesFromConcurrentThreadsNeverInterleave) {
  constexpr int kThreads = 8;
  constexpr int kLines = 200;
  const std::string padding(300, 'x');
  testing::internal::CaptureStderr();
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const auto logger = rclcpp::get_logger("thread_" + std::to_string(t));
      for (int i = 0; i < kLines; ++i) {
        RCLCPP_WARN(logger, "line %d %s end", i, padding.c_str());
      }
    });
  }
  for (auto& thread : threads) thread.join();
  const auto lines = split_lines(testing::internal::GetCapturedStderr());
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

TEST_F(Logging, LongMessagesArePrintedWhole) {
  const std::string long_text(20000, 'y');
  testing::internal::CaptureStderr();
  RCLCPP_INFO(rclcpp::get_logger("long"), "%s|", long_text.c_str());
  const auto lines = split_lines(testing::internal::GetCapturedStderr());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("]: " + long_text + "|"), std::string::npos);
}

// Run only as a child of the test below, with RCUTILS_LOGGING_USE_STDOUT set.
TEST(LoggingChild, DISABLED_WritesOneLinePerSeverity) {
  const auto logger = rclcpp::get_logger("child");
  RCLCPP_INFO(logger, "info line");
  RCLCPP_WARN(logger, "warn line");
  RCLCPP_ERROR(logger, "error line");
}

TEST(LoggingStreams, UseStdoutMovesInfoButNotWarningsToStandardOutput) {
  const std::string command =
      "RCUTILS_LOGGING_USE_STDOUT=1 /proc/" + std::to_string(::getpid()) +
      "/exe --gtest_also_run_disabled_tests --gtest_filter=LoggingChild.* 2>/dev/null";
  std::FILE* child = ::popen(command.c_str(), "r");
  ASSERT_NE(child, nullptr);
  std::string child_stdout;
  char buffer[512];
  while (std::fgets(buffer, sizeof(buffer), child) != nullptr) child_stdout += buffer;
  ASSERT_EQ(::pclose(child), 0) << child_stdout;
  EXPECT_NE(child_stdout.find("[INFO] "), std::string::npos) << child_stdout;
  EXPECT_NE(child_stdout.find("[child]: info line"), std::string::npos) << child_stdout;
  EXPECT_EQ(child_stdout.find("warn line"), std::string::npos) << child_stdout;
  EXPECT_EQ(child_stdout.find("error line"), std::string::npos) << child_stdout;
}

}  // namespace
