// velmora_sim's command line: scenario defaults, overrides, fault flags and the usage errors.

#include "SimTestSupport.h"

namespace velmora::sim {
namespace {

SimOptions parse(const std::vector<std::string>& args) {
  return parseSimOptions(args, VELMORA_ROBOTS_DIR);
}

TEST(SimOptions, ScenarioDefaultsOverridesAndFaults) {
  SimOptions o = parse({"--scenario", "walk"});
  EXPECT_DOUBLE_EQ(o.vx, 0.5);
  EXPECT_DOUBLE_EQ(o.duration_s, 20.0);
  EXPECT_FALSE(o.lockstep);
  EXPECT_EQ(o.robot_urdf, test::kUrdf);
  o = parse({"--scenario", "turn", "--lockstep", "--duration", "3", "--vy", "0.1", "--fault",
             "drop_cmds@1", "--fault", "nan_state@0"});
  EXPECT_DOUBLE_EQ(o.yaw_rate, 1.0);
  EXPECT_DOUBLE_EQ(o.vy, 0.1);
  EXPECT_DOUBLE_EQ(o.duration_s, 3.0);
  EXPECT_TRUE(o.lockstep);
  ASSERT_EQ(o.faults.size(), 2u);
  EXPECT_EQ(o.faults[0].kind, FaultKind::kDropCmds);
  EXPECT_DOUBLE_EQ(o.faults[0].start_s, 1.0);
  EXPECT_EQ(o.faults[1].kind, FaultKind::kNanState);
  for (const FaultKind kind :
       {FaultKind::kNanState, FaultKind::kFrozenState, FaultKind::kMissingRefs, FaultKind::kBadMode,
        FaultKind::kShortBaseTraj, FaultKind::kMpcFail, FaultKind::kDropCmds,
        FaultKind::kCmdLatency, FaultKind::kEncoderNoise}) {
    EXPECT_EQ(parseFaultSpec("--fault", faultName(kind) + "@2.25").kind, kind) << faultName(kind);
  }
}

TEST(SimOptions, BadFlagsAndFilesAreUsageErrorsNamingTheCulprit) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--speed", "1"}, "--speed"},
      {{"--scenario", "dance"}, "dance"},
      {{"--vx", "1.5x"}, "1.5x"},
      {{"--vx", "nan"}, "--vx"},
      {{"--duration", "-1"}, "--duration"},
      {{"--duration"}, "needs a value"},
      {{"--params", "/no/such.info"}, "/no/such.info"},
      {{"--robot-urdf", "/no/robot.urdf"}, "/no/robot.urdf"},
      {{"--duration", "5", "--fault", "nan_state"}, "--fault expects NAME@SECONDS"},
      {{"--duration", "5", "--fault", "nan_stat@1"}, "unknown fault 'nan_stat'"},
      {{"--duration", "5", "--fault", "nan_state@-1"}, "must be a finite number of seconds >= 0"},
      {{"--duration", "5", "--fault", "nan_state@inf"}, "got 'inf'"},
      {{"--duration", "5", "--fault", "nan_state@5"}, "starts at or after the end of the run"},
      {{"--duration", "5", "--fault", "mpc_fail@1"}, "--fault mpc_fail needs --lockstep"},
  };
  for (const auto& [args, fragment] : cases) {
    try {
      parse(args);
      ADD_FAILURE() << "no error for '" << args.back() << "'";
    } catch (const UsageError& error) {
      EXPECT_NE(std::string(error.what()).find(fragment), std::string::npos) << error.what();
    }
  }
}

}  // namespace
}  // namespace velmora::sim
