// The bundled parameter file holds every key both optimisers read, with values the loaders take
// as they are (no silent clamping) and weights and gains that make sense.

#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "TestHelpers.h"
#include "core/misc/LoadData.h"

namespace velmora::test {
namespace {

/// Loads a matrix and checks it is diagonal with entries in [min_entry, inf).
void expectDiagonal(const std::string& key, int size, scalar_t min_entry) {
  matrix_t matrix = matrix_t::Zero(size, size);
  ASSERT_NO_THROW(loadData::loadEigenMatrix(kestrelFile("params.info"), key, matrix)) << key;
  EXPECT_TRUE(matrix.isApprox(matrix_t(matrix.diagonal().asDiagonal()), 0.0)) << key;
  EXPECT_GE(matrix.diagonal().minCoeff(), min_entry) << key;
}

scalar_t scalar(const std::string& key) {
  scalar_t value = -1.0;
  loadData::loadCppDataType(kestrelFile("params.info"), key, value);
  return value;
}

TEST(BundledParameters, ContactForceOptimisationKeys) {
  expectDiagonal("weights.force_optmization", 12, 1e-6);
  const scalar_t mu = scalar("friction_coefficient");
  EXPECT_GT(mu, 0.01);
  EXPECT_LE(mu, 1.0);
  const scalar_t dt = scalar("force_optimization_dt");
  EXPECT_GT(dt, 0.001);
  EXPECT_LE(dt, 0.5);
}

TEST(BundledParameters, WholeBodyControllerKeys) {
  expectDiagonal("weights.floatingbase", 6, 1e-6);
  expectDiagonal("weights.leg_swing", 3, 1e-6);
  EXPECT_GT(scalar("weights.contact_force"), 0.0);
  const scalar_t wbc_dt = scalar("wbc_dt");
  EXPECT_GT(wbc_dt, 0.0002);
  EXPECT_LE(wbc_dt, 0.1);
  // The body optimiser runs at a multiple of the whole-body period.
  const scalar_t ratio = scalar("force_optimization_dt") / wbc_dt;
  EXPECT_NEAR(ratio, std::round(ratio), 1e-9);
  expectDiagonal("feedback_gain.leg_swing.kp", 3, 1e-6);
  expectDiagonal("feedback_gain.leg_swing.kd", 3, 1e-6);
  expectDiagonal("feedback_gain.floatingbase.kp", 6, 1e-6);
  expectDiagonal("feedback_gain.floatingbase.kd", 6, 1e-6);
}

}  // namespace
}  // namespace velmora::test
