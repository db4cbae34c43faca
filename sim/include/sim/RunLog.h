#pragma once

// What a simulated run records and the figures it is judged by.
//
// Samples are taken on the simulation time axis [s]; positions in world [m]; velocities in the
// heading frame (world axes turned by the measured yaw) [m/s]; angles [rad].

#include <array>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "core/Types.h"
#include "sim/FaultInjector.h"

namespace velmora {
namespace sim {

/// One logged instant of a run.
struct RunSample {
  scalar_t time_s = 0.0;
  vector3_t base_pos = vector3_t::Zero();  ///< world [m]
  scalar_t ground_z = 0.0;                 ///< height of the ground under the base [m]
  vector3_t base_rpy = vector3_t::Zero();  ///< roll, pitch, yaw [rad]
  vector3_t base_vel = vector3_t::Zero();  ///< heading frame [m/s]
  scalar_t yaw_rate = 0.0;                 ///< world z [rad/s]
  vector3_t command = vector3_t::Zero();   ///< vx, vy [m/s] (heading frame), yaw rate [rad/s]
  std::array<bool, 4> planned_stance{};    ///< stance flags of the gait, foot order
  std::array<bool, 4> foot_contact{};      ///< feet touching the floor, foot order
  std::array<scalar_t, 4> foot_force_z{};  ///< vertical floor force on each foot, up [N]
  scalar_t height_ref = 0.0;               ///< base height reference [m]
  scalar_t mpc_ms = 0.0;                   ///< last contact force optimisation time [ms]
  scalar_t wbc_ms = 0.0;                   ///< last whole-body controller time [ms]
};

/// Median and maximum of a set of durations [ms] (zero when empty).
struct TimingSummary {
  scalar_t median = 0.0;
  scalar_t max = 0.0;
  static TimingSummary of(std::vector<scalar_t> values_ms);
};

/// Per-cycle wall times [ms] of the four parts of a control cycle. A part the run cannot see
/// (the optimisers inside the controller's threads, in real time) has not-a-number figures.
struct CycleTimings {
  TimingSummary planner;        ///< the host's gait planner (schedule and references)
  TimingSummary contact_force;  ///< the contact force optimisation (body MPC)
  TimingSummary whole_body;     ///< the whole-body controller (one QP)
  TimingSummary plant_step;     ///< one step of the simulated plant
};

/// The figures of a run, as written to report.json.
struct RunReport {
  bool fell = false;
  scalar_t duration_s = 0.0;
  scalar_t mean_vx = 0.0;           ///< second half, heading frame [m/s]
  scalar_t mean_vy = 0.0;           ///< second half, heading frame [m/s]
  scalar_t mean_yaw_rate = 0.0;     ///< second half [rad/s]
  scalar_t height_error_rms = 0.0;  ///< after the first 2 s (all samples if shorter) [m]
  scalar_t max_abs_roll = 0.0;
  scalar_t max_abs_pitch = 0.0;
  scalar_t drift_m = 0.0;  ///< horizontal end position minus start minus commanded displacement
  CycleTimings timing_ms;
  size_t messages = 0;
  size_t mpc_failures = 0;
  size_t wbc_failures = 0;
  /// False when the optimisers ran out of the run's sight (inside the controller's threads, in
  /// real time): their times and failure counts are then written as null.
  bool optimisers_observed = true;
  scalar_t wall_s = 0.0;
  std::vector<FaultRecord> faults;  ///< injected faults and how often each acted
  /// Lockstep: publications in which the stale-command rule sent the damping command instead
  /// of the controller's. Real time (the plant sees only messages): applied messages that are a
  /// damping command, the rule's or the whole-body controller's own for rejected references.
  size_t safe_command_cycles = 0;
  size_t optimiser_exceptions = 0;  ///< optimiser cycles that threw (lockstep)
  size_t non_finite_messages = 0;   ///< applied messages with a NaN or infinite value
};

/// True when the sample shows a fallen robot: trunk less than 0.15 m above the ground under it,
/// or roll or pitch beyond 0.8 rad.
bool isFallen(const RunSample& sample);

/// The motion figures of `samples` (fell, duration, means, errors, drift); the caller fills the
/// timing, message and failure counts. `fell` is also set by isFallen on any sample. With
/// `from_s`, the means, the largest roll and pitch and the drift are those of the samples from
/// that time [s] on (the means otherwise cover the second half).
/// @throws std::invalid_argument when `samples` is empty or none lies at or after `from_s`.
RunReport summarizeMotion(const std::vector<RunSample>& samples, bool body_touched_floor,
                          std::optional<scalar_t> from_s = std::nullopt);

/// report.json with exactly the keys of RunReport.
void writeReportJson(const RunReport& report, std::ostream& out);
/// log.csv: one header line, then one line per sample.
void writeLogCsv(const std::vector<RunSample>& samples, std::ostream& out);
/// The figures of `report` as (name, value) rows in the order of report.json (the fault counts
/// only when faults were injected): the rows of the summary table and of the report page.
std::vector<std::pair<std::string, std::string>> summaryRows(const RunReport& report);
/// The end-of-run summary table.
void writeSummaryTable(const RunReport& report, std::ostream& out);

}  // namespace sim
}  // namespace velmora
