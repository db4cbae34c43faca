// The product as a ROS 2 system runs it: the motion controller's three threads, the host on its
// own thread and the plant in wall-clock time, commands received through the topic. Runs alone
// (RUN_SERIAL): it needs the machine's cores to keep real time.

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "core/misc/LoadData.h"
#include "sim/ScenarioRunner.h"

namespace velmora::sim {
namespace {

TEST(RealTimeScenario, WalkKeepsUpWithTheWholeBodyRate) {
  const SimOptions options = parseSimOptions(
      {"--scenario", "walk", "--vx", "0.5", "--duration", "10", "--quiet"}, VELMORA_ROBOTS_DIR);
  ASSERT_FALSE(options.lockstep);
  double wbc_dt = 0.0;
  loadData::loadCppDataType(options.params, "wbc_dt", wbc_dt);
  std::ostringstream progress;
  const RunReport r = runScenario(options, progress).report;
  EXPECT_FALSE(r.fell);
  EXPECT_NEAR(r.duration_s, 10.0, 0.02);
  // One command message per whole-body period, within 10 %.
  EXPECT_NEAR(static_cast<double>(r.messages), r.duration_s / wbc_dt, 0.1 * r.duration_s / wbc_dt);
  // It walks (looser than in lockstep: the threads' timing varies with the machine's load).
  EXPECT_NEAR(r.mean_vx, 0.5, 0.1);
  EXPECT_LT(std::abs(r.mean_vy), 0.1);
  // Real time: the run takes about its simulated duration.
  EXPECT_GT(r.wall_s, r.duration_s);
  EXPECT_LT(r.wall_s, r.duration_s + 5.0);
}

}  // namespace
}  // namespace velmora::sim
