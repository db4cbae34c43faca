#pragma once

// The velocity command and gait a person drives the robot with from the keyboard.

#include <mutex>
#include <string>
#include <vector>

#include "planner/GaitPlanner.h"
#include "planner/GaitTable.h"

namespace velmora {
namespace sim {

/// Keys the live viewer understands.
enum class DrivingKey {
  kUp,      ///< forward speed + 0.1 m/s
  kDown,    ///< forward speed - 0.1 m/s
  kLeft,    ///< yaw rate + 0.2 rad/s (turn left)
  kRight,   ///< yaw rate - 0.2 rad/s (turn right)
  kSpace,   ///< stop: zero velocity command, gait kept
  kG,       ///< next gait (cycles through gaitNames())
  kEscape,  ///< end the run
};

/// Command, gait and end request changed by key presses (viewer thread) and read by the
/// planner's host (another thread). Forward speed stays within +-1 m/s, yaw rate within
/// +-2 rad/s. Thread-safe.
class DrivingCommand {
 public:
  /// What the host reads.
  struct State {
    planner::VelocityCommand command;
    std::string gait;
    bool end_requested = false;
  };

  /// Starts from `command` and the gait `gait` (one of gaitNames()).
  /// @throws std::invalid_argument naming an unknown gait.
  DrivingCommand(const planner::VelocityCommand& command, const std::string& gait);

  /// Applies one key press.
  void press(DrivingKey key);
  /// The current command, gait and end request.
  State state() const;

 private:
  mutable std::mutex mutex_;
  State state_;
};

}  // namespace sim
}  // namespace velmora
