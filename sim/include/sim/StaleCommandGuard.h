#pragma once

// The publication rule between the whole-body controller and the motors: fresh commands pass,
// stale ones are replaced by a damping command.

#include "common/ControlData.h"
#include "core/Types.h"

namespace velmora {
namespace sim {

/// Decides, once per whole-body period, whether the newest commands may go to the motors.
///
/// They may when they were computed at most `max_command_age_s` ago and the newest measured
/// state arrived at most `max_state_age_s` ago; otherwise the motors get the damping command
/// kp = 0, kd = `damping_gain`, vel = 0, torque = 0, pos = the measured joint positions (0 where
/// a measured position is not finite). Times are seconds on one clock.
class StaleCommandGuard {
 public:
  /// @param wbc_period_s whole-body period [s]; commands older than 5 periods are stale.
  /// @param damping_gain joint damping of the safe command [N m s/rad].
  explicit StaleCommandGuard(scalar_t wbc_period_s, scalar_t damping_gain = 1.0,
                             scalar_t max_state_age_s = 0.05);

  /// True when commands computed at `commands_time_s` from a state that arrived at
  /// `state_time_s` may still be sent at `now_s`.
  bool fresh(scalar_t now_s, scalar_t commands_time_s, scalar_t state_time_s) const;

  /// The damping command for the measured joint positions `joint_pos` (nJ entries) [rad].
  ActuatorCommands safeCommand(const vector_t& joint_pos) const;

  scalar_t maxCommandAge() const { return max_command_age_s_; }
  scalar_t maxStateAge() const { return max_state_age_s_; }

 private:
  scalar_t max_command_age_s_;
  scalar_t max_state_age_s_;
  scalar_t damping_gain_;
};

}  // namespace sim
}  // namespace velmora
