#include "sim/ExpectationCheck.h"

#include <cmath>
#include <sstream>

namespace velmora {
namespace sim {

std::vector<std::string> unmetExpectations(const ScenarioExpectations& expect,
                                           const std::vector<RunSample>& samples, bool fell) {
  std::vector<std::string> unmet;
  if (!expect.present) return unmet;
  if (expect.no_fall && fell) unmet.push_back("no_fall: the robot fell");
  if (samples.empty() || (expect.from_s && samples.back().time_s < *expect.from_s)) {
    std::ostringstream line;
    line << "from_s: the run ended before " << expect.from_s.value_or(0.0) << " s";
    unmet.push_back(line.str());
    return unmet;
  }
  const RunReport figures = summarizeMotion(samples, false, expect.from_s);
  const auto check = [&unmet](const char* name, double measured, const ExpectedFigure& expected) {
    const double bound =
        expected.relative ? expected.tolerance * std::abs(expected.value) : expected.tolerance;
    if (std::abs(measured - expected.value) <= bound) return;
    std::ostringstream line;
    line << name << ": measured " << measured << ", expected " << expected.value << " +- " << bound;
    unmet.push_back(line.str());
  };
  const auto limit = [&unmet](const char* name, double measured, double maximum) {
    if (measured <= maximum) return;
    std::ostringstream line;
    line << name << ": measured " << measured << ", expected at most " << maximum;
    unmet.push_back(line.str());
  };
  if (expect.mean_vx) check("mean_vx", figures.mean_vx, *expect.mean_vx);
  if (expect.mean_vy) check("mean_vy", figures.mean_vy, *expect.mean_vy);
  if (expect.mean_yaw_rate) check("mean_yaw_rate", figures.mean_yaw_rate, *expect.mean_yaw_rate);
  if (expect.max_drift_m) limit("max_drift_m", figures.drift_m, *expect.max_drift_m);
  if (expect.max_abs_roll_rad) {
    limit("max_abs_roll_rad", figures.max_abs_roll, *expect.max_abs_roll_rad);
  }
  if (expect.max_abs_pitch_rad) {
    limit("max_abs_pitch_rad", figures.max_abs_pitch, *expect.max_abs_pitch_rad);
  }
  return unmet;
}

}  // namespace sim
}  // namespace velmora
