// WholeBodyController: construction, parameters and their clamping, the verbose echo, the
// roll-pitch-yaw error, inputs and the error paths of optimize().

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/property_tree/exceptions.hpp>
#include <boost/property_tree/info_parser.hpp>
#include <cmath>
#include <sstream>
#include <stdexcept>

#include "WbcTestRig.h"

namespace velmora::wbc_test {
namespace {

constexpr double kPi = 3.141592653589793;

TEST(WholeBodySetup, DecisionVectorOfTheBundledRobot) {
  Rig rig;
  EXPECT_EQ(rig.nv(), 18);
  EXPECT_EQ(rig.nJ(), 12);
  EXPECT_EQ(rig.wbc->numDecisionVariables(), 18u + 12u + 12u);
  EXPECT_DOUBLE_EQ(rig.wbc->dt(), 0.002);
}

TEST(WholeBodySetup, RejectsEmptyPointersAndOtherFootCounts) {
  Rig rig;
  EXPECT_THROW(WholeBodyController(nullptr, rig.info, rig.model), std::invalid_argument);
  EXPECT_THROW(WholeBodyController(rig.node, nullptr, rig.model), std::invalid_argument);
  EXPECT_THROW(WholeBodyController(rig.node, rig.info, nullptr), std::invalid_argument);
  auto three_feet = std::make_shared<ModelInfo>(*rig.info);
  three_feet->foot_name.pop_back();
  try {
    WholeBodyController wbc(rig.node, three_feet, rig.model);
    FAIL() << "three feet accepted";
  } catch (const std::invalid_argument& error) {
    EXPECT_THAT(error.what(), ::testing::HasSubstr("3 feet"));
  }
}

TEST(WholeBodySetup, ConstructionDefaultsBeforeParameters) {
  auto node = makeNode();
  auto model = std::make_shared<PinocchioInterface>(kestrelFile("robot.urdf"));
  auto info = std::make_shared<ModelInfo>(loadModelInfo(kestrelFile("description.info"), *model));
  WholeBodyController wbc(node, info, model);
  EXPECT_DOUBLE_EQ(wbc.dt(), 0.002);
  EXPECT_EQ(wbc.weighedTaskBlock().name(), "default");
  EXPECT_EQ(wbc.constraintBlock().name(), "default");
  EXPECT_EQ(wbc.jointAccelerations().size(), 0);
  EXPECT_TRUE(wbc.sendStaticTorqueOnFailure());
}

TEST(WholeBodySetup, FrictionCoefficientIsClamped) {
  const std::pair<double, double> cases[] = {{0.005, 0.01}, {1.5, 1.0}, {0.6, 0.6}, {0.01, 0.01}};
  for (const auto& [given, expected] : cases) {
    ParamValues values;
    values.friction = given;
    Rig rig(writeParams(values, "friction"));
    EXPECT_DOUBLE_EQ(rig.wbc->frictionCoefficient(), expected) << "given " << given;
  }
}

TEST(WholeBodySetup, PeriodIsClamped) {
  const std::pair<double, double> cases[] = {{0.5, 0.1}, {0.0001, 0.0002}, {0.004, 0.004}};
  for (const auto& [given, expected] : cases) {
    ParamValues values;
    values.wbc_dt = given;
    Rig rig(writeParams(values, "dt"));
    EXPECT_DOUBLE_EQ(rig.wbc->dt(), expected) << "given " << given;
  }
}

TEST(WholeBodySetup, MissingScalarOrFileFailsWithTheLoadersError) {
  Rig rig;
  ParamValues values;
  values.with_wbc_dt = false;
  EXPECT_THROW(rig.wbc->loadParamsSetting(writeParams(values, "no_dt"), false),
               boost::property_tree::ptree_bad_path);
  EXPECT_THROW(rig.wbc->loadParamsSetting(::testing::TempDir() + "no_such_params.info", false),
               boost::property_tree::info_parser::info_parser_error);
}

TEST(WholeBodySetup, VerboseEchoListsClampedValuesInOrder) {
  ParamValues values;
  values.base_weight = 3.0;
  values.swing_weight = 4.0;
  values.contact_force_weight = 0.25;
  values.friction = 1.5;  // echoed after clamping
  values.wbc_dt = 0.004;
  values.swing_kp = 5.0;
  values.swing_kd = 6.0;
  values.base_kp = 7.0;
  values.base_kd = 8.0;
  const std::string path = writeParams(values, "verbose");
  Rig rig(path);

  std::ostringstream expected;
  expected << "\n ------------ WholeBodyController Param ------------ \n"
           << "\n ########### weights.floatingbase ########### \n"
           << matrix_t(3.0 * matrix_t::Identity(6, 6)) << "\n"
           << "\n ########### weights.leg_swing ########### \n"
           << matrix_t(4.0 * matrix_t::Identity(3, 3)) << "\n"
           << "\n ########### weights.weightContactForce_: " << 0.25 << "\n"
           << "\n ########### friction_coefficient: " << 1.0 << "\n"
           << "\n ########### wbc_dt: " << 0.004 << "\n"
           << "\n ########### feedback_gain.leg_swing.kp ########### \n"
           << matrix_t(5.0 * matrix_t::Identity(3, 3)) << "\n"
           << "\n ########### feedback_gain.leg_swing.kd ########### \n"
           << matrix_t(6.0 * matrix_t::Identity(3, 3)) << "\n"
           << "\n ########### feedback_gain.floatingbase.kp ########### \n"
           << matrix_t(7.0 * matrix_t::Identity(6, 6)) << "\n"
           << "\n ########### feedback_gain.floatingbase.kd ########### \n"
           << matrix_t(8.0 * matrix_t::Identity(6, 6)) << "\n";

  ::testing::internal::CaptureStderr();
  rig.wbc->loadParamsSetting(path, true);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), expected.str());

  ::testing::internal::CaptureStderr();
  rig.wbc->loadParamsSetting(path, false);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST(WholeBodySetup, EulerAngleErrorWrapsOnlyLargeErrors) {
  Rig rig;
  const auto err = [&](const vector3_t& a, const vector3_t& b) {
    return rig.wbc->compute_euler_angle_err(a, b);
  };
  // Norm 6 > 3 pi / 2: one full turn towards zero.
  EXPECT_TRUE(err({3.0, 0, 0}, {-3.0, 0, 0}).isApprox(vector3_t(6.0 - 2 * kPi, 0, 0), 1e-15));
  EXPECT_NEAR(err({3.0, 0, 0}, {-3.0, 0, 0}).x(), -0.283185307179586, 1e-15);
  // Norm 4 < 3 pi / 2: unchanged although 4 > pi.
  EXPECT_EQ(err({4.0, 0, 0}, {0, 0, 0}), vector3_t(4.0, 0, 0));
  // Both components beyond pi are wrapped; the small one is not.
  const vector3_t both = err({3.0, 3.0, 0.1}, {-0.5, -0.5, 0});
  EXPECT_NEAR(both.x(), 3.5 - 2 * kPi, 1e-15);
  EXPECT_NEAR(both.y(), 3.5 - 2 * kPi, 1e-15);
  EXPECT_NEAR(both.z(), 0.1, 1e-15);
  // Negative errors move up by a turn.
  EXPECT_NEAR(err({-3.0, -3.0, 0}, {0.5, 0.5, 0}).x(), -3.5 + 2 * kPi, 1e-15);
  // The wrapped error is the same rotation angle: sin and cos agree with the raw difference.
  const vector3_t raw = vector3_t(3.0, 3.0, 0.1) - vector3_t(-0.5, -0.5, 0);
  EXPECT_NEAR(std::sin(both.x()), std::sin(raw.x()), 1e-12);
  EXPECT_NEAR(std::cos(both.x()), std::cos(raw.x()), 1e-12);
}

TEST(WholeBodySetup, WithoutPolicyTheRecordIsAllZeroAndNothingRuns) {
  Rig rig;
  rig.wbc->update_mode(15);
  rig.wbc->update_trajectory_reference(rig.holdReferences());
  for (int cycle = 0; cycle < 2; ++cycle) {
    const auto commands = rig.wbc->optimize();
    ASSERT_TRUE(commands);
    for (const vector_t* field :
         {&commands->Kp, &commands->Kd, &commands->pos, &commands->vel, &commands->torque}) {
      ASSERT_EQ(field->size(), rig.nJ());
      EXPECT_TRUE(field->isZero(0.0));
    }
  }
  // No solve happened: no blocks, no accelerations.
  EXPECT_EQ(rig.wbc->weighedTaskBlock().name(), "default");
  EXPECT_EQ(rig.wbc->jointAccelerations().size(), 0);
  EXPECT_EQ(rig.wbc->lastSolution().size(), 0);

  // An empty pointer pushed later also means "no policy".
  rig.wbc->update_control_data(Rig::constantPolicy(vector6_t::Zero()));
  EXPECT_FALSE(rig.wbc->optimize()->torque.isZero());
  rig.wbc->update_control_data(nullptr);
  EXPECT_TRUE(rig.wbc->optimize()->torque.isZero(0.0));
}

TEST(WholeBodySetup, EachOptimizeReturnsAFreshRecord) {
  Rig rig;
  rig.wbc->update_mode(15);
  rig.wbc->update_control_data(Rig::constantPolicy(vector6_t::Zero()));
  const auto first = rig.wbc->optimize();
  const vector_t first_torque = first->torque;
  const auto second = rig.wbc->optimize();
  EXPECT_NE(first.get(), second.get());
  EXPECT_EQ(first->torque, first_torque);  // the earlier record is not written again
}

TEST(WholeBodySetup, VelocityDimensionMismatchThrowsEveryCycle) {
  Rig rig;
  auto eleven_joints = std::make_shared<ModelInfo>(*rig.info);
  eleven_joints->joints_name.pop_back();  // nv = 18 = nJ + 7
  WholeBodyController wbc(rig.node, eleven_joints, rig.model);
  wbc.loadParamsSetting(kestrelFile("params.info"), false);
  wbc.update_mode(15);
  wbc.update_control_data(Rig::constantPolicy(vector6_t::Zero()));
  for (int cycle = 0; cycle < 2; ++cycle) {
    try {
      wbc.optimize();
      FAIL() << "size mismatch not detected";
    } catch (const std::runtime_error& error) {
      EXPECT_STREQ(error.what(), "nv != info_.actuatedDofNum + 6");
    }
  }
}

TEST(WholeBodySetup, BadInputsAreRejectedWithClearErrors) {
  Rig rig;
  rig.wbc->update_trajectory_reference(rig.holdReferences());
  rig.wbc->update_mode(16);
  rig.wbc->update_control_data(Rig::constantPolicy(vector6_t::Zero()));
  EXPECT_THROW(rig.wbc->optimize(), std::invalid_argument);

  rig.wbc->update_mode(15);
  auto wrong = std::make_shared<CtrlData>();
  wrong->a = matrix_t::Zero(6, 11);
  wrong->b = vector_t::Zero(6);
  rig.wbc->update_control_data(wrong);
  try {
    rig.wbc->optimize();
    FAIL() << "wrong policy size accepted";
  } catch (const std::invalid_argument& error) {
    EXPECT_THAT(error.what(), ::testing::HasSubstr("6 x 11"));
  }

  EXPECT_THROW(rig.wbc->update_state(nullptr, std::make_shared<vector_t>(vector_t::Zero(18))),
               std::invalid_argument);
  EXPECT_THROW(rig.wbc->update_state(std::make_shared<vector_t>(vector_t::Zero(5)),
                                     std::make_shared<vector_t>(vector_t::Zero(18))),
               std::invalid_argument);
}

}  // namespace
}  // namespace velmora::wbc_test
