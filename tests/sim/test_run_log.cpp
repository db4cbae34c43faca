// Run figures on synthetic runs with closed-form answers, the report's keys, and the command
// line's defaults and error paths.

#include <cmath>
#include <regex>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "SyntheticRun.h"
#include "sim/RunLog.h"
#include "sim/SimOptions.h"

namespace velmora {
namespace sim {
namespace {

using test::syntheticRun;

TEST(RunLog, FiguresOfSyntheticRuns) {
  const auto walk = syntheticRun(0.5, 0.02, 0.3, 0.01, 10.0, vector3_t(0.5, 0.02, 0.3));
  const RunReport r = summarizeMotion(walk, false);
  EXPECT_FALSE(r.fell);
  EXPECT_NEAR(r.duration_s, 10.0, 1e-9);
  EXPECT_NEAR(r.mean_vx, 0.5, 1e-12);
  EXPECT_NEAR(r.mean_vy, 0.02, 1e-12);
  EXPECT_NEAR(r.mean_yaw_rate, 0.3, 1e-12);
  EXPECT_NEAR(r.height_error_rms, 0.01 / std::sqrt(2.0), 2e-4);
  EXPECT_NEAR(r.max_abs_roll, 0.01, 1e-4);
  EXPECT_NEAR(r.max_abs_pitch, 0.02, 1e-12);
  // Moving exactly as commanded is no drift; a different command is.
  EXPECT_LT(r.drift_m, 1e-9);
  const auto slow = syntheticRun(0.4, 0.0, 0.0, 0.0, 10.0, vector3_t(0.5, 0.0, 0.0));
  EXPECT_NEAR(summarizeMotion(slow, false).drift_m, 1.0, 1e-2);
  EXPECT_TRUE(summarizeMotion(slow, true).fell);
}

TEST(RunLog, FallCriteria) {
  RunSample s;
  s.base_pos(2) = 0.3;
  EXPECT_FALSE(isFallen(s));
  s.base_pos(2) = 0.149;
  EXPECT_TRUE(isFallen(s));
  s.base_pos(2) = 0.3;
  s.base_rpy(0) = -0.81;
  EXPECT_TRUE(isFallen(s));
  s.base_rpy(0) = 0.0;
  s.base_rpy(1) = 0.81;
  EXPECT_TRUE(isFallen(s));
  EXPECT_THROW(summarizeMotion({}, false), std::invalid_argument);
}

TEST(RunLog, ReportHasExactlyTheDocumentedKeysAndTimingSummaries) {
  RunReport r;
  r.mpc_ms = TimingSummary::of({3.0, 1.0, 2.0, 10.0, 4.0});
  EXPECT_DOUBLE_EQ(r.mpc_ms.median, 3.0);
  EXPECT_DOUBLE_EQ(r.mpc_ms.max, 10.0);
  r.messages = 5000;
  std::ostringstream json;
  writeReportJson(r, json);
  std::set<std::string> keys;
  const std::string text = json.str();
  const std::regex top_key("\n  \"([a-z_]+)\":");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), top_key);
       it != std::sregex_iterator(); ++it) {
    keys.insert((*it)[1]);
  }
  const std::set<std::string> expected = {"fell",
                                          "duration_s",
                                          "mean_vx",
                                          "mean_vy",
                                          "mean_yaw_rate",
                                          "height_error_rms",
                                          "max_abs_roll",
                                          "max_abs_pitch",
                                          "drift_m",
                                          "mpc_ms",
                                          "wbc_ms",
                                          "messages",
                                          "mpc_failures",
                                          "wbc_failures",
                                          "faults",
                                          "safe_command_cycles",
                                          "optimiser_exceptions",
                                          "non_finite_messages",
                                          "wall_s"};
  EXPECT_EQ(keys, expected);
  EXPECT_NE(text.find("\"faults\": [],"), std::string::npos);
  // Injected faults: one object per fault, in the order given.
  RunReport faulty = r;
  faulty.faults = {FaultRecord{FaultSpec{FaultKind::kMpcFail, 2.5}, 10},
                   FaultRecord{FaultSpec{FaultKind::kDropCmds, 0.0}, 131}};
  faulty.safe_command_cycles = 25;
  std::ostringstream faulty_json;
  writeReportJson(faulty, faulty_json);
  EXPECT_NE(faulty_json.str().find("\"faults\": [{\"name\": \"mpc_fail\", \"at_s\": 2.5, "
                                   "\"events\": 10}, {\"name\": \"drop_cmds\", \"at_s\": 0, "
                                   "\"events\": 131}],"),
            std::string::npos)
      << faulty_json.str();
  EXPECT_NE(faulty_json.str().find("\"safe_command_cycles\": 25,"), std::string::npos);
  EXPECT_NE(text.find("\"mpc_ms\": {\"median\": 3, \"max\": 10}"), std::string::npos);
  EXPECT_NE(text.find("\"messages\": 5000"), std::string::npos);
  // Optimisers out of sight (real time): their figures are null, not zero.
  RunReport hidden = r;
  hidden.optimisers_observed = false;
  hidden.mpc_ms = TimingSummary{std::nan(""), std::nan("")};
  std::ostringstream hidden_json;
  writeReportJson(hidden, hidden_json);
  EXPECT_NE(hidden_json.str().find("\"mpc_failures\": null"), std::string::npos);
  EXPECT_NE(hidden_json.str().find("\"wbc_failures\": null"), std::string::npos);
  EXPECT_NE(hidden_json.str().find("\"mpc_ms\": {\"median\": null, \"max\": null}"),
            std::string::npos);

  std::ostringstream csv;
  writeLogCsv(syntheticRun(0.1, 0.0, 0.0, 0.0, 0.05, vector3_t::Zero()), csv);
  std::istringstream lines(csv.str());
  std::string header, line;
  std::getline(lines, header);
  const auto columns = std::count(header.begin(), header.end(), ',');
  int rows = 0;
  while (std::getline(lines, line)) {
    EXPECT_EQ(std::count(line.begin(), line.end(), ','), columns);
    ++rows;
  }
  EXPECT_EQ(rows, 6);
}

TEST(SimOptions, ScenarioDefaultsAndOverrides) {
  const std::string robots = VELMORA_ROBOTS_DIR;
  SimOptions o = parseSimOptions({"--scenario", "walk"}, robots);
  EXPECT_DOUBLE_EQ(o.vx, 0.5);
  EXPECT_DOUBLE_EQ(o.duration_s, 20.0);
  EXPECT_FALSE(o.lockstep);
  EXPECT_EQ(o.robot_urdf, robots + "/kestrel/robot.urdf");
  o = parseSimOptions({"--scenario", "turn", "--lockstep", "--duration", "3", "--out", "x"},
                      robots);
  EXPECT_DOUBLE_EQ(o.yaw_rate, 1.0);
  EXPECT_DOUBLE_EQ(o.duration_s, 3.0);
  EXPECT_TRUE(o.lockstep);
  EXPECT_EQ(o.out_dir, "x");
  o = parseSimOptions({"--vx", "-0.2", "--vy", "0.1", "--yaw-rate", "0.5"}, robots);
  EXPECT_EQ(o.scenario, "stand");
  EXPECT_DOUBLE_EQ(o.vx, -0.2);
  EXPECT_DOUBLE_EQ(o.vy, 0.1);
  EXPECT_DOUBLE_EQ(o.yaw_rate, 0.5);
}

TEST(SimOptions, BadFlagsAndFilesAreUsageErrorsNamingTheCulprit) {
  const std::string robots = VELMORA_ROBOTS_DIR;
  const auto message = [&robots](const std::vector<std::string>& args) -> std::string {
    try {
      parseSimOptions(args, robots);
    } catch (const UsageError& error) {
      return error.what();
    }
    return "";
  };
  EXPECT_NE(message({"--speed", "1"}).find("--speed"), std::string::npos);
  EXPECT_NE(message({"--scenario", "dance"}).find("dance"), std::string::npos);
  EXPECT_NE(message({"--vx", "fast"}).find("fast"), std::string::npos);
  EXPECT_NE(message({"--vx", "1.5x"}).find("1.5x"), std::string::npos);
  EXPECT_NE(message({"--vx", "nan"}).find("--vx"), std::string::npos);
  EXPECT_NE(message({"--duration", "-1"}).find("--duration"), std::string::npos);
  EXPECT_NE(message({"--duration"}).find("needs a value"), std::string::npos);
  EXPECT_NE(message({"--params", "/no/such.info"}).find("/no/such.info"), std::string::npos);
  EXPECT_NE(message({"--robot-urdf", "/no/robot.urdf"}).find("/no/robot.urdf"), std::string::npos);
}

}  // namespace
}  // namespace sim
}  // namespace velmora
