// Sweep files: expansion, generated scenarios, bad input, and whole sweeps through GNU parallel
// with a stand-in simulator (fake_sim.sh).

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "core/misc/InfoNode.h"
#include "sweep/RunPlan.h"
#include "sweep/ScenarioVariant.h"
#include "sweep/SweepError.h"
#include "sweep/SweepSpec.h"

namespace fs = std::filesystem;
using namespace velmora::sweep;
using namespace velmora;  // InfoNode, the INFO tree of the project's file readers

namespace {

const char* kBase =
    "duration_s 20\nfriction 0.8\ngait trot\ncommand { vx 0.5  vy 0  yaw_rate 0 }\n"
    "timeline\n{\n  event { at_s 1  type gait  name pace }\n  event { at_s 8 type gait name trot "
    "}\n}\n";

std::vector<RunSpec> expand(const std::string& sweep) {
  return expandRuns(parseSweepSpec(sweep, "s.info"), parseInfo(kBase, "base.info"));
}

std::string sweepText(int seed) {
  return "scenario walk\nseed " + std::to_string(seed) +
         "\ngrid\n{\n  command.vx \"0.5 1.0 1.5\"\n  gait \"trot pace\"\n}\n"
         "random\n{\n  draws 4\n  friction { uniform \"0.5 1.0\" }\n"
         "  push.force_n { choice \"50 100\" }\n}\n";
}

}  // namespace

TEST(SweepPlan, GridTimesDrawsWithinBoundsAndReproducibleFromTheSeed) {
  const auto column = [](const std::vector<RunSpec>& runs, const std::string& path) {
    std::vector<std::string> values;
    for (const RunSpec& run : runs) values.push_back(*run.value(path));
    return values;
  };
  const std::vector<RunSpec> runs = expand(sweepText(7));
  ASSERT_EQ(runs.size(), 3u * 2u * 4u);
  std::map<std::string, int> per_point;  // default family: the grid parameters
  for (const RunSpec& run : runs) ++per_point[run.family];
  EXPECT_EQ(per_point.size(), 6u);
  for (const auto& [family, count] : per_point) EXPECT_EQ(count, 4) << family;
  const std::vector<std::string> mu = column(runs, "friction"),
                                 force = column(runs, "push.force_n");
  for (const std::string& m : mu) EXPECT_TRUE(std::stod(m) >= 0.5 && std::stod(m) <= 1.0) << m;
  EXPECT_EQ(std::set<std::string>(force.begin(), force.end()),
            (std::set<std::string>{"50", "100"}));
  EXPECT_EQ(column(expand(sweepText(7)), "friction"), mu);
  EXPECT_NE(column(expand(sweepText(8)), "friction"), mu);
}

TEST(SweepPlan, RunScenarioHasTheValuesAndThePushInTimeOrder) {
  const std::vector<RunSpec> runs = expand(
      "scenario walk\ngrid { command.vx \"1.25\"\n push.direction_deg \"90\"\n"
      "push.force_n \"80\"\n push.at_s \"4\"\n terrain.angle_deg 5 }\n");
  std::ostringstream text;
  writeInfo(makeRunScenario(parseInfo(kBase, "base.info"), runs.at(0), 6.0, {}), text);
  const InfoNode scenario = parseInfo(text.str(), "run.info");
  EXPECT_EQ(scenario.find("command.vx")->value, "1.25");
  EXPECT_EQ(scenario.find("command.vy")->value, "0");
  EXPECT_EQ(scenario.find("terrain.angle_deg")->value, "5");
  EXPECT_EQ(std::stod(scenario.find("duration_s")->value), 6.0);
  const std::vector<InfoNode>& events = scenario.find("timeline")->children;
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[1].child("type")->value, "push");
  EXPECT_EQ(std::stod(events[1].child("at_s")->value), 4.0);
  std::istringstream force(events[1].child("force_n")->value);
  double f[3];
  force >> f[0] >> f[1] >> f[2];
  EXPECT_NEAR(f[0], 0.0, 1e-9);  // 80 N towards +y
  EXPECT_NEAR(f[1], 80.0, 1e-9);
  EXPECT_EQ(events[2].child("name")->value, "trot");
}

struct BadSweep {
  std::string name;  ///< the mistake in the sweep file
  std::string text;
  int line;
  std::string names;
};

void PrintTo(const BadSweep& sweep, std::ostream* out) { *out << sweep.name; }

class BadSweepFile : public testing::TestWithParam<BadSweep> {};

TEST_P(BadSweepFile, IsRejectedNamingFileLineAndKey) {
  try {
    expand(GetParam().text);
    FAIL() << "accepted";
  } catch (const SweepFileError& e) {
    EXPECT_THAT(e.what(), testing::HasSubstr("s.info:" + std::to_string(GetParam().line)));
    EXPECT_THAT(e.what(), testing::HasSubstr(GetParam().names));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadSweepFile,
    testing::Values(
        BadSweep{"speed_unknown_key", "scenario walk\nspeed 3\n", 2, "speed"},
        BadSweep{"grid_empty", "scenario walk\ngrid\n{\n}\n", 2, "grid"},
        BadSweep{"grid_gait_without_values", "scenario walk\ngrid { gait \"\" }\n", 2, "gait"},
        BadSweep{"uniform_one_bound", "scenario walk\nrandom {\n friction { uniform \"1\" } }", 3,
                 "friction"},
        BadSweep{"uniform_low_above_high",
                 "scenario walk\nrandom {\n friction { uniform \"1 0.5\" } }", 3, "friction"},
        BadSweep{"gauss_unknown_distribution",
                 "scenario walk\nrandom {\n friction { gauss \"1 2\" } }", 3, "gauss"},
        BadSweep{"draws_zero", "scenario walk\nrandom {\n draws 0 }", 3, "draws"},
        BadSweep{"family_not_a_parameter", "scenario walk\nfamily gait\ngrid { friction 1 }", 2,
                 "gait"},
        BadSweep{"comand_vx_misspelt", "scenario walk\ngrid {\n comand.vx 5 }", 3, "comand.vx"},
        BadSweep{"force_n_not_a_number", "scenario walk\ngrid {\n push.force_n \"50 strong\" }", 3,
                 "strong"},
        BadSweep{"push_angle_unknown", "scenario walk\ngrid {\n push.angle 5 }", 3, "push.angle"},
        BadSweep{"command_is_a_block", "scenario walk\ngrid {\n command 1 }", 3, "command"},
        BadSweep{"push_at_s_after_the_end",
                 "scenario walk\ngrid {\n push.force_n 9\n push.at_s 30 }", 4, "at_s"},
        BadSweep{"grid_unclosed_brace", "scenario walk\ngrid {\n vx 1 ", 2, "grid"},
        BadSweep{"min_success_rate_above_one", "scenario walk\n\nmin_success_rate 1.5\n", 3,
                 "min_success_rate"},
        BadSweep{"min_success_rate_not_a_number", "scenario walk\nmin_success_rate most\n", 2,
                 "most"}));

class SweepProgram : public testing::Test {
 protected:
  void SetUp() override {
    dir_ =
        fs::temp_directory_path() / ("velmora_sweep_" + std::to_string(::getpid()) + "_" +
                                     testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    std::ofstream(dir_ / "base.info") << kBase;
  }
  void TearDown() override { fs::remove_all(dir_); }
  /// Runs velmora_sweep on `sweep` with the stand-in simulator, then the shell text `then`;
  /// returns the exit code.
  int run(const std::string& sweep, const std::string& flags = "", const std::string& then = "") {
    std::ofstream(dir_ / "s.info") << "scenario base.info\nduration_s 3\n" << sweep;
    const std::string command = std::string(VELMORA_SWEEP_APP) + " " + (dir_ / "s.info").string() +
                                " --sim " VELMORA_FAKE_SIM " --jobs 2 --out " +
                                (dir_ / "out").string() + " " + flags + " > /dev/null 2>&1" + then;
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::vector<std::vector<std::string>> csv(const std::string& name) const {
    std::ifstream in(dir_ / "out" / name);
    std::vector<std::vector<std::string>> rows;
    for (std::string line; std::getline(in, line);) {
      rows.emplace_back();
      std::stringstream cells(line);
      for (std::string cell; std::getline(cells, cell, ',');) rows.back().push_back(cell);
      if (!line.empty() && line.back() == ',') rows.back().emplace_back();
    }
    return rows;
  }
  fs::path dir_;
};

TEST_F(SweepProgram, OutcomesAndFiguresReachTheTableAndTheFamilySummary) {
  EXPECT_EQ(run("family command.vx\ngrid { command.vx \"0.5 1.5 9\"\n gait \"trot pace\" }\n"), 1);
  const auto rows = csv("sweep.csv");
  ASSERT_EQ(rows.size(), 7u);
  const auto column = [&rows](const std::string& name) {
    return std::find(rows[0].begin(), rows[0].end(), name) - rows[0].begin();
  };
  const std::map<std::string, std::string> expected = {
      {"0.5trot", "ok"},   {"0.5pace", "threshold"}, {"1.5trot", "fell"},
      {"1.5pace", "fell"}, {"9trot", "error"},       {"9pace", "error"}};
  for (size_t r = 1; r < rows.size(); ++r) {
    const auto& row = rows[r];
    ASSERT_EQ(row.size(), rows[0].size());
    const std::string vx = row[column("command.vx")];
    EXPECT_EQ(row[column("outcome")], expected.at(vx + row[column("gait")])) << r;
    EXPECT_EQ(row[column("mean_vx")], vx == "9" ? "" : vx);
    EXPECT_EQ(row[column("timing_ms.wbc.median")], vx == "9" ? "" : "0.25");
  }
  const std::vector<std::vector<std::string>> summary = {
      {"family", "runs", "ok", "fell", "threshold", "error", "success_rate"},
      {"command.vx=0.5", "2", "1", "0", "1", "0", "0.5"},
      {"command.vx=1.5", "2", "0", "2", "0", "0", "0"},
      {"command.vx=9", "2", "0", "0", "0", "2", "0"}};
  EXPECT_EQ(csv("summary.csv"), summary);
  EXPECT_EQ(run("grid { command.vx \"0.5 1.5\" }\n"), 0);  // falls are results
}

TEST_F(SweepProgram, MinSuccessRateTurnsTooManyFailuresIntoExitCodeFour) {
  // 0.5 passes, 1.5 falls (fake_sim.sh): one run in two passes.
  EXPECT_EQ(run("min_success_rate 0.5\ngrid { command.vx \"0.5 1.5\" }\n"), 0);
  EXPECT_EQ(run("min_success_rate 0.51\ngrid { command.vx \"0.5 1.5\" }\n"), 4);
  EXPECT_EQ(run("min_success_rate 1\ngrid { command.vx \"0.5 0.5\" }\n"), 0);
  EXPECT_TRUE(fs::exists(dir_ / "out" / "sweep.csv"));  // the results are written either way
  // A run that could not run is the worse news.
  EXPECT_EQ(run("min_success_rate 1\ngrid { command.vx \"0.5 9\" }\n"), 1);
}

TEST_F(SweepProgram, MissingOrWrongParallelIsAnInputError) {
  EXPECT_EQ(run("grid { command.vx 0.5 }\n", "--parallel " + (dir_ / "none").string()), 2);
  EXPECT_EQ(run("grid { command.vx 0.5 }\n", "--parallel /bin/true"), 2);
  EXPECT_FALSE(fs::exists(dir_ / "out" / "sweep.csv"));
}

TEST_F(SweepProgram, InterruptStopsParallelAndItsSimulations) {
  const std::string pid = (dir_ / "out/runs/0001/pid").string();
  EXPECT_EQ(run("grid { command.vx 7 }\n", "",
                " & for i in $(seq 600); do [ -s " + pid +
                    " ] && break; sleep 0.1; done; kill -INT $!; wait $!"),
            130);
  std::ifstream pid_file(pid);
  pid_t simulator = 0;
  ASSERT_TRUE(pid_file >> simulator);
  EXPECT_FALSE(fs::exists("/proc/" + std::to_string(simulator)));  // stopped and reaped
  EXPECT_FALSE(fs::exists(dir_ / "out/runs/0001/report.json"));
}
