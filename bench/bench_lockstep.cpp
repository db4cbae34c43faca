// A 20 s lockstep walk of the bundled robot at 0.5 m/s (planner, contact force optimisation,
// whole-body controller and MuJoCo plant), as `velmora_sim --scenario walk --duration 20
// --lockstep --quiet` runs it, on one thread. Wall time; the counter gives the real-time factor
// (simulated over wall seconds).

#include <benchmark/benchmark.h>

#include <chrono>
#include <sstream>
#include <stdexcept>

#include "sim/ScenarioRunner.h"
#include "sim/SimOptions.h"

namespace velmora::sim {
namespace {

void BM_LockstepWalk20s(::benchmark::State& state) {
  const SimOptions options = parseSimOptions(
      {"--scenario", "walk", "--duration", "20", "--lockstep", "--quiet"}, VELMORA_ROBOTS_DIR);
  double simulated_s = 0.0, wall_s = 0.0;
  for (auto _ : state) {
    std::ostringstream progress;
    const auto start = std::chrono::steady_clock::now();
    const RunResult run = runScenario(options, progress);
    wall_s += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (run.report.fell) throw std::runtime_error("BM_LockstepWalk20s: the robot fell");
    simulated_s += run.report.duration_s;
  }
  state.counters["realtime_factor"] = simulated_s / wall_s;
}
BENCHMARK(BM_LockstepWalk20s)->Unit(::benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace
}  // namespace velmora::sim
