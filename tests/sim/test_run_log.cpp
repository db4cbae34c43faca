// Run figures on a synthetic run with closed-form answers, the fall criteria and the report.

#include <regex>
#include <set>

#include "SimTestSupport.h"

namespace velmora::sim {
namespace {

/// The shared synthetic run over 10 s with sideways speed 0.02, yaw rate 0.3, height wave 0.01.
std::vector<RunSample> syntheticRun(double vx, const vector3_t& command) {
  return test::syntheticRun(vx, 0.02, 0.3, 0.01, 10.0, command);
}

TEST(RunLog, FiguresOfASyntheticRunAndFallCriteria) {
  const RunReport r = summarizeMotion(syntheticRun(0.5, {0.5, 0.02, 0.3}), false);
  EXPECT_FALSE(r.fell);
  EXPECT_NEAR(r.duration_s, 10.0, 1e-9);
  EXPECT_NEAR(r.mean_vx, 0.5, 1e-12);
  EXPECT_NEAR(r.mean_vy, 0.02, 1e-12);
  EXPECT_NEAR(r.mean_yaw_rate, 0.3, 1e-12);
  EXPECT_NEAR(r.height_error_rms, 0.01 / std::sqrt(2.0), 2e-4);
  EXPECT_NEAR(r.max_abs_roll, 0.01, 1e-4);
  EXPECT_NEAR(r.max_abs_pitch, 0.02, 1e-12);
  EXPECT_LT(r.drift_m, 1e-9);  // moving exactly as commanded is no drift
  // 0.1 m/s too slow along a heading turning at 0.3 rad/s for 10 s: a chord of the circle.
  EXPECT_NEAR(summarizeMotion(syntheticRun(0.4, {0.5, 0.02, 0.3}), false).drift_m,
              0.1 / 0.3 * 2.0 * std::sin(1.5), 1e-2);
  EXPECT_TRUE(summarizeMotion(syntheticRun(0.5, {0.5, 0.02, 0.3}), true).fell);
  EXPECT_THROW(summarizeMotion({}, false), std::invalid_argument);
  for (const auto& [z, roll, pitch, fallen] :
       std::vector<std::tuple<double, double, double, bool>>{{0.3, 0.79, -0.79, false},
                                                             {0.149, 0.0, 0.0, true},
                                                             {0.3, -0.81, 0.0, true},
                                                             {0.3, 0.0, 0.81, true}}) {
    RunSample s;
    s.base_pos(2) = z;
    s.base_rpy << roll, pitch, 0.0;
    EXPECT_EQ(isFallen(s), fallen) << z << " " << roll << " " << pitch;
    // The same trunk height above raised ground (a slope, a step): judged above that ground.
    s.ground_z = 0.5;
    s.base_pos(2) = z + 0.5;
    EXPECT_EQ(isFallen(s), fallen) << "0.5 m above the ground at " << z;
    s.base_pos(2) = z;
    EXPECT_TRUE(isFallen(s));
  }
}

TEST(RunLog, ReportHasTheDocumentedKeysAndNullsForFiguresOutOfSight) {
  RunReport r;
  r.timing_ms.contact_force = TimingSummary::of({3.0, 1.0, 2.0, 10.0, 4.0});
  r.timing_ms.whole_body = TimingSummary{std::nan(""), std::nan("")};
  r.faults = {FaultRecord{FaultSpec{FaultKind::kMpcFail, 2.5}, 10}};
  r.optimisers_observed = false;  // real time: the optimisers' figures are unknown, not zero
  std::ostringstream json;
  writeReportJson(r, json);
  const std::string text = json.str();
  std::set<std::string> keys;
  const std::regex top_key("\n  \"([a-z_]+)\":");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), top_key);
       it != std::sregex_iterator(); ++it) {
    keys.insert((*it)[1]);
  }
  EXPECT_EQ(keys, std::set<std::string>(
                      {"fell", "duration_s", "mean_vx", "mean_vy", "mean_yaw_rate",
                       "height_error_rms", "max_abs_roll", "max_abs_pitch", "drift_m", "timing_ms",
                       "messages", "mpc_failures", "wbc_failures", "faults", "safe_command_cycles",
                       "optimiser_exceptions", "non_finite_messages", "wall_s"}));
  for (const char* part :
       {"\"timing_ms\": {\"planner\": {\"median\": 0, \"max\": 0}, "
        "\"contact_force\": {\"median\": 3, \"max\": 10}, "
        "\"whole_body\": {\"median\": null, \"max\": null}, "
        "\"plant_step\": {\"median\": 0, \"max\": 0}}",
        "\"mpc_failures\": null", "[{\"name\": \"mpc_fail\", \"at_s\": 2.5, \"events\": 10}]"}) {
    EXPECT_NE(text.find(part), std::string::npos) << part << " in " << text;
  }
}

TEST(RunLog, SummaryTableSeparatesEveryKeyFromItsValueInOneColumn) {
  RunReport r;
  r.faults = {FaultRecord{FaultSpec{FaultKind::kMpcFail, 2.5}, 10}};  // the longest keys
  std::ostringstream out;
  writeSummaryTable(r, out);
  std::istringstream lines(out.str());
  std::string line;
  size_t value_column = std::string::npos, rows = 0;
  for (const auto& row : summaryRows(r)) {
    do {
      ASSERT_TRUE(std::getline(lines, line)) << "no line for " << row.first;
    } while (line.rfind("  " + row.first, 0) != 0);
    const size_t column = line.size() - row.second.size();
    EXPECT_EQ(line.substr(column), row.second);
    EXPECT_GT(column, 2 + row.first.size()) << "no space after " << row.first;
    if (value_column == std::string::npos) value_column = column;
    EXPECT_EQ(column, value_column) << line;
    ++rows;
  }
  EXPECT_GE(rows, 18u);
}

}  // namespace
}  // namespace velmora::sim
