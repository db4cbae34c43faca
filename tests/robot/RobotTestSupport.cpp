#include "RobotTestSupport.h"

#include <filesystem>
#include <fstream>

#include <unistd.h>

namespace velmora::test {

RandomState randomState(const rigid_body::Model& model, std::mt19937& rng,
                        scalar_t velocity_scale) {
  std::uniform_real_distribution<scalar_t> unit(-1.0, 1.0);
  std::normal_distribution<scalar_t> normal(0.0, 1.0);
  RandomState state{vector_t::Zero(model.nq), vector_t::Zero(model.nv)};
  for (int k = 0; k < 3; ++k) state.qpos[k] = unit(rng);
  const vector4_t quaternion(normal(rng), normal(rng), normal(rng), normal(rng));
  state.qpos.segment<4>(3) = quaternion.normalized();
  for (int i = 2; i < model.njoints; ++i) {
    const bool prismatic = model.joint_types[i] == rigid_body::JointType::kPrismatic;
    state.qpos[model.idx_qs[i]] = (prismatic ? 0.3 : M_PI) * unit(rng);
  }
  for (int k = 0; k < model.nv; ++k) state.qvel[k] = velocity_scale * normal(rng);
  return state;
}

::testing::AssertionResult relativelyNear(const matrix_t& actual, const matrix_t& expected,
                                          scalar_t tolerance) {
  const scalar_t scale = std::max<scalar_t>(1.0, expected.cwiseAbs().maxCoeff());
  if (actual.rows() == expected.rows() && actual.cols() == expected.cols() &&
      (actual - expected).cwiseAbs().maxCoeff() <= tolerance * scale) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "beyond " << tolerance << " * " << scale << ", actual\n"
                                       << actual << "\nexpected\n"
                                       << expected;
}

std::string writeTemporaryFile(const std::string& file_name, const std::string& text) {
  const std::filesystem::path directory =
      std::filesystem::temp_directory_path() / ("velmora_robot_test_" + std::to_string(getpid()));
  std::filesystem::create_directories(directory);
  std::ofstream(directory / file_name) << text;
  return (directory / file_name).string();
}

}  // namespace velmora::test
