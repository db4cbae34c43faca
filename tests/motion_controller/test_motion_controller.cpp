// The motion controller seen from outside: construction errors, failing cycles, what arrives on
// the command topic while a host pushes its inputs from other threads, and the publication
// loop's stale-input rule (the safe damping command and its log lines).

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "MotionTestSupport.h"

namespace velmora::motion_test {
namespace {

TEST_F(MotionTest, FailingConstructionNamesTheCauseAndLeavesNoThreadBehind) {
  // ThreadSanitizer starts a helper thread of its own with the first thread a program starts:
  // start one first, so the count below holds only what the controller leaves.
  std::thread([] {}).join();
  const int threads_before = threadCount();
  std::ifstream bundled(kestrelFile("params.info"));
  const std::string text((std::istreambuf_iterator<char>(bundled)),
                         std::istreambuf_iterator<char>());
  const std::string missing = ::testing::TempDir() + "motion_no_such_params.info";
  // Without the whole-body gains: found only after the contact force optimiser read the file.
  const std::string no_gains = uniqueTempPath("motion_no_gains");
  std::ofstream(no_gains) << text.substr(0, text.find("feedback_gain"));
  auto crowded = std::make_shared<ModelInfo>(*info);  // more joints than one message carries
  while (crowded->joints_name.size() < 31) crowded->joints_name.push_back("extra_joint");
  const std::string params = kestrelFile("params.info");
  const std::string bad_safety = paramsWith({{"  state_timeout", "-1"}}, "bad_safety");
  const std::vector<std::pair<std::function<void()>, std::string>> cases{
      {[&] { makeController("", missing); }, missing},
      {[&] { makeController("", no_gains); }, "feedback_gain"},
      {[&] { makeController("", bad_safety); }, "safety.state_timeout"},
      {[&] { MotionController(node, crowded, model, params, ""); }, "31"},
      {[&] { MotionController(node, nullptr, model, params, ""); }, ""},
  };
  for (const auto& [construct, fragment] : cases) {
    try {
      construct();
      ADD_FAILURE() << "construction succeeded; expected an error naming '" << fragment << "'";
    } catch (const std::exception& error) {
      EXPECT_NE(std::string(error.what()).find(fragment), std::string::npos) << error.what();
    }
    EXPECT_EQ(threadCount(), threads_before) << fragment;
  }
  // A successful construction adds exactly the three loops, and destruction removes them.
  auto controller = makeController();
  EXPECT_EQ(threadCount(), threads_before + 3);
  controller.reset();
  EXPECT_EQ(threadCount(), threads_before);
}

TEST_F(MotionTest, LoopsSurviveThrowingCycles) {
  CommandListener listener("actuators_cmds");
  auto controller = makeController();
  // A position vector of the wrong size: every loop's cycle throws from the robot model.
  testing::internal::CaptureStderr();
  controller->update_current_state(std::make_shared<vector_t>(vector_t::Zero(5)), zeroQvel());
  controller->update_mode_schedule(standSchedule());
  controller->update_trajectory_reference(holdReferences());
  std::this_thread::sleep_for(1500ms);
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_EQ(listener.messages().size(), 0u);
  // Each loop failed hundreds of times but reports at most once per second.
  EXPECT_GE(countLines(log, "ERROR", "cycle failed"), 3u) << log;
  EXPECT_LE(countLines(log, "ERROR", "cycle failed"), 3u * 3u) << log;
  // A valid state lets the chain run again: no loop has ended.
  feedStanding(*controller);
  EXPECT_TRUE(eventually([&] { return listener.messages().size() >= 10; }));
  controller.reset();
}

/// The safe damping command of the watchdog tests' parameters (kd 2.5, distinct from every
/// gain the controller uses otherwise).
bool isSafe(const ActuatorCmds& message) {
  const auto held = [](const ActuatorCmds& m, size_t i) {
    return m.kp[i] == 0.0f && m.kd[i] == 2.5f && m.vel[i] == 0.0f && m.torque[i] == 0.0f;
  };
  for (size_t i = 0; i < message.kp.size(); ++i) {
    if (!held(message, i)) return false;
  }
  return !message.kp.empty();
}

/// The controller's own command with a body law: stiffness on the joints.
bool isLive(const ActuatorCmds& message) { return !message.kp.empty() && message.kp[0] > 0.0f; }

/// Ways for the host to make the publication loop's inputs stale, and the cause it must name.
enum class Fault { StateStops, WholeBodyThrows, StateNotFinite };

void PrintTo(Fault fault, std::ostream* out) {
  switch (fault) {
    case Fault::StateStops:
      *out << "state_stops";
      return;
    case Fault::WholeBodyThrows:
      *out << "whole_body_throws";
      return;
    case Fault::StateNotFinite:
      *out << "state_not_finite";
      return;
  }
  *out << "fault_" << static_cast<int>(fault);
}

class MotionWatchdogTest : public MotionTest, public ::testing::WithParamInterface<Fault> {
 protected:
  /// Waits until a message that is safe (`safe`) or live (otherwise) arrives; returns it.
  bool awaitMessage(CommandListener& listener, bool safe, ActuatorCmds& found) {
    listener.clear();
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

// Each fault leads to the safe damping command at the last finite measured joint positions,
// and normal commands return as soon as the inputs are fresh. The system logs one WARN naming
// the cause on entry and one INFO on return, not one per period.
TEST_P(MotionWatchdogTest, StaleInputsGetTheSafeCommandUntilTheyAreFreshAgain) {
  CommandListener listener("actuators_cmds");
  // Command timeout 50 periods (100 ms): a slow build on a loaded machine can delay a
  // whole-body cycle beyond the default 10 ms, and these cases watch the other causes.
  auto controller = makeController(
      "", paramsWith({{"  damping_kd", "2.5"}, {"  command_timeout_periods", "50"}}, "damping"));
  testing::internal::CaptureStderr();
  feedStanding(*controller);
  auto host = std::make_unique<StatePusher>(
      *controller, [this] { return standingQpos(); }, [this] { return zeroQvel(); });
  ActuatorCmds message;
  EXPECT_TRUE(awaitMessage(listener, false, message));
  // Running: one message per whole-body period (2 ms; loose bounds, the machine is shared),
  // joints in description order, a new stamp on each, the standing joints held in place.
  listener.clear();
  std::this_thread::sleep_for(300ms);
  const auto running = listener.messages();
  EXPECT_GT(running.size(), 0.3 * 150);
  EXPECT_LT(running.size(), 1.15 * 160);
  for (size_t m = 0; m < running.size(); ++m) {
    EXPECT_EQ(std::vector<std::string>(running[m].actuators_name.begin(),
                                       running[m].actuators_name.end()),
              info->joints_name);
    if (m > 0) {
      EXPECT_GT(rclcpp::Time(running[m].header.stamp).nanoseconds(),
                rclcpp::Time(running[m - 1].header.stamp).nanoseconds());
    }
    for (size_t i = 0; i < running[m].pos.size() && isLive(running[m]); ++i) {
      EXPECT_NEAR(running[m].pos[i], info->joints_init_pos(static_cast<long>(i)), 1e-2);
      EXPECT_NEAR(running[m].vel[i], 0.0f, 0.05f);
    }
  }

  std::unique_ptr<StatePusher> nan_host;
  std::vector<double> phases{0.0, 1.0};
  std::vector<size_t> no_mode{16};
  std::string cause;
  switch (GetParam()) {
    case Fault::StateStops:
      host->pause();
      cause = "state stale";
      break;
    case Fault::WholeBodyThrows:  // mode 16 is no contact mode: every whole-body cycle throws
      controller->update_mode_schedule(std::make_shared<ModeSchedule>(0.5, phases, no_mode));
      cause = "commands stale";
      break;
    case Fault::StateNotFinite:
      host->pause();
      nan_host = std::make_unique<StatePusher>(
          *controller,
          [this] {
            auto qpos = standingQpos();
            (*qpos)(8) = std::numeric_limits<double>::quiet_NaN();
            return qpos;
          },
          [this] { return zeroQvel(); });
      cause = "state not finite";
      break;
  }
  EXPECT_TRUE(awaitMessage(listener, true, message));
  for (size_t i = 0; i < message.pos.size(); ++i) {
    EXPECT_EQ(message.pos[i], static_cast<float>(info->joints_init_pos(static_cast<long>(i))))
        << message.actuators_name[i];
  }
  nan_host.reset();
  host->resume();
  controller->update_mode_schedule(standSchedule());
  EXPECT_TRUE(awaitMessage(listener, false, message));
  const std::string log = testing::internal::GetCapturedStderr();
  host->pause();
  controller.reset();
  for (const auto& sent : listener.messages()) {
    for (size_t i = 0; i < sent.pos.size(); ++i) {
      ASSERT_TRUE(std::isfinite(sent.pos[i]) && std::isfinite(sent.torque[i]));
    }
  }
  // A loaded machine may delay a whole-body cycle beyond the command timeout once more just
  // before the log is taken: one WARN more than INFO lines is allowed.
  const size_t entries = countLines(log, "WARN", "safe damping command");
  const size_t returns = countLines(log, "INFO", "fresh again");
  EXPECT_GE(countLines(log, "WARN", cause), 1u) << log;
  EXPECT_GE(returns, 1u) << log;
  EXPECT_GE(entries, returns) << log;
  EXPECT_LE(entries, returns + 1) << log;
}

INSTANTIATE_TEST_SUITE_P(Faults, MotionWatchdogTest,
                         ::testing::Values(Fault::StateStops, Fault::WholeBodyThrows,
                                           Fault::StateNotFinite));

}  // namespace
}  // namespace velmora::motion_test
