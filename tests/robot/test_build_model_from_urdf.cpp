// The model built from URDF: joint numbering, limits and merged fixed links, a root without a
// world link, and errors naming the source and the element at fault.

#include <fstream>
#include <regex>
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "RobotTestSupport.h"
#include "pinocchio/PinocchioInterface.h"
#include "rigid_body/BuildModelFromUrdf.h"

namespace velmora::test {
namespace {

using ::testing::HasSubstr;

const std::string kUnitInertia = R"(<inertia ixx="1" ixy="0" ixz="0" iyy="1" iyz="0" izz="1"/>)";

/// A robot whose base link has unit mass and inertia, with `extra` links and joints.
std::string robotWith(const std::string& extra) {
  return R"(<robot name="r"><link name="base"><inertial><mass value="1"/>)" + kUnitInertia +
         "</inertial></link>" + extra + "</robot>";
}

TEST(BuildModelFromUrdf, JointsAreNumberedDepthFirstInParserOrder) {
  // Declared as b_* before a_*; the parser lists children alphabetically, and a branch is
  // numbered completely before the next one. Continuous joints have no position limits.
  const rigid_body::Model model = rigid_body::buildModelFromUrdfString(
      robotWith(R"(<link name="b1"/><link name="b2"/><link name="a1"/><link name="a2"/>
    <joint name="b_first" type="continuous"><parent link="base"/><child link="b1"/></joint>
    <joint name="b_second" type="continuous"><parent link="b1"/><child link="b2"/></joint>
    <joint name="a_second" type="continuous"><parent link="a1"/><child link="a2"/></joint>
    <joint name="a_first" type="continuous"><parent link="base"/><child link="a1"/></joint>)"),
      "order");
  EXPECT_EQ(model.names, (std::vector<std::string>{"universe", "root_joint", "a_first", "a_second",
                                                   "b_first", "b_second"}));
  EXPECT_EQ(model.parents, (std::vector<int>{0, 0, 1, 2, 1, 4}));
  EXPECT_EQ(model.idx_qs, (std::vector<int>{0, 0, 7, 8, 9, 10}));
  EXPECT_EQ(model.idx_vs, (std::vector<int>{0, 0, 6, 7, 8, 9}));
  EXPECT_GT(model.upperPositionLimit[7], 1e300);
  EXPECT_LT(model.lowerPositionLimit[7], -1e300);
}

TEST(BuildModelFromUrdf, LimitsAndMergedFixedLinks) {
  const rigid_body::Model spider = rigid_body::buildModelFromUrdf(testDataFile("spider.urdf"));
  EXPECT_EQ(spider.names[1], "base_free");  // the URDF's floating joint keeps its name
  const int slider = spider.getJointId("b_slider");
  EXPECT_EQ(spider.joint_types[slider], rigid_body::JointType::kPrismatic);
  EXPECT_EQ(spider.lowerPositionLimit[spider.idx_qs[slider]], -0.1);
  EXPECT_EQ(spider.upperPositionLimit[spider.idx_qs[slider]], 0.1);
  EXPECT_EQ(spider.effortLimit[spider.idx_vs[slider]], 100.0);
  EXPECT_EQ(spider.velocityLimit[spider.idx_vs[slider]], 1.0);
  EXPECT_TRUE(spider.effortLimit.head<6>().isZero());
  EXPECT_FALSE(spider.existJointName("tool_fixed"));  // fixed joints are frames only
  // The slider's body carries slide and tool (fixed), the base body and sensor; the wrist hangs
  // below the fixed tool link, so its parent joint is the slider.
  EXPECT_NEAR(spider.inertias[slider].mass(), 0.8, 1e-15);
  EXPECT_NEAR(spider.inertias[1].mass(), 3.4, 1e-15);
  EXPECT_EQ(spider.parents[spider.getJointId("c_wrist")], slider);
}

TEST(BuildModelFromUrdf, RootWithoutWorldLinkGetsAnEquivalentFloatingBase) {
  std::stringstream with_world;
  with_world << std::ifstream(kestrelFile("robot.urdf")).rdbuf();
  const std::string without_world = std::regex_replace(
      with_world.str(),
      std::regex("<link name=\"world\"/>\\s*<joint name=\"root_joint\" type=\"floating\">"
                 "[\\s\\S]*?</joint>"),
      "");
  ASSERT_NE(without_world, with_world.str());
  PinocchioInterface reference(kestrelFile("robot.urdf"));
  PinocchioInterface robot(writeTemporaryFile("kestrel_no_world.urdf", without_world));
  EXPECT_EQ(robot.getModel().names[1], "root_joint");
  EXPECT_FALSE(robot.getModel().existFrame("world"));
  std::mt19937 rng(4);
  for (int k = 0; k < 10; ++k) {
    const RandomState state = randomState(robot.getModel(), rng);
    robot.updateRobotState(state.qpos, state.qvel);
    reference.updateRobotState(state.qpos, state.qvel);
    ASSERT_TRUE(relativelyNear(robot.getData().M, reference.getData().M, 1e-14));
    ASSERT_TRUE(relativelyNear(robot.nle(), reference.nle(), 1e-14));
    ASSERT_TRUE(relativelyNear(robot.getFramePose("RL_foot").translation(),
                               reference.getFramePose("RL_foot").translation(), 1e-14));
  }
}

TEST(BuildModelFromUrdf, UnusableDescriptionsNameTheSourceAndTheElement) {
  // A joint from the base to a new link `name`_link holding `link_content`.
  const auto joint = [](const std::string& name, const std::string& type,
                        const std::string& extra = "", const std::string& link_content = "") {
    return "<link name=\"" + name + "_link\">" + link_content + "</link><joint name=\"" + name +
           "\" type=\"" + type + "\"><parent link=\"base\"/><child link=\"" + name + "_link\"/>" +
           extra + "</joint>";
  };
  const std::string heavy = "<inertial><mass value=\"1.5e308\"/>" + kUnitInertia + "</inertial>";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"<robot name=\"x\"><link name=\"a\">", "not a valid URDF"},
      {robotWith(joint("slide_plane", "planar")), "'slide_plane'"},
      {robotWith(joint("loose", "floating")), "'loose'"},
      {robotWith(joint("leader", "continuous") +
                 joint("follower", "continuous", "<mimic joint=\"leader\"/>")),
       "'follower'"},
      {robotWith(joint("weld", "fixed", "",
                       "<inertial><mass value=\"-1\"/>" + kUnitInertia + "</inertial>")),
       "'weld_link' has a negative mass"},
      // Each mass is a finite double; their sum is not.
      {robotWith(joint("dense", "fixed", "", heavy) + joint("denser", "fixed", "", heavy)),
       "'denser_link' makes the inertia of its body overflow"},
      {R"(<robot name="welded"><link name="world"/><link name="base"/><joint name="weld"
        type="fixed"><parent link="world"/><child link="base"/></joint></robot>)",
       "floating"}};
  for (std::size_t k = 0; k < cases.size(); ++k) {
    const std::string source = "case_" + std::to_string(k) + ".urdf";
    try {
      rigid_body::buildModelFromUrdfString(cases[k].first, source);
      ADD_FAILURE() << "accepted " << source << ", expected " << cases[k].second;
    } catch (const std::invalid_argument& error) {
      EXPECT_THAT(error.what(), HasSubstr(source));
      EXPECT_THAT(error.what(), HasSubstr(cases[k].second));
    }
  }
  try {
    PinocchioInterface robot("/nonexistent/velmora/robot.urdf");
    ADD_FAILURE() << "a missing file was accepted";
  } catch (const std::invalid_argument& error) {
    EXPECT_THAT(error.what(), HasSubstr("/nonexistent/velmora/robot.urdf"));
  }
}

}  // namespace
}  // namespace velmora::test
