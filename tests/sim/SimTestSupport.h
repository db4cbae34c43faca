#pragma once

// Shared helpers of the simulator tests: the bundled robot, uniform joint commands and
// closed-loop runs in lockstep, and a synthetic run with closed-form motion for the run figures,
// the plot and the report page.

#include <gtest/gtest.h>

#include <cmath>
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

/// A robot moving with constant heading-frame velocity (vx, vy) and yaw rate w, height
/// 0.3 + a sin(2 pi t), trotting (diagonal pairs on the floor for 0.25 s each, 60 N per stance
/// foot) under `command`, logged every 0.01 s for `duration` s from (1, -2) at yaw 0.
inline std::vector<RunSample> syntheticRun(double vx, double vy, double w, double a,
                                           double duration, const vector3_t& command) {
  std::vector<RunSample> samples;
  vector3_t pos(1.0, -2.0, 0.3);
  double yaw = 0.0;
  for (int k = 0; k <= static_cast<int>(std::lround(duration / 0.01)); ++k) {
    RunSample s;
    s.time_s = 0.01 * k;
    s.base_pos = pos;
    s.base_pos(2) = 0.3 + a * std::sin(2.0 * M_PI * s.time_s);
    s.base_rpy = vector3_t(0.01 * std::sin(s.time_s), -0.02, yaw);
    s.base_vel = vector3_t(vx, vy, 0.0);
    s.yaw_rate = w;
    s.command = command;
    s.height_ref = 0.3;
    const bool first_pair = (k / 25) % 2 == 0;
    for (size_t foot = 0; foot < 4; ++foot) {
      s.planned_stance[foot] = s.foot_contact[foot] = (foot == 0 || foot == 3) == first_pair;
      s.foot_force_z[foot] = s.foot_contact[foot] ? 60.0 : 0.0;
    }
    samples.push_back(s);
    pos(0) += 0.01 * (std::cos(yaw) * vx - std::sin(yaw) * vy);
    pos(1) += 0.01 * (std::sin(yaw) * vx + std::cos(yaw) * vy);
    yaw += 0.01 * w;
  }
  return samples;
}

}  // namespace velmora::sim::test
