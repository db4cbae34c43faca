// velmora_sim's command line: the usage errors.

#include "SimTestSupport.h"

namespace velmora::sim {
namespace {

TEST(SimOptions, BadFlagsAndFilesAreUsageErrorsNamingTheCulprit) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--speed", "1"}, "--speed"},
      {{"--scenario", "dance"}, "dance"},
      {{"--vx", "1.5x"}, "1.5x"},
      {{"--gait", "gallop"}, "gallop"},
      {{"--duration"}, "needs a value"},
      {{"--params", "/no/such.info"}, "/no/such.info"},
      {{"--fault", "nan_state"}, "--fault expects NAME@SECONDS"},
      {{"--fault", "nan_stat@1"}, "unknown fault 'nan_stat'"},
      {{"--fault", "nan_state@inf"}, "must be a finite number of seconds >= 0, got 'inf'"},
      {{"--duration", "5", "--fault", "nan_state@5"}, "starts at or after the end of the run"},
      {{"--fault", "mpc_fail@1"}, "--fault mpc_fail needs --lockstep"},
      {{"--terrain", "hills"}, "unknown terrain 'hills'"},
      {{"--terrain", "rough"}, "rough:AMPLITUDE_M[:WAVELENGTH_M[:SEED]]"},
      {{"--terrain", "slope:10:0:1"}, "slope:ANGLE_DEG[:HEADING_DEG]"},
      {{"--terrain", "slope:20"}, "slope angle_deg must lie in [0, 15] deg, got 20"},
      {{"--terrain", "steps:-0.06"}, "steps height_m must lie in [-0.05, 0.05] m"},
      {{"--terrain", "steps:0.04:0.3:2.5"}, "steps count must be a whole number, got '2.5'"},
      {{"--terrain", "steps:0.04:0.3:2:1:5"}, "steps:HEIGHT_M[:DEPTH_M[:COUNT[:START_X_M]]]"},
      {{"--terrain", "steps:0.04:0.3:2:2000"}, "steps start_x_m must lie in [-1000, 1000] m"},
      {{"--terrain", "rough:0.02:x"}, "rough wavelength_m expects a finite number, got 'x'"},
      {{"--terrain", "rough:0.03"}, "rough amplitude_m must lie in"},
      {{"--transport", "udp"}, "--transport must be inproc or dds, got 'udp'"},
      {{"--transport", "dds", "--lockstep"}, "--transport dds cannot run in lockstep"},
      {{"--transport", "dds", "--scenario", "push"}, "--transport dds cannot run a scenario with"},
  };
  for (const auto& [args, fragment] : cases) {
    try {
      parseSimOptions(args, VELMORA_ROBOTS_DIR);
      ADD_FAILURE() << "no error for '" << args.back() << "'";
    } catch (const UsageError& error) {
      EXPECT_NE(std::string(error.what()).find(fragment), std::string::npos) << error.what();
    }
  }
  const TerrainSpec steps =
      parseSimOptions({"--terrain", "steps:-0.04:0.3:3:0.6"}, VELMORA_ROBOTS_DIR).terrain;
  EXPECT_EQ(steps.type, TerrainSpec::Type::kSteps);
  EXPECT_EQ(steps.step_height_m, -0.04);
  EXPECT_EQ(steps.step_depth_m, 0.3);
  EXPECT_EQ(steps.step_count, 3);
  EXPECT_EQ(steps.step_start_x_m, 0.6);
}

}  // namespace
}  // namespace velmora::sim
