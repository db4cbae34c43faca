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
  };
  for (const auto& [args, fragment] : cases) {
    try {
      parseSimOptions(args, VELMORA_ROBOTS_DIR);
      ADD_FAILURE() << "no error for '" << args.back() << "'";
    } catch (const UsageError& error) {
      EXPECT_NE(std::string(error.what()).find(fragment), std::string::npos) << error.what();
    }
  }
}

}  // namespace
}  // namespace velmora::sim
