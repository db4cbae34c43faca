// The model built from URDF: structure of the bundled robot, equivalent root conventions,
// joint order, merged fixed links, and clear errors for unusable files.

#include <cmath>
#include <random>
#include <regex>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <urdf_parser/urdf_parser.h>

#include "TestHelpers.h"
#include "description/ModelInfoLoader.h"
#include "pinocchio/PinocchioInterface.h"
#include "rigid_body/BuildModelFromUrdf.h"

namespace velmora::test {
namespace {

using ::testing::HasSubstr;

TEST(KestrelModel, StructureNamesAndLimits) {
  const rigid_body::Model model = rigid_body::buildModelFromUrdf(kestrelFile("robot.urdf"));
  ASSERT_EQ(model.nq, 19);
  ASSERT_EQ(model.nv, 18);
  ASSERT_EQ(model.njoints, 14);
  EXPECT_EQ(model.names[0], "universe");
  EXPECT_EQ(model.names[1], "root_joint");
  const std::vector<std::string> legs = {"FL", "FR", "RL", "RR"};
  const std::vector<std::string> parts = {"_hip_joint", "_thigh_joint", "_calf_joint"};
  for (int leg = 0; leg < 4; ++leg) {
    for (int part = 0; part < 3; ++part) {
      const int id = 2 + 3 * leg + part;
      EXPECT_EQ(model.names[id], legs[leg] + parts[part]);
      EXPECT_EQ(model.getJointId(legs[leg] + parts[part]), id);
      EXPECT_EQ(model.parents[id], part == 0 ? 1 : id - 1);
      EXPECT_EQ(model.idx_vs[id], id + 4);
      EXPECT_EQ(model.idx_qs[id], id + 5);
    }
    for (const std::string& frame : {legs[leg] + "_foot", legs[leg] + "_hip"}) {
      EXPECT_TRUE(model.existFrame(frame)) << frame;
    }
    // The foot is a frame of the calf body, at the end of the 0.2 m calf.
    const rigid_body::Frame& foot = model.frames[model.getFrameId(legs[leg] + "_foot")];
    EXPECT_EQ(foot.parent_joint, model.getJointId(legs[leg] + "_calf_joint"));
    EXPECT_TRUE(relativelyNear(foot.placement.translation(), vector3_t(0, 0, -0.2), 1e-15));
  }
  EXPECT_TRUE(model.existFrame("trunk"));
  EXPECT_TRUE(model.existJointName("FL_calf_joint"));
  EXPECT_FALSE(model.existJointName("FL_foot_fixed"));  // fixed joints are frames only
  EXPECT_TRUE(model.existFrame("FL_foot_fixed"));
  EXPECT_FALSE(model.existJointName("FL_foot"));

  ASSERT_EQ(model.effortLimit.size(), 18);
  EXPECT_TRUE(model.effortLimit.head<6>().isZero());
  EXPECT_TRUE((model.effortLimit.tail<12>().array() == 33.5).all());
  EXPECT_TRUE((model.velocityLimit.tail<12>().array() == 21.0).all());
  ASSERT_EQ(model.lowerPositionLimit.size(), 19);
  ASSERT_EQ(model.upperPositionLimit.size(), 19);
  EXPECT_TRUE(
      (model.lowerPositionLimit.tail<12>().array() < model.upperPositionLimit.tail<12>().array())
          .all());
}

TEST(KestrelModel, MassesAsWrittenInTheUrdf) {
  // Sum the link masses with the URDF parser directly.
  const urdf::ModelInterfaceSharedPtr urdf = urdf::parseURDFFile(kestrelFile("robot.urdf"));
  ASSERT_TRUE(urdf);
  std::vector<urdf::LinkSharedPtr> links;
  urdf->getLinks(links);
  scalar_t total = 0.0;
  for (const auto& link : links) {
    if (link->inertial) total += link->inertial->mass;
  }
  PinocchioInterface robot(kestrelFile("robot.urdf"));
  EXPECT_NEAR(robot.total_mass(), total, 1e-12);
  EXPECT_NEAR(robot.getData().mass[0], total, 1e-12);
  EXPECT_GT(total, 12.0);
  EXPECT_LT(total, 13.0);
  // The trunk's own body carries the trunk mass only; each calf body carries calf and foot.
  const rigid_body::Model& model = robot.getModel();
  EXPECT_NEAR(model.inertias[1].mass(), urdf->getLink("trunk")->inertial->mass, 1e-15);
  EXPECT_NEAR(model.inertias[model.getJointId("FL_calf_joint")].mass(),
              urdf->getLink("FL_calf")->inertial->mass + urdf->getLink("FL_foot")->inertial->mass,
              1e-15);
}

TEST(KestrelModel, StandingPoseOfTheDescriptionPutsTheFeetOnTheGround) {
  PinocchioInterface robot(kestrelFile("robot.urdf"));
  const ModelInfo info = loadModelInfo(kestrelFile("description.info"), robot);
  vector_t qpos(robot.Nq());
  qpos << info.base_init_pos, info.base_init_quat, info.joints_init_pos;
  robot.updateRobotState(qpos, vector_t::Zero(robot.Nv()));
  const scalar_t foot_radius = 0.02;
  for (std::size_t leg = 0; leg < info.foot_name.size(); ++leg) {
    const vector3_t foot = robot.getFramePose(info.foot_name[leg]).translation();
    const vector3_t thigh =
        robot.getFramePose(info.foot_name[leg].substr(0, 2) + "_thigh_joint").translation();
    EXPECT_NEAR(foot.z(), foot_radius, 1e-9) << info.foot_name[leg];
    EXPECT_NEAR(foot.x(), thigh.x(), 1e-9) << info.foot_name[leg];
    EXPECT_NEAR(foot.y(), thigh.y(), 1e-9) << info.foot_name[leg];
  }
  // Front feet ahead, left feet to the left: foot order FL, FR, RL, RR.
  const auto foot = [&](int leg) { return robot.getFramePose(info.foot_name[leg]).translation(); };
  EXPECT_GT(foot(0).x(), 0);
  EXPECT_GT(foot(0).y(), 0);
  EXPECT_GT(foot(1).x(), 0);
  EXPECT_LT(foot(1).y(), 0);
  EXPECT_LT(foot(2).x(), 0);
  EXPECT_GT(foot(2).y(), 0);
  EXPECT_LT(foot(3).x(), 0);
  EXPECT_LT(foot(3).y(), 0);
  EXPECT_NEAR(info.base_init_pos.z(), 0.30, 0.01);
}

TEST(UrdfModel, MassMatrixIsSymmetricPositiveDefinite) {
  for (const std::string& urdf : {kestrelFile("robot.urdf"), testDataFile("spider.urdf")}) {
    PinocchioInterface robot(urdf);
    std::mt19937 rng(3);
    for (int k = 0; k < 100; ++k) {
      const RandomState state = randomState(robot.getModel(), rng);
      robot.updateRobotState(state.qpos, state.qvel);
      const matrix_t& M = robot.getData().M;
      ASSERT_TRUE(M.isApprox(M.transpose(), 0.0));
      ASSERT_EQ(Eigen::LLT<matrix_t>(M).info(), Eigen::Success);
    }
  }
}

TEST(UrdfModel, RootWithoutWorldLinkGetsAnEquivalentFloatingBase) {
  const std::string with_world = readFile(kestrelFile("robot.urdf"));
  const std::string without_world = std::regex_replace(
      with_world,
      std::regex("<link name=\"world\"/>\\s*<joint name=\"root_joint\" type=\"floating\">"
                 "[\\s\\S]*?</joint>"),
      "");
  ASSERT_NE(without_world, with_world);
  PinocchioInterface reference(kestrelFile("robot.urdf"));
  PinocchioInterface robot(writeTemporaryFile("kestrel_no_world.urdf", without_world));
  EXPECT_EQ(robot.getModel().names[1], "root_joint");
  EXPECT_FALSE(robot.getModel().existFrame("world"));
  EXPECT_TRUE(reference.getModel().existFrame("world"));
  ASSERT_EQ(robot.Nq(), reference.Nq());
  std::mt19937 rng(4);
  for (int k = 0; k < 20; ++k) {
    const RandomState state = randomState(robot.getModel(), rng);
    robot.updateRobotState(state.qpos, state.qvel);
    reference.updateRobotState(state.qpos, state.qvel);
    ASSERT_TRUE(relativelyNear(robot.getData().M, reference.getData().M, 1e-14));
    ASSERT_TRUE(relativelyNear(robot.nle(), reference.nle(), 1e-14));
    ASSERT_TRUE(relativelyNear(robot.getFramePose("RL_foot").translation(),
                               reference.getFramePose("RL_foot").translation(), 1e-14));
  }
}

TEST(UrdfModel, JointsAreNumberedDepthFirstInParserOrder) {
  // Declared in the file as b_* before a_*; the parser lists children alphabetically, and a
  // branch is numbered completely before the next one.
  const std::string urdf = R"(<robot name="order">
    <link name="base"><inertial><mass value="1"/><inertia ixx="1" ixy="0" ixz="0" iyy="1" iyz="0" izz="1"/></inertial></link>
    <link name="b1"/><link name="b2"/><link name="a1"/><link name="a2"/>
    <joint name="b_first" type="continuous"><parent link="base"/><child link="b1"/></joint>
    <joint name="b_second" type="continuous"><parent link="b1"/><child link="b2"/></joint>
    <joint name="a_second" type="continuous"><parent link="a1"/><child link="a2"/></joint>
    <joint name="a_first" type="continuous"><parent link="base"/><child link="a1"/></joint>
  </robot>)";
  const rigid_body::Model model = rigid_body::buildModelFromUrdfString(urdf, "order");
  ASSERT_EQ(model.njoints, 6);
  EXPECT_EQ(model.names[2], "a_first");
  EXPECT_EQ(model.names[3], "a_second");
  EXPECT_EQ(model.names[4], "b_first");
  EXPECT_EQ(model.names[5], "b_second");
  EXPECT_EQ(model.parents[3], 2);
  EXPECT_EQ(model.parents[5], 4);
  for (int i = 1; i < model.njoints; ++i) EXPECT_LT(model.parents[i], i);
  // Continuous joints have no position limits.
  EXPECT_GT(model.upperPositionLimit[7], 1e300);
  EXPECT_LT(model.lowerPositionLimit[7], -1e300);
}

TEST(UrdfModel, SpiderLimitsAndMergedFixedLinks) {
  const rigid_body::Model model = rigid_body::buildModelFromUrdf(testDataFile("spider.urdf"));
  EXPECT_EQ(model.names[1], "base_free");  // the URDF's floating joint keeps its name
  const int slider = model.getJointId("b_slider");
  EXPECT_EQ(model.joint_types[slider], rigid_body::JointType::kPrismatic);
  EXPECT_EQ(model.lowerPositionLimit[model.idx_qs[slider]], -0.1);
  EXPECT_EQ(model.effortLimit[model.idx_vs[slider]], 100.0);
  EXPECT_NEAR(model.axes[slider].norm(), 1.0, 1e-15);
  // The body of the slider carries slide and tool (fixed), the base carries body and sensor.
  EXPECT_NEAR(model.inertias[slider].mass(), 0.8, 1e-15);
  EXPECT_NEAR(model.inertias[1].mass(), 3.4, 1e-15);
  // The wrist hangs below the fixed tool link: its parent joint is the slider.
  EXPECT_EQ(model.parents[model.getJointId("c_wrist")], slider);
}

/// A minimal valid robot with `extra` inserted before the closing tag.
std::string robotWith(const std::string& extra) {
  return R"(<robot name="broken">
    <link name="base"><inertial><mass value="1"/><inertia ixx="1" ixy="0" ixz="0" iyy="1" iyz="0" izz="1"/></inertial></link>
    )" + extra +
         "</robot>";
}

void expectUrdfError(const std::string& text, const std::string& file_name,
                     const std::string& expected_words) {
  const std::string path = writeTemporaryFile(file_name, text);
  try {
    PinocchioInterface robot(path);
    ADD_FAILURE() << "no error for " << file_name;
  } catch (const std::invalid_argument& error) {
    EXPECT_THAT(error.what(), HasSubstr(path));
    EXPECT_THAT(error.what(), HasSubstr(expected_words));
  }
}

TEST(UrdfModelErrors, NameTheFileAndTheProblem) {
  expectUrdfError("<robot name=\"x\"><link name=\"a\">", "truncated.urdf", "not a valid URDF");
  expectUrdfError("this is not xml", "garbage.urdf", "not a valid URDF");
  expectUrdfError(robotWith(R"(<link name="p"/><joint name="slide_plane" type="planar">
      <parent link="base"/><child link="p"/></joint>)"),
                  "planar.urdf", "slide_plane");
  expectUrdfError(robotWith(R"(<link name="f"/><joint name="loose" type="floating">
      <parent link="base"/><child link="f"/></joint>)"),
                  "floating.urdf", "loose");
  expectUrdfError(R"(<robot name="fixed_base"><link name="world"/><link name="base"/>
      <joint name="weld" type="fixed"><parent link="world"/><child link="base"/></joint></robot>)",
                  "welded.urdf", "floating");
  expectUrdfError(robotWith(R"(<link name="heavy"><inertial><mass value="-1"/>
      <inertia ixx="1" ixy="0" ixz="0" iyy="1" iyz="0" izz="1"/></inertial></link>
      <joint name="j" type="fixed"><parent link="base"/><child link="heavy"/></joint>)"),
                  "negative_mass.urdf", "heavy");
  expectUrdfError(robotWith(R"(<link name="odd"><inertial><mass value="1"/>
      <inertia ixx="1" ixy="0" ixz="0" iyy="-1" iyz="0" izz="1"/></inertial></link>
      <joint name="j" type="fixed"><parent link="base"/><child link="odd"/></joint>)"),
                  "indefinite.urdf", "odd");
  expectUrdfError(robotWith(R"(<link name="l1"/><link name="l2"/>
      <joint name="leader" type="continuous"><parent link="base"/><child link="l1"/></joint>
      <joint name="follower" type="continuous"><parent link="base"/><child link="l2"/>
      <mimic joint="leader"/></joint>)"),
                  "mimic.urdf", "follower");
}

TEST(UrdfModelErrors, NumbersThatOverflowWhenCombinedAreRefused) {
  // Each value is a finite double; placing or merging them is not. Massless links, so that the
  // origins themselves overflow (a massive one placed that far would overflow its body first).
  expectUrdfError(R"(<robot name="far"><link name="base"/><link name="far"/><link name="farther"/>
      <joint name="out" type="fixed"><origin xyz="1.5e308 0 0"/><parent link="base"/>
      <child link="far"/></joint>
      <joint name="beyond" type="fixed"><origin xyz="1.5e308 0 0"/><parent link="far"/>
      <child link="farther"/></joint></robot>)",
                  "far_origin.urdf", "joint 'beyond' has an origin that is not finite");
  expectUrdfError(robotWith(R"(<link name="dense"><inertial><mass value="1.5e308"/>
      <inertia ixx="1" ixy="0" ixz="0" iyy="1" iyz="0" izz="1"/></inertial></link>
      <link name="denser"><inertial><mass value="1.5e308"/>
      <inertia ixx="1" ixy="0" ixz="0" iyy="1" iyz="0" izz="1"/></inertial></link>
      <joint name="a" type="fixed"><parent link="base"/><child link="dense"/></joint>
      <joint name="b" type="fixed"><parent link="base"/><child link="denser"/></joint>)"),
                  "heavy_merge.urdf", "denser' makes the inertia of its body overflow");
}

TEST(UrdfModelErrors, MissingFile) {
  const std::string path = "/nonexistent/velmora/robot.urdf";
  try {
    PinocchioInterface robot(path);
    ADD_FAILURE() << "no error";
  } catch (const std::invalid_argument& error) {
    EXPECT_THAT(error.what(), HasSubstr(path));
    EXPECT_THAT(error.what(), HasSubstr("cannot open"));
  }
}

}  // namespace
}  // namespace velmora::test
