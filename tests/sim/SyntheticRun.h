#pragma once

// A run with closed-form motion, shared by the tests of the run figures, the plot and the page.

#include <cmath>
#include <vector>

#include "sim/RunLog.h"

namespace velmora::sim::test {

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
