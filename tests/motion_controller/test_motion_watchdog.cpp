// The publication loop's stale-input rule seen from outside: a host that stops pushing state,
// and a whole-body cycle that throws (a schedule with mode 16), both lead to the safe damping
// command within the limit, and normal commands return as soon as the inputs are fresh.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "MotionTestSupport.h"

namespace velmora::motion_test {
namespace {

constexpr float kDampingKd = 2.5f;  // distinct from every gain the controller uses otherwise

/// The bundled parameter file with the safety block's damping gain set to kDampingKd and a
/// command timeout of 50 periods (100 ms): a slow build on a loaded machine can delay a
/// whole-body cycle beyond the default 10 ms, and these tests watch the other causes.
std::string paramsWithDamping() {
  return paramsWith({{"  damping_kd", "2.5"}, {"  command_timeout_periods", "50"}}, "damping");
}

bool isSafe(const ActuatorCmds& message) {
  for (size_t i = 0; i < message.kp.size(); ++i) {
    if (message.kp[i] != 0.0f || message.kd[i] != kDampingKd || message.vel[i] != 0.0f ||
        message.torque[i] != 0.0f) {
      return false;
    }
  }
  return !message.kp.empty();
}

/// Counts lines of `log` at `severity` from the host node that contain `text`.
size_t countLines(const std::string& log, const std::string& severity, const std::string& text) {
  std::vector<std::string> storage;
  return matchingLines(log, std::regex("\\[" + severity + "\\] .*\\[host\\]: .*" + text), storage)
      .size();
}

/// One WARN per entry into the safe command and one INFO per return, not one per period. A
/// loaded machine may delay a whole-body cycle beyond the command timeout once more just before
/// the log is taken: one WARN more than INFO lines is allowed.
void expectOneLinePerChange(const std::string& log) {
  const size_t entries = countLines(log, "WARN", "safe damping command");
  const size_t returns = countLines(log, "INFO", "fresh again");
  EXPECT_GE(entries, returns) << log;
  EXPECT_LE(entries, returns + 1) << log;
  EXPECT_GE(returns, 1u) << log;
}

/// The controller's own command with a body law: stiffness on the joints. (Until the contact
/// force optimisation's first law, which a slow build may take a while to deliver, the
/// whole-body controller sends the all-zero record, which is neither this nor the safe command.)
bool isLive(const ActuatorCmds& message) { return !message.kp.empty() && message.kp[0] > 0.0f; }

class MotionWatchdogTest : public MotionTest {
 protected:
  /// Builds the controller with the damping parameters, captures standard error, feeds the
  /// standing robot (state pushed by `host`, every millisecond) and waits for the first live
  /// command. `controller` is declared before `host`, so the host stops first.
  void startStanding(CommandListener& listener, std::unique_ptr<MotionController>& controller,
                     std::unique_ptr<StatePusher>& host) {
    controller = makeController("", paramsWithDamping());
    testing::internal::CaptureStderr();
    feedStanding(*controller);
    host = pushStandingState(*controller);
    ActuatorCmds first;
    ASSERT_TRUE(awaitMessage(listener, false, first));
  }

  /// Waits until the safe command (`safe`) or a live command (otherwise) arrives; returns it.
  bool awaitMessage(CommandListener& listener, bool safe, ActuatorCmds& found) {
    return eventually([&] {
      for (const auto& message : listener.messages()) {
        if (safe ? isSafe(message) : isLive(message)) {
          found = message;
          return true;
        }
      }
      return false;
    });
  }
};

TEST_F(MotionWatchdogTest, HostStoppingTheStateGetsTheSafeCommandUntilItResumes) {
  CommandListener listener("actuators_cmds");
  std::unique_ptr<MotionController> controller;
  std::unique_ptr<StatePusher> host;
  ASSERT_NO_FATAL_FAILURE(startStanding(listener, controller, host));
  ActuatorCmds message;

  host->pause();
  const double last_push_s = host->lastPushSeconds();
  listener.clear();
  ASSERT_TRUE(awaitMessage(listener, true, message));
  // Not before the state timeout (the push preceded its own stamp), and soon after it.
  const double delay_s = rclcpp::Time(message.header.stamp).seconds() - last_push_s;
  EXPECT_GT(delay_s, 0.05);
  EXPECT_LT(delay_s, 0.05 + 0.1);  // a few periods, with room for a loaded machine
  for (size_t i = 0; i < message.pos.size(); ++i) {
    // The measured joint position of the (last) state, every other field fixed.
    EXPECT_EQ(message.pos[i], static_cast<float>(info->joints_init_pos(static_cast<long>(i))))
        << message.actuators_name[i];
  }

  host->resume();
  listener.clear();
  ASSERT_TRUE(awaitMessage(listener, false, message));
  const std::string log = testing::internal::GetCapturedStderr();
  host->pause();
  controller.reset();
  EXPECT_GE(countLines(log, "WARN", "state stale \\(age [0-9.]+ ms, limit 50.0 ms\\)"), 1u) << log;
  expectOneLinePerChange(log);
}

TEST_F(MotionWatchdogTest, ThrowingWholeBodyCyclesLeadToTheSafeCommand) {
  CommandListener listener("actuators_cmds");
  std::unique_ptr<MotionController> controller;
  std::unique_ptr<StatePusher> host;
  ASSERT_NO_FATAL_FAILURE(startStanding(listener, controller, host));
  ActuatorCmds message;

  // Mode 16 is no contact mode: every whole-body cycle throws and produces no commands.
  std::vector<double> phases{0.0, 1.0};
  std::vector<size_t> modes{16};
  controller->update_mode_schedule(std::make_shared<ModeSchedule>(0.5, phases, modes));
  listener.clear();
  ASSERT_TRUE(awaitMessage(listener, true, message));

  controller->update_mode_schedule(standSchedule());
  listener.clear();
  ASSERT_TRUE(awaitMessage(listener, false, message));
  const std::string log = testing::internal::GetCapturedStderr();
  host->pause();
  controller.reset();
  EXPECT_GE(countLines(log, "WARN", "commands stale \\(age [0-9.]+ ms, limit 100.0 ms\\)"), 1u)
      << log;
  expectOneLinePerChange(log);
}

TEST_F(MotionWatchdogTest, NonFiniteStateGetsTheSafeCommandAtTheLastFinitePosition) {
  CommandListener listener("actuators_cmds");
  std::unique_ptr<MotionController> controller;
  std::unique_ptr<StatePusher> host;
  ASSERT_NO_FATAL_FAILURE(startStanding(listener, controller, host));
  ActuatorCmds message;

  host->pause();
  auto nan_host = std::make_unique<StatePusher>(
      *controller, node,
      [this] {
        auto qpos = standingQpos();
        (*qpos)(8) = std::numeric_limits<double>::quiet_NaN();
        return qpos;
      },
      [this] { return zeroQvel(); });
  listener.clear();
  ASSERT_TRUE(awaitMessage(listener, true, message));
  for (size_t i = 0; i < message.pos.size(); ++i) {
    EXPECT_EQ(message.pos[i], static_cast<float>(info->joints_init_pos(static_cast<long>(i))))
        << message.actuators_name[i];
  }
  nan_host.reset();
  host->resume();
  listener.clear();
  ASSERT_TRUE(awaitMessage(listener, false, message));
  const std::string log = testing::internal::GetCapturedStderr();
  host->pause();
  controller.reset();
  for (const auto& sent : listener.messages()) {
    for (size_t i = 0; i < sent.pos.size(); ++i) {
      ASSERT_TRUE(std::isfinite(sent.pos[i]) && std::isfinite(sent.torque[i]) &&
                  std::isfinite(sent.kp[i]) && std::isfinite(sent.kd[i]) &&
                  std::isfinite(sent.vel[i]));
    }
  }
  EXPECT_GE(countLines(log, "WARN", "state not finite"), 1u) << log;
}

TEST_F(MotionWatchdogTest, BadSafetyParametersFailTheConstructionNamingTheKey) {
  try {
    makeController("", paramsWith("  state_timeout", "-1", "bad_safety"));
    ADD_FAILURE() << "a negative state timeout was accepted";
  } catch (const std::invalid_argument& error) {
    EXPECT_NE(std::string(error.what()).find("safety.state_timeout"), std::string::npos)
        << error.what();
  }
}

}  // namespace
}  // namespace velmora::motion_test
