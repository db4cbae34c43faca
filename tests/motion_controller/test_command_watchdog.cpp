// CommandWatchdog: the stale-input rule, its verdict changes, the safe damping command and the
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
constexpr scalar_t kNow = 1.7e9;  // a node clock near the epoch's present: coarsest rounding

CommandWatchdogLimits testLimits() { return {0.01, 0.05, 2.5}; }

TEST(CommandWatchdog, StaleCommandsSwitchToSafeOnceAndBackOnce) {
  CommandWatchdog watchdog(testLimits());
  // Commands stamped half a period before kNow, fresh again from i = 50; the state keeps coming.
  int changes = 0;
  scalar_t first_safe = kNaN, first_fresh_again = kNaN;
  for (int i = 0; i <= 100; ++i) {
    const scalar_t now = kNow + 0.001 * i;
    const auto verdict = watchdog.check(now, i < 50 ? kNow - 0.0005 : now, now - 0.049);
    EXPECT_FALSE(verdict.state_stale);
    EXPECT_EQ(verdict.publish_commands, !verdict.commands_stale);
    EXPECT_EQ(watchdog.safe(), !verdict.publish_commands);
    if (verdict.changed) {
      ++changes;
      (verdict.publish_commands ? first_fresh_again : first_safe) = now - kNow;
    }
  }
  EXPECT_EQ(changes, 2);
  // Safe from the first period beyond 10 ms, fresh again with the first new commands.
  EXPECT_NEAR(first_safe, 0.010, 1e-6);
  EXPECT_NEAR(first_fresh_again, 0.050, 1e-6);
}

TEST(CommandWatchdog, StaleOrUnstampedStateTriggersTheSafeCommandUntilBothAreFresh) {
  CommandWatchdog watchdog(testLimits());
  const auto stale = watchdog.check(kNow, kNow, kNow - 0.051);
  EXPECT_FALSE(stale.publish_commands);
  EXPECT_TRUE(stale.changed && stale.state_stale && !stale.commands_stale);
  EXPECT_NEAR(stale.state_age_s, 0.051, 1e-6);
  // Fresh commands on a stale state are not enough; no new change is reported meanwhile.
  const auto state_still_old = watchdog.check(kNow + 2.0, kNow + 2.0, kNow);
  EXPECT_FALSE(state_still_old.publish_commands || state_still_old.changed);
  const auto fresh = watchdog.check(kNow + 3.0, kNow + 3.0, kNow + 3.0);
  EXPECT_TRUE(fresh.publish_commands && fresh.changed);
  // A NaN stamp (a record never stamped) is stale too.
  EXPECT_FALSE(watchdog.check(kNow + 3.0, kNaN, kNow + 3.0).publish_commands);
  EXPECT_FALSE(CommandWatchdog(testLimits()).check(kNow, kNow, kNaN).publish_commands);
}

std::string writeParamFile(const std::string& name, const std::string& text) {
  const std::string path = ::testing::TempDir() + "/" + name;
  std::ofstream(path) << text;
  return path;
}

TEST(CommandWatchdogParameters, AbsentKeysGiveTheDefaultsAndPresentOnesOverrideThem) {
  const auto defaults = loadCommandWatchdogLimits(writeParamFile("wd_none.info", "x 1\n"), 0.002);
  EXPECT_DOUBLE_EQ(defaults.command_timeout_s, 5 * 0.002);
  EXPECT_DOUBLE_EQ(defaults.state_timeout_s, 0.05);
  EXPECT_DOUBLE_EQ(defaults.damping_kd, 1.0);
  const auto set = loadCommandWatchdogLimits(
      writeParamFile("wd_all.info",
                     "safety\n{\n  command_timeout_periods 8\n  state_timeout 0.02\n"
                     "  damping_kd 3.5\n}\n"),
      0.004);
  EXPECT_DOUBLE_EQ(set.command_timeout_s, 8 * 0.004);
  EXPECT_DOUBLE_EQ(set.state_timeout_s, 0.02);
  EXPECT_DOUBLE_EQ(set.damping_kd, 3.5);
}

TEST(CommandWatchdogParameters, BadValuesNameTheKeyAndTheFile) {
  // One value per kind of fault: not a number, not positive, not finite.
  const std::vector<std::pair<std::string, std::string>> cases{
      {"command_timeout_periods", "x"}, {"state_timeout", "-0.1"}, {"damping_kd", "inf"}};
  for (const auto& [key, value] : cases) {
    const std::string path =
        writeParamFile("wd_bad.info", "safety\n{\n  " + key + " " + value + "\n}\n");
    try {
      loadCommandWatchdogLimits(path, 0.002);
      ADD_FAILURE() << key << " = " << value << " was accepted";
    } catch (const std::invalid_argument& error) {
      EXPECT_THAT(error.what(), AllOf(HasSubstr("safety." + key), HasSubstr(path)));
    }
  }
  EXPECT_THROW(loadCommandWatchdogLimits(writeParamFile("wd_ok.info", "x 1\n"), 0.0),
               std::invalid_argument);
}

}  // namespace
}  // namespace velmora
