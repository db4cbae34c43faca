#include "TestHelpers.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <unistd.h>

#include <Eigen/Geometry>

namespace velmora::test {

std::string testDataFile(const std::string& name) {
  return std::string(VELMORA_ROBOT_TEST_DATA_DIR) + "/" + name;
}

RandomState randomState(const rigid_body::Model& model, std::mt19937& rng,
                        scalar_t velocity_scale) {
  std::uniform_real_distribution<scalar_t> unit(-1.0, 1.0);
  std::normal_distribution<scalar_t> normal(0.0, 1.0);
  RandomState state{vector_t::Zero(model.nq), vector_t::Zero(model.nv)};
  for (int i = 1; i < model.njoints; ++i) {
    const int iq = model.idx_qs[i];
    switch (model.joint_types[i]) {
      case rigid_body::JointType::kFreeFlyer: {
        for (int k = 0; k < 3; ++k) state.qpos[iq + k] = unit(rng);
        vector4_t quaternion;
        for (int k = 0; k < 4; ++k) quaternion[k] = normal(rng);
        state.qpos.segment<4>(iq + 3) = quaternion.normalized();
        break;
      }
      case rigid_body::JointType::kRevolute:
        state.qpos[iq] = M_PI * unit(rng);
        break;
      case rigid_body::JointType::kPrismatic:
        state.qpos[iq] = 0.3 * unit(rng);
        break;
      case rigid_body::JointType::kUniverse:
        break;
    }
  }
  for (int k = 0; k < model.nv; ++k) state.qvel[k] = velocity_scale * normal(rng);
  return state;
}

namespace {
matrix3_t skewMatrix(const vector3_t& v) {
  matrix3_t out;
  out << 0, -v.z(), v.y(), v.z(), 0, -v.x(), -v.y(), v.x(), 0;
  return out;
}
}  // namespace

vector_t integrateConfiguration(const rigid_body::Model& model, const vector_t& qpos,
                                const vector_t& qvel, scalar_t duration) {
  vector_t out = qpos;
  for (int i = 1; i < model.njoints; ++i) {
    const int iq = model.idx_qs[i];
    const int iv = model.idx_vs[i];
    if (model.joint_types[i] != rigid_body::JointType::kFreeFlyer) {
      out[iq] += duration * qvel[iv];
      continue;
    }
    // Exponential of the body twist (v, w) * duration: dR = exp(K), dp = V v duration with
    // V = I + (1 - cos t)/t^2 K + (t - sin t)/t^3 K^2, K = skew(w duration), t = |w| duration.
    const vector3_t rotation_vector = qvel.segment<3>(iv + 3) * duration;
    const scalar_t angle = rotation_vector.norm();
    const matrix3_t K = skewMatrix(rotation_vector);
    matrix3_t V = matrix3_t::Identity();
    if (angle > 1e-9) {
      V += (1.0 - std::cos(angle)) / (angle * angle) * K +
           (angle - std::sin(angle)) / (angle * angle * angle) * K * K;
    } else {
      V += 0.5 * K + K * K / 6.0;
    }
    const Eigen::Quaternion<scalar_t> orientation(qpos[iq + 6], qpos[iq + 3], qpos[iq + 4],
                                                  qpos[iq + 5]);
    const Eigen::Quaternion<scalar_t> step(Eigen::AngleAxis<scalar_t>(
        angle, angle > 0 ? vector3_t(rotation_vector / angle) : vector3_t::UnitX()));
    const Eigen::Quaternion<scalar_t> next = (orientation * step).normalized();
    out.segment<3>(iq) =
        qpos.segment<3>(iq) + orientation.toRotationMatrix() * V * qvel.segment<3>(iv) * duration;
    out.segment<4>(iq + 3) << next.x(), next.y(), next.z(), next.w();
  }
  return out;
}

::testing::AssertionResult relativelyNear(const matrix_t& actual, const matrix_t& expected,
                                          scalar_t tolerance) {
  if (actual.rows() != expected.rows() || actual.cols() != expected.cols()) {
    return ::testing::AssertionFailure() << "size " << actual.rows() << "x" << actual.cols()
                                         << " vs " << expected.rows() << "x" << expected.cols();
  }
  const scalar_t scale = std::max<scalar_t>(1.0, expected.cwiseAbs().maxCoeff());
  const scalar_t error = (actual - expected).cwiseAbs().maxCoeff();
  if (error <= tolerance * scale) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "max error " << error << " > " << tolerance << " * " << scale << "\nactual:\n"
         << actual << "\nexpected:\n"
         << expected;
}

std::string writeTemporaryFile(const std::string& file_name, const std::string& text) {
  const std::filesystem::path directory =
      std::filesystem::temp_directory_path() / ("velmora_robot_test_" + std::to_string(::getpid()));
  std::filesystem::create_directories(directory);
  const std::filesystem::path path = directory / file_name;
  std::ofstream(path) << text;
  return path.string();
}

std::string readFile(const std::string& path) {
  std::ifstream file(path);
  if (!file) throw std::runtime_error("cannot read " + path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

}  // namespace velmora::test
