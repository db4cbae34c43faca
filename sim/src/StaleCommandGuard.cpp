#include "sim/StaleCommandGuard.h"

#include <cmath>

namespace velmora {
namespace sim {
namespace {

/// Commands older than this many whole-body periods are stale.
constexpr scalar_t kMaxCommandAgePeriods = 5.0;
/// Slack on age comparisons, so that exactly 5 periods computed in floating point still count
/// as fresh [s].
constexpr scalar_t kAgeTolerance = 1e-9;

}  // namespace

StaleCommandGuard::StaleCommandGuard(scalar_t wbc_period_s, scalar_t damping_gain,
                                     scalar_t max_state_age_s)
    : max_command_age_s_(kMaxCommandAgePeriods * wbc_period_s),
      max_state_age_s_(max_state_age_s),
      damping_gain_(damping_gain) {}

bool StaleCommandGuard::fresh(scalar_t now_s, scalar_t commands_time_s,
                              scalar_t state_time_s) const {
  return now_s - commands_time_s <= max_command_age_s_ + kAgeTolerance &&
         now_s - state_time_s <= max_state_age_s_ + kAgeTolerance;
}

ActuatorCommands StaleCommandGuard::safeCommand(const vector_t& joint_pos) const {
  ActuatorCommands command;
  command.setZero(static_cast<size_t>(joint_pos.size()));
  command.Kd.setConstant(damping_gain_);
  for (Eigen::Index j = 0; j < joint_pos.size(); ++j) {
    command.pos(j) = std::isfinite(joint_pos(j)) ? joint_pos(j) : 0.0;
  }
  return command;
}

}  // namespace sim
}  // namespace velmora
