#pragma once

// Shared helpers of the robot model tests: random states, exact integration along a constant
// generalised velocity, and relative comparisons.

#include <random>
#include <string>

#include <gtest/gtest.h>

#include "BundledRobot.h"
#include "core/Types.h"
#include "rigid_body/Model.h"

namespace velmora::test {

/// Path of a test data file of this folder.
std::string testDataFile(const std::string& name);

/// A random state: base position in [-1, 1]^3, uniformly random unit quaternion, joint positions
/// in [-pi, pi] (revolute) or [-0.3, 0.3] (prismatic); velocities normal with the given scale.
struct RandomState {
  vector_t qpos;
  vector_t qvel;
};
RandomState randomState(const rigid_body::Model& model, std::mt19937& rng,
                        scalar_t velocity_scale = 1.0);

/// The position reached from `qpos` after `duration` seconds at the constant generalised velocity
/// `qvel` (base: exponential of the body twist; joints: linear).
vector_t integrateConfiguration(const rigid_body::Model& model, const vector_t& qpos,
                                const vector_t& qvel, scalar_t duration);

/// max |actual - expected| <= tolerance * max(1, max |expected|).
::testing::AssertionResult relativelyNear(const matrix_t& actual, const matrix_t& expected,
                                          scalar_t tolerance);

/// Writes `text` to a fresh file in the temporary directory and returns its path.
std::string writeTemporaryFile(const std::string& file_name, const std::string& text);
/// The whole content of a text file.
std::string readFile(const std::string& path);

}  // namespace velmora::test
