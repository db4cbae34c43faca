// CommandWatchdog: the stale-command rule, its verdict changes, the safe damping command and the
// optional parameter keys.

#include <cmath>
#include <fstream>
#include <limits>
#include <stdexcept>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "control/CommandWatchdog.h"

namespace velmora {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;

constexpr scalar_t kNaN = std::numeric_limits<scalar_t>::quiet_NaN();

CommandWatchdogLimits testLimits() {
  CommandWatchdogLimits limits;
  limits.command_timeout_s = 0.01;
  limits.state_timeout_s = 0.05;
  limits.damping_kd = 2.5;
  return limits;
}

// Times on a node clock near the epoch's present, where rounding is coarsest.
constexpr scalar_t kNow = 1.7e9;

TEST(CommandWatchdog, FreshInputsArePublishedWithoutAChange) {
  CommandWatchdog watchdog(testLimits());
  for (int i = 0; i < 3; ++i) {
    const scalar_t now = kNow + 0.002 * i;
    const auto verdict = watchdog.check(now, now - 0.009, now - 0.049);
    EXPECT_TRUE(verdict.publish_commands);
    EXPECT_FALSE(verdict.changed);
    EXPECT_FALSE(verdict.commands_stale);
    EXPECT_FALSE(verdict.state_stale);
    EXPECT_NEAR(verdict.command_age_s, 0.009, 1e-6);
    EXPECT_NEAR(verdict.state_age_s, 0.049, 1e-6);
  }
  EXPECT_FALSE(watchdog.safe());
}

TEST(CommandWatchdog, StaleCommandsSwitchToSafeOnceAndBackOnce) {
  CommandWatchdog watchdog(testLimits());
  // The last commands are stamped half a period before kNow; the state keeps coming.
  int changes = 0;
  scalar_t first_safe = kNaN;
  scalar_t first_fresh_again = kNaN;
  for (int i = 0; i <= 100; ++i) {
    const scalar_t now = kNow + 0.001 * i;
    const scalar_t command_stamp = i < 50 ? kNow - 0.0005 : now;  // fresh again from i = 50
    const auto verdict = watchdog.check(now, command_stamp, now);
    EXPECT_FALSE(verdict.state_stale);
    if (verdict.changed) {
      ++changes;
      if (!verdict.publish_commands) first_safe = now - kNow;
      if (verdict.publish_commands) first_fresh_again = now - kNow;
    }
    EXPECT_EQ(verdict.publish_commands, !verdict.commands_stale);
    EXPECT_EQ(watchdog.safe(), !verdict.publish_commands);
  }
  EXPECT_EQ(changes, 2);
  // Safe from the first period beyond 10 ms, fresh again with the first new commands.
  EXPECT_NEAR(first_safe, 0.010, 1e-6);
  EXPECT_NEAR(first_fresh_again, 0.050, 1e-6);
}

TEST(CommandWatchdog, StaleStateAloneTriggersTheSafeCommand) {
  CommandWatchdog watchdog(testLimits());
  const auto stale = watchdog.check(kNow, kNow, kNow - 0.051);
  EXPECT_FALSE(stale.publish_commands);
  EXPECT_TRUE(stale.changed);
  EXPECT_TRUE(stale.state_stale);
  EXPECT_FALSE(stale.commands_stale);
  EXPECT_NEAR(stale.state_age_s, 0.051, 1e-6);

  // Both stale at once: still one change, both causes reported.
  const auto both = watchdog.check(kNow + 1.0, kNow, kNow);
  EXPECT_FALSE(both.publish_commands);
  EXPECT_FALSE(both.changed);
  EXPECT_TRUE(both.state_stale);
  EXPECT_TRUE(both.commands_stale);

  // Fresh commands on a stale state are not enough.
  const auto state_still_old = watchdog.check(kNow + 2.0, kNow + 2.0, kNow);
  EXPECT_FALSE(state_still_old.publish_commands);
  EXPECT_FALSE(state_still_old.changed);

  const auto fresh = watchdog.check(kNow + 3.0, kNow + 3.0, kNow + 3.0);
  EXPECT_TRUE(fresh.publish_commands);
  EXPECT_TRUE(fresh.changed);
}

TEST(CommandWatchdog, UnstampedCommandsOrStateAreStale) {
  CommandWatchdog watchdog(testLimits());
  const auto unstamped_commands = watchdog.check(kNow, kNaN, kNow);
  EXPECT_FALSE(unstamped_commands.publish_commands);
  EXPECT_TRUE(unstamped_commands.commands_stale);
  EXPECT_TRUE(std::isnan(unstamped_commands.command_age_s));

  CommandWatchdog other(testLimits());
  const auto unstamped_state = other.check(kNow, kNow, kNaN);
  EXPECT_FALSE(unstamped_state.publish_commands);
  EXPECT_TRUE(unstamped_state.state_stale);

  // A default record carries no stamps.
  const ActuatorCommands record;
  EXPECT_TRUE(std::isnan(record.stamp_s));
  EXPECT_TRUE(std::isnan(record.state_stamp_s));
}

TEST(CommandWatchdog, NonFiniteStateIsStaleAndTheSafeCommandKeepsTheLastFinitePositions) {
  CommandWatchdog watchdog(testLimits());
  const vector_t qvel = vector_t::Zero(6 + 2);
  vector_t qpos(7 + 2);
  qpos << 0.0, 0.0, 0.3, 0.0, 0.0, 0.0, 1.0, 0.8, -1.6;
  const auto finite = watchdog.check(kNow, kNow, kNow, qpos, qvel);
  EXPECT_TRUE(finite.publish_commands);
  EXPECT_TRUE(finite.state_finite);

  vector_t broken = qpos;
  broken(8) = kNaN;
  const auto non_finite = watchdog.check(kNow + 0.001, kNow + 0.001, kNow + 0.001, broken, qvel);
  EXPECT_FALSE(non_finite.publish_commands);
  EXPECT_TRUE(non_finite.changed);
  EXPECT_TRUE(non_finite.state_stale);
  EXPECT_FALSE(non_finite.state_finite);
  EXPECT_FALSE(non_finite.commands_stale);
  const ActuatorCommands safe = watchdog.safeCommand();
  EXPECT_EQ(safe.pos, qpos.tail(2));  // the last finite joint positions, not the NaN
  EXPECT_EQ(safe.Kp, vector_t::Zero(2));
  EXPECT_EQ(safe.Kd, vector_t::Constant(2, 2.5));

  vector_t bad_velocity = qvel;
  bad_velocity(0) = std::numeric_limits<scalar_t>::infinity();
  EXPECT_FALSE(watchdog.check(kNow, kNow, kNow, qpos, bad_velocity).publish_commands);
  EXPECT_TRUE(watchdog.check(kNow, kNow, kNow, qpos, qvel).publish_commands);
}

TEST(CommandWatchdog, SafeDampingCommandHoldsNoStiffnessNorTorque) {
  const vector_t q = (vector_t(4) << 0.1, -0.7, 1.4, 0.0).finished();
  const ActuatorCommands safe = safeDampingCommand(q, 1.5);
  EXPECT_EQ(safe.Kp, vector_t::Zero(4));
  EXPECT_EQ(safe.Kd, vector_t::Constant(4, 1.5));
  EXPECT_EQ(safe.pos, q);
  EXPECT_EQ(safe.vel, vector_t::Zero(4));
  EXPECT_EQ(safe.torque, vector_t::Zero(4));
  EXPECT_EQ(safeDampingCommand(vector_t(), 1.0).Kd.size(), 0);
}

TEST(CommandWatchdog, RejectsLimitsThatCannotWork) {
  for (const scalar_t bad : {0.0, -0.01, kNaN, std::numeric_limits<scalar_t>::infinity()}) {
    CommandWatchdogLimits limits = testLimits();
    limits.command_timeout_s = bad;
    EXPECT_THROW(CommandWatchdog{limits}, std::invalid_argument) << bad;
    limits = testLimits();
    limits.state_timeout_s = bad;
    EXPECT_THROW(CommandWatchdog{limits}, std::invalid_argument) << bad;
  }
  CommandWatchdogLimits limits = testLimits();
  limits.damping_kd = -1.0;
  EXPECT_THROW(CommandWatchdog{limits}, std::invalid_argument);
  limits.damping_kd = 0.0;  // no damping at all is allowed
  EXPECT_NO_THROW(CommandWatchdog{limits});
}

std::string writeParamFile(const std::string& name, const std::string& text) {
  const std::string path = ::testing::TempDir() + "/" + name;
  std::ofstream(path) << text;
  return path;
}

TEST(CommandWatchdogParameters, AbsentKeysGiveTheDefaults) {
  const std::string path = writeParamFile("watchdog_none.info", "wbc_dt 0.002\n");
  const CommandWatchdogLimits limits = loadCommandWatchdogLimits(path, 0.002);
  EXPECT_DOUBLE_EQ(limits.command_timeout_s, 5 * 0.002);
  EXPECT_DOUBLE_EQ(limits.state_timeout_s, 0.05);
  EXPECT_DOUBLE_EQ(limits.damping_kd, 1.0);
}

TEST(CommandWatchdogParameters, KeysOverrideTheDefaults) {
  const std::string path = writeParamFile(
      "watchdog_all.info",
      "safety\n{\n  command_timeout_periods 8\n  state_timeout 0.02\n  damping_kd 3.5\n}\n");
  const CommandWatchdogLimits limits = loadCommandWatchdogLimits(path, 0.004);
  EXPECT_DOUBLE_EQ(limits.command_timeout_s, 8 * 0.004);
  EXPECT_DOUBLE_EQ(limits.state_timeout_s, 0.02);
  EXPECT_DOUBLE_EQ(limits.damping_kd, 3.5);
}

TEST(CommandWatchdogParameters, BadValuesNameTheKeyAndTheFile) {
  struct Case {
    const char* key;
    const char* value;
  };
  for (const Case c : {Case{"command_timeout_periods", "0"}, Case{"command_timeout_periods", "x"},
                       Case{"state_timeout", "-0.1"}, Case{"state_timeout", "inf"},
                       Case{"damping_kd", "-2"}, Case{"damping_kd", "fast"}}) {
    const std::string path = writeParamFile(
        "watchdog_bad.info", std::string("safety\n{\n  ") + c.key + " " + c.value + "\n}\n");
    try {
      loadCommandWatchdogLimits(path, 0.002);
      ADD_FAILURE() << c.key << " = " << c.value << " was accepted";
    } catch (const std::invalid_argument& error) {
      EXPECT_THAT(error.what(), AllOf(HasSubstr(std::string("safety.") + c.key), HasSubstr(path)));
    }
  }
  const std::string path = writeParamFile("watchdog_ok.info", "wbc_dt 0.002\n");
  EXPECT_THROW(loadCommandWatchdogLimits(path, 0.0), std::invalid_argument);
  EXPECT_ANY_THROW(loadCommandWatchdogLimits(path + ".missing", 0.002));
}

}  // namespace
}  // namespace velmora
