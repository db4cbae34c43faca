#include "sweep/SweepResults.h"

#include <algorithm>
#include <cstdio>
#include <iomanip>
#include <ostream>
#include <set>

#include "sweep/ReportJson.h"

namespace velmora::sweep {
namespace {

const std::vector<std::string> kFigures = {"fell",          "mean_vx", "mean_vy",
                                           "mean_yaw_rate", "drift_m", "max_abs_roll",
                                           "max_abs_pitch", "wall_s"};

std::string csvField(const std::string& text) {
  if (text.find_first_of(",\"\n") == std::string::npos) return text;
  std::string out = "\"";
  for (const char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

}  // namespace

const char* outcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::kOk:
      return "ok";
    case Outcome::kFell:
      return "fell";
    case Outcome::kThreshold:
      return "threshold";
    case Outcome::kError:
      break;
  }
  return "error";
}

std::vector<RunResult> gatherResults(const std::vector<RunSpec>& runs,
                                     const std::map<int, JobResult>& joblog,
                                     const std::filesystem::path& runs_dir) {
  std::vector<RunResult> results;
  for (const RunSpec& run : runs) {
    RunResult result;
    result.run = run;
    if (auto report = readReportJson((runs_dir / run.id / "report.json").string()))
      result.report = std::move(*report);
    const auto job = joblog.find(run.index);
    if (job == joblog.end()) {
      result.note = "did not finish (not in the job log)";
    } else if (job->second.signal != 0) {
      result.note = "signal " + std::to_string(job->second.signal);
    } else {
      const int code = job->second.exit_value;
      result.exit_code = code;
      if (code == 0 || code == 3 || code == 4) {
        result.outcome = code == 0   ? Outcome::kOk
                         : code == 3 ? Outcome::kFell
                                     : Outcome::kThreshold;
        if (result.report.empty()) {
          result.outcome = Outcome::kError;
          result.note = "no readable report.json";
        }
      } else {
        result.note = "exit code " + std::to_string(code) + " (see sim.log)";
      }
    }
    results.push_back(std::move(result));
  }
  return results;
}

void writeSweepCsv(const std::vector<RunResult>& results, std::ostream& out) {
  std::set<std::string> medians;
  for (const RunResult& r : results)
    for (const auto& [key, value] : r.report)
      if (key.size() > 7 && key.compare(key.size() - 7, 7, ".median") == 0) medians.insert(key);
  std::vector<std::string> parameters;
  if (!results.empty())
    for (const auto& [path, value] : results.front().run.values) parameters.push_back(path);

  out << "run,family";
  for (const std::string& p : parameters) out << ',' << csvField(p);
  out << ",outcome,exit_code,note";
  for (const std::string& f : kFigures) out << ',' << f;
  for (const std::string& m : medians) out << ',' << csvField(m);
  out << '\n';
  for (const RunResult& r : results) {
    out << r.run.id << ',' << csvField(r.run.family);
    for (const auto& [path, value] : r.run.values) out << ',' << csvField(value);
    out << ',' << outcomeName(r.outcome) << ','
        << (r.exit_code ? std::to_string(*r.exit_code) : std::string()) << ',' << csvField(r.note);
    std::vector<std::string> columns = kFigures;
    columns.insert(columns.end(), medians.begin(), medians.end());
    for (const std::string& key : columns) {
      const auto it = r.report.find(key);
      out << ',' << (it == r.report.end() ? std::string() : csvField(it->second));
    }
    out << '\n';
  }
}

std::vector<FamilySummary> summarize(const std::vector<RunResult>& results) {
  std::vector<FamilySummary> summary;
  for (const RunResult& r : results) {
    auto it = std::find_if(summary.begin(), summary.end(),
                           [&r](const FamilySummary& s) { return s.family == r.run.family; });
    if (it == summary.end()) {
      summary.push_back({r.run.family});
      it = summary.end() - 1;
    }
    ++it->runs;
    it->ok += r.outcome == Outcome::kOk;
    it->fell += r.outcome == Outcome::kFell;
    it->threshold += r.outcome == Outcome::kThreshold;
    it->errors += r.outcome == Outcome::kError;
  }
  return summary;
}

void writeSummaryTable(const std::vector<FamilySummary>& summary, std::ostream& out) {
  size_t width = 6;
  for (const FamilySummary& s : summary) width = std::max(width, s.family.size());
  const auto row = [&out, width](const std::string& family, const std::string& runs,
                                 const std::string& ok, const std::string& fell,
                                 const std::string& threshold, const std::string& errors,
                                 const std::string& rate) {
    out << std::left << std::setw(static_cast<int>(width)) << family << std::right << std::setw(6)
        << runs << std::setw(6) << ok << std::setw(6) << fell << std::setw(11) << threshold
        << std::setw(7) << errors << std::setw(9) << rate << '\n';
  };
  row("family", "runs", "ok", "fell", "threshold", "error", "success");
  FamilySummary total{"total"};
  for (const FamilySummary& s : summary) {
    char rate[16];
    std::snprintf(rate, sizeof rate, "%.0f%%", 100.0 * s.successRate());
    row(s.family, std::to_string(s.runs), std::to_string(s.ok), std::to_string(s.fell),
        std::to_string(s.threshold), std::to_string(s.errors), rate);
    total.runs += s.runs;
    total.ok += s.ok;
    total.fell += s.fell;
    total.threshold += s.threshold;
    total.errors += s.errors;
  }
  if (summary.size() > 1) {
    char rate[16];
    std::snprintf(rate, sizeof rate, "%.0f%%", 100.0 * total.successRate());
    row("total", std::to_string(total.runs), std::to_string(total.ok), std::to_string(total.fell),
        std::to_string(total.threshold), std::to_string(total.errors), rate);
  }
}

void writeSummaryCsv(const std::vector<FamilySummary>& summary, std::ostream& out) {
  out << "family,runs,ok,fell,threshold,error,success_rate\n";
  for (const FamilySummary& s : summary)
    out << csvField(s.family) << ',' << s.runs << ',' << s.ok << ',' << s.fell << ',' << s.threshold
        << ',' << s.errors << ',' << s.successRate() << '\n';
}

}  // namespace velmora::sweep
