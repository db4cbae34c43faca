#include "description/ModelInfoLoader.h"

#include <cmath>
#include <set>
#include <sstream>
#include <stdexcept>

#include <boost/property_tree/info_parser.hpp>
#include <boost/property_tree/ptree.hpp>

namespace velmora {

namespace {

using boost::property_tree::ptree;

/// Reads one description file and reports problems with the file name and the key.
class DescriptionReader {
 public:
  DescriptionReader(const std::string& path, const rigid_body::Model& model)
      : path_(path), model_(model) {
    try {
      boost::property_tree::read_info(path, tree_);
    } catch (const boost::property_tree::info_parser_error& error) {
      throw std::runtime_error("robot description '" + path + "': cannot read the file (" +
                               error.what() + ")");
    }
  }

  [[noreturn]] void fail(const std::string& key, const std::string& problem) const {
    throw std::invalid_argument("robot description '" + path_ + "', key '" + key + "': " + problem);
  }

  const ptree& node(const std::string& key) const {
    const auto child = tree_.get_child_optional(key);
    if (!child) fail(key, "missing");
    return *child;
  }

  std::string name(const std::string& key) const {
    const std::string value = node(key).data();
    if (value.empty()) fail(key, "empty value");
    return value;
  }

  /// The child keys of a list node, in file order.
  std::vector<std::string> names(const std::string& key) const {
    std::vector<std::string> out;
    for (const auto& entry : node(key)) {
      if (!entry.second.data().empty() || !entry.second.empty()) {
        fail(key, "entry '" + entry.first + "' must be a bare name (one per line)");
      }
      out.push_back(entry.first);
    }
    if (out.empty()) fail(key, "empty list");
    return out;
  }

  /// A vector written as whitespace-separated numbers.
  vector_t numbers(const std::string& key, int expected_count) const {
    std::istringstream text(node(key).data());
    std::vector<scalar_t> values;
    std::string token;
    while (text >> token) values.push_back(toNumber(key, token));
    if (static_cast<int>(values.size()) != expected_count) {
      fail(key, "expected " + std::to_string(expected_count) + " numbers, found " +
                    std::to_string(values.size()));
    }
    return Eigen::Map<vector_t>(values.data(), expected_count);
  }

  /// Joint positions keyed by joint name, returned in model order.
  vector_t jointPositions(const std::string& key) const {
    const int joint_count = model_.njoints - 2;
    vector_t positions(joint_count);
    std::vector<bool> seen(joint_count, false);
    for (const auto& entry : node(key)) {
      const std::string& joint = entry.first;
      if (!model_.existJointName(joint)) {
        throw std::invalid_argument("robot description '" + path_ + "', key '" + key +
                                    "': the model has no joint named '" + joint + "'");
      }
      const int index = model_.getJointId(joint) - 2;
      if (index < 0) fail(key, "'" + joint + "' is not an actuated joint");
      if (seen[index]) fail(key, "joint '" + joint + "' appears twice");
      positions[index] = toNumber(key + "." + joint, entry.second.data());
      seen[index] = true;
    }
    for (int j = 0; j < joint_count; ++j) {
      if (!seen[j]) fail(key, "no entry for joint '" + model_.names[j + 2] + "'");
    }
    return positions;
  }

  void requireFrames(const std::string& key, const std::vector<std::string>& frames) const {
    std::set<std::string> unique;
    for (const std::string& frame : frames) {
      if (!model_.existFrame(frame)) {
        throw std::invalid_argument("robot description '" + path_ + "', key '" + key +
                                    "': the model has no frame named '" + frame + "'");
      }
      if (!unique.insert(frame).second) fail(key, "frame '" + frame + "' appears twice");
    }
  }

  /// Checks that `joints` are the model's actuated joints in model order.
  void requireActuatedJoints(const std::string& key, const std::vector<std::string>& joints) const {
    for (const std::string& joint : joints) {
      if (!model_.existJointName(joint)) {
        throw std::invalid_argument("robot description '" + path_ + "', key '" + key +
                                    "': the model has no joint named '" + joint + "'");
      }
    }
    const std::vector<std::string> actuated(model_.names.begin() + 2, model_.names.end());
    if (joints != actuated) {
      std::string expected;
      for (const std::string& joint : actuated) expected += " " + joint;
      fail(key, "must list the model's actuated joints in model order:" + expected);
    }
  }

 private:
  scalar_t toNumber(const std::string& key, const std::string& text) const {
    std::size_t used = 0;
    scalar_t value = 0.0;
    try {
      value = std::stod(text, &used);
    } catch (const std::exception&) {
      used = 0;
    }
    if (used == 0 || used != text.size() || !std::isfinite(value)) {
      fail(key, "'" + text + "' is not a finite number");
    }
    return value;
  }

  std::string path_;
  const rigid_body::Model& model_;
  ptree tree_;
};

}  // namespace

ModelInfo loadModelInfo(const std::string& description_path,
                        const PinocchioInterface& pinocchio_interface) {
  const rigid_body::Model& model = pinocchio_interface.getModel();
  const DescriptionReader reader(description_path, model);
  ModelInfo info;
  info.robot_name = reader.name("robot_name");
  info.base_name = reader.name("base_name");
  reader.requireFrames("base_name", {info.base_name});
  info.foot_name = reader.names("foot_names");
  reader.requireFrames("foot_names", info.foot_name);
  info.hip_name = reader.names("hip_names");
  reader.requireFrames("hip_names", info.hip_name);
  if (info.hip_name.size() != info.foot_name.size()) {
    reader.fail("hip_names", "expected one hip per foot (" + std::to_string(info.foot_name.size()) +
                                 "), found " + std::to_string(info.hip_name.size()));
  }
  info.joints_name = reader.names("joint_names");
  reader.requireActuatedJoints("joint_names", info.joints_name);

  info.base_init_pos = reader.numbers("base_init_pos", 3);
  const vector4_t quaternion = reader.numbers("base_init_quat", 4);
  if (quaternion.stableNorm() < 1e-6) reader.fail("base_init_quat", "zero quaternion");
  // Divided by its largest entry first: the norm of entries near the limit of the double range
  // overflows, and dividing by an infinite norm would give a zero quaternion.
  info.base_init_quat = (quaternion / quaternion.cwiseAbs().maxCoeff()).normalized();
  info.joints_init_pos = reader.jointPositions("joints_init_pos");
  info.joints_nominal_pos = reader.jointPositions("joints_nominal_pos");
  return info;
}

}  // namespace velmora
