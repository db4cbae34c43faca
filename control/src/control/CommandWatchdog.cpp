#include "control/CommandWatchdog.h"

#include <cmath>
#include <limits>
#include <stdexcept>

#include <boost/optional.hpp>
#include <boost/property_tree/info_parser.hpp>
#include <boost/property_tree/ptree.hpp>

namespace velmora {
namespace {

constexpr scalar_t kDefaultCommandTimeoutPeriods = 5.0;
/// Slack on the age comparisons [s]: far below any period, far above clock rounding.
constexpr scalar_t kAgeTolerance_s = 1e-6;
constexpr scalar_t kDefaultStateTimeout_s = 0.05;
constexpr scalar_t kDefaultDampingKd = 1.0;

/// The value at `key`, or `fallback` when the key is absent.
scalar_t optionalScalar(const boost::property_tree::ptree& tree, const std::string& param_file,
                        const std::string& key, scalar_t fallback) {
  const auto node = tree.get_child_optional(key);
  if (!node) return fallback;
  const auto value = node->get_value_optional<scalar_t>();
  if (!value || !std::isfinite(*value)) {
    throw std::invalid_argument("parameter \"" + key + "\" in " + param_file +
                                " is not a finite number: \"" + node->data() + "\"");
  }
  return *value;
}

void requirePositive(scalar_t value, const std::string& what) {
  if (!(value > 0.0) || !std::isfinite(value)) {
    throw std::invalid_argument(what + " must be positive and finite, got " +
                                std::to_string(value));
  }
}

void requireNonNegative(scalar_t value, const std::string& what) {
  if (!(value >= 0.0) || !std::isfinite(value)) {
    throw std::invalid_argument(what + " must be non-negative and finite, got " +
                                std::to_string(value));
  }
}

}  // namespace

CommandWatchdogLimits loadCommandWatchdogLimits(const std::string& param_file, scalar_t wbc_dt) {
  requirePositive(wbc_dt, "CommandWatchdog: the whole-body period");
  boost::property_tree::ptree tree;
  boost::property_tree::read_info(param_file, tree);
  const std::string where = " (" + param_file + ")";

  CommandWatchdogLimits limits;
  const scalar_t periods = optionalScalar(tree, param_file, "safety.command_timeout_periods",
                                          kDefaultCommandTimeoutPeriods);
  requirePositive(periods, "parameter \"safety.command_timeout_periods\"" + where);
  limits.command_timeout_s = periods * wbc_dt;
  limits.state_timeout_s =
      optionalScalar(tree, param_file, "safety.state_timeout", kDefaultStateTimeout_s);
  requirePositive(limits.state_timeout_s, "parameter \"safety.state_timeout\"" + where);
  limits.damping_kd = optionalScalar(tree, param_file, "safety.damping_kd", kDefaultDampingKd);
  requireNonNegative(limits.damping_kd, "parameter \"safety.damping_kd\"" + where);
  return limits;
}

ActuatorCommands safeDampingCommand(const vector_t& joint_pos, scalar_t damping_kd) {
  ActuatorCommands command;
  command.setZero(static_cast<size_t>(joint_pos.size()));
  command.Kd.setConstant(damping_kd);
  // kp is 0, so the position target has no effect; a non-finite one must still never reach a
  // motor driver.
  command.pos = joint_pos.unaryExpr([](scalar_t q) { return std::isfinite(q) ? q : 0.0; });
  return command;
}

CommandWatchdog::CommandWatchdog(const CommandWatchdogLimits& limits) : limits_(limits) {
  requirePositive(limits_.command_timeout_s, "CommandWatchdog: the command timeout");
  requirePositive(limits_.state_timeout_s, "CommandWatchdog: the state timeout");
  requireNonNegative(limits_.damping_kd, "CommandWatchdog: the damping gain");
}

CommandWatchdog::Verdict CommandWatchdog::check(scalar_t now_s, scalar_t command_stamp_s,
                                                scalar_t state_stamp_s) {
  Verdict verdict;
  verdict.command_age_s = now_s - command_stamp_s;
  verdict.state_age_s = now_s - state_stamp_s;
  // Written so that a NaN age (an unstamped record) is stale.
  // An age equal to a limit is fresh; kAgeTolerance_s absorbs the rounding of clock readings
  // that lie a whole number of periods apart.
  verdict.commands_stale = !(verdict.command_age_s <= limits_.command_timeout_s + kAgeTolerance_s);
  verdict.state_stale = !(verdict.state_age_s <= limits_.state_timeout_s + kAgeTolerance_s);
  const bool safe = verdict.commands_stale || verdict.state_stale;
  verdict.publish_commands = !safe;
  verdict.changed = safe != safe_;
  safe_ = safe;
  return verdict;
}

CommandWatchdog::Verdict CommandWatchdog::check(scalar_t now_s, scalar_t command_stamp_s,
                                                scalar_t state_stamp_s, const vector_t& qpos,
                                                const vector_t& qvel) {
  const bool state_finite = qpos.allFinite() && qvel.allFinite();
  if (state_finite && qpos.size() >= 7) last_finite_joint_pos_ = qpos.tail(qpos.size() - 7);
  // A non-finite state is judged as an unstamped one: stale.
  Verdict verdict =
      check(now_s, command_stamp_s,
            state_finite ? state_stamp_s : std::numeric_limits<scalar_t>::quiet_NaN());
  verdict.state_finite = state_finite;
  return verdict;
}

ActuatorCommands CommandWatchdog::safeCommand() const {
  return safeDampingCommand(last_finite_joint_pos_, limits_.damping_kd);
}

}  // namespace velmora
