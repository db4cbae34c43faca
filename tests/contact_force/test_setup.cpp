// Construction, parameters, inputs and the orientation error of the contact force optimiser.

#include <boost/property_tree/exceptions.hpp>
#include <boost/property_tree/info_parser.hpp>
#include <cmath>
#include <limits>

#include "ContactForceTestSupport.h"

namespace velmora::test {
namespace {

/// rclcpp must be initialised before any node exists (once for the whole test program).
class RclcppEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { rclcpp::init(0, nullptr); }
  void TearDown() override { rclcpp::shutdown(); }
};
const ::testing::Environment* const kRclcpp =
    ::testing::AddGlobalTestEnvironment(new RclcppEnvironment);  // gtest takes ownership

using Access = ContactForceOptimizationTestAccess;

TEST_F(ContactForceTest, ConstructionDefaultsBeforeLoading) {
  const ContactForceOptimization optimizer(node_, info_, model_);
  EXPECT_EQ(optimizer.dt(), 0.02);
  EXPECT_EQ(optimizer.friction_coefficient(), 0.5);
  EXPECT_EQ(optimizer.weight().size(), 0);
  EXPECT_FALSE(optimizer.has_solution());
  EXPECT_TRUE(optimizer.ocp().empty());
  EXPECT_TRUE(optimizer.solution().empty());

  const auto& s = optimizer.settings();
  EXPECT_EQ(s.mode, ocp_qp::SolverMode::Speed);
  EXPECT_EQ(s.iter_max, 30);
  EXPECT_EQ(s.alpha_min, 1e-8);
  EXPECT_EQ(s.mu0, 100.0);
  EXPECT_EQ(s.tol_stat, 1e-4);
  EXPECT_EQ(s.tol_eq, 1e-4);
  EXPECT_EQ(s.tol_ineq, 1e-4);
  EXPECT_EQ(s.tol_comp, 1e-4);
  EXPECT_EQ(s.reg_prim, 1e-12);
  EXPECT_EQ(s.warm_start, 0);
  EXPECT_EQ(s.pred_corr, 1);
  EXPECT_EQ(s.ric_alg, 0);
  EXPECT_EQ(s.split_step, 1);
}

TEST_F(ContactForceTest, ConstructionCopiesTheRobotModel) {
  ContactForceOptimization optimizer(node_, info_, model_);
  // The optimiser's model is its own: moving the caller's model must not move the optimiser's.
  vector_t raised = qpos_;
  raised(2) += 0.1;
  const auto refs = standingReferences(1.0);
  feed(optimizer, qpos_, qvel_, refs, standSchedule());
  model_->updateRobotState(raised, qvel_);
  optimizer.loadParamsSetting(writeParams("cfo_copy", 0.5, 0.02, defaultWeightDiagonal()), false);
  ASSERT_NE(optimizer.optimize(), nullptr);
  EXPECT_NEAR(optimizer.solution()[0].x(2), 0.0, 1e-12);  // measured at the fed state
}

TEST_F(ContactForceTest, ConstructionRejectsBadArguments) {
  EXPECT_THROW(ContactForceOptimization(nullptr, info_, model_), std::invalid_argument);
  EXPECT_THROW(ContactForceOptimization(node_, nullptr, model_), std::invalid_argument);
  EXPECT_THROW(ContactForceOptimization(node_, info_, nullptr), std::invalid_argument);
  auto three_feet = std::make_shared<ModelInfo>(*info_);
  three_feet->foot_name.pop_back();
  try {
    ContactForceOptimization optimizer(node_, three_feet, model_);
    FAIL() << "three feet accepted";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("3 feet"), std::string::npos) << e.what();
  }
}

TEST_F(ContactForceTest, LoadsTheParameterFile) {
  const std::vector<double> diagonal{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  const std::string path = ::testing::TempDir() + "/cfo_full.info";
  {
    std::ofstream file(path);
    file << "friction_coefficient 0.7\nforce_optimization_dt 0.05\n"
         << "weights\n{\n  force_optmization\n  {\n    scaling 2.0\n";
    for (int i = 0; i < 12; ++i) {
      for (int j = 0; j < 12; ++j) {
        const double value = i == j ? diagonal[i] : (i + j == 11 && (i == 0 || j == 0) ? 0.5 : 0.0);
        file << "    (" << i << "," << j << ") " << value << "\n";
      }
    }
    file << "  }\n}\n";
  }
  ContactForceOptimization optimizer(node_, info_, model_);
  CaptureStream err(std::cerr), out(std::cout);
  optimizer.loadParamsSetting(path, false);
  EXPECT_EQ(err.str(), "");
  EXPECT_EQ(out.str(), "");

  EXPECT_EQ(optimizer.friction_coefficient(), 0.7);
  EXPECT_EQ(optimizer.dt(), 0.05);
  const matrix_t& w = optimizer.weight();
  ASSERT_EQ(w.rows(), 12);
  ASSERT_EQ(w.cols(), 12);
  for (int i = 0; i < 12; ++i) {
    for (int j = 0; j < 12; ++j) {
      const double expected =
          i == j ? 2.0 * diagonal[i] : ((i == 0 && j == 11) || (i == 11 && j == 0) ? 1.0 : 0.0);
      EXPECT_EQ(w(i, j), expected) << i << "," << j;
    }
  }
}

TEST_F(ContactForceTest, ClampsFrictionAndTimeStepSilently) {
  struct Case {
    double mu_in, mu_out, dt_in, dt_out;
  };
  const std::vector<Case> cases{{0.0, 0.01, 0.0005, 0.001}, {-1.0, 0.01, 2.0, 0.5},
                                {1.5, 1.0, 0.02, 0.02},     {0.7, 0.7, 0.001, 0.001},
                                {0.01, 0.01, -3.0, 0.001},  {1.0, 1.0, 0.5, 0.5}};
  for (const auto& c : cases) {
    const std::string path = writeParams("cfo_clamp", c.mu_in, c.dt_in, defaultWeightDiagonal());
    ContactForceOptimization optimizer(node_, info_, model_);
    CaptureStream err(std::cerr);
    optimizer.loadParamsSetting(path, false);
    EXPECT_EQ(err.str(), "") << "clamping must be silent";
    EXPECT_EQ(optimizer.friction_coefficient(), c.mu_out) << "mu in " << c.mu_in;
    EXPECT_EQ(optimizer.dt(), c.dt_out) << "dt in " << c.dt_in;
  }
}

TEST_F(ContactForceTest, VerboseEchoGoesToStandardErrorOnly) {
  const std::string path = writeParams("cfo_echo", 1.5, 0.05, defaultWeightDiagonal());
  ContactForceOptimization optimizer(node_, info_, model_);
  CaptureStream err(std::cerr), out(std::cout);
  optimizer.loadParamsSetting(path, true);

  matrix_t expected_weight = matrix_t::Zero(12, 12);
  for (int i = 0; i < 12; ++i) expected_weight(i, i) = defaultWeightDiagonal()[i];
  std::ostringstream weight_text;
  weight_text << expected_weight;
  const std::string expected =
      "\n ------------ ForceOptimization Param ------------ \n"
      "\n ########### weights.force_optmization ########### \n" +
      weight_text.str() +
      "\n"
      "\n ########### friction_coefficient: 1\n"
      "\n ########### force_optimization_dt: 0.05s\n";
  EXPECT_EQ(err.str(), expected);
  EXPECT_EQ(out.str(), "");
}

TEST_F(ContactForceTest, ParameterFileErrorsPropagate) {
  ContactForceOptimization optimizer(node_, info_, model_);
  CaptureStream err(std::cerr);
  EXPECT_THROW(optimizer.loadParamsSetting(::testing::TempDir() + "/no_such_file.info", false),
               boost::property_tree::info_parser::info_parser_error);

  const std::string no_mu = ::testing::TempDir() + "/cfo_no_mu.info";
  std::ofstream(no_mu) << "force_optimization_dt 0.02\nweights { force_optmization { (0,0) 1 } }\n";
  EXPECT_THROW(optimizer.loadParamsSetting(no_mu, false), boost::property_tree::ptree_bad_path);

  const std::string no_dt = ::testing::TempDir() + "/cfo_no_dt.info";
  std::ofstream(no_dt) << "friction_coefficient 0.5\nweights { force_optmization { (0,0) 1 } }\n";
  EXPECT_THROW(optimizer.loadParamsSetting(no_dt, false), boost::property_tree::ptree_bad_path);

  const std::string no_weight = ::testing::TempDir() + "/cfo_no_weight.info";
  std::ofstream(no_weight) << "friction_coefficient 0.5\nforce_optimization_dt 0.02\n";
  try {
    optimizer.loadParamsSetting(no_weight, false);
    FAIL() << "a file without weights loaded";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("weights.force_optmization"), std::string::npos);
  }

  const std::string bad_mu = ::testing::TempDir() + "/cfo_bad_mu.info";
  std::ofstream(bad_mu) << "friction_coefficient 0.5abc\nforce_optimization_dt 0.02\n"
                        << "weights { force_optmization { (0,0) 1 } }\n";
  EXPECT_THROW(optimizer.loadParamsSetting(bad_mu, false), boost::property_tree::ptree_bad_data);
}

TEST_F(ContactForceTest, PartialWeightLoadsDefaultsWithOneWarning) {
  const std::string path = ::testing::TempDir() + "/cfo_partial.info";
  std::ofstream(path) << "friction_coefficient 0.5\nforce_optimization_dt 0.02\n"
                      << "weights { force_optmization { default 0.25\n (2,2) 8 } }\n";
  ContactForceOptimization optimizer(node_, info_, model_);
  CaptureStream err(std::cerr);
  optimizer.loadParamsSetting(path, false);
  EXPECT_EQ(err.str(),
            "WARNING: Loaded at least one default value in matrix: "
            "\"weights.force_optmization\"\n");
  EXPECT_EQ(optimizer.weight()(2, 2), 8.0);
  EXPECT_EQ(optimizer.weight()(0, 0), 0.25);
  EXPECT_EQ(optimizer.weight()(3, 7), 0.25);
}

TEST_F(ContactForceTest, OrientationErrorWrapsOnlyLargeErrors) {
  const ContactForceOptimization optimizer(node_, info_, model_);
  const auto err = [&](const vector3_t& m, const vector3_t& d) {
    return Access::eulerAngleError(optimizer, m, d);
  };
  const double two_pi = 2.0 * M_PI;

  // Norm 3.5 <= 3 pi / 2: nothing wraps, even a component beyond pi.
  EXPECT_TRUE(err({3.5, 0, 0}, {0, 0, 0}).isApprox(vector3_t(3.5, 0, 0)));
  // Norm 4.95 > 3 pi / 2: both components beyond pi wrap.
  const vector3_t both = err({3.5, 3.5, 0}, {0, 0, 0});
  EXPECT_NEAR(both(0), 3.5 - two_pi, 1e-15);
  EXPECT_NEAR(both(1), 3.5 - two_pi, 1e-15);
  EXPECT_NEAR(both(0), -2.7832, 1e-4);
  EXPECT_EQ(both(2), 0.0);
  // e = (-3, 0, 6.3): roll stays (not beyond pi), yaw wraps to about 0.0168.
  const vector3_t mixed = err({-3.0, 0, 3.2}, {0, 0, -3.1});
  EXPECT_EQ(mixed(0), -3.0);
  EXPECT_EQ(mixed(1), 0.0);
  EXPECT_NEAR(mixed(2), 6.3 - two_pi, 1e-12);
  EXPECT_NEAR(mixed(2), 0.0168, 1e-4);
  // Negative components beyond -pi gain 2 pi.
  const vector3_t negative = err({0, 0, -3.3}, {3.3, 0, 0.1});
  EXPECT_NEAR(negative(0), -3.3 + two_pi, 1e-12);
  EXPECT_NEAR(negative(2), -3.4 + two_pi, 1e-12);
  // The threshold itself: just below 3 pi / 2 no wrap, just above the wrap applies.
  const double threshold = 4.71238898038469;
  EXPECT_EQ(err({threshold - 1e-9, 0, 0}, {0, 0, 0})(0), threshold - 1e-9);
  EXPECT_NEAR(err({threshold + 1e-9, 0, 0}, {0, 0, 0})(0), threshold + 1e-9 - two_pi, 1e-12);
  // Small errors are the plain difference, for every component.
  EXPECT_TRUE(err({0.1, -0.2, 0.3}, {0.05, 0.1, -0.2}).isApprox(vector3_t(0.05, -0.3, 0.5)));
}

TEST_F(ContactForceTest, OrientationErrorReachesTheInitialState) {
  // The measured error state of a solve carries the wrapped orientation error: a yaw reference of
  // -3.0 rad against a robot at yaw 3.0 rad is an error of 6.0 - 2 pi, not 6.0.
  auto optimizer = makeOptimizer();
  vector_t qpos = qpos_;
  const Eigen::Quaterniond yawed(Eigen::AngleAxisd(3.0, Eigen::Vector3d::UnitZ()));
  qpos.segment<4>(3) = yawed.coeffs();
  feed(*optimizer, qpos, qvel_, references(1.0, base_pos_, vector3_t(0, 0, -3.0)), standSchedule());
  optimizer->optimize();
  ASSERT_EQ(optimizer->solution().size(), 51u);
  EXPECT_NEAR(optimizer->solution()[0].x(8), 6.0 - 2.0 * M_PI, 1e-9);
}

TEST_F(ContactForceTest, StateInputErrors) {
  auto optimizer = makeOptimizer();
  const auto refs = standingReferences(1.0);
  feed(*optimizer, qpos_, qvel_, refs, standSchedule());

  EXPECT_THROW(optimizer->update_state(std::make_shared<vector_t>(qpos_.head(10)),
                                       std::make_shared<vector_t>(qvel_)),
               std::invalid_argument);
  EXPECT_THROW(optimizer->update_state(std::make_shared<vector_t>(qpos_),
                                       std::make_shared<vector_t>(qvel_.head(5))),
               std::invalid_argument);
  EXPECT_THROW(optimizer->update_state(nullptr, std::make_shared<vector_t>(qvel_)),
               std::invalid_argument);
  EXPECT_THROW(optimizer->update_state(std::make_shared<vector_t>(qpos_), nullptr),
               std::invalid_argument);
  // A rejected state leaves the last good one in place.
  EXPECT_NE(optimizer->optimize(), nullptr);
  EXPECT_NEAR(optimizer->solution()[0].x.norm(), 0.0, 1e-9);
}

TEST_F(ContactForceTest, NonFiniteStateGivesNullWithoutSolving) {
  auto optimizer = makeOptimizer();
  feed(*optimizer, qpos_, qvel_, standingReferences(1.0), standSchedule());
  ASSERT_NE(optimizer->optimize(), nullptr);
  const vector_t u_before = optimizer->solution()[0].u;

  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  for (int which = 0; which < 3; ++which) {
    vector_t qpos = qpos_, qvel = qvel_;
    if (which == 0) qpos(8) = nan;
    if (which == 1) qvel(3) = inf;
    if (which == 2) qpos(5) = nan;  // inside the quaternion
    optimizer->update_state(std::make_shared<vector_t>(qpos), std::make_shared<vector_t>(qvel));
    CaptureStream out(std::cout);
    EXPECT_EQ(optimizer->optimize(), nullptr) << "case " << which;
    EXPECT_EQ(out.str(), "");
    // No solve happened: the previous solution is untouched.
    EXPECT_EQ(optimizer->solution()[0].u, u_before);
  }
  optimizer->update_state(std::make_shared<vector_t>(qpos_), std::make_shared<vector_t>(qvel_));
  const auto law = optimizer->optimize();
  ASSERT_NE(law, nullptr);
  EXPECT_TRUE(law->a.allFinite());
  EXPECT_TRUE(law->b.allFinite());
}

}  // namespace
}  // namespace velmora::test
