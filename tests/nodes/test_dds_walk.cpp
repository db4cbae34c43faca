// velmora_sim --transport dds: the walk of the in-process real-time test with the plant and the
// host as separate processes talking over DDS (needs the DDS transport), on the flat floor and up
// a slope. Runs alone: it needs the machine's cores to keep real time.

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <sstream>

#include "core/misc/LoadData.h"
#include "nodes/SeparateProcessRun.h"

namespace velmora::nodes {
namespace {

TEST(SeparateProcesses, WalkKeepsUpWithTheWholeBodyRate) {
  const sim::SimOptions options = sim::parseSimOptions(
      {"--scenario", "walk", "--vx", "0.5", "--duration", "10", "--quiet", "--transport", "dds"},
      VELMORA_ROBOTS_DIR);
  double wbc_dt = 0.0;
  loadData::loadCppDataType(options.params, "wbc_dt", wbc_dt);
  std::ostringstream progress;
  const std::atomic<bool> stop{false};
  const sim::RunReport r = runScenarioAsProcesses(options, progress, stop, VELMORA_NODE_DIR).report;
  EXPECT_FALSE(r.fell);
  EXPECT_NEAR(r.duration_s, 10.0, 0.05);
  // One command message per whole-body period, within 10 %.
  EXPECT_NEAR(static_cast<double>(r.messages), r.duration_s / wbc_dt, 0.1 * r.duration_s / wbc_dt);
  EXPECT_NEAR(r.mean_vx, 0.5, 0.05);
  EXPECT_LT(std::abs(r.mean_vy), 0.1);
}

// The terrain and the floor friction reach the plant process: up an 8 deg slope the trunk rises
// with the distance walked as the slope says (on the flat floor it would not).
TEST(SeparateProcesses, WalkUpASlopeGivenToThePlant) {
  sim::SimOptions options =
      sim::parseSimOptions({"--scenario", "walk", "--vx", "0.5", "--duration", "8", "--quiet",
                            "--transport", "dds", "--terrain", "slope:8"},
                           VELMORA_ROBOTS_DIR);
  options.friction = 0.8;
  std::ostringstream progress;
  const std::atomic<bool> stop{false};
  const sim::RunResult result = runScenarioAsProcesses(options, progress, stop, VELMORA_NODE_DIR);
  ASSERT_FALSE(result.report.fell);
  const sim::RunSample& first = result.samples.front();
  const sim::RunSample& last = result.samples.back();
  const double walked_m = last.base_pos(0) - first.base_pos(0);
  EXPECT_GT(walked_m, 2.0);
  const double rise_m = last.base_pos(2) - first.base_pos(2);
  EXPECT_NEAR(rise_m, walked_m * std::tan(8.0 * M_PI / 180.0), 0.05);
  EXPECT_NEAR(last.ground_z - first.ground_z, walked_m * std::tan(8.0 * M_PI / 180.0), 0.02);
}

}  // namespace
}  // namespace velmora::nodes
