#pragma once

// The stale-command rule between a whole-body controller and the actuators: commands that are
// too old, or that rest on a state that is too old, are replaced by a safe damping command.

#include <string>

#include "common/ControlData.h"
#include "core/Types.h"

namespace velmora {

/// Limits of the stale-command rule. Times in seconds on the clock that stamps the commands
/// and the state (the node clock).
struct CommandWatchdogLimits {
  /// Commands whose `stamp_s` lies further back than this are stale [s]; > 0.
  scalar_t command_timeout_s = 0.01;
  /// A newest state received further back than this is stale [s]; > 0.
  scalar_t state_timeout_s = 0.05;
  /// Velocity gain of the safe damping command [N m s / rad]; >= 0.
  scalar_t damping_kd = 1.0;
};

/// Reads the limits from the INFO parameter file `param_file`; every key is optional:
///  - "safety.command_timeout_periods": command timeout in whole-body periods (default 5),
///    multiplied by `wbc_dt` [s];
///  - "safety.state_timeout": state timeout [s] (default 0.05);
///  - "safety.damping_kd": damping gain of the safe command [N m s / rad] (default 1.0).
/// @throws std::invalid_argument naming the key and the file when a value is not a number, not
///         finite, or not positive (the damping gain may be 0), or when `wbc_dt` is not a
///         positive finite number; the INFO reader's exceptions for a missing or malformed file.
CommandWatchdogLimits loadCommandWatchdogLimits(const std::string& param_file, scalar_t wbc_dt);

/// The safe damping command for joints at the measured positions `joint_pos` [rad] (one entry
/// per actuated joint, model order): Kp = 0, Kd = `damping_kd`, pos = `joint_pos`, vel = 0,
/// torque = 0. Stamps are left unset (NaN).
ActuatorCommands safeDampingCommand(const vector_t& joint_pos, scalar_t damping_kd);

/// Decides, once per publication period, whether the newest commands may go to the actuators
/// or the safe damping command must go instead.
///
/// Stale means: the commands' `stamp_s` is more than `command_timeout_s` before `now_s`, or the
/// newest state was received more than `state_timeout_s` before `now_s`. A NaN stamp counts as
/// stale. The watchdog remembers its last verdict so that callers can report each change once.
/// Not thread-safe: one caller thread.
class CommandWatchdog {
 public:
  /// The outcome of one check.
  struct Verdict {
    bool publish_commands = true;  ///< true: send the commands; false: send the safe command
    bool changed = false;          ///< differs from the previous verdict (the first is "fresh")
    bool commands_stale = false;   ///< the commands are older than the command timeout
    bool state_stale = false;      ///< the newest state is older than the state timeout, or
                                   ///< not finite
    bool state_finite = true;      ///< the newest state holds finite values only
    scalar_t command_age_s = 0.0;  ///< now_s - the commands' stamp [s] (NaN when unstamped)
    scalar_t state_age_s = 0.0;    ///< now_s - the newest state's stamp [s]
  };

  /// @throws std::invalid_argument when a timeout is not positive and finite or the damping
  ///         gain is negative or not finite (naming the limit).
  explicit CommandWatchdog(const CommandWatchdogLimits& limits);

  /// Applies the rule at time `now_s` to commands stamped `command_stamp_s` and a newest state
  /// received at `state_stamp_s` (all [s], same clock).
  Verdict check(scalar_t now_s, scalar_t command_stamp_s, scalar_t state_stamp_s);

  /// The rule applied to the newest state itself, generalised position `qpos` (7 base entries,
  /// then the joints) and velocity `qvel`: a state with a non-finite entry is as unusable as a
  /// stale one. Remembers the joint positions of the last finite state for safeCommand().
  Verdict check(scalar_t now_s, scalar_t command_stamp_s, scalar_t state_stamp_s,
                const vector_t& qpos, const vector_t& qvel);

  /// The safe damping command at the joint positions of the last finite state that check()
  /// saw (no joints before any).
  ActuatorCommands safeCommand() const;

  /// True while the last verdict was "send the safe command".
  bool safe() const { return safe_; }
  const CommandWatchdogLimits& limits() const { return limits_; }

 private:
  CommandWatchdogLimits limits_;
  bool safe_ = false;
  vector_t last_finite_joint_pos_;  ///< [rad], model order
};

}  // namespace velmora
