// Scenario files: the reader's errors, the timeline's commands and pushes, the plant's payload
// and floor friction, the expectations a run is judged by.

#include <filesystem>
#include <fstream>

#include "SimTestSupport.h"
#include "sim/ExpectationCheck.h"
#include "sim/MujocoPlant.h"
#include "sim/ScenarioTimeline.h"

namespace velmora::sim {
namespace {

namespace fs = std::filesystem;

/// Writes `text` to a scenario file of the test's own and returns its path.
std::string scenarioWith(const std::string& text) {
  const fs::path path =
      fs::temp_directory_path() / ("velmora_scenario_" + std::to_string(::getpid()) + ".info");
  std::ofstream(path) << text;
  return path.string();
}

TEST(ScenarioFile, BadFilesNameFileLineAndKey) {
  // (text, line, key) of each fault.
  const std::vector<std::tuple<std::string, int, std::string>> cases = {
      {"duration_s 5\nspeed 3\n", 2, "speed"},
      {"duration_s five\n", 1, "duration_s"},
      {"gait trot\nduration_s -1\n", 2, "duration_s"},
      {"friction nan\n", 1, "friction"},
      {"gait gallop_x\n", 1, "gait"},
      {"robot {\n  urdf kestrel/robot.urdf\n", 1, "syntax error"},
      {"duration_s 5\ntimeline\n{\n  event { at_s 6  type gait  name trot }\n}\n", 4,
       "timeline.event.at_s"},
      {"timeline\n{\n  event { at_s 1  type gait  name trot }\n  event { at_s 0.5  type gait  name "
       "trot }\n}\n",
       4, "timeline.event.at_s"},
      {"timeline {\n event { at_s 1 type push force_n \"1 0\" duration_s 0.1 }\n}\n", 2,
       "timeline.event.force_n"},
      {"timeline {\n event { at_s 1 type payload mass_kg 3 ramp_s 1 }\n}\n", 2,
       "timeline.event.ramp_s"},
      {"expect\n{\n  mean_vx { value 1  tolerance 0.1  abs_tolerance 0.1 }\n}\n", 3,
       "expect.mean_vx"},
      {"terrain { type hills }\n", 1, "terrain.type"},
  };
  for (const auto& [text, line, key] : cases) {
    const std::string path = scenarioWith(text);
    try {
      readScenarioFile(path, VELMORA_ROBOTS_DIR);
      ADD_FAILURE() << "no error for:\n" << text;
    } catch (const UsageError& error) {
      const std::string message = error.what();
      EXPECT_NE(message.find(path + ":" + std::to_string(line) + ":"), std::string::npos)
          << message;
      EXPECT_NE(message.find(key), std::string::npos) << message;
    }
  }
}

TEST(ScenarioFile, EveryBundledScenarioReadsAndIsFoundByName) {
  const fs::path dir = fs::path(VELMORA_ROBOTS_DIR).parent_path() / "scenarios";
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (!entry.is_regular_file() || entry.path().extension() != ".info") continue;
    const std::string name = entry.path().stem().string();
    EXPECT_EQ(scenarioFilePath(name, dir.string()), entry.path().string());
    EXPECT_NO_THROW(readScenarioFile(entry.path().string(), VELMORA_ROBOTS_DIR)) << name;
  }
  EXPECT_THROW(scenarioFilePath("no_such_scenario", dir.string()), UsageError);
}

TEST(ScenarioTimeline, RampsFromWhereTheLastRampGotAndPushesForTheirDuration) {
  const ScenarioFile file = readScenarioFile(
      scenarioWith("gait trot\ncommand { vx 0.2 }\ntimeline {\n"
                   "  event { at_s 2  type command  vx 1  yaw_rate 0.4  ramp_s 1 }\n"
                   "  event { at_s 2.2  type gait  name stand }\n"
                   "  event { at_s 2.5  type command  ramp_s 0.5 }\n"
                   "  event { at_s 3  type push  force_n \"0 80 0\"  duration_s 0.1 }\n}\n"),
      VELMORA_ROBOTS_DIR);
  const ScenarioTimeline timeline({(*file.command)[0], 0.0, 0.0}, file.gait, "", file.timeline);
  // vx: 0.2 until 2 s, towards 1.0 over 1 s, interrupted at 2.5 s (0.6), to 0 over 0.5 s.
  for (const auto& [t, vx] : std::vector<std::pair<double, double>>{
           {1.9, 0.2}, {2.25, 0.4}, {2.5, 0.6}, {2.75, 0.3}, {4.0, 0.0}}) {
    EXPECT_NEAR(timeline.commandAt(t).vx, vx, 1e-12) << "t " << t;
  }
  EXPECT_NEAR(timeline.commandAt(2.25).yaw_rate, 0.1, 1e-12);
  EXPECT_EQ(timeline.gaitAt(2.1), "trot");
  EXPECT_EQ(timeline.gaitAt(2.2), "stand");
  EXPECT_TRUE(timeline.pushAt(2.999).force_n.isZero());
  EXPECT_EQ(timeline.pushAt(3.05).force_n, vector3_t(0.0, 80.0, 0.0));
  EXPECT_TRUE(timeline.pushAt(3.1).force_n.isZero());
}

class ScenarioPlantTest : public test::BundledRobotTest {
 protected:
  /// A plant released onto the floor under a joint damping command.
  ScenarioPlantTest() : plant_(test::kUrdf, info_) {
    plant_.applyCommand(test::uniformCommand(info_, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f));
    for (int k = 0; k < 50; ++k) plant_.step();
  }
  /// `what` of a copy of the plant's state brought up to date (mj_forward) with its model.
  template <typename Query>
  vector3_t forwarded(Query what) const {
    mjData* data = mj_copyData(nullptr, &plant_.model(), &plant_.data());
    mj_forward(&plant_.model(), data);
    const vector3_t value = what(*data);
    mj_deleteData(data);
    return value;
  }
  /// Position [m, world] of `point` [m, trunk axes from the trunk origin] in data `d`.
  vector3_t trunkPoint(const mjData& d, const vector3_t& point) const {
    const int trunk = plant_.model().jnt_bodyid[0];
    const Eigen::Quaterniond q(d.xquat[4 * trunk], d.xquat[4 * trunk + 1], d.xquat[4 * trunk + 2],
                               d.xquat[4 * trunk + 3]);
    return Eigen::Map<const vector3_t>(d.xpos + 3 * trunk) + q * point;
  }
  MujocoPlant plant_;
};

TEST_F(ScenarioPlantTest, PushActsAtItsPointWithTheMomentAboutTheCentreOfMass) {
  const vector3_t force(30.0, -70.0, 10.0), point(0.2, 0.1, -0.05);
  plant_.setBasePush(force, point);
  plant_.step();
  // The step's own positions: those of the state before it.
  const mjData& d = plant_.data();
  const int trunk = plant_.model().jnt_bodyid[0];
  const vector3_t r = trunkPoint(d, point) - Eigen::Map<const vector3_t>(d.xipos + 3 * trunk);
  EXPECT_TRUE(Eigen::Map<const vector3_t>(d.xfrc_applied + 6 * trunk).isApprox(force));
  EXPECT_TRUE(
      Eigen::Map<const vector3_t>(d.xfrc_applied + 6 * trunk + 3).isApprox(r.cross(force), 1e-9));
}

TEST_F(ScenarioPlantTest, PayloadAddsItsMassAtItsPointAndFrictionReachesTheContacts) {
  const double mass = mj_getTotalmass(&plant_.model());
  const auto robot_com = [](const mjData& d) {
    return vector3_t(d.subtree_com[0], d.subtree_com[1], d.subtree_com[2]);
  };
  const vector3_t com = forwarded(robot_com), point(0.1, -0.05, 0.08);
  const vector3_t point_world = forwarded([&](const mjData& d) { return trunkPoint(d, point); });
  plant_.addPayload(3.0, point);
  EXPECT_NEAR(mj_getTotalmass(&plant_.model()), mass + 3.0, 1e-12);
  EXPECT_TRUE(
      forwarded(robot_com).isApprox((mass * com + 3.0 * point_world) / (mass + 3.0), 1e-12));
  EXPECT_THROW(plant_.addPayload(-1.0, point), std::invalid_argument);

  plant_.setFloorFriction(0.3);
  plant_.step();
  ASSERT_GT(plant_.data().ncon, 0);
  for (int c = 0; c < plant_.data().ncon; ++c) EXPECT_EQ(plant_.data().contact[c].friction[0], 0.3);
}

TEST(ExpectationCheck, FailsExactlyTheFiguresOutsideTheirTolerance) {
  // 0.4 m/s forward, 0.1 m/s sideways, pitch -0.02 rad throughout.
  const auto samples = test::syntheticRun(0.4, 0.1, 0.0, 0.0, 10.0, vector3_t(0.4, 0.1, 0.0));
  ScenarioExpectations expect;
  expect.present = expect.no_fall = true;
  expect.from_s = 2.0;
  expect.mean_vx = ExpectedFigure{0.5, 0.1, true};     // +- 0.05: misses
  expect.mean_vy = ExpectedFigure{0.1, 0.001, false};  // met
  expect.max_abs_pitch_rad = 0.019;                    // misses
  expect.max_drift_m = 1e-9;                           // the run follows its command
  const std::vector<std::string> unmet = unmetExpectations(expect, samples, false);
  ASSERT_EQ(unmet.size(), 2u);
  EXPECT_EQ(unmet[0].rfind("mean_vx", 0), 0u);
  EXPECT_EQ(unmet[1].rfind("max_abs_pitch_rad", 0), 0u);
  EXPECT_EQ(unmetExpectations(expect, samples, true).size(), 3u);
  expect.from_s = 11.0;
  EXPECT_EQ(unmetExpectations(expect, samples, false).size(), 1u);
}

}  // namespace
}  // namespace velmora::sim
