#pragma once

// The outcome of every run of a sweep (from parallel's job log and the run's report.json), the
// table of all runs (sweep.csv) and the per-family summary.

#include <filesystem>
#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sweep/ParallelLauncher.h"
#include "sweep/RunPlan.h"

namespace velmora::sweep {

/// What became of a run: velmora_sim's exit code 0 (ok), 3 (fell), 4 (an expect threshold
/// failed); anything else, a signal, a missing report or no run at all is an error.
enum class Outcome { kOk, kFell, kThreshold, kError };

/// The outcome's name in the tables: ok, fell, threshold, error.
const char* outcomeName(Outcome outcome);

/// One run's result: exit code (none when it did not run or was killed) and report figures.
struct RunResult {
  RunSpec run;
  Outcome outcome = Outcome::kError;
  std::optional<int> exit_code;
  std::string note;  ///< Why an error is one ("did not finish", "signal 9", ...).
  std::map<std::string, std::string> report;  ///< Flattened report.json (empty when none).
};

/// Per-family counts.
struct FamilySummary {
  std::string family;
  int runs = 0, ok = 0, fell = 0, threshold = 0, errors = 0;
  /// ok / runs.
  double successRate() const { return runs > 0 ? static_cast<double>(ok) / runs : 0.0; }
};

/// The result of each run, from the job log (by run index) and OUT/runs/<id>/report.json.
std::vector<RunResult> gatherResults(const std::vector<RunSpec>& runs,
                                     const std::map<int, JobResult>& joblog,
                                     const std::filesystem::path& runs_dir);

/// sweep.csv: run, family, every parameter, outcome, exit_code, note, the report figures (fell,
/// mean_vx, mean_vy, mean_yaw_rate, drift_m, max_abs_roll, max_abs_pitch, wall_s) and every
/// "*.median" timing present in some report.
void writeSweepCsv(const std::vector<RunResult>& results, std::ostream& out);

/// Counts per family, families in order of their first run.
std::vector<FamilySummary> summarize(const std::vector<RunResult>& results);

/// The summary as an aligned text table (stdout, summary.txt).
void writeSummaryTable(const std::vector<FamilySummary>& summary, std::ostream& out);

/// The summary as CSV (summary.csv): family, runs, ok, fell, threshold, error, success_rate.
void writeSummaryCsv(const std::vector<FamilySummary>& summary, std::ostream& out);

}  // namespace velmora::sweep
