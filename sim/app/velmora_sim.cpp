// velmora_sim: runs the controller on a simulated quadruped and reports how it went.
// Exit codes: 0 the robot did not fall (and met the scenario's expectations), 3 it fell, 4 it
// missed an expectation of the scenario, 2 bad flags or files, 1 another error.
// --check-video: 0 when videos can be recorded here, else 2 with the reason.
// --transport dds: a child process (velmora_plant, velmora_host) that ends during the run ends
// the program with exit code 1, naming it and its exit status.

#include <exception>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "core/Version.h"
#include "core/misc/DataDirectory.h"
#include "nodes/SeparateProcessRun.h"
#include "nodes/StopRequest.h"
#include "sim/ExpectationCheck.h"
#include "sim/ScenarioRunner.h"
#include "sim/SimOptions.h"
#include "sim/VideoSupport.h"

namespace {

/// The bundled robots: <prefix>/share/velmora/robots of an installed program, or the build
/// tree's share/velmora, which links to the source tree. When neither exists the path where
/// they were looked for is returned, so that the error about the missing file names it.
std::string bundledRobotsDirectory() {
  const std::filesystem::path executable = velmora::currentExecutable();
  const auto data = velmora::dataDirectoryOf(executable);
  if (data) return (*data / "robots").string();
  return (executable.parent_path() / ".." / "share" / "velmora" / "robots")
      .lexically_normal()
      .string();
}

}  // namespace

int main(int argc, char** argv) {
  using namespace velmora::sim;
  const std::vector<std::string> args(argv + 1, argv + argc);
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h") {
      std::cout << simUsage() << "       velmora_sim --version\n       velmora_sim --check-video\n";
      return 0;
    }
    if (arg == "--check-video") {
      const std::string problem = videoRecordingProblem();
      if (!problem.empty()) {
        std::cerr << "velmora_sim: --video cannot work here: " << problem << '\n';
        return 2;
      }
      std::cout << "velmora_sim: videos can be recorded" << std::endl;
      return 0;
    }
    if (arg == "--version") {
      std::cout << "velmora_sim " << velmora::kVersion << std::endl;
      return 0;
    }
  }
  try {
    const SimOptions options = parseSimOptions(args, bundledRobotsDirectory());
    std::cout << "velmora_sim: scenario " << options.scenario << ", "
              << (options.lockstep ? "lockstep" : "real time")
              << (options.transport == "dds" ? " (plant and host as DDS nodes)" : "") << ", "
              << options.duration_s << " s, command vx " << options.vx << " m/s, vy " << options.vy
              << " m/s, yaw rate " << options.yaw_rate << " rad/s" << std::endl;
    RunResult result;
    if (options.transport == "dds") {
      // SIGINT and SIGTERM end the run; the child processes are then stopped and waited for.
      const velmora::nodes::StopRequest stop;
      result = velmora::nodes::runScenarioAsProcesses(
          options, std::cout, stop.requested(),
          velmora::currentExecutable().parent_path().string());
    } else {
      result = runScenario(options, std::cout);
    }
    writeRunFiles(result, options, options.out_dir, std::vector<std::string>(argv, argv + argc));
    writeSummaryTable(result.report, std::cout);
    std::cout << "report: " << options.out_dir << "/report.json\nlog:    " << options.out_dir
              << "/log.csv\nplot:   " << options.out_dir << "/plot.svg\npage:   " << options.out_dir
              << "/report.html" << std::endl;
    const std::vector<std::string> unmet =
        unmetExpectations(options.expect, result.samples, result.report.fell);
    for (const std::string& line : unmet) {
      std::cout << "velmora_sim: expectation not met: " << line << std::endl;
    }
    if (result.report.fell) return 3;
    return unmet.empty() ? 0 : 4;
  } catch (const UsageError& error) {
    std::cerr << error.what() << '\n' << simUsage();
    return 2;
  } catch (const std::exception& error) {
    std::cerr << "velmora_sim: " << error.what() << '\n';
    return 1;
  }
}
