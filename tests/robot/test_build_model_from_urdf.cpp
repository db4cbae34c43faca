// The model built from URDF (its dynamics are checked against MuJoCo with the interface): joint
// numbering, limits, and errors naming the source and the element at fault.

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

TEST(BuildModelFromUrdf, JointsAreNumberedDepthFirstInParserOrderWithTheirLimits) {
  // Declared as b_* before a_*; the parser lists children alphabetically, and a branch is
  // numbered completely before the next one. Continuous joints have no position limits; the
  // fixed joint is a frame only.
  const rigid_body::Model model = rigid_body::buildModelFromUrdfString(
      robotWith(R"(<link name="b1"/><link name="b2"/><link name="a1"/><link name="a2"/>
    <link name="tip"/><joint name="tip_fixed" type="fixed"><parent link="a2"/><child link="tip"/></joint>
    <joint name="b_first" type="continuous"><parent link="base"/><child link="b1"/></joint>
    <joint name="b_second" type="prismatic"><parent link="b1"/><child link="b2"/>
      <limit lower="-1" upper="2" effort="3" velocity="4"/></joint>
    <joint name="a_second" type="continuous"><parent link="a1"/><child link="a2"/></joint>
    <joint name="a_first" type="continuous"><parent link="base"/><child link="a1"/></joint>)"),
      "order");
  EXPECT_EQ(model.names, (std::vector<std::string>{"universe", "root_joint", "a_first", "a_second",
                                                   "b_first", "b_second"}));
  EXPECT_EQ(model.parents, (std::vector<int>{0, 0, 1, 2, 1, 4}));
  EXPECT_EQ(model.joint_types[5], rigid_body::JointType::kPrismatic);
  EXPECT_TRUE(model.existFrame("tip_fixed") && !model.existJointName("tip_fixed"));
  EXPECT_LT(model.lowerPositionLimit[7], -1e300);
  EXPECT_EQ(vector4_t(model.lowerPositionLimit[10], model.upperPositionLimit[10],
                      model.effortLimit[9], model.velocityLimit[9]),
            vector4_t(-1, 2, 3, 4));
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
