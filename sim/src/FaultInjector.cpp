#include "sim/FaultInjector.h"

#include <array>
#include <cmath>
#include <limits>
#include <utility>

#include "core/misc/Numerics.h"
#include "sim/SimOptions.h"

namespace velmora {
namespace sim {
namespace {

constexpr std::array<std::pair<FaultKind, const char*>, 9> kFaultNames{{
    {FaultKind::kNanState, "nan_state"},
    {FaultKind::kFrozenState, "frozen_state"},
    {FaultKind::kMissingRefs, "missing_refs"},
    {FaultKind::kBadMode, "bad_mode"},
    {FaultKind::kShortBaseTraj, "short_base_traj"},
    {FaultKind::kMpcFail, "mpc_fail"},
    {FaultKind::kDropCmds, "drop_cmds"},
    {FaultKind::kCmdLatency, "cmd_latency"},
    {FaultKind::kEncoderNoise, "encoder_noise"},
}};

/// Tolerance on times compared with fault windows [s] (well below the plant's 1 ms step).
constexpr double kTimeTolerance = 1e-9;

bool started(const FaultSpec& spec, double t) { return t + kTimeTolerance >= spec.start_s; }

bool within(const FaultSpec& spec, double t, double length) {
  return started(spec, t) && t + kTimeTolerance < spec.start_s + length;
}

/// A copy of `schedule` whose mode at phase 0 is `mode`.
std::shared_ptr<ModeSchedule> withModeNow(const ModeSchedule& schedule, size_t mode) {
  std::vector<double> phases = schedule.eventPhases();
  std::vector<size_t> modes = schedule.modeSequence();
  const int index = schedule.getModeIndexFromPhase(0.0);
  if (index >= 0 && static_cast<size_t>(index) < modes.size()) {
    modes[static_cast<size_t>(index)] = mode;
  }
  return std::make_shared<ModeSchedule>(schedule.duration(), phases, modes);
}

/// The first two coordinates of `trajectory` (x, y of a base position) on its own knots.
TrajectoriesBuffer::trajectory_ptr_t planarPart(const CubicSplineTrajectory& trajectory) {
  const std::vector<scalar_t>& times = trajectory.knotTimes();
  std::vector<vector_t> values;
  values.reserve(times.size());
  for (const scalar_t t : times) values.push_back(trajectory.evaluate(t).head(2));
  return std::make_shared<CubicSplineTrajectory>(times, values);
}

/// A reference set like `references` whose base position slots hold 2-dimensional trajectories.
std::shared_ptr<const TrajectoriesBuffer> withShortBase(const TrajectoriesBuffer& references) {
  auto altered = std::make_shared<TrajectoriesBuffer>();
  altered->set_base_rpy_traj(references.get_base_rpy_traj());
  altered->set_foot_rpy_traj(references.get_foot_rpy_traj());
  altered->set_foot_pos_traj(references.get_foot_pos_traj());
  altered->set_gripper_rpy_traj(references.get_gripper_rpy_traj());
  altered->set_gripper_pos_traj(references.get_gripper_pos_traj());
  altered->set_com_pos_traj(references.get_com_pos_traj());
  altered->set_angular_momentum_traj(references.get_angular_momentum_traj());
  altered->set_joint_pos_traj(references.get_joint_pos_traj());
  if (const auto base = references.get_base_pos_traj()) {
    altered->set_base_pos_traj(planarPart(*base));
  }
  if (const auto base_ref = references.get_base_pos_ref_traj()) {
    altered->set_base_pos_ref_traj(planarPart(*base_ref));
  }
  return altered;
}

}  // namespace

std::string faultName(FaultKind kind) {
  for (const auto& [k, name] : kFaultNames) {
    if (k == kind) return name;
  }
  return "unknown";
}

std::string faultNames() {
  std::string names;
  for (const auto& entry : kFaultNames) {
    if (!names.empty()) names += ", ";
    names += entry.second;
  }
  return names;
}

FaultSpec parseFaultSpec(const std::string& flag, const std::string& text) {
  const size_t at = text.find('@');
  if (at == std::string::npos) {
    throw UsageError("velmora_sim: " + flag + " expects NAME@SECONDS, got '" + text + "'");
  }
  const std::string name = text.substr(0, at);
  const std::string time = text.substr(at + 1);
  FaultSpec spec;
  bool known = false;
  for (const auto& [kind, fault_name] : kFaultNames) {
    if (name == fault_name) {
      spec.kind = kind;
      known = true;
    }
  }
  if (!known) {
    throw UsageError("velmora_sim: " + flag + ": unknown fault '" + name + "' in '" + text + "' (" +
                     faultNames() + ")");
  }
  const auto start = numerics::parseFiniteNumber(time);
  if (!start || *start < 0.0) {
    throw UsageError("velmora_sim: " + flag + ": the time of '" + text +
                     "' must be a finite number of seconds >= 0, got '" + time + "'");
  }
  spec.start_s = *start;
  return spec;
}

FaultInjector::FaultInjector(std::vector<FaultSpec> faults, unsigned seed)
    : spent_(faults.size(), false), random_(seed) {
  records_.reserve(faults.size());
  for (const FaultSpec& spec : faults) records_.push_back(FaultRecord{spec, 0});
}

void FaultInjector::measure(double t, vector_t& qpos) {
  std::normal_distribution<double> noise(0.0, kEncoderNoiseSigma);
  for (FaultRecord& record : records_) {
    if (record.spec.kind != FaultKind::kEncoderNoise || !started(record.spec, t)) continue;
    for (Eigen::Index j = 7; j < qpos.size(); ++j) qpos(j) += noise(random_);
    ++record.events;
  }
}

bool FaultInjector::statePushed(double t) {
  bool pushed = true;
  for (FaultRecord& record : records_) {
    if (record.spec.kind == FaultKind::kFrozenState &&
        within(record.spec, t, kFrozenStateDuration)) {
      pushed = false;
      ++record.events;
    }
  }
  return pushed;
}

void FaultInjector::corruptConsumedState(double t, vector_t& qpos) {
  for (size_t k = 0; k < records_.size(); ++k) {
    FaultRecord& record = records_[k];
    if (record.spec.kind != FaultKind::kNanState || spent_[k] || !started(record.spec, t)) {
      continue;
    }
    if (qpos.size() > 7) qpos(7) = std::numeric_limits<double>::quiet_NaN();
    spent_[k] = true;
    ++record.events;
  }
}

void FaultInjector::alterPlan(double t, std::shared_ptr<ModeSchedule>& schedule,
                              std::shared_ptr<const TrajectoriesBuffer>& references) {
  for (size_t k = 0; k < records_.size(); ++k) {
    FaultRecord& record = records_[k];
    switch (record.spec.kind) {
      case FaultKind::kMissingRefs:
        if (within(record.spec, t, kMissingRefsDuration)) {
          references.reset();
          ++record.events;
        }
        break;
      case FaultKind::kBadMode:
        if (!spent_[k] && started(record.spec, t) && schedule) {
          schedule = withModeNow(*schedule, kBadMode);
          spent_[k] = true;
          ++record.events;
        }
        break;
      case FaultKind::kShortBaseTraj:
        if (within(record.spec, t, kShortBaseTrajDuration) && references) {
          references = withShortBase(*references);
          ++record.events;
        }
        break;
      default:
        break;
    }
  }
}

bool FaultInjector::failOptimisation(double t) {
  bool fail = false;
  for (FaultRecord& record : records_) {
    if (record.spec.kind == FaultKind::kMpcFail && started(record.spec, t) &&
        record.events < kMpcFailCycles) {
      ++record.events;
      fail = true;
    }
  }
  return fail;
}

bool FaultInjector::dropCommand(double t) {
  bool drop = false;
  for (FaultRecord& record : records_) {
    if (record.spec.kind != FaultKind::kDropCmds || !started(record.spec, t)) continue;
    if (std::bernoulli_distribution(kDropProbability)(random_)) {
      ++record.events;
      drop = true;
    }
  }
  return drop;
}

double FaultInjector::commandDelay(double t) {
  double delay = 0.0;
  for (FaultRecord& record : records_) {
    if (record.spec.kind == FaultKind::kCmdLatency && started(record.spec, t)) {
      delay += kCommandLatency;
      ++record.events;
    }
  }
  return delay;
}

}  // namespace sim
}  // namespace velmora
