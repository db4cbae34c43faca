#include "sim/DrivingCommand.h"

#include "planner/GaitTable.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace velmora {
namespace sim {
namespace {

constexpr double kSpeedStep = 0.1;    // [m/s] per arrow press
constexpr double kYawRateStep = 0.2;  // [rad/s] per arrow press
constexpr double kMaxSpeed = 1.0;     // [m/s]
constexpr double kMaxYawRate = 2.0;   // [rad/s]

/// Adds `step` to `value`, clamps to +-`limit` and snaps to the step grid (no 1e-17 residue
/// after + and - presses).
double stepped(double value, double step, double limit) {
  const double next = std::clamp(value + step, -limit, limit);
  return std::round(next / std::abs(step)) * std::abs(step);
}

}  // namespace

DrivingCommand::DrivingCommand(const planner::VelocityCommand& command, const std::string& gait) {
  planner::gaitNamed(gait);
  state_.command = command;
  state_.gait = gait;
}

void DrivingCommand::press(DrivingKey key) {
  std::lock_guard<std::mutex> lock(mutex_);
  planner::VelocityCommand& c = state_.command;
  switch (key) {
    case DrivingKey::kUp:
      c.vx = stepped(c.vx, kSpeedStep, kMaxSpeed);
      break;
    case DrivingKey::kDown:
      c.vx = stepped(c.vx, -kSpeedStep, kMaxSpeed);
      break;
    case DrivingKey::kLeft:
      c.yaw_rate = stepped(c.yaw_rate, kYawRateStep, kMaxYawRate);
      break;
    case DrivingKey::kRight:
      c.yaw_rate = stepped(c.yaw_rate, -kYawRateStep, kMaxYawRate);
      break;
    case DrivingKey::kSpace:
      c = planner::VelocityCommand{};
      break;
    case DrivingKey::kG: {
      const auto& names = planner::gaitNames();
      const auto it = std::find(names.begin(), names.end(), state_.gait);
      state_.gait = names[(static_cast<size_t>(it - names.begin()) + 1) % names.size()];
      break;
    }
    case DrivingKey::kEscape:
      state_.end_requested = true;
      break;
  }
}

DrivingCommand::State DrivingCommand::state() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return state_;
}

}  // namespace sim
}  // namespace velmora
