#pragma once

// Support of the robot model tests: random states, relative comparisons and temporary files.

#include <random>
#include <string>

#include <gtest/gtest.h>

#include "BundledRobot.h"
#include "core/Types.h"
#include "rigid_body/Model.h"

namespace velmora::test {

/// Path of a test data file of tests/robot/data.
inline std::string testDataFile(const std::string& name) {
  return VELMORA_ROBOT_TEST_DATA_DIR "/" + name;
}

/// A random state of a floating-base model: base position in [-1, 1]^3, uniformly random unit
/// quaternion, joint positions in [-pi, pi] (revolute) or [-0.3, 0.3] [m] (prismatic);
/// velocities normal with the given scale.
struct RandomState {
  vector_t qpos;
  vector_t qvel;
};
RandomState randomState(const rigid_body::Model& model, std::mt19937& rng,
                        scalar_t velocity_scale = 1.0);

/// Same size and max |actual - expected| <= tolerance * max(1, max |expected|).
::testing::AssertionResult relativelyNear(const matrix_t& actual, const matrix_t& expected,
                                          scalar_t tolerance);

/// Writes `text` to a fresh file in a per-process temporary directory and returns its path.
std::string writeTemporaryFile(const std::string& file_name, const std::string& text);

}  // namespace velmora::test
