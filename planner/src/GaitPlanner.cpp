#include "planner/GaitPlanner.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>

#include "pinocchio/Orientation.h"

namespace velmora {
namespace planner {
namespace {

constexpr scalar_t kInfinity = std::numeric_limits<scalar_t>::infinity();
/// Step of the finite differences that give the end rates of the foot splines [s].
constexpr scalar_t kRateStep = 1e-4;
/// Standard gravity [m/s^2].
constexpr scalar_t kGravity = 9.81;

matrix3_t yawRotation(scalar_t yaw) {
  return Eigen::AngleAxisd(yaw, vector3_t::UnitZ()).toRotationMatrix();
}

scalar_t wrapToPi(scalar_t angle) { return std::remainder(angle, 2.0 * M_PI); }

// Linear interpolation in the non-empty `table` at fractional index `x`, held at both ends.
template <typename T>
T interpolateTable(const std::vector<T>& table, scalar_t x) {
  x = std::max(0.0, x);
  if (x >= static_cast<scalar_t>(table.size() - 1)) return table.back();
  const auto k = static_cast<size_t>(x);
  const scalar_t w = x - static_cast<scalar_t>(k);
  return (1.0 - w) * table[k] + w * table[k + 1];
}

/// Most knots a plan may have (horizon_s / knot_dt_s).
constexpr scalar_t kMaxKnots = 10000.0;

/// One range check of a setting: the value must be finite and within [low, high], with the
/// lower end excluded when `low_open`.
void requireSetting(scalar_t value, const char* name, scalar_t low, bool low_open,
                    scalar_t high = kInfinity) {
  const bool above = low_open ? value > low : value >= low;
  if (std::isfinite(value) && above && value <= high) return;
  std::ostringstream message;
  message << "GaitPlanner: PlannerSettings::" << name << " must be ";
  if (high < kInfinity) {
    message << "in " << (low_open ? "(" : "[") << low << ", " << high << "]";
  } else {
    message << (low_open ? "positive" : "at least 0");
  }
  message << ", got " << value;
  throw std::invalid_argument(message.str());
}

/// Every tunable constant of the planner within the range the planner works in.
/// @throws std::invalid_argument naming the first one outside it and its value.
void checkSettings(const PlannerSettings& s) {
  constexpr bool kOpen = true, kClosed = false;
  requireSetting(s.horizon_s, "horizon_s", 0.0, kOpen);
  requireSetting(s.knot_dt_s, "knot_dt_s", 0.0, kOpen, s.horizon_s);
  // Each plan allocates its knots: a bound keeps a mistyped step from exhausting memory.
  requireSetting(s.horizon_s / s.knot_dt_s, "horizon_s / knot_dt_s (knots)", 0.0, kOpen, kMaxKnots);
  requireSetting(s.swing_apex_m, "swing_apex_m", 0.0, kClosed);
  requireSetting(s.swing_travel_fraction, "swing_travel_fraction", 0.0, kOpen, 1.0);
  requireSetting(s.raibert_gain, "raibert_gain", 0.0, kClosed);
  requireSetting(s.centripetal_gain, "centripetal_gain", 0.0, kClosed);
  requireSetting(s.max_foothold_shift_m, "max_foothold_shift_m", 0.0, kOpen);
  requireSetting(s.foothold_reach_fraction, "foothold_reach_fraction", 0.0, kOpen, 1.0);
  requireSetting(s.velocity_carry_deadband_mps, "velocity_carry_deadband_mps", 0.0, kClosed);
  requireSetting(s.velocity_carry_time_s, "velocity_carry_time_s", 0.0, kClosed);
  requireSetting(s.velocity_carry_max_tilt_rad, "velocity_carry_max_tilt_rad", 0.0, kClosed);
  requireSetting(s.max_stance_stride_m, "max_stance_stride_m", 0.0, kOpen);
  requireSetting(s.max_stance_stride_y_m, "max_stance_stride_y_m", 0.0, kOpen);
  requireSetting(s.max_stance_turn_rad, "max_stance_turn_rad", 0.0, kOpen);
  requireSetting(s.min_period_s, "min_period_s", 0.0, kOpen);
  requireSetting(s.stand_before_gait_s, "stand_before_gait_s", 0.0, kClosed);
  requireSetting(s.command_ramp_s, "command_ramp_s", 0.0, kClosed);
  requireSetting(s.max_ramp_accel, "max_ramp_accel", 0.0, kClosed);
  requireSetting(s.max_ramp_yaw_accel, "max_ramp_yaw_accel", 0.0, kClosed);
  requireSetting(s.pose_tracking_rate, "pose_tracking_rate", 0.0, kClosed);
  requireSetting(s.max_position_gap_m, "max_position_gap_m", 0.0, kClosed);
  requireSetting(s.max_yaw_gap_rad, "max_yaw_gap_rad", 0.0, kClosed);
  requireSetting(s.ground_attitude_fraction, "ground_attitude_fraction", 0.0, kClosed, 1.0);
  requireSetting(s.swing_apex_roughness_gain, "swing_apex_roughness_gain", 0.0, kClosed);
  requireSetting(s.max_swing_apex_raise_m, "max_swing_apex_raise_m", 0.0, kClosed);
  requireSetting(s.support_sway_gain, "support_sway_gain", 0.0, kClosed, 1.0);
}

}  // namespace

Gait Gait::standing() { return Gait{}; }

Gait Gait::trot() {
  Gait gait;
  gait.stand = false;
  gait.period_s = 0.5;
  gait.swing_fraction = 0.5;
  gait.swing_offset = {0.5, 0.0, 0.0, 0.5};
  return gait;
}

bool Gait::operator==(const Gait& other) const {
  if (stand || other.stand) return stand == other.stand;
  return period_s == other.period_s && swing_fraction == other.swing_fraction &&
         swing_offset == other.swing_offset && swing_apex_m == other.swing_apex_m &&
         support_shift == other.support_shift;
}

GaitPlanner::GaitPlanner(const ModelInfo& info, const PinocchioInterface& model,
                         PlannerSettings settings)
    : info_(info),
      model_(model),
      settings_(settings),
      leg_ik_(info, model),
      ground_(info.foot_name.size() == 4 ? 4 : 3, settings.ground) {
  if (info_.foot_name.size() != 4) {
    throw std::invalid_argument("GaitPlanner: the robot description lists " +
                                std::to_string(info_.foot_name.size()) +
                                " feet, the planner needs four");
  }
  checkSettings(settings_);
  const auto nJ = static_cast<Eigen::Index>(info_.joints_name.size());
  vector_t qpos(7 + nJ);
  qpos << vector3_t::Zero(), info_.base_init_quat, info_.joints_init_pos;
  qpos(2) = info_.base_init_pos(2);
  model_.updateRobotState(qpos, vector_t::Zero(6 + nJ));
  const vector3_t base = model_.getFramePose(info_.base_name).translation();
  const matrix3_t base_rotation = model_.getFramePose(info_.base_name).rotation();
  ground_z_ = kInfinity;
  for (size_t i = 0; i < 4; ++i) {
    const vector3_t foot = model_.getFramePose(info_.foot_name[i]).translation();
    nominal_foot_offset_[i] = base_rotation.transpose() * (foot - base);
    ground_z_ = std::min(ground_z_, foot(2));
  }
  base_height_ = info_.base_init_pos(2);
  segments_.push_back(Segment{Gait::standing(), 0.0, -kInfinity, {{0.0, 0.0, 0.0, 0.0}}});
}

void GaitPlanner::setCommand(const Gait& gait, const VelocityCommand& command) {
  command_ = command;
  Gait effective = gait;
  if (!gait.stand) effective.period_s = stridePeriod(gait, command);
  const Gait& current = gait_change_pending_ ? requested_gait_ : segments_.back().gait;
  if (effective == current) return;
  requested_gait_ = effective;
  gait_change_pending_ = !(effective == segments_.back().gait);
}

scalar_t GaitPlanner::stridePeriod(const Gait& gait, const VelocityCommand& command) const {
  const scalar_t stance_fraction = 1.0 - gait.swing_fraction;
  if (gait.stand || stance_fraction <= 0.0) return gait.period_s;
  // Stance time t takes a foot moving at (vx, vy) relative to its hip along the stride (vx t,
  // vy t), inside the ellipse of half-axes (Lx, Ly) while t * |(vx / Lx, vy / Ly)| <= 1.
  scalar_t scaled_speed = 0.0;  // [1/s]
  for (const vector3_t& offset : nominal_foot_offset_) {
    const scalar_t vx = command.vx - command.yaw_rate * offset(1);
    const scalar_t vy = command.vy + command.yaw_rate * offset(0);
    scaled_speed = std::max(scaled_speed, std::hypot(vx / settings_.max_stance_stride_m,
                                                     vy / settings_.max_stance_stride_y_m));
  }
  scaled_speed = std::max(scaled_speed, std::abs(command.yaw_rate) / settings_.max_stance_turn_rad);
  if (scaled_speed * stance_fraction * gait.period_s <= 1.0) return gait.period_s;
  const scalar_t shortest = std::min(gait.period_s, settings_.min_period_s);
  return std::max(shortest, 1.0 / (scaled_speed * stance_fraction));
}

const Gait& GaitPlanner::gaitAt(scalar_t time_s) const {
  size_t k = segments_.size() - 1;
  while (k > 0 && segments_[k].from_s > time_s) --k;
  return segments_[k].gait;
}

VelocityCommand GaitPlanner::commandAt(scalar_t time_s) const {
  if (gaitAt(time_s).stand) return VelocityCommand{};
  const scalar_t ramp_s =
      std::max({settings_.command_ramp_s,
                settings_.max_ramp_accel > 0.0
                    ? std::hypot(command_.vx, command_.vy) / settings_.max_ramp_accel
                    : 0.0,
                settings_.max_ramp_yaw_accel > 0.0
                    ? std::abs(command_.yaw_rate) / settings_.max_ramp_yaw_accel
                    : 0.0});
  const scalar_t ramp = ramp_s > 0.0 ? std::clamp((time_s - walk_start_s_) / ramp_s, 0.0, 1.0)
                                     : (time_s >= walk_start_s_ ? 1.0 : 0.0);
  return VelocityCommand{ramp * command_.vx, ramp * command_.vy, ramp * command_.yaw_rate};
}

GaitPlanner::Swing GaitPlanner::swingAfter(size_t foot, scalar_t time_s) const {
  for (size_t k = 0; k < segments_.size(); ++k) {
    const Segment& segment = segments_[k];
    if (segment.gait.stand) continue;
    const scalar_t end = k + 1 < segments_.size() ? segments_[k + 1].from_s : kInfinity;
    const scalar_t period = segment.gait.period_s;
    const scalar_t swing = segment.gait.swing_fraction * period;
    const scalar_t first = segment.origin_s + segment.gait.swing_offset[foot] * period;
    // The first lift-off at or after the earliest one, then on to the first swing ending after
    // time_s.
    const scalar_t lower = std::max(segment.earliest_lift_s[foot], time_s - swing);
    scalar_t lift = first + std::ceil((lower - first) / period - 1e-9) * period;
    while (lift + swing <= time_s) lift += period;
    if (lift < end) return Swing{lift, lift + swing, &segment.gait};
  }
  return Swing{kInfinity, kInfinity, nullptr};
}

scalar_t GaitPlanner::lastTouchdownBefore(size_t foot, scalar_t time_s) const {
  scalar_t touchdown = -kInfinity;
  for (Swing s = swingAfter(foot, time_s - 4.0 * segments_.back().gait.period_s - 1.0);
       s.lift_s < time_s; s = swingAfter(foot, s.touchdown_s)) {
    touchdown = s.touchdown_s;
  }
  return touchdown;
}

bool GaitPlanner::stanceAt(size_t foot, scalar_t time_s) const {
  return time_s < swingAfter(foot, time_s).lift_s;
}

size_t GaitPlanner::modeAt(scalar_t time_s) const {
  size_t mode = 0;
  for (size_t i = 0; i < 4; ++i) {
    if (stanceAt(i, time_s)) mode |= (8u >> i);
  }
  return mode;
}

size_t GaitPlanner::mostFeetInAir(scalar_t from_s, scalar_t to_s) const {
  std::vector<scalar_t> events{from_s, to_s};
  for (size_t i = 0; i < 4; ++i) {
    for (Swing s = swingAfter(i, from_s); s.lift_s < to_s; s = swingAfter(i, s.touchdown_s)) {
      events.push_back(std::max(s.lift_s, from_s));
      events.push_back(std::min(s.touchdown_s, to_s));
    }
  }
  std::sort(events.begin(), events.end());
  size_t most = 0;
  for (size_t k = 0; k + 1 < events.size(); ++k) {
    if (events[k + 1] - events[k] < 1e-9) continue;
    const size_t stance = static_cast<size_t>(
        __builtin_popcount(static_cast<unsigned>(modeAt(0.5 * (events[k] + events[k + 1])))));
    most = std::max(most, 4 - stance);
  }
  return most;
}

void GaitPlanner::startGait(const Gait& gait, scalar_t time_s) {
  // A change still to come is dropped: the new one is planned from the gait in force now.
  while (segments_.size() > 1 && segments_.back().from_s > time_s) segments_.pop_back();
  if (gait == segments_.back().gait) return;
  const Gait old = segments_.back().gait;
  if (gait.stand || old.stand) {
    const scalar_t from = old.stand ? time_s + settings_.stand_before_gait_s : time_s;
    if (old.stand) walk_start_s_ = from;
    segments_.push_back(Segment{gait, from, from, {{from, from, from, from}}});
    return;
  }
  Gait old_at_new_period = old;
  old_at_new_period.period_s = gait.period_s;
  if (gait == old_at_new_period) {
    // Only the period changes (the command's stride): the new period continues the phase the gait
    // has reached, so that no foot changes between swing and stance. Swings under way land as
    // planned, and no foot in stance lifts before they have landed (no flight the gait lacks).
    scalar_t landing = time_s;
    for (size_t i = 0; i < 4; ++i) {
      const Swing under_way = swingAfter(i, time_s);
      if (under_way.lift_s < time_s) landing = std::max(landing, under_way.touchdown_s);
    }
    std::array<scalar_t, 4> earliest{};
    for (size_t i = 0; i < 4; ++i) earliest[i] = stanceAt(i, time_s) ? landing : time_s;
    const scalar_t cycles = (time_s - segments_.back().origin_s) / old.period_s;
    const scalar_t origin = time_s - (cycles - std::floor(cycles)) * gait.period_s;
    segments_.push_back(Segment{gait, origin, time_s, earliest});
    return;
  }
  // Candidate switch times: the contact events of the current plan over two old cycles;
  // candidate phases of the new gait: its lift-offs and touchdowns.
  std::vector<scalar_t> times;
  const scalar_t window_end = time_s + 2.0 * old.period_s;
  for (size_t i = 0; i < 4; ++i) {
    for (Swing s = swingAfter(i, time_s); s.lift_s < window_end; s = swingAfter(i, s.touchdown_s)) {
      for (const scalar_t e : {s.lift_s, s.touchdown_s}) {
        if (e >= time_s && e < window_end) times.push_back(e);
      }
    }
  }
  std::sort(times.begin(), times.end());
  std::vector<scalar_t> phases;
  for (size_t i = 0; i < 4; ++i) {
    phases.push_back(gait.swing_offset[i]);
    phases.push_back(std::fmod(gait.swing_offset[i] + gait.swing_fraction, 1.0));
  }
  const size_t air_limit = std::max(mostFeetInAir(time_s, window_end), [&gait] {
    size_t most = 0;
    for (size_t i = 0; i < 4; ++i) {
      // Feet in the air at the lift-off of foot i (the most in the air is reached at a lift-off).
      size_t air = 0;
      for (size_t j = 0; j < 4; ++j) {
        const scalar_t d = std::fmod(gait.swing_offset[i] - gait.swing_offset[j] + 2.0, 1.0);
        if (d < gait.swing_fraction - 1e-9) ++air;
      }
      most = std::max(most, air);
    }
    return most;
  }());
  const scalar_t min_stance = 0.5 * gait.stanceTime();
  const size_t old_count = segments_.size();
  bool found = false;
  Segment best{};
  scalar_t best_cost = kInfinity;
  for (const scalar_t switch_s : times) {
    if (found && switch_s - time_s > best_cost) break;
    std::array<scalar_t, 4> earliest{};
    for (size_t i = 0; i < 4; ++i) {
      earliest[i] = std::max(switch_s, lastTouchdownBefore(i, switch_s) + min_stance);
    }
    for (const scalar_t phase : phases) {
      const Segment candidate{gait, switch_s - phase * gait.period_s, switch_s, earliest};
      segments_.push_back(candidate);
      // Cost: time to the switch plus the stance the switch adds (new swings skipped).
      scalar_t cost = switch_s - time_s;
      for (size_t i = 0; i < 4; ++i) {
        const scalar_t first = candidate.origin_s + gait.swing_offset[i] * gait.period_s;
        const scalar_t nominal =
            first + std::ceil((switch_s - first) / gait.period_s - 1e-9) * gait.period_s;
        Swing first_new = swingAfter(i, switch_s);
        while (first_new.lift_s < switch_s) first_new = swingAfter(i, first_new.touchdown_s);
        if (first_new.gait != nullptr) cost += first_new.lift_s - nominal;
      }
      const bool fits =
          mostFeetInAir(switch_s - old.period_s, switch_s + 2.0 * gait.period_s) <= air_limit;
      segments_.resize(old_count);
      if (fits && cost < best_cost - 1e-9) {
        best = candidate;
        best_cost = cost;
        found = true;
      }
    }
  }
  if (!found) {
    // No fitting phase (e.g. flight gaits of very different cycles): stop stepping, then start
    // the new gait from standing.
    segments_.push_back(Segment{Gait::standing(), time_s, time_s, {{0.0, 0.0, 0.0, 0.0}}});
    const scalar_t from = time_s + settings_.stand_before_gait_s;
    segments_.push_back(Segment{gait, from, from, {{from, from, from, from}}});
    return;
  }
  segments_.push_back(best);
}

std::shared_ptr<ModeSchedule> GaitPlanner::buildSchedule(scalar_t time_s) const {
  const scalar_t horizon = settings_.horizon_s;
  std::vector<scalar_t> events;
  for (size_t i = 0; i < 4; ++i) {
    for (Swing s = swingAfter(i, time_s); s.lift_s < time_s + horizon;
         s = swingAfter(i, s.touchdown_s)) {
      for (const scalar_t e : {s.lift_s, s.touchdown_s}) {
        if (e > time_s + 1e-9 && e < time_s + horizon - 1e-9) events.push_back(e);
      }
    }
  }
  std::sort(events.begin(), events.end());
  std::vector<double> phases{0.0};
  std::vector<size_t> modes;
  scalar_t begin = time_s;
  events.push_back(time_s + horizon);
  for (const scalar_t end : events) {
    if (end - begin < 1e-9) continue;
    const size_t mode = modeAt(0.5 * (begin + end));
    if (!modes.empty() && modes.back() == mode) {
      phases.back() = (end - time_s) / horizon;
    } else {
      modes.push_back(mode);
      phases.push_back((end - time_s) / horizon);
    }
    begin = end;
  }
  phases.back() = 1.0;
  return std::make_shared<ModeSchedule>(horizon, phases, modes);
}

scalar_t GaitPlanner::yawRefAt(scalar_t time_s) const {
  if (yaw_table_.empty()) return yaw_unwrapped_;
  return interpolateTable(yaw_table_, (time_s - plan_time_s_) / base_table_dt_);
}

vector3_t GaitPlanner::baseRefAt(scalar_t time_s) const {
  if (base_table_.empty()) return vector3_t(0.0, 0.0, base_height_);
  return interpolateTable(base_table_, (time_s - plan_time_s_) / base_table_dt_);
}

vector3_t GaitPlanner::raibertFoothold(size_t foot, scalar_t touchdown_s, scalar_t stance_s) const {
  const matrix3_t R = yawRotation(yawRefAt(touchdown_s));
  vector3_t offset = R * nominal_foot_offset_[foot];
  offset(2) = 0.0;
  const VelocityCommand cmd = commandAt(touchdown_s);
  const vector3_t omega(0.0, 0.0, cmd.yaw_rate);
  const vector3_t v_cmd = R * vector3_t(cmd.vx, cmd.vy, 0.0) + omega.cross(offset);
  const VelocityCommand cmd_now = commandAt(plan_time_s_);
  const vector3_t v_cmd_now = yawRotation(yaw_unwrapped_) * vector3_t(cmd_now.vx, cmd_now.vy, 0.0) +
                              settings_.pose_tracking_rate * position_gap_;
  vector3_t v_error = base_vel_world_ - v_cmd_now;
  v_error(2) = 0.0;
  // Centripetal term: in a turn the feet land outside the path so that the ground pushes the
  // trunk towards the centre of the turn (inverted pendulum of height h).
  const vector3_t centripetal = settings_.centripetal_gain * (base_height_ - ground_z_) / kGravity *
                                vector3_t(base_vel_world_(0), base_vel_world_(1), 0.0).cross(omega);
  vector3_t shift = 0.5 * stance_s * v_cmd + settings_.raibert_gain * v_error + centripetal;
  shift(2) = 0.0;
  if (shift.norm() > settings_.max_foothold_shift_m) {
    shift *= settings_.max_foothold_shift_m / shift.norm();
  }
  const vector3_t base = baseRefAt(touchdown_s);
  vector3_t foothold = base + offset + shift;
  foothold(2) = ground_.plane().heightAt(foothold(0), foothold(1));
  // Within the leg's reach on the planned base (level, the planned yaw); the ground's height
  // under the clamped foothold.
  foothold = leg_ik_.clampToReach(foot, base, vector3_t(0.0, 0.0, yawRefAt(touchdown_s)), foothold,
                                  settings_.foothold_reach_fraction);
  foothold(2) = ground_.plane().heightAt(foothold(0), foothold(1));
  return foothold;
}

vector3_t GaitPlanner::rpyRefAt(scalar_t time_s, scalar_t yaw_branch) const {
  const scalar_t yaw = yawRefAt(time_s);
  const GroundPlane& plane = ground_.plane();
  // Rise of the ground per metre ahead of and left of the planned heading.
  const scalar_t ahead = plane.slope_x * std::cos(yaw) + plane.slope_y * std::sin(yaw);
  const scalar_t left = -plane.slope_x * std::sin(yaw) + plane.slope_y * std::cos(yaw);
  const scalar_t share = settings_.ground_attitude_fraction;
  return vector3_t(share * std::atan(left), -share * std::atan(ahead), yaw - yaw_branch);
}

vector3_t GaitPlanner::footRefAt(size_t foot, scalar_t time_s) const {
  vector3_t from = foothold_[foot];
  for (Swing s = swingAfter(foot, plan_time_s_); s.gait != nullptr;
       s = swingAfter(foot, s.touchdown_s)) {
    if (time_s < s.lift_s) return from;
    const vector3_t to = raibertFoothold(foot, s.touchdown_s, s.gait->stanceTime());
    if (time_s < s.touchdown_s) {
      const scalar_t u = (time_s - s.lift_s) / (s.touchdown_s - s.lift_s);
      const scalar_t travel = std::min(1.0, u / settings_.swing_travel_fraction);
      const scalar_t blend = travel * travel * (3.0 - 2.0 * travel);
      // Higher swings where the touchdowns show uneven ground.
      const scalar_t apex =
          (s.gait->swing_apex_m > 0.0 ? s.gait->swing_apex_m : settings_.swing_apex_m) +
          std::min(settings_.max_swing_apex_raise_m,
                   settings_.swing_apex_roughness_gain * ground_.roughness());
      vector3_t p = from + blend * (to - from);
      p(2) += apex * 16.0 * u * u * (1.0 - u) * (1.0 - u);
      return p;
    }
    from = to;
  }
  return from;
}

vector3_t GaitPlanner::supportCentreAt(scalar_t time_s) const {
  std::array<bool, 4> stance{};
  for (size_t i = 0; i < 4; ++i) stance[i] = stanceAt(i, time_s);
  return supportCentreOf(gaitAt(time_s), stance);
}

vector3_t GaitPlanner::supportCentreOf(const Gait& gait, const std::array<bool, 4>& stance) const {
  if (gait.stand || gait.support_shift > 0.0) return vector3_t::Zero();
  vector3_t stance_sum = vector3_t::Zero();
  vector3_t all_sum = vector3_t::Zero();
  scalar_t stance_count = 0.0;
  for (size_t i = 0; i < 4; ++i) {
    all_sum += nominal_foot_offset_[i];
    if (!stance[i]) continue;
    stance_sum += nominal_foot_offset_[i];
    stance_count += 1.0;
  }
  if (stance_count == 0.0) return vector3_t::Zero();
  // Measured from the centroid of all four feet, so that standing on four feet sways nothing.
  // Lateral only: the long base and the trunk's pitch inertia carry a front or hind pair's
  // moment (bound); a longitudinal sway on top pitched the bounding trunk further (0.19 rad
  // against 0.11) and made it fall at 0.4 m/s.
  const vector3_t centre = stance_sum / stance_count - all_sum / 4.0;
  return vector3_t(0.0, centre(1), 0.0);
}

void GaitPlanner::planSupportSway(scalar_t time_s, size_t table_size) {
  sway_table_.assign(table_size, vector3_t::Zero());
  sway_table_start_s_ = time_s;
  if (!(settings_.support_sway_gain > 0.0)) return;
  const scalar_t height = base_height_ - ground_z_;
  const scalar_t omega = std::sqrt(kGravity / std::max(height, 1e-3));
  // The kernel exp(-w |d|) is cut where it has fallen below 0.1 %, and normalised so that a
  // constant centre sways the body onto it.
  const scalar_t dt = base_table_dt_;
  const auto reach = static_cast<size_t>(std::ceil(std::log(1000.0) / omega / dt));
  std::vector<scalar_t> kernel(reach + 1);
  scalar_t kernel_sum = 0.0;
  for (size_t d = 0; d <= reach; ++d) {
    kernel[d] = std::exp(-omega * dt * static_cast<scalar_t>(d));
    kernel_sum += d == 0 ? kernel[d] : 2.0 * kernel[d];
  }
  // The centre on the grid: each foot's stance read off its swings in time order (what
  // supportCentreAt gives per sample, without a schedule search per sample and foot).
  const auto sample_time = [&](size_t j) {
    return time_s + (static_cast<scalar_t>(j) - static_cast<scalar_t>(reach)) * dt;
  };
  std::vector<vector3_t> centre(table_size + 2 * reach);
  std::vector<std::array<bool, 4>> stance(centre.size());
  for (size_t i = 0; i < 4; ++i) {
    Swing swing = swingAfter(i, sample_time(0));
    for (size_t j = 0; j < centre.size(); ++j) {
      const scalar_t u = sample_time(j);
      while (swing.touchdown_s <= u) swing = swingAfter(i, swing.touchdown_s);
      stance[j][i] = u < swing.lift_s;
    }
  }
  bool any = false;
  for (size_t j = 0; j < centre.size(); ++j) {
    centre[j] = supportCentreOf(gaitAt(sample_time(j)), stance[j]);
    any = any || !centre[j].isZero();
  }
  if (!any) return;
  for (size_t k = 0; k < table_size; ++k) {
    vector3_t sum = kernel[0] * centre[k + reach];
    for (size_t d = 1; d <= reach; ++d) {
      sum += kernel[d] * (centre[k + reach - d] + centre[k + reach + d]);
    }
    sway_table_[k] = sum / kernel_sum;
  }
}

vector3_t GaitPlanner::supportSwayAt(scalar_t time_s) const {
  if (sway_table_.empty()) return vector3_t::Zero();
  const vector3_t sway =
      interpolateTable(sway_table_, (time_s - sway_table_start_s_) / base_table_dt_);
  return yawRotation(yawRefAt(time_s)) * sway;
}

vector3_t GaitPlanner::velocityToCarry(scalar_t time_s, const matrix3_t& base_rotation) const {
  const VelocityCommand c_now = commandAt(time_s);
  vector3_t error =
      base_vel_world_ - yawRotation(yaw_unwrapped_) * vector3_t(c_now.vx, c_now.vy, 0.0);
  error(2) = 0.0;
  const scalar_t excess = error.norm() - settings_.velocity_carry_deadband_mps;
  // Not while the trunk is tilted: that velocity comes from tipping over the feet (a stumble, a
  // fault), and a plan running with it steps the robot over.
  const vector3_t rpy_measured = toEulerAngles(base_rotation);
  const bool tilted = std::max(std::abs(rpy_measured(0)), std::abs(rpy_measured(1))) >
                      settings_.velocity_carry_max_tilt_rad;
  if (tilted || !(excess > 0.0) || !(settings_.velocity_carry_time_s > 0.0)) {
    return vector3_t::Zero();
  }
  return error * (excess / error.norm());
}

vector3_t GaitPlanner::bodyShiftAt(scalar_t time_s) const {
  vector3_t shift = settings_.support_sway_gain * supportSwayAt(time_s);
  // Around each swing of a gait with a support shift the body moves towards the centroid of the
  // other three feet, -1/3 of the swinging foot's offset from the base: fully during the swing,
  // ramping in and out over the four-foot stance between swings.
  const bool any_shift = std::any_of(segments_.begin(), segments_.end(),
                                     [](const Segment& s) { return s.gait.support_shift > 0.0; });
  if (!any_shift) return shift;
  const matrix3_t R = yawRotation(yawRefAt(time_s));
  scalar_t window = 0.0;  // no ramp is longer than a cycle
  for (const Segment& segment : segments_) {
    if (!segment.gait.stand) window = std::max(window, segment.gait.period_s);
  }
  for (size_t i = 0; i < 4; ++i) {
    for (Swing s = swingAfter(i, time_s - window); s.lift_s < time_s + window;
         s = swingAfter(i, s.touchdown_s)) {
      if (s.gait->support_shift <= 0.0) continue;
      const scalar_t ramp = std::max((0.25 - s.gait->swing_fraction) * s.gait->period_s,
                                     0.2 * s.gait->swing_fraction * s.gait->period_s);
      scalar_t weight = 0.0;
      if (time_s >= s.lift_s - ramp && time_s < s.lift_s) {
        const scalar_t u = (time_s - s.lift_s + ramp) / ramp;
        weight = u * u * (3.0 - 2.0 * u);
      } else if (time_s >= s.lift_s && time_s <= s.touchdown_s) {
        weight = 1.0;
      } else if (time_s > s.touchdown_s && time_s < s.touchdown_s + ramp) {
        const scalar_t u = 1.0 - (time_s - s.touchdown_s) / ramp;
        weight = u * u * (3.0 - 2.0 * u);
      }
      vector3_t toward = -R * nominal_foot_offset_[i] / 3.0;
      toward(2) = 0.0;
      shift += weight * s.gait->support_shift * toward;
    }
  }
  return shift;
}

PlannerOutput GaitPlanner::plan(scalar_t time_s, const vector_t& qpos, const vector_t& qvel) {
  const auto nJ = static_cast<Eigen::Index>(info_.joints_name.size());
  if (qpos.size() != 7 + nJ || qvel.size() != 6 + nJ || !qpos.allFinite() || !qvel.allFinite()) {
    throw std::invalid_argument(
        "GaitPlanner::plan: the measured state has the wrong size or a "
        "non-finite entry");
  }
  if (gait_change_pending_) {
    startGait(requested_gait_, time_s);
    gait_change_pending_ = false;
  }
  // Segments that ended more than two seconds ago no longer shape the plan.
  while (segments_.size() > 1 && segments_[1].from_s < time_s - 2.0 &&
         (segments_.size() == 2 || segments_[2].from_s < time_s - 2.0)) {
    segments_.erase(segments_.begin());
  }
  model_.updateRobotState(qpos, qvel);
  const matrix3_t R = model_.getFramePose(info_.base_name).rotation();
  base_pos_meas_ = qpos.head<3>();
  base_vel_world_ = R * qvel.head<3>();
  const scalar_t yaw = toEulerAngles(R)(2);
  if (!initialised_) {
    yaw_unwrapped_ = yaw;
    std::vector<vector3_t> feet;
    for (size_t i = 0; i < 4; ++i) {
      foothold_[i] = model_.getFramePose(info_.foot_name[i]).translation();
      last_stance_foot_[i] = foothold_[i];
      feet.push_back(foothold_[i]);
    }
    ground_.reset(feet);
    commanded_pos_ = base_pos_meas_;
    commanded_yaw_ = yaw;
    initialised_ = true;
  } else {
    yaw_unwrapped_ += wrapToPi(yaw - yaw_meas_);
    // The commanded pose advances with the command in effect since the last cycle.
    const scalar_t dt = std::clamp(time_s - plan_time_s_, 0.0, 0.1);
    const VelocityCommand c = commandAt(time_s);
    commanded_yaw_ += dt * c.yaw_rate;
    commanded_pos_ += dt * (yawRotation(commanded_yaw_) * vector3_t(c.vx, c.vy, 0.0));
  }
  yaw_meas_ = yaw;
  scalar_t longest_period = 0.0;
  for (const Segment& segment : segments_) {
    if (!segment.gait.stand) longest_period = std::max(longest_period, segment.gait.period_s);
  }
  const scalar_t table_span = settings_.horizon_s + longest_period + 0.1;
  const auto table_size = static_cast<size_t>(std::ceil(table_span / base_table_dt_)) + 1;
  planSupportSway(time_s, table_size);
  // The commanded pose is held within reach of the robot (a push or a slip is not made up for
  // beyond that).
  // Gaps are taken from the base less the support shift planned for now.
  const vector3_t shift_now = bodyShiftAt(time_s);
  const vector3_t unshifted_base = base_pos_meas_ - shift_now;
  // The velocity the footholds correct is the base's less the planned shift's.
  base_vel_world_ -= (bodyShiftAt(time_s + kRateStep) - shift_now) / kRateStep;
  vector3_t gap = commanded_pos_ - unshifted_base;
  gap(2) = 0.0;
  if (gap.norm() > settings_.max_position_gap_m) gap *= settings_.max_position_gap_m / gap.norm();
  commanded_pos_ = unshifted_base + gap;
  const scalar_t yaw_gap = std::clamp(commanded_yaw_ - yaw_unwrapped_, -settings_.max_yaw_gap_rad,
                                      settings_.max_yaw_gap_rad);
  commanded_yaw_ = yaw_unwrapped_ + yaw_gap;
  position_gap_ = gap;
  yaw_gap_ = yaw_gap;
  plan_time_s_ = time_s;

  // Footholds: a foot that has just touched down is held where it landed, or on the estimated
  // ground when it is still above it. Where a foot stood at the end of its stance (loaded and
  // settled, unlike a foot at its planned touchdown) feeds the ground estimate.
  for (size_t i = 0; i < 4; ++i) {
    const bool stance = stanceAt(i, time_s);
    const vector3_t foot = model_.getFramePose(info_.foot_name[i]).translation();
    if (stance && !was_stance_[i]) {
      foothold_[i] = foot;
      foothold_[i](2) = std::min(foot(2), ground_.plane().heightAt(foot(0), foot(1)));
    }
    if (!stance && was_stance_[i]) ground_.addFoothold(i, last_stance_foot_[i]);
    if (stance) last_stance_foot_[i] = foot;
    was_stance_[i] = stance;
  }

  // Base positions: the ramped command, rotated by the planned yaw, integrated from the measured
  // pose at constant height, plus the gap to the commanded pose closed as 1 - exp(-rate t).
  // The table holds the base without the support shift: it starts from the measured base less
  // the shift planned for now.
  base_table_.assign(1, vector3_t(unshifted_base(0), unshifted_base(1), base_height_));
  yaw_table_.assign(1, yaw_unwrapped_);
  scalar_t yaw_ref = yaw_unwrapped_;
  const scalar_t decay = std::exp(-settings_.pose_tracking_rate * base_table_dt_);
  const vector3_t carried_velocity = velocityToCarry(time_s, R);
  // Its displacement over one grid step from grid point k - 1 (exact integral of the decay).
  const scalar_t carry_step =
      settings_.velocity_carry_time_s > 0.0
          ? settings_.velocity_carry_time_s *
                (1.0 - std::exp(-base_table_dt_ / settings_.velocity_carry_time_s))
          : 0.0;
  const scalar_t carry_decay = settings_.velocity_carry_time_s > 0.0
                                   ? std::exp(-base_table_dt_ / settings_.velocity_carry_time_s)
                                   : 0.0;
  scalar_t carry_share = 1.0;  // exp(-t / carry time) at grid point k - 1
  scalar_t remaining = 1.0;    // share of the gap still open at the grid point
  for (size_t k = 1; k < table_size; ++k) {
    const scalar_t s = time_s + static_cast<scalar_t>(k - 1) * base_table_dt_;
    const VelocityCommand c0 = commandAt(s);
    const VelocityCommand c1 = commandAt(s + base_table_dt_);
    const scalar_t closed = remaining * (1.0 - decay);
    remaining *= decay;
    const scalar_t yaw_mid =
        yaw_ref + 0.25 * base_table_dt_ * (c0.yaw_rate + c1.yaw_rate) + 0.5 * closed * yaw_gap_;
    const vector3_t v_mid =
        yawRotation(yaw_mid) * vector3_t(0.5 * (c0.vx + c1.vx), 0.5 * (c0.vy + c1.vy), 0.0);
    base_table_.push_back(base_table_.back() + base_table_dt_ * v_mid + closed * position_gap_ +
                          carry_share * carry_step * carried_velocity);
    carry_share *= carry_decay;
    yaw_ref += 0.5 * base_table_dt_ * (c0.yaw_rate + c1.yaw_rate) + closed * yaw_gap_;
    yaw_table_.push_back(yaw_ref);
  }
  // The base keeps its standing height above the estimated ground under it.
  for (vector3_t& p : base_table_)
    p(2) = ground_.plane().heightAt(p(0), p(1)) - ground_z_ + base_height_;

  // Knots: one more than the horizon needs, so that the base trajectory spans the full horizon.
  // The published yaw starts on the branch of the measured (wrapped) yaw: the controller takes
  // the orientation error modulo one turn only, so an unwrapped reference several turns away
  // would leave a full turn of error once the robot has turned more than half a turn.
  const scalar_t yaw_branch = yaw_unwrapped_ - yaw_meas_;
  const auto knots = static_cast<size_t>(std::round(settings_.horizon_s / settings_.knot_dt_s)) + 2;
  std::vector<scalar_t> times(knots);
  std::vector<vector_t> base(knots), rpy(knots);
  std::array<std::vector<vector_t>, 4> feet;
  for (size_t k = 0; k < knots; ++k) {
    times[k] = time_s + static_cast<scalar_t>(k) * settings_.knot_dt_s;
    base[k] = baseRefAt(times[k]) + bodyShiftAt(times[k]);
    rpy[k] = rpyRefAt(times[k], yaw_branch);
    for (size_t i = 0; i < 4; ++i) feet[i].push_back(footRefAt(i, times[k]));
  }
  const auto rate = [](const auto& f, scalar_t s) -> vector_t {
    return (f(s + kRateStep) - f(s)) / kRateStep;
  };
  const scalar_t end = times.back();
  const auto base_fn = [this](scalar_t s) { return vector3_t(baseRefAt(s) + bodyShiftAt(s)); };
  const auto yaw_fn = [this, yaw_branch](scalar_t s) { return rpyRefAt(s, yaw_branch); };

  auto trajectories = std::make_shared<TrajectoriesBuffer>();
  auto base_traj = std::make_shared<CubicSplineTrajectory>(times, base, rate(base_fn, time_s),
                                                           rate(base_fn, end - kRateStep));
  trajectories->set_base_pos_traj(base_traj);
  trajectories->set_base_pos_ref_traj(base_traj);
  trajectories->set_base_rpy_traj(std::make_shared<CubicSplineTrajectory>(
      times, rpy, rate(yaw_fn, time_s), rate(yaw_fn, end - kRateStep)));
  TrajectoriesBuffer::trajectory_map_t foot_map;
  for (size_t i = 0; i < 4; ++i) {
    const auto foot_fn = [this, i](scalar_t s) { return footRefAt(i, s); };
    foot_map[info_.foot_name[i]] = std::make_shared<CubicSplineTrajectory>(
        times, feet[i], rate(foot_fn, time_s), rate(foot_fn, end - kRateStep));
  }
  trajectories->set_foot_pos_traj(foot_map);

  if (settings_.plan_joint_positions)
    planJointPositions(times, base, rpy, feet, qpos, *trajectories);
  return PlannerOutput{buildSchedule(time_s), trajectories};
}

void GaitPlanner::planJointPositions(const std::vector<scalar_t>& times,
                                     const std::vector<vector_t>& base,
                                     const std::vector<vector_t>& rpy,
                                     const std::array<std::vector<vector_t>, 4>& feet,
                                     const vector_t& qpos, TrajectoriesBuffer& trajectories) {
  // Leg inverse kinematics of the foot references on the planned base pose, each knot started
  // from the previous one (the first from the measured joints).
  const size_t knots = times.size();
  const auto nJ = static_cast<Eigen::Index>(info_.joints_name.size());
  std::vector<vector_t> joints(knots);
  vector_t guess = qpos.tail(nJ);
  for (size_t k = 0; k < knots; ++k) {
    const std::array<vector3_t, 4> targets{feet[0][k], feet[1][k], feet[2][k], feet[3][k]};
    joints[k] = leg_ik_.solve(base[k], rpy[k], targets, guess);
    guess = joints[k];
  }
  const scalar_t first_dt = times[1] - times[0];
  const scalar_t last_dt = times[knots - 1] - times[knots - 2];
  trajectories.set_joint_pos_traj(std::make_shared<CubicSplineTrajectory>(
      times, joints, vector_t((joints[1] - joints[0]) / first_dt),
      vector_t((joints[knots - 1] - joints[knots - 2]) / last_dt)));
}

}  // namespace planner
}  // namespace velmora
