#include "sweep/SweepRunner.h"

#include <algorithm>
#include <fstream>
#include <ostream>
#include <stdexcept>
#include <vector>

#include "core/misc/InfoNode.h"
#include "sweep/ParallelLauncher.h"
#include "sweep/RunPlan.h"
#include "sweep/ScenarioVariant.h"
#include "sweep/SweepError.h"
#include "sweep/SweepResults.h"
#include "sweep/SweepSpec.h"

namespace velmora::sweep {
namespace {

namespace fs = std::filesystem;

/// A path (contains '/' or ends in .info) relative to the sweep file, else a bundled name.
fs::path baseScenarioPath(const SweepSpec& spec, const SweepOptions& options) {
  const std::string& name = spec.scenario;
  const bool is_path = name.find('/') != std::string::npos ||
                       (name.size() > 5 && name.compare(name.size() - 5, 5, ".info") == 0);
  const fs::path path =
      is_path ? options.sweep_file.parent_path() / name : options.scenarios_dir / (name + ".info");
  if (!fs::is_regular_file(path))
    throw SweepFileError(
        spec.file, spec.scenario_line,
        "'scenario': " + (is_path ? "no file " : "no bundled scenario '" + name + "' at ") +
            path.string());
  return path;
}

void writeFile(const fs::path& path, const std::string& text) {
  std::ofstream out(path);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

/// Whether the share of runs that passed reaches the sweep file's min_success_rate; says on
/// `err` by how much it misses.
bool meetsMinSuccessRate(const SweepSpec& spec, const std::vector<RunResult>& results,
                         std::ostream& err) {
  if (!spec.min_success_rate || results.empty()) return true;
  const auto passed = std::count_if(results.begin(), results.end(),
                                    [](const RunResult& r) { return r.outcome == Outcome::kOk; });
  const double rate = static_cast<double>(passed) / static_cast<double>(results.size());
  if (rate >= *spec.min_success_rate) return true;
  err << "velmora_sweep: " << passed << " of " << results.size()
      << " runs passed, fewer than min_success_rate " << *spec.min_success_rate << " asks ("
      << spec.file << ":" << spec.min_success_rate_line << ")\n";
  return false;
}

}  // namespace

int runSweep(const SweepOptions& options, std::ostream& out, std::ostream& err) {
  std::vector<RunSpec> runs;
  SweepSpec spec;
  InfoNode base;
  fs::path base_path;
  try {
    spec = readSweepSpec(options.sweep_file.string());
    base_path = baseScenarioPath(spec, options);
    base = readInfoFile(base_path.string());
    runs = expandRuns(spec, base);
  } catch (const SweepFileError& e) {
    err << "velmora_sweep: " << e.what() << '\n';
    return kBadInput;
  }
  const auto sim = findProgram(options.sim);
  const auto parallel = findProgram(options.parallel);
  if (!options.dry_run && (!sim || !parallel || !isGnuParallel(*parallel))) {
    err << "velmora_sweep: "
        << (!parallel ? "GNU parallel ('" + options.parallel +
                            "') is not installed or not on PATH (Debian: apt-get install parallel)"
            : !sim ? "the simulator '" + options.sim + "' is missing or not executable"
                   : "'" + *parallel + "' is not GNU parallel (--version)")
        << '\n';
    return kBadInput;
  }

  const fs::path out_dir = fs::absolute(options.out_dir);
  const fs::path runs_dir = out_dir / "runs";
  try {
    fs::remove_all(runs_dir);  // results of an earlier sweep into the same directory
    fs::remove(out_dir / "joblog");
    std::string commands;
    const ScenarioContext context{fs::absolute(base_path).parent_path(), options.robots_dir};
    for (const RunSpec& run : runs) {
      const fs::path dir = runs_dir / run.id;
      fs::create_directories(dir);
      // Named after the base and the run: velmora_sim reports the scenario by its file name.
      const fs::path file = dir / (base_path.stem().string() + "_" + run.id + ".info");
      std::ofstream scenario(file);
      scenario << "; run " << run.id << " of " << options.sweep_file.string() << " (base "
               << base_path.string() << "): " << run.family << '\n';
      writeInfo(makeRunScenario(base, run, spec.duration_s, context), scenario);
      if (!scenario) throw std::runtime_error("cannot write " + file.string());
      commands += shellQuote(sim ? fs::absolute(*sim).string() : options.sim) + " --scenario " +
                  shellQuote(file.string()) + (spec.lockstep ? " --lockstep" : "") +
                  " --quiet --out " + shellQuote(dir.string()) + " > " +
                  shellQuote((dir / "sim.log").string()) + " 2>&1\n";
    }
    writeFile(out_dir / "commands.txt", commands);
  } catch (const std::exception& e) {
    err << "velmora_sweep: " << e.what() << '\n';
    return kRunErrors;
  }
  out << runs.size() << " runs written to " << runs_dir.string() << '\n';
  if (options.dry_run) return kAllRan;

  ParallelOutcome ran;
  try {
    ran = runParallel({*parallel, options.jobs, options.sshloginfile, out_dir / "commands.txt",
                       out_dir / "joblog"});
  } catch (const std::exception& e) {
    err << "velmora_sweep: " << e.what() << '\n';
    return kRunErrors;
  }
  const std::vector<RunResult> results =
      gatherResults(runs, readJoblog(out_dir / "joblog"), runs_dir);
  const std::vector<FamilySummary> summary = summarize(results);
  std::ofstream csv(out_dir / "sweep.csv"), table(out_dir / "summary.txt"),
      summary_csv(out_dir / "summary.csv");
  writeSweepCsv(results, csv);
  writeSummaryTable(summary, table);
  writeSummaryCsv(summary, summary_csv);
  writeSummaryTable(summary, out);
  int errors = 0;
  for (const RunResult& r : results) {
    if (r.outcome != Outcome::kError) continue;
    if (++errors <= 5) err << "velmora_sweep: run " << r.run.id << ": " << r.note << '\n';
  }
  if (errors > 5) err << "velmora_sweep: ... " << errors - 5 << " more errors\n";
  out << "results: " << (out_dir / "sweep.csv").string() << '\n';
  if (ran.interrupted) {
    err << "velmora_sweep: interrupted\n";
    return kInterrupted;
  }
  if (ran.exit_status < 0 || ran.exit_status >= 255)
    err << "velmora_sweep: parallel failed (exit status " << ran.exit_status << ")\n";
  if (errors > 0) return kRunErrors;
  return meetsMinSuccessRate(spec, results, err) ? kAllRan : kBelowMinSuccess;
}

}  // namespace velmora::sweep
