#include "sim/RunLog.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <iomanip>
#include <sstream>
#include <stdexcept>

namespace velmora {
namespace sim {
namespace {

constexpr scalar_t kFallHeight = 0.15;
constexpr scalar_t kFallAngle = 0.8;
constexpr scalar_t kSettleTime = 2.0;

std::string number(scalar_t value) {
  if (!std::isfinite(value)) return "null";
  std::ostringstream text;
  text << std::setprecision(9) << value;
  return text.str();
}

std::string timing(const TimingSummary& t) {
  return "{\"median\": " + number(t.median) + ", \"max\": " + number(t.max) + "}";
}

/// The parts of a control cycle, in the order of report.json and of the summary.
std::array<std::pair<const char*, const TimingSummary*>, 4> cycleParts(const CycleTimings& t) {
  return {{{"planner", &t.planner},
           {"contact_force", &t.contact_force},
           {"whole_body", &t.whole_body},
           {"plant_step", &t.plant_step}}};
}

}  // namespace

TimingSummary TimingSummary::of(std::vector<scalar_t> values_ms) {
  TimingSummary summary;
  if (values_ms.empty()) return summary;
  const auto middle = values_ms.begin() + static_cast<std::ptrdiff_t>(values_ms.size() / 2);
  std::nth_element(values_ms.begin(), middle, values_ms.end());
  summary.median = *middle;
  summary.max = *std::max_element(values_ms.begin(), values_ms.end());
  return summary;
}

bool isFallen(const RunSample& sample) {
  return sample.base_pos(2) - sample.ground_z < kFallHeight ||
         std::abs(sample.base_rpy(0)) > kFallAngle || std::abs(sample.base_rpy(1)) > kFallAngle;
}

RunReport summarizeMotion(const std::vector<RunSample>& samples, bool body_touched_floor,
                          std::optional<scalar_t> from_s) {
  if (samples.empty()) throw std::invalid_argument("summarizeMotion: no samples");
  if (from_s && samples.back().time_s < *from_s) {
    throw std::invalid_argument("summarizeMotion: no sample at or after the start of the figures");
  }
  RunReport report;
  report.fell = body_touched_floor;
  const scalar_t t0 = samples.front().time_s;
  const scalar_t t1 = samples.back().time_s;
  report.duration_s = t1 - t0;
  const scalar_t half = from_s ? *from_s : t0 + 0.5 * report.duration_s;
  // The first sample of the figures of the whole run (drift, roll and pitch).
  const RunSample* first = &samples.front();
  for (const RunSample& s : samples) {
    if (!from_s || s.time_s >= *from_s) {
      first = &s;
      break;
    }
  }
  const scalar_t settle = report.duration_s > kSettleTime ? t0 + kSettleTime : t0;
  size_t n_half = 0, n_settled = 0;
  scalar_t height_sq = 0.0;
  // Commanded displacement: the command integrated along the measured heading.
  vector3_t commanded = vector3_t::Zero();
  for (size_t k = 0; k < samples.size(); ++k) {
    const RunSample& s = samples[k];
    report.fell = report.fell || isFallen(s);
    if (s.time_s >= settle) {
      height_sq += std::pow(s.base_pos(2) - s.height_ref, 2);
      ++n_settled;
    }
    if (s.time_s < first->time_s) continue;
    report.max_abs_roll = std::max(report.max_abs_roll, std::abs(s.base_rpy(0)));
    report.max_abs_pitch = std::max(report.max_abs_pitch, std::abs(s.base_rpy(1)));
    if (s.time_s >= half) {
      report.mean_vx += s.base_vel(0);
      report.mean_vy += s.base_vel(1);
      report.mean_yaw_rate += s.yaw_rate;
      ++n_half;
    }
    if (&s > first) {
      const scalar_t dt = s.time_s - samples[k - 1].time_s;
      const scalar_t yaw = samples[k - 1].base_rpy(2);
      const vector3_t& c = samples[k - 1].command;
      commanded(0) += dt * (std::cos(yaw) * c(0) - std::sin(yaw) * c(1));
      commanded(1) += dt * (std::sin(yaw) * c(0) + std::cos(yaw) * c(1));
    }
  }
  if (n_half > 0) {
    report.mean_vx /= static_cast<scalar_t>(n_half);
    report.mean_vy /= static_cast<scalar_t>(n_half);
    report.mean_yaw_rate /= static_cast<scalar_t>(n_half);
  }
  if (n_settled > 0)
    report.height_error_rms = std::sqrt(height_sq / static_cast<scalar_t>(n_settled));
  const vector3_t moved = samples.back().base_pos - first->base_pos;
  report.drift_m = std::hypot(moved(0) - commanded(0), moved(1) - commanded(1));
  return report;
}

void writeReportJson(const RunReport& r, std::ostream& out) {
  const auto count = [&r](size_t value) {
    return r.optimisers_observed ? std::to_string(value) : std::string("null");
  };
  out << "{\n"
      << "  \"fell\": " << (r.fell ? "true" : "false") << ",\n"
      << "  \"duration_s\": " << number(r.duration_s) << ",\n"
      << "  \"mean_vx\": " << number(r.mean_vx) << ",\n"
      << "  \"mean_vy\": " << number(r.mean_vy) << ",\n"
      << "  \"mean_yaw_rate\": " << number(r.mean_yaw_rate) << ",\n"
      << "  \"height_error_rms\": " << number(r.height_error_rms) << ",\n"
      << "  \"max_abs_roll\": " << number(r.max_abs_roll) << ",\n"
      << "  \"max_abs_pitch\": " << number(r.max_abs_pitch) << ",\n"
      << "  \"drift_m\": " << number(r.drift_m) << ",\n"
      << "  \"timing_ms\": {";
  const char* separator = "";
  for (const auto& [name, summary] : cycleParts(r.timing_ms)) {
    out << separator << '"' << name << "\": " << timing(*summary);
    separator = ", ";
  }
  out << "},\n"
      << "  \"messages\": " << r.messages << ",\n"
      << "  \"mpc_failures\": " << count(r.mpc_failures) << ",\n"
      << "  \"wbc_failures\": " << count(r.wbc_failures) << ",\n"
      << "  \"faults\": [";
  for (size_t k = 0; k < r.faults.size(); ++k) {
    const FaultRecord& fault = r.faults[k];
    out << (k == 0 ? "" : ", ") << "{\"name\": \"" << faultName(fault.spec.kind)
        << "\", \"at_s\": " << number(fault.spec.start_s) << ", \"events\": " << fault.events
        << "}";
  }
  out << "],\n"
      << "  \"safe_command_cycles\": " << r.safe_command_cycles << ",\n"
      << "  \"optimiser_exceptions\": " << count(r.optimiser_exceptions) << ",\n"
      << "  \"non_finite_messages\": " << r.non_finite_messages << ",\n"
      << "  \"wall_s\": " << number(r.wall_s) << "\n"
      << "}\n";
}

void writeLogCsv(const std::vector<RunSample>& samples, std::ostream& out) {
  out << "time_s,x,y,z,roll,pitch,yaw,vx,vy,vz,yaw_rate,cmd_vx,cmd_vy,cmd_yaw_rate,height_ref,"
         "plan_FL,plan_FR,plan_RL,plan_RR,contact_FL,contact_FR,contact_RL,contact_RR,fz_FL,fz_FR,"
         "fz_RL,fz_RR,mpc_ms,wbc_ms\n";
  for (const RunSample& s : samples) {
    out << number(s.time_s);
    for (const vector3_t* v : {&s.base_pos, &s.base_rpy, &s.base_vel}) {
      for (int k = 0; k < 3; ++k) out << ',' << number((*v)(k));
    }
    out << ',' << number(s.yaw_rate);
    for (int k = 0; k < 3; ++k) out << ',' << number(s.command(k));
    out << ',' << number(s.height_ref);
    for (const bool b : s.planned_stance) out << ',' << (b ? 1 : 0);
    for (const bool b : s.foot_contact) out << ',' << (b ? 1 : 0);
    for (const scalar_t f : s.foot_force_z) out << ',' << number(f);
    out << ',' << number(s.mpc_ms) << ',' << number(s.wbc_ms) << '\n';
  }
}

std::vector<std::pair<std::string, std::string>> summaryRows(const RunReport& r) {
  std::vector<std::pair<std::string, std::string>> rows;
  const auto line = [&rows](const std::string& key, const std::string& value) {
    rows.emplace_back(key, value);
  };
  const auto count = [&r](size_t value) {
    return r.optimisers_observed ? std::to_string(value)
                                 : std::string("null (in the controller's threads)");
  };
  line("fell", r.fell ? "yes" : "no");
  line("duration_s", number(r.duration_s));
  line("mean_vx", number(r.mean_vx));
  line("mean_vy", number(r.mean_vy));
  line("mean_yaw_rate", number(r.mean_yaw_rate));
  line("height_error_rms", number(r.height_error_rms));
  line("max_abs_roll", number(r.max_abs_roll));
  line("max_abs_pitch", number(r.max_abs_pitch));
  line("drift_m", number(r.drift_m));
  for (const auto& [name, summary] : cycleParts(r.timing_ms)) {
    const std::string figures =
        std::isfinite(summary->median)
            ? "median " + number(summary->median) + ", max " + number(summary->max)
            : std::string("null (in the controller's threads)");
    line(std::string(name) + "_ms", figures);
  }
  line("messages", std::to_string(r.messages));
  line("mpc_failures", count(r.mpc_failures));
  line("wbc_failures", count(r.wbc_failures));
  for (const FaultRecord& fault : r.faults) {
    line("fault", faultName(fault.spec.kind) + " at " + number(fault.spec.start_s) + " s, " +
                      std::to_string(fault.events) + " events");
  }
  if (!r.faults.empty()) {
    line("safe_command_cycles", std::to_string(r.safe_command_cycles));
    line("optimiser_exceptions", count(r.optimiser_exceptions));
    line("non_finite_messages", std::to_string(r.non_finite_messages));
  }
  line("wall_s", number(r.wall_s));
  return rows;
}

void writeSummaryTable(const RunReport& report, std::ostream& out) {
  out << "---------------- summary ----------------\n";
  // Values line up one column after the longest key.
  const auto rows = summaryRows(report);
  size_t key_width = 0;
  for (const auto& row : rows) key_width = std::max(key_width, row.first.size());
  for (const auto& row : rows) {
    out << "  " << std::left << std::setw(static_cast<int>(key_width + 1)) << row.first
        << row.second << '\n';
  }
  out << "-----------------------------------------\n";
}

}  // namespace sim
}  // namespace velmora
