// The motion controller seen from outside: what arrives on the command topic, the timing lines
// it logs when it stops, its topics, how fast it stops, construction errors, failing cycles and
// a host that pushes from other threads.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "MotionTestSupport.h"

namespace velmora::motion_test {
namespace {

// The three timing lines, each with its maximum and average (printf %f: "nan" or "-nan").
const char* const kTimingLabels[] = {"motion control", "WBC::optimize",
                                     "ContactForceOptimization::optimize"};

std::regex timingLine(const std::string& label) {
  return std::regex("\\[INFO\\] \\[[0-9.]+\\] \\[host\\]: " +
                    std::regex_replace(label, std::regex("[.:]"), "\\$&") +
                    ": max time ([-0-9.a-z]+) ms,  average time ([-0-9.a-z]+) ms$");
}

// Expects each loop's timing line exactly once in `log`, with no interval timed.
void expectUntimedTimingLines(const std::string& log) {
  std::vector<std::string> storage;
  for (const char* label : kTimingLabels) {
    const auto matches = matchingLines(log, timingLine(label), storage);
    ASSERT_EQ(matches.size(), 1u) << label << " in:\n" << log;
    EXPECT_EQ(std::stod(matches[0][1].str()), 0.0) << label;
    EXPECT_NE(matches[0][2].str().find("nan"), std::string::npos) << label;
  }
}

TEST_F(MotionTest, WithoutStateNothingIsPublishedAndTheLoopsReportNoTimedCycle) {
  CommandListener listener("actuators_cmds");
  auto controller = makeController();
  std::this_thread::sleep_for(200ms);
  testing::internal::CaptureStderr();
  controller.reset();
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_EQ(listener.count(), 0u);
  expectUntimedTimingLines(log);
}

TEST_F(MotionTest, StateWithoutScheduleProducesNoMessage) {
  CommandListener listener("actuators_cmds");
  auto controller = makeController();
  controller->update_current_state(standingQpos(), zeroQvel());
  controller->update_trajectory_reference(holdReferences());
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(listener.count(), 0u);
  testing::internal::CaptureStderr();
  controller.reset();
  // No optimiser ran and no command was published, so no cycle was timed anywhere.
  expectUntimedTimingLines(testing::internal::GetCapturedStderr());
}

TEST_F(MotionTest, FullChainPublishesCommandsForTheStandingRobotInJointOrder) {
  CommandListener listener("actuators_cmds");
  // A command timeout of 50 periods: a sanitizer build on a loaded machine delays whole-body
  // cycles beyond the default 10 ms often enough to fill the window with the safe command.
  auto controller =
      makeController("", paramsWith("  command_timeout_periods", "50", "relaxed_timeout"));
  feedStanding(*controller);
  const auto host = pushStandingState(*controller);  // a state pushed once would go stale
  ASSERT_TRUE(eventually([&] { return listener.count() >= 50; }));
  listener.clear();
  const auto window_start = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(500ms);
  const auto messages = listener.messages();
  const double window_s =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - window_start).count();
  testing::internal::CaptureStderr();
  host->pause();
  controller.reset();
  const std::string log = testing::internal::GetCapturedStderr();

  // One message per whole-body period (0.002 s): far fewer would mean missed periods, more
  // would mean publishing without pacing. Loose bounds: the machine is shared.
  const double expected = window_s / 0.002;
  EXPECT_GT(static_cast<double>(messages.size()), 0.3 * expected);
  EXPECT_LT(static_cast<double>(messages.size()), 1.15 * expected);

  const std::vector<std::string> joints = info->joints_name;
  int64_t previous_stamp = -1;
  size_t safe_messages = 0;
  for (const auto& message : messages) {
    EXPECT_EQ(message.header.frame_id, info->robot_name);
    ASSERT_EQ(
        std::vector<std::string>(message.actuators_name.begin(), message.actuators_name.end()),
        joints);
    for (size_t size : {message.kp.size(), message.pos.size(), message.kd.size(),
                        message.vel.size(), message.torque.size()}) {
      ASSERT_EQ(size, joints.size());
    }
    const int64_t stamp = rclcpp::Time(message.header.stamp).nanoseconds();
    EXPECT_GT(stamp, previous_stamp);  // a new stamp on every message
    previous_stamp = stamp;
    // A whole-body cycle delayed beyond the command timeout on a loaded machine makes the
    // publisher send the safe damping command for a period or two: allowed, but rare.
    const bool safe =
        std::all_of(message.kp.begin(), message.kp.end(), [](float kp) { return kp == 0.0f; }) &&
        std::all_of(message.torque.begin(), message.torque.end(),
                    [](float torque) { return torque == 0.0f; });
    safe_messages += safe ? 1 : 0;
    for (size_t i = 0; i < joints.size(); ++i) {
      // Standing still on four feet: every joint is held where it is, with a positive
      // stiffness (zero only in the safe command) and finite torque; pos is the standing joint
      // position (wire order check).
      EXPECT_NEAR(message.pos[i], info->joints_init_pos[static_cast<Eigen::Index>(i)], 1e-2)
          << joints[i];
      if (safe) {
        EXPECT_EQ(message.kd[i], 1.0f) << joints[i];
        EXPECT_EQ(message.vel[i], 0.0f) << joints[i];
        continue;
      }
      EXPECT_GT(message.kp[i], 0.0f) << joints[i];
      EXPECT_GE(message.kd[i], 0.0f) << joints[i];
      EXPECT_NEAR(message.vel[i], 0.0f, 0.05f) << joints[i];
      EXPECT_TRUE(std::isfinite(message.torque[i])) << joints[i];
    }
  }
  EXPECT_LT(static_cast<double>(safe_messages), 0.1 * static_cast<double>(messages.size()));
  // Every loop ran: its timing line reports a finite average.
  std::vector<std::string> storage;
  for (const char* label : kTimingLabels) {
    const auto matches = matchingLines(log, timingLine(label), storage);
    ASSERT_EQ(matches.size(), 1u) << label;
    EXPECT_GT(std::stod(matches[0][1].str()), 0.0) << label;
    EXPECT_TRUE(std::isfinite(std::stod(matches[0][2].str()))) << label;
  }
}

TEST_F(MotionTest, AJointUnknownToTheModelIsLeftOutOfAllSixSequences) {
  std::vector<std::string> expected = info->joints_name;
  info->joints_name[4] = "no_such_joint";
  expected.erase(expected.begin() + 4);
  CommandListener listener("actuators_cmds");
  auto controller = makeController();
  feedStanding(*controller);
  ASSERT_TRUE(eventually([&] { return listener.count() >= 5; }));
  controller.reset();
  for (const auto& message : listener.messages()) {
    EXPECT_EQ(
        std::vector<std::string>(message.actuators_name.begin(), message.actuators_name.end()),
        expected);
    for (size_t size : {message.kp.size(), message.pos.size(), message.kd.size(),
                        message.vel.size(), message.torque.size()}) {
      EXPECT_EQ(size, expected.size());
    }
  }
}

TEST_F(MotionTest, TopicPrefixIsPrependedUnchanged) {
  struct Case {
    std::string prefix;
    std::string topic;      // where the commands must arrive
    std::string not_topic;  // where they must not
  };
  const std::vector<Case> cases{{"", "/actuators_cmds", "/robot_a/actuators_cmds"},
                                {"robot_a/", "/robot_a/actuators_cmds", "/actuators_cmds"},
                                {"robot_b", "/robot_bactuators_cmds", "/robot_b/actuators_cmds"}};
  for (const auto& c : cases) {
    SCOPED_TRACE("prefix '" + c.prefix + "'");
    CommandListener listener(c.topic, "listener_a");
    CommandListener elsewhere(c.not_topic, "listener_b");
    auto controller = makeController(c.prefix);
    EXPECT_EQ(node->count_publishers(c.topic), 1u);
    EXPECT_EQ(node->count_publishers(c.not_topic), 0u);
    feedStanding(*controller);
    EXPECT_TRUE(eventually([&] { return listener.count() >= 5; }));
    controller.reset();
    EXPECT_EQ(elsewhere.count(), 0u);
  }
}

TEST_F(MotionTest, DestructorReturnsWithinOnePeriodOfTheSlowestLoop) {
  // A slow contact force loop (0.2 s) makes a loop that ignored the stop request, or a
  // destructor that waited for a full extra period per loop, visible.
  const double slow_period_s = 0.2;
  auto controller = makeController("", paramsWith("force_optimization_dt", "0.2", "slow"));
  CommandListener listener("actuators_cmds");
  feedStanding(*controller);
  ASSERT_TRUE(eventually([&] { return listener.count() >= 20; }));
  const auto start = std::chrono::steady_clock::now();
  controller.reset();
  const double stop_s =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // One slow period plus one cycle under way, with a margin for a loaded machine.
  EXPECT_LT(stop_s, slow_period_s + 0.3);
}

TEST_F(MotionTest, FailingConstructionLeavesNoThreadBehind) {
  const int threads_before = threadCount();
  ASSERT_GT(threads_before, 0);
  const auto expectThrowsNamed = [&](const std::string& params, const std::string& fragment) {
    try {
      makeController("", params);
      ADD_FAILURE() << "construction succeeded with " << params;
    } catch (const std::exception& error) {
      EXPECT_NE(std::string(error.what()).find(fragment), std::string::npos) << error.what();
    }
    EXPECT_EQ(threadCount(), threads_before);
  };
  const std::string missing = ::testing::TempDir() + "motion_no_such_params.info";
  expectThrowsNamed(missing, "motion_no_such_params.info");
  const std::string malformed =
      writeTempFile("weights\n{\n  force_optmization\n  {\n", "malformed");
  expectThrowsNamed(malformed, malformed);
  // A missing key of the whole-body controller: found only after the contact force optimiser
  // has read the file successfully.
  std::ifstream bundled(kestrelFile("params.info"));
  std::string text((std::istreambuf_iterator<char>(bundled)), std::istreambuf_iterator<char>());
  const auto gain = text.find("feedback_gain");
  ASSERT_NE(gain, std::string::npos);
  expectThrowsNamed(writeTempFile(text.substr(0, gain), "no_gains"), "feedback_gain");

  // More joints than one message carries.
  auto crowded = std::make_shared<ModelInfo>(*info);
  while (crowded->joints_name.size() < 31) crowded->joints_name.push_back("extra_joint");
  try {
    MotionController controller(node, crowded, model, kestrelFile("params.info"), "");
    ADD_FAILURE() << "31 joints accepted";
  } catch (const std::invalid_argument& error) {
    EXPECT_NE(std::string(error.what()).find("31"), std::string::npos) << error.what();
  }
  EXPECT_EQ(threadCount(), threads_before);

  EXPECT_THROW(MotionController(node, nullptr, model, kestrelFile("params.info"), ""),
               std::invalid_argument);
  EXPECT_THROW(MotionController(node, info, nullptr, kestrelFile("params.info"), ""),
               std::invalid_argument);
  EXPECT_THROW(MotionController(nullptr, info, model, kestrelFile("params.info"), ""),
               std::invalid_argument);
  EXPECT_EQ(threadCount(), threads_before);

  // A successful construction adds exactly the three loops, and destruction removes them.
  auto controller = makeController();
  EXPECT_EQ(threadCount(), threads_before + 3);
  controller.reset();
  EXPECT_EQ(threadCount(), threads_before);
}

TEST_F(MotionTest, ACycleThatThrowsIsLoggedThrottledAndTheLoopsKeepRunning) {
  CommandListener listener("actuators_cmds");
  auto controller = makeController();
  // A position vector of the wrong size: every loop's cycle throws from the robot model.
  testing::internal::CaptureStderr();
  controller->update_current_state(std::make_shared<vector_t>(vector_t::Zero(5)), zeroQvel());
  controller->update_mode_schedule(standSchedule());
  controller->update_trajectory_reference(holdReferences());
  const auto start = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(2500ms);
  const std::string log = testing::internal::GetCapturedStderr();
  const double elapsed_s =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(listener.count(), 0u);

  // Each loop failed hundreds of times but reports at most once per second.
  std::vector<std::string> storage;
  const int max_lines = static_cast<int>(std::ceil(elapsed_s)) + 1;
  for (const char* loop : {"motion control", "WBC", "ContactForceOptimization"}) {
    const auto lines = matchingLines(
        log, std::regex(std::string("\\[ERROR\\] .*\\[host\\]: ") + loop + ": cycle failed"),
        storage);
    EXPECT_GE(lines.size(), 1u) << loop << "\n" << log;
    EXPECT_LE(static_cast<int>(lines.size()), max_lines) << loop << "\n" << log;
  }

  // A valid state lets the chain run again: no loop has ended.
  feedStanding(*controller);
  EXPECT_TRUE(eventually([&] { return listener.count() >= 10; }));
  testing::internal::CaptureStderr();
  controller.reset();
  const std::string stop_log = testing::internal::GetCapturedStderr();
  for (const char* label : kTimingLabels) {
    EXPECT_EQ(matchingLines(stop_log, timingLine(label), storage).size(), 1u) << label;
  }
}

TEST_F(MotionTest, ContextShutdownEndsTheLoopsAndTheDestructorStillJoins) {
  CommandListener listener("actuators_cmds");
  auto controller = makeController();
  feedStanding(*controller);
  ASSERT_TRUE(eventually([&] { return listener.count() >= 5; }));
  const int threads_running = threadCount();
  rclcpp::shutdown();
  // The three loop threads end by themselves.
  EXPECT_TRUE(eventually([&] { return threadCount() <= threads_running - 3; }, 2s));
  controller.reset();
  rclcpp::init(0, nullptr, rclcpp::InitOptions(), rclcpp::SignalHandlerOptions::None);
}

TEST_F(MotionTest, HostPushingFromOtherThreadsWhileTheLoopsRun) {
  CommandListener listener("actuators_cmds");
  auto controller = makeController();
  std::atomic<bool> stop{false};
  // The measured state at 1 kHz, with a small joint motion; schedule and references at 50 Hz
  // from a second thread, with an occasional empty schedule (the loops must idle through it).
  std::thread state_pusher([&] {
    auto next = std::chrono::steady_clock::now();
    for (int i = 0; !stop.load(); ++i) {
      auto qpos = standingQpos();
      qpos->tail(info->joints_name.size()).array() += 0.01 * std::sin(0.01 * i);
      controller->update_current_state(qpos, zeroQvel());
      next += 1ms;
      std::this_thread::sleep_until(next);
    }
  });
  std::thread plan_pusher([&] {
    for (int i = 0; !stop.load(); ++i) {
      controller->update_mode_schedule(i % 25 == 24 ? nullptr : standSchedule());
      controller->update_trajectory_reference(holdReferences());
      std::this_thread::sleep_for(20ms);
    }
  });
  std::this_thread::sleep_for(3s);
  stop = true;
  state_pusher.join();
  plan_pusher.join();
  controller.reset();
  EXPECT_GT(listener.count(), 100u);
  for (const auto& message : listener.messages()) {
    ASSERT_EQ(message.actuators_name.size(), info->joints_name.size());
    ASSERT_EQ(message.torque.size(), info->joints_name.size());
  }
}

}  // namespace
}  // namespace velmora::motion_test
