// The description loader: the bundled description, and errors naming the file and the key,
// frame or joint at fault.

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <boost/property_tree/info_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include "TestHelpers.h"
#include "description/ModelInfoLoader.h"
#include "pinocchio/PinocchioInterface.h"

namespace velmora::test {
namespace {

using boost::property_tree::ptree;
using ::testing::HasSubstr;

class ModelInfoLoaderTest : public ::testing::Test {
 protected:
  ModelInfoLoaderTest() : robot_(kestrelFile("robot.urdf")) {
    boost::property_tree::read_info(kestrelFile("description.info"), bundled_);
  }

  /// Writes a variant of the bundled description and returns its path.
  std::string variant(const std::string& name, const ptree& tree) const {
    const std::string path = writeTemporaryFile(name + ".info", "");
    boost::property_tree::write_info(path, tree);
    return path;
  }

  /// Expects loading to fail with exception type E and a message holding the path and `words`.
  template <typename E>
  void expectError(const std::string& path, const std::vector<std::string>& words) const {
    try {
      loadModelInfo(path, robot_);
      ADD_FAILURE() << "accepted " << path;
    } catch (const E& error) {
      EXPECT_THAT(error.what(), HasSubstr(path));
      for (const std::string& word : words) EXPECT_THAT(error.what(), HasSubstr(word));
    }
  }

  PinocchioInterface robot_;
  ptree bundled_;
};

TEST_F(ModelInfoLoaderTest, BundledDescription) {
  const ModelInfo info = loadModelInfo(kestrelFile("description.info"), robot_);
  EXPECT_EQ(info.robot_name, "kestrel");
  EXPECT_EQ(info.base_name, "trunk");
  EXPECT_EQ(info.foot_name, (std::vector<std::string>{"FL_foot", "FR_foot", "RL_foot", "RR_foot"}));
  EXPECT_EQ(info.hip_name, (std::vector<std::string>{"FL_hip", "FR_hip", "RL_hip", "RR_hip"}));
  const rigid_body::Model& model = robot_.getModel();
  EXPECT_EQ(info.joints_name, std::vector<std::string>(model.names.begin() + 2, model.names.end()));
  EXPECT_EQ(info.base_init_quat, vector4_t(0, 0, 0, 1));
  ASSERT_EQ(info.joints_init_pos.size(), 12);
  ASSERT_EQ(info.joints_nominal_pos.size(), 12);
  for (int leg = 0; leg < 4; ++leg) {
    // Feet straight below the thigh joints: calf = -2 thigh for equal thigh and calf lengths.
    EXPECT_EQ(info.joints_init_pos[3 * leg], 0.0);
    EXPECT_NEAR(info.joints_init_pos[3 * leg + 2], -2 * info.joints_init_pos[3 * leg + 1], 1e-15);
  }
  EXPECT_EQ(info.joints_nominal_pos, info.joints_init_pos);
  EXPECT_NEAR(info.base_init_pos.z(), 0.4 * std::cos(info.joints_init_pos[1]) + 0.02, 1e-12);
}

TEST_F(ModelInfoLoaderTest, JointPositionsAreReturnedInModelOrder) {
  ptree tree = bundled_;
  // Rewrite joints_init_pos in reverse order with distinct values.
  ptree reversed;
  const rigid_body::Model& model = robot_.getModel();
  for (int j = model.njoints - 1; j >= 2; --j)
    reversed.put(ptree::path_type(model.names[j], '/'), 0.1 * j);
  tree.put_child("joints_init_pos", reversed);
  const ModelInfo info = loadModelInfo(variant("reversed", tree), robot_);
  for (int j = 0; j < 12; ++j) EXPECT_DOUBLE_EQ(info.joints_init_pos[j], 0.1 * (j + 2));
}

TEST_F(ModelInfoLoaderTest, NonUnitQuaternionIsNormalisedAndZeroRejected) {
  ptree tree = bundled_;
  tree.put("base_init_quat", "0 0 2 2");
  const ModelInfo info = loadModelInfo(variant("quat", tree), robot_);
  EXPECT_TRUE(
      relativelyNear(info.base_init_quat, vector4_t(0, 0, std::sqrt(0.5), std::sqrt(0.5)), 1e-15));
  tree.put("base_init_quat", "0 0 0 0");
  expectError<std::invalid_argument>(variant("zero_quat", tree), {"base_init_quat"});
  // Entries whose squared norm overflows still give the unit quaternion they point to.
  const std::vector<std::pair<std::string, vector4_t>> huge_cases = {
      {"1e200 0 0 1e200", vector4_t(std::sqrt(0.5), 0, 0, std::sqrt(0.5))},
      {"1.7e308 -1.7e308 1.7e308 1.7e308", vector4_t(0.5, -0.5, 0.5, 0.5)}};
  for (const auto& [huge, expected] : huge_cases) {
    tree.put("base_init_quat", huge);
    const ModelInfo big = loadModelInfo(variant("huge_quat", tree), robot_);
    EXPECT_TRUE(relativelyNear(big.base_init_quat, expected, 1e-15)) << huge;
  }
}

TEST_F(ModelInfoLoaderTest, UnreadableFiles) {
  expectError<std::runtime_error>("/nonexistent/velmora/description.info", {"cannot read"});
  expectError<std::runtime_error>(writeTemporaryFile("syntax.info", "robot_name {\n"),
                                  {"cannot read"});
}

TEST_F(ModelInfoLoaderTest, EveryMissingKeyIsNamed) {
  for (const char* key :
       {"robot_name", "base_name", "foot_names", "hip_names", "joint_names", "base_init_pos",
        "base_init_quat", "joints_init_pos", "joints_nominal_pos"}) {
    ptree tree = bundled_;
    tree.erase(key);
    expectError<std::invalid_argument>(variant(std::string("missing_") + key, tree),
                                       {std::string("'") + key + "'", "missing"});
  }
}

TEST_F(ModelInfoLoaderTest, FramesAndJointsTheModelLacksAreNamed) {
  ptree tree = bundled_;
  tree.put("base_name", "chassis");
  expectError<std::invalid_argument>(variant("base", tree), {"base_name", "'chassis'"});

  tree = bundled_;
  tree.get_child("foot_names").push_back({"FL_toe", ptree()});
  expectError<std::invalid_argument>(variant("foot", tree), {"foot_names", "'FL_toe'"});

  tree = bundled_;
  tree.get_child("hip_names").push_back({"XX_hip", ptree()});
  expectError<std::invalid_argument>(variant("hip", tree), {"hip_names", "'XX_hip'"});

  tree = bundled_;
  tree.get_child("joint_names").push_back({"FL_wheel_joint", ptree()});
  expectError<std::invalid_argument>(variant("joint", tree), {"joint_names", "'FL_wheel_joint'"});

  tree = bundled_;
  tree.get_child("joints_init_pos").put("FL_wheel_joint", 0.0);
  expectError<std::invalid_argument>(variant("init_joint", tree),
                                     {"joints_init_pos", "'FL_wheel_joint'"});
}

TEST_F(ModelInfoLoaderTest, MalformedValues) {
  // Joints out of model order.
  ptree tree = bundled_;
  ptree swapped;
  const rigid_body::Model& model = robot_.getModel();
  for (int j = model.njoints - 1; j >= 2; --j) swapped.push_back({model.names[j], ptree()});
  tree.put_child("joint_names", swapped);
  expectError<std::invalid_argument>(variant("order", tree), {"joint_names", "model order"});

  // A joint without an initial position.
  tree = bundled_;
  tree.get_child("joints_nominal_pos").erase("RR_calf_joint");
  expectError<std::invalid_argument>(variant("no_calf", tree),
                                     {"joints_nominal_pos", "RR_calf_joint"});

  // Not a number.
  tree = bundled_;
  tree.get_child("joints_init_pos").put("FL_hip_joint", "0.1rad");
  expectError<std::invalid_argument>(variant("nan_joint", tree), {"FL_hip_joint", "0.1rad"});

  tree = bundled_;
  tree.put("base_init_pos", "0 0");
  expectError<std::invalid_argument>(variant("short_pos", tree), {"base_init_pos", "3"});
  tree.put("base_init_pos", "0 zero 0.3");
  expectError<std::invalid_argument>(variant("word_pos", tree), {"base_init_pos", "zero"});
  tree.put("base_init_pos", "0 0 inf");
  expectError<std::invalid_argument>(variant("inf_pos", tree), {"base_init_pos"});

  // Fewer hips than feet.
  tree = bundled_;
  tree.get_child("hip_names").erase("RR_hip");
  expectError<std::invalid_argument>(variant("three_hips", tree),
                                     {"hip_names", "one hip per foot"});

  // A list entry with a value.
  tree = bundled_;
  tree.get_child("foot_names").put("FL_foot", "yes");
  expectError<std::invalid_argument>(variant("valued_list", tree), {"foot_names", "FL_foot"});

  // Repeated feet.
  tree = bundled_;
  tree.get_child("foot_names").push_back({"FL_foot", ptree()});
  expectError<std::invalid_argument>(variant("twice", tree), {"foot_names", "twice"});
}

}  // namespace
}  // namespace velmora::test
