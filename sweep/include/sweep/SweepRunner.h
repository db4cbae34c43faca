#pragma once

// A whole sweep: reads the sweep file and its base scenario, writes one scenario file per run
// (OUT/runs/<id>/<base>_<id>.info) and the command list (OUT/commands.txt), runs them through GNU
// parallel (job log OUT/joblog) and writes OUT/sweep.csv, OUT/summary.txt and OUT/summary.csv.

#include <filesystem>
#include <iosfwd>
#include <string>

namespace velmora::sweep {

/// What velmora_sweep was asked to do.
struct SweepOptions {
  std::filesystem::path sweep_file;
  std::filesystem::path out_dir;        ///< Results; created when missing.
  std::string sim;                      ///< velmora_sim (or a stand-in) to run.
  std::string parallel = "parallel";    ///< GNU parallel, by name on $PATH or by path.
  int jobs = 1;                         ///< Runs at a time (per machine).
  std::string sshloginfile;             ///< Remote machines for parallel (optional).
  std::filesystem::path scenarios_dir;  ///< Bundled scenarios (for `scenario NAME`).
  std::filesystem::path
      robots_dir;        ///< Bundled robots (velmora_sim resolves robot files here first).
  bool dry_run = false;  ///< Write scenarios and commands, run nothing.
};

/// Exit codes of a sweep.
enum SweepExit {
  kAllRan = 0,
  kRunErrors = 1,
  kBadInput = 2,
  kBelowMinSuccess = 4,
  kInterrupted = 130
};

/// Runs the sweep; prints the summary on `out`, problems on `err`. Returns kAllRan when every
/// run ran (whatever its outcome), kRunErrors when some could not, kBelowMinSuccess when all ran
/// but fewer passed than the sweep file's min_success_rate asks, kBadInput for a bad sweep
/// file, base scenario or missing program (parallel, the simulator), kInterrupted after Ctrl-C.
int runSweep(const SweepOptions& options, std::ostream& out, std::ostream& err);

}  // namespace velmora::sweep
