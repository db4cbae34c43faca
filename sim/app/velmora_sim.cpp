// velmora_sim: runs the controller on a simulated quadruped and reports how it went.
// Exit codes: 0 the robot did not fall, 3 it fell, 2 bad flags or files, 1 another error.

#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "sim/ScenarioRunner.h"
#include "sim/SimOptions.h"

#ifndef VELMORA_ROBOTS_DIR
#define VELMORA_ROBOTS_DIR "robots"
#endif

int main(int argc, char** argv) {
  using namespace velmora::sim;
  const std::vector<std::string> args(argv + 1, argv + argc);
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h") {
      std::cout << simUsage();
      return 0;
    }
  }
  try {
    const SimOptions options = parseSimOptions(args, VELMORA_ROBOTS_DIR);
    std::cout << "velmora_sim: scenario " << options.scenario << ", "
              << (options.lockstep ? "lockstep" : "real time") << ", " << options.duration_s
              << " s, command vx " << options.vx << " m/s, vy " << options.vy << " m/s, yaw rate "
              << options.yaw_rate << " rad/s" << std::endl;
    const RunResult result = runScenario(options, std::cout);
    writeRunFiles(result, options, options.out_dir);
    writeSummaryTable(result.report, std::cout);
    std::cout << "report: " << options.out_dir << "/report.json\nlog:    " << options.out_dir
              << "/log.csv\nplot:   " << options.out_dir << "/plot.svg" << std::endl;
    return result.report.fell ? 3 : 0;
  } catch (const UsageError& error) {
    std::cerr << error.what() << '\n' << simUsage();
    return 2;
  } catch (const std::exception& error) {
    std::cerr << "velmora_sim: " << error.what() << '\n';
    return 1;
  }
}
