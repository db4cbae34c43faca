// The description loader: the bundled description, joint positions in model order, quaternion
// normalisation, and errors naming the file and the key, frame or joint at fault.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <boost/property_tree/info_parser.hpp>

#include "RobotTestSupport.h"
#include "description/ModelInfoLoader.h"
#include "pinocchio/PinocchioInterface.h"

namespace velmora::test {
namespace {

using boost::property_tree::ptree;
using ::testing::HasSubstr;

/// An edit of the bundled description: value "-" erases the key, "+name" appends the list entry
/// `name` to the list at the key, anything else replaces the key's value.
using Edit = std::pair<std::string, std::string>;

class ModelInfoLoaderTest : public ::testing::Test {
 protected:
  /// The bundled description with `edits` applied, written to a file named after `name`.
  std::string variant(const std::string& name, const std::vector<Edit>& edits) const {
    ptree tree;
    boost::property_tree::read_info(kestrelFile("description.info"), tree);
    for (const auto& [key, value] : edits) {
      const std::size_t dot = key.rfind('.');
      ptree& parent = dot == std::string::npos ? tree : tree.get_child(key.substr(0, dot));
      if (value == "-") parent.erase(key.substr(dot + 1));
      if (value[0] == '+') tree.get_child(key).push_back({value.substr(1), ptree()});
      if (value != "-" && value[0] != '+') tree.put(key, value);
    }
    const std::string path = writeTemporaryFile(name + ".info", "");
    boost::property_tree::write_info(path, tree);
    return path;
  }

  PinocchioInterface robot_{kestrelFile("robot.urdf")};
};

TEST_F(ModelInfoLoaderTest, ValuesComeInModelOrderAndTheQuaternionNormalised) {
  const ModelInfo info = loadModelInfo(kestrelFile("description.info"), robot_);
  EXPECT_EQ(info.foot_name, (std::vector<std::string>{"FL_foot", "FR_foot", "RL_foot", "RR_foot"}));
  const std::vector<std::string>& names = robot_.getModel().names;
  EXPECT_EQ(info.joints_name, std::vector<std::string>(names.begin() + 2, names.end()));
  // Distinct joint positions written in reverse order come back in model order; a quaternion
  // whose squared norm overflows still gives the unit quaternion it points to.
  std::vector<Edit> edits = {{"base_init_pos", "0.1 -0.2 0.3"},
                             {"base_init_quat", "1.7e308 -1.7e308 1.7e308 1.7e308"}};
  for (int j = 13; j >= 2; --j) edits.push_back({"joints_init_pos." + names[j], "-"});
  for (int j = 13; j >= 2; --j) edits.push_back({"joints_init_pos." + names[j], std::to_string(j)});
  const ModelInfo edited = loadModelInfo(variant("edited", edits), robot_);
  EXPECT_EQ(edited.base_init_pos, vector3_t(0.1, -0.2, 0.3));
  EXPECT_TRUE(relativelyNear(edited.base_init_quat, vector4_t(0.5, -0.5, 0.5, 0.5), 1e-15));
  for (int j = 0; j < 12; ++j) EXPECT_EQ(edited.joints_init_pos[j], j + 2);
  EXPECT_EQ(edited.joints_nominal_pos, info.joints_nominal_pos);
}

TEST_F(ModelInfoLoaderTest, BadDescriptionsNameTheFileAndTheCulprit) {
  std::vector<std::pair<std::vector<Edit>, std::vector<std::string>>> cases = {
      {{{"base_init_quat", "0 0 0 0"}}, {"base_init_quat"}},
      {{{"foot_names", "+FL_toe"}}, {"foot_names", "'FL_toe'"}},
      {{{"joint_names", "+FL_wheel_joint"}}, {"joint_names", "'FL_wheel_joint'"}},
      {{{"joint_names.FL_hip_joint", "-"}, {"joint_names", "+FL_hip_joint"}},
       {"joint_names", "model order"}},
      {{{"joints_nominal_pos.RR_calf_joint", "-"}}, {"joints_nominal_pos", "RR_calf_joint"}},
      {{{"base_init_pos", "0 0"}}, {"base_init_pos", "3"}},
      {{{"base_init_pos", "0 zero inf"}}, {"base_init_pos", "zero"}},
      {{{"hip_names.RR_hip", "-"}}, {"hip_names", "one hip per foot"}}};
  for (const char* key :
       {"robot_name", "base_name", "foot_names", "hip_names", "joint_names", "base_init_pos",
        "base_init_quat", "joints_init_pos", "joints_nominal_pos"}) {
    cases.push_back({{{key, "-"}}, {std::string("'") + key + "'", "missing"}});
  }
  for (std::size_t k = 0; k < cases.size(); ++k) {
    const std::string path = variant("bad_" + std::to_string(k), cases[k].first);
    try {
      loadModelInfo(path, robot_);
      ADD_FAILURE() << "accepted " << cases[k].first.front().first;
    } catch (const std::invalid_argument& error) {
      EXPECT_THAT(error.what(), HasSubstr(path));
      for (const std::string& word : cases[k].second) EXPECT_THAT(error.what(), HasSubstr(word));
    }
  }
  const std::string syntax_error = writeTemporaryFile("syntax.info", "robot_name {\n");
  EXPECT_THAT([&] { loadModelInfo(syntax_error, robot_); },
              ::testing::ThrowsMessage<std::runtime_error>(HasSubstr(syntax_error)));
}

}  // namespace
}  // namespace velmora::test
