#include "sim/GaitPlanner.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "pinocchio/Orientation.h"

namespace velmora {
namespace sim {
namespace {

constexpr scalar_t kInfinity = std::numeric_limits<scalar_t>::infinity();
/// Step of the finite differences that give the end rates of the foot splines [s].
constexpr scalar_t kRateStep = 1e-4;

matrix3_t yawRotation(scalar_t yaw) {
  return Eigen::AngleAxisd(yaw, vector3_t::UnitZ()).toRotationMatrix();
}

scalar_t wrapToPi(scalar_t angle) { return std::remainder(angle, 2.0 * M_PI); }

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
}

void GaitPlanner::setCommand(const Gait& gait, const VelocityCommand& command) {
  if (gait_.stand && !gait.stand) gait_start_pending_ = true;
  gait_ = gait;
  command_ = command;
}

VelocityCommand GaitPlanner::commandAt(scalar_t time_s) const {
  if (gait_.stand) return VelocityCommand{};
  const scalar_t ramp =
      settings_.command_ramp_s > 0.0
          ? std::clamp((time_s - gait_start_s_) / settings_.command_ramp_s, 0.0, 1.0)
          : (time_s >= gait_start_s_ ? 1.0 : 0.0);
  return VelocityCommand{ramp * command_.vx, ramp * command_.vy, ramp * command_.yaw_rate};
}

scalar_t GaitPlanner::nextSwingStart(size_t foot, scalar_t time_s) const {
  if (gait_.stand) return kInfinity;
  const scalar_t period = gait_.period_s;
  const scalar_t swing = gait_.swing_fraction * period;
  const scalar_t first = gait_start_s_ + gait_.swing_offset[foot] * period;
  scalar_t n = std::max(0.0, std::floor((time_s - swing - first) / period));
  scalar_t start = first + n * period;
  while (start + swing <= time_s) start += period;
  return start;
}

bool GaitPlanner::stanceAt(size_t foot, scalar_t time_s) const {
  return time_s < nextSwingStart(foot, time_s);
}

size_t GaitPlanner::modeAt(scalar_t time_s) const {
  size_t mode = 0;
  for (size_t i = 0; i < 4; ++i) {
    if (stanceAt(i, time_s)) mode |= (8u >> i);
  }
  return mode;
}

std::shared_ptr<ModeSchedule> GaitPlanner::buildSchedule(scalar_t time_s) const {
  const scalar_t horizon = settings_.horizon_s;
  std::vector<scalar_t> events;
  if (!gait_.stand) {
    const scalar_t swing = gait_.swing_fraction * gait_.period_s;
    for (size_t i = 0; i < 4; ++i) {
      for (scalar_t a = nextSwingStart(i, time_s); a < time_s + horizon; a += gait_.period_s) {
        for (const scalar_t e : {a, a + swing}) {
          if (e > time_s + 1e-9 && e < time_s + horizon - 1e-9) events.push_back(e);
        }
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
  const scalar_t x = std::max(0.0, (time_s - plan_time_s_) / base_table_dt_);
  const auto last = static_cast<scalar_t>(yaw_table_.size() - 1);
  if (x >= last) return yaw_table_.back();
  const auto k = static_cast<size_t>(x);
  const scalar_t w = x - static_cast<scalar_t>(k);
  return (1.0 - w) * yaw_table_[k] + w * yaw_table_[k + 1];
}

vector3_t GaitPlanner::baseRefAt(scalar_t time_s) const {
  if (base_table_.empty()) return vector3_t(0.0, 0.0, base_height_);
  const scalar_t x = std::max(0.0, (time_s - plan_time_s_) / base_table_dt_);
  const auto last = static_cast<scalar_t>(base_table_.size() - 1);
  if (x >= last) return base_table_.back();
  const auto k = static_cast<size_t>(x);
  const scalar_t w = x - static_cast<scalar_t>(k);
  return (1.0 - w) * base_table_[k] + w * base_table_[k + 1];
}

vector3_t GaitPlanner::raibertFoothold(size_t foot, scalar_t touchdown_s) const {
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
  const scalar_t stance_s = gait_.period_s * (1.0 - gait_.swing_fraction);
  vector3_t foothold =
      baseRefAt(touchdown_s) + offset + 0.5 * stance_s * v_cmd + settings_.raibert_gain * v_error;
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
  if (gait_.stand) return from;
  const scalar_t swing = gait_.swing_fraction * gait_.period_s;
  for (scalar_t a = nextSwingStart(foot, plan_time_s_);; a += gait_.period_s) {
    if (time_s < a) return from;
    const scalar_t b = a + swing;
    const vector3_t to = raibertFoothold(foot, b);
    if (time_s < b) {
      const scalar_t u = (time_s - a) / swing;
      const scalar_t blend = u * u * (3.0 - 2.0 * u);
      // Higher swings where the touchdowns show uneven ground.
      const scalar_t apex = settings_.swing_apex_m +
                            std::min(settings_.max_swing_apex_raise_m,
                                     settings_.swing_apex_roughness_gain * ground_.roughness());
      vector3_t p = from + blend * (to - from);
      p(2) += apex * 16.0 * u * u * (1.0 - u) * (1.0 - u);
      return p;
    }
    from = to;
  }
}

PlannerOutput GaitPlanner::plan(scalar_t time_s, const vector_t& qpos, const vector_t& qvel) {
  const auto nJ = static_cast<Eigen::Index>(info_.joints_name.size());
  if (qpos.size() != 7 + nJ || qvel.size() != 6 + nJ || !qpos.allFinite() || !qvel.allFinite()) {
    throw std::invalid_argument(
        "GaitPlanner::plan: the measured state has the wrong size or a "
        "non-finite entry");
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
  // The commanded pose is held within reach of the robot (a push or a slip is not made up for
  // beyond that).
  vector3_t gap = commanded_pos_ - base_pos_meas_;
  gap(2) = 0.0;
  if (gap.norm() > settings_.max_position_gap_m) gap *= settings_.max_position_gap_m / gap.norm();
  commanded_pos_ = base_pos_meas_ + gap;
  const scalar_t yaw_gap = std::clamp(commanded_yaw_ - yaw_unwrapped_, -settings_.max_yaw_gap_rad,
                                      settings_.max_yaw_gap_rad);
  commanded_yaw_ = yaw_unwrapped_ + yaw_gap;
  position_gap_ = gap;
  yaw_gap_ = yaw_gap;
  if (gait_start_pending_) {
    gait_start_s_ = time_s + settings_.stand_before_gait_s;
    gait_start_pending_ = false;
  }
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
  const scalar_t table_span = settings_.horizon_s + gait_.period_s + 0.1;
  const auto table_size = static_cast<size_t>(std::ceil(table_span / base_table_dt_)) + 1;
  base_table_.assign(1, vector3_t(base_pos_meas_(0), base_pos_meas_(1), base_height_));
  yaw_table_.assign(1, yaw_unwrapped_);
  scalar_t yaw_ref = yaw_unwrapped_;
  const scalar_t decay = std::exp(-settings_.pose_tracking_rate * base_table_dt_);
  scalar_t remaining = 1.0;  // share of the gap still open at the grid point
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
    base_table_.push_back(base_table_.back() + base_table_dt_ * v_mid + closed * position_gap_);
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
    base[k] = baseRefAt(times[k]);
    rpy[k] = rpyRefAt(times[k], yaw_branch);
    for (size_t i = 0; i < 4; ++i) feet[i].push_back(footRefAt(i, times[k]));
  }
  const auto rate = [](const auto& f, scalar_t s) -> vector_t {
    return (f(s + kRateStep) - f(s)) / kRateStep;
  };
  const scalar_t end = times.back();
  const auto base_fn = [this](scalar_t s) { return baseRefAt(s); };
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

  // Joint positions: leg inverse kinematics of the foot references on the planned base pose,
  // each knot started from the previous one (the first from the measured joints).
  std::vector<vector_t> joints(knots);
  vector_t guess = qpos.tail(nJ);
  for (size_t k = 0; k < knots; ++k) {
    const std::array<vector3_t, 4> targets{feet[0][k], feet[1][k], feet[2][k], feet[3][k]};
    joints[k] = leg_ik_.solve(base[k], rpy[k], targets, guess);
    guess = joints[k];
  }
  const scalar_t first_dt = times[1] - times[0];
  const scalar_t last_dt = times[knots - 1] - times[knots - 2];
  trajectories->set_joint_pos_traj(std::make_shared<CubicSplineTrajectory>(
      times, joints, vector_t((joints[1] - joints[0]) / first_dt),
      vector_t((joints[knots - 1] - joints[knots - 2]) / last_dt)));

  return PlannerOutput{buildSchedule(time_s), trajectories};
}

}  // namespace sim
}  // namespace velmora
