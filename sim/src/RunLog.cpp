#include "sim/RunLog.h"

#include <algorithm>
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
  return sample.base_pos(2) < kFallHeight || std::abs(sample.base_rpy(0)) > kFallAngle ||
         std::abs(sample.base_rpy(1)) > kFallAngle;
}

RunReport summarizeMotion(const std::vector<RunSample>& samples, bool body_touched_floor) {
  if (samples.empty()) throw std::invalid_argument("summarizeMotion: no samples");
  RunReport report;
  report.fell = body_touched_floor;
  const scalar_t t0 = samples.front().time_s;
  const scalar_t t1 = samples.back().time_s;
  report.duration_s = t1 - t0;
  const scalar_t half = t0 + 0.5 * report.duration_s;
  const scalar_t settle = report.duration_s > kSettleTime ? t0 + kSettleTime : t0;
  size_t n_half = 0, n_settled = 0;
  scalar_t height_sq = 0.0;
  // Commanded displacement: the command integrated along the measured heading.
  vector3_t commanded = vector3_t::Zero();
  for (size_t k = 0; k < samples.size(); ++k) {
    const RunSample& s = samples[k];
    report.fell = report.fell || isFallen(s);
    report.max_abs_roll = std::max(report.max_abs_roll, std::abs(s.base_rpy(0)));
    report.max_abs_pitch = std::max(report.max_abs_pitch, std::abs(s.base_rpy(1)));
    if (s.time_s >= half) {
      report.mean_vx += s.base_vel(0);
      report.mean_vy += s.base_vel(1);
      report.mean_yaw_rate += s.yaw_rate;
      ++n_half;
    }
    if (s.time_s >= settle) {
      height_sq += std::pow(s.base_pos(2) - s.height_ref, 2);
      ++n_settled;
    }
    if (k > 0) {
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
  const vector3_t moved = samples.back().base_pos - samples.front().base_pos;
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
      << "  \"mpc_ms\": " << timing(r.mpc_ms) << ",\n"
      << "  \"wbc_ms\": " << timing(r.wbc_ms) << ",\n"
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
         "plan_FL,plan_FR,plan_RL,plan_RR,contact_FL,contact_FR,contact_RL,contact_RR,mpc_ms,"
         "wbc_ms\n";
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
    out << ',' << number(s.mpc_ms) << ',' << number(s.wbc_ms) << '\n';
  }
}

namespace {

/// One panel of the plot: a set of series over time in a box.
struct Panel {
  std::string title;
  std::vector<std::pair<std::string, std::vector<scalar_t>>> series;  // colour, values
};

void writePanel(const Panel& panel, const std::vector<scalar_t>& time, double top,
                std::ostream& out) {
  const double left = 60, width = 840, height = 150;
  double lo = 1e300, hi = -1e300;
  for (const auto& s : panel.series) {
    for (const scalar_t v : s.second) {
      if (std::isfinite(v)) {
        lo = std::min(lo, v);
        hi = std::max(hi, v);
      }
    }
  }
  if (!(hi > lo)) {
    lo -= 1.0;
    hi += 1.0;
  }
  const double t0 = time.empty() ? 0.0 : time.front();
  const double t1 = time.empty() || time.back() <= t0 ? t0 + 1.0 : time.back();
  out << "<rect x=\"" << left << "\" y=\"" << top << "\" width=\"" << width << "\" height=\""
      << height << "\" fill=\"none\" stroke=\"#888\"/>\n";
  out << "<text x=\"" << left << "\" y=\"" << top - 5 << "\" font-size=\"13\">" << panel.title
      << "  [" << number(lo) << ", " << number(hi) << "]</text>\n";
  for (const auto& s : panel.series) {
    out << "<polyline fill=\"none\" stroke=\"" << s.first << "\" points=\"";
    for (size_t k = 0; k < time.size() && k < s.second.size(); ++k) {
      const double x = left + width * (time[k] - t0) / (t1 - t0);
      const double y = top + height * (1.0 - (s.second[k] - lo) / (hi - lo));
      out << std::setprecision(6) << x << ',' << y << ' ';
    }
    out << "\"/>\n";
  }
}

}  // namespace

void writePlotSvg(const std::vector<RunSample>& samples, const std::string& title,
                  std::ostream& out) {
  std::vector<scalar_t> time;
  Panel velocity{"vx (blue), vy (green), yaw rate (red); commands dashed-grey", {}};
  std::vector<scalar_t> vx, vy, wz, cvx, cvy, cwz, z, zref, roll, pitch;
  for (const RunSample& s : samples) {
    time.push_back(s.time_s);
    vx.push_back(s.base_vel(0));
    vy.push_back(s.base_vel(1));
    wz.push_back(s.yaw_rate);
    cvx.push_back(s.command(0));
    cvy.push_back(s.command(1));
    cwz.push_back(s.command(2));
    z.push_back(s.base_pos(2));
    zref.push_back(s.height_ref);
    roll.push_back(s.base_rpy(0));
    pitch.push_back(s.base_rpy(1));
  }
  velocity.series = {{"#1f77b4", vx},
                     {"#2ca02c", vy},
                     {"#d62728", wz},
                     {"#1f77b4\" stroke-dasharray=\"4 3", cvx},
                     {"#2ca02c\" stroke-dasharray=\"4 3", cvy},
                     {"#d62728\" stroke-dasharray=\"4 3", cwz}};
  const Panel height{"height [m] (blue), reference (grey)", {{"#1f77b4", z}, {"#999", zref}}};
  const Panel angles{"roll (blue), pitch (red) [rad]", {{"#1f77b4", roll}, {"#d62728", pitch}}};
  out << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"920\" height=\"900\" "
         "font-family=\"sans-serif\">\n<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  out << "<text x=\"60\" y=\"20\" font-size=\"15\">" << title << "</text>\n";
  writePanel(velocity, time, 50, out);
  writePanel(height, time, 240, out);
  writePanel(angles, time, 430, out);
  // Contact pattern: one row per foot, a bar where the foot touches the floor.
  const double top = 620, left = 60, width = 840, row = 40;
  out << "<text x=\"60\" y=\"" << top - 5
      << "\" font-size=\"13\">contact pattern (FL, FR, RL, RR; black = touching)</text>\n";
  const double t0 = time.empty() ? 0.0 : time.front();
  const double t1 = time.empty() || time.back() <= t0 ? t0 + 1.0 : time.back();
  for (size_t foot = 0; foot < 4; ++foot) {
    const double y = top + row * static_cast<double>(foot);
    out << "<rect x=\"" << left << "\" y=\"" << y << "\" width=\"" << width << "\" height=\""
        << row - 6 << "\" fill=\"#eee\"/>\n";
    for (size_t k = 0; k + 1 < samples.size(); ++k) {
      if (!samples[k].foot_contact[foot]) continue;
      const double x0 = left + width * (time[k] - t0) / (t1 - t0);
      const double x1 = left + width * (time[k + 1] - t0) / (t1 - t0);
      out << "<rect x=\"" << x0 << "\" y=\"" << y << "\" width=\"" << x1 - x0 + 0.05
          << "\" height=\"" << row - 6 << "\" fill=\"black\"/>\n";
    }
  }
  out << "</svg>\n";
}

void writeSummaryTable(const RunReport& r, std::ostream& out) {
  const auto line = [&out](const std::string& key, const std::string& value) {
    out << "  " << std::left << std::setw(18) << key << value << '\n';
  };
  const auto count = [&r](size_t value) {
    return r.optimisers_observed ? std::to_string(value)
                                 : std::string("null (in the controller's threads)");
  };
  out << "---------------- summary ----------------\n";
  line("fell", r.fell ? "yes" : "no");
  line("duration_s", number(r.duration_s));
  line("mean_vx", number(r.mean_vx));
  line("mean_vy", number(r.mean_vy));
  line("mean_yaw_rate", number(r.mean_yaw_rate));
  line("height_error_rms", number(r.height_error_rms));
  line("max_abs_roll", number(r.max_abs_roll));
  line("max_abs_pitch", number(r.max_abs_pitch));
  line("drift_m", number(r.drift_m));
  line("mpc_ms", "median " + number(r.mpc_ms.median) + ", max " + number(r.mpc_ms.max));
  line("wbc_ms", "median " + number(r.wbc_ms.median) + ", max " + number(r.wbc_ms.max));
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
  out << "-----------------------------------------\n";
}

}  // namespace sim
}  // namespace velmora
