#pragma once

// Shared helpers of the simulator tests: the bundled robot, uniform joint commands and
// closed-loop runs in lockstep.

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "BundledRobot.h"
#include "description/ModelInfoLoader.h"
#include "pinocchio/PinocchioInterface.h"
#include "sim/ScenarioRunner.h"

namespace velmora::sim::test {

inline const std::string kUrdf = velmora::test::kestrelFile("robot.urdf");
inline const std::string kDescription = velmora::test::kestrelFile("description.info");

/// The bundled robot's model and description, with its standing state.
class BundledRobotTest : public ::testing::Test {
 protected:
  BundledRobotTest() : model_(kUrdf), info_(loadModelInfo(kDescription, model_)) {
    qpos_.resize(7 + info_.joints_init_pos.size());
    qpos_ << info_.base_init_pos, info_.base_init_quat, info_.joints_init_pos;
    qvel_ = vector_t::Zero(6 + info_.joints_init_pos.size());
  }
  PinocchioInterface model_;
  ModelInfo info_;
  vector_t qpos_, qvel_;  ///< standing pose, at rest
};

/// One command for every joint of `info` with the same gains and set points.
inline communication::msg::ActuatorCmds uniformCommand(const ModelInfo& info, float kp, float kd,
                                                       float pos, float vel, float torque) {
  communication::msg::ActuatorCmds message;
  const size_t n = info.joints_name.size();
  message.actuators_name.assign(info.joints_name.begin(), info.joints_name.end());
  message.kp.assign(n, kp);
  message.kd.assign(n, kd);
  message.pos.assign(n, pos);
  message.vel.assign(n, vel);
  message.torque.assign(n, torque);
  return message;
}

/// Runs velmora_sim's scenario given by `args` in lockstep and prints its summary table.
inline RunResult runLockstep(std::vector<std::string> args, const CommandObserver& observer = {}) {
  args.push_back("--lockstep");
  args.push_back("--quiet");
  std::ostringstream progress, summary;
  RunResult result = runScenario(parseSimOptions(args, VELMORA_ROBOTS_DIR), progress, observer);
  writeSummaryTable(result.report, summary);
  std::cout << summary.str();
  return result;
}

/// Mean horizontal speed [m/s] of the base from the first sample at or after `from_s` to the end.
inline double speedFrom(const std::vector<RunSample>& samples, double from_s) {
  for (const RunSample& s : samples) {
    if (s.time_s < from_s - 1e-9) continue;
    const RunSample& last = samples.back();
    return (last.base_pos - s.base_pos).head<2>().norm() / (last.time_s - s.time_s);
  }
  return 0.0;
}

}  // namespace velmora::sim::test
