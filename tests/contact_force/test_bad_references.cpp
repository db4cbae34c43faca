// References a host can get wrong: trajectories of the wrong dimension, trajectories that give
// non-finite values, and a reference far longer than any useful horizon.

#include <limits>
#include <string>

#include "ContactForceTestSupport.h"

namespace velmora::test {
namespace {

/// A trajectory of `dimension` entries held at `value` over `duration` from `t0`.
TrajectoryPtr constantOfDimension(int dimension, double value, double t0, double duration) {
  return std::make_shared<CubicSplineTrajectory>(
      CubicSplineTrajectory::constant(vector_t::Constant(dimension, value), t0, t0 + duration));
}

/// A trajectory type of the host's making (the spline's evaluation is virtual) whose values and
/// derivatives are NaN; the spline itself rejects non-finite knots and overflowing coefficients.
class NanTrajectory : public CubicSplineTrajectory {
 public:
  NanTrajectory(double t0, double duration)
      : CubicSplineTrajectory({t0, t0 + duration}, {vector_t::Zero(3), vector_t::Zero(3)}) {}
  vector_t evaluate(scalar_t) const override { return nan(); }
  vector_t derivative(scalar_t, int) const override { return nan(); }

 private:
  static vector_t nan() { return vector_t::Constant(3, std::numeric_limits<double>::quiet_NaN()); }
};

TrajectoryPtr nanTrajectory(double t0, double duration) {
  return std::make_shared<NanTrajectory>(t0, duration);
}

size_t countOccurrences(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

TEST_F(ContactForceTest, WrongDimensionsGiveNoPolicyAndOneReportPerCause) {
  const double t0 = node_->now().seconds();
  const std::string foot = info_->foot_name[1];
  struct Case {
    std::string expected_report;
    std::shared_ptr<TrajectoriesBuffer> refs;
  };
  std::vector<Case> cases;
  cases.push_back({"base_pos trajectory has dimension 2, expected 3", standingReferences(1.0)});
  cases.back().refs->set_base_pos_traj(constantOfDimension(2, 0.3, t0, 1.0));
  cases.push_back({"base_rpy trajectory has dimension 1, expected 3", standingReferences(1.0)});
  cases.back().refs->set_base_rpy_traj(constantOfDimension(1, 0.0, t0, 1.0));
  for (const int dimension : {2, 4}) {
    cases.push_back({"foot_pos[" + foot + "] trajectory has dimension " +
                         std::to_string(dimension) + ", expected 3",
                     standingReferences(1.0)});
    auto feet = cases.back().refs->get_foot_pos_traj();
    feet[foot] = constantOfDimension(dimension, 0.0, t0, 1.0);
    cases.back().refs->set_foot_pos_traj(feet);
  }

  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected_report);
    auto optimizer = makeOptimizer();
    feed(*optimizer, qpos_, qvel_, c.refs, standSchedule());
    CaptureStream out(std::cout);
    for (int cycle = 0; cycle < 5; ++cycle) {
      EXPECT_EQ(optimizer->optimize(), nullptr);
    }
    // Five failing cycles within a second: reported once.
    EXPECT_EQ(countOccurrences(out.str(), "ContactForceOptimization: " + c.expected_report), 1u)
        << out.str();
    // The same optimiser works again with good references.
    optimizer->update_trajectory_reference(standingReferences(1.0));
    EXPECT_NE(optimizer->optimize(), nullptr);
  }
}

TEST_F(ContactForceTest, NonFiniteReferencesGiveNoPolicy) {
  const double t0 = node_->now().seconds();

  const std::string foot = info_->foot_name[2];
  struct Case {
    std::string trajectory;
    std::shared_ptr<TrajectoriesBuffer> refs;
  };
  std::vector<Case> cases;
  cases.push_back({"base_pos", standingReferences(1.0)});
  cases.back().refs->set_base_pos_traj(nanTrajectory(t0, 1.0));
  cases.push_back({"base_rpy", standingReferences(1.0)});
  cases.back().refs->set_base_rpy_traj(nanTrajectory(t0, 1.0));
  cases.push_back({"foot_pos[" + foot + "]", standingReferences(1.0)});
  auto feet = cases.back().refs->get_foot_pos_traj();
  feet[foot] = nanTrajectory(t0, 1.0);
  cases.back().refs->set_foot_pos_traj(feet);

  for (const auto& c : cases) {
    SCOPED_TRACE(c.trajectory);
    auto optimizer = makeOptimizer();
    feed(*optimizer, qpos_, qvel_, c.refs, standSchedule());
    CaptureStream out(std::cout);
    EXPECT_EQ(optimizer->optimize(), nullptr);
    EXPECT_NE(out.str().find("ContactForceOptimization: " + c.trajectory), std::string::npos)
        << out.str();
    EXPECT_NE(out.str().find("non-finite"), std::string::npos) << out.str();
  }
}

TEST_F(ContactForceTest, OneHourReferenceIsCutToTheHorizonCap) {
  auto optimizer = makeOptimizer();
  ASSERT_DOUBLE_EQ(optimizer->dt(), 0.02);
  feed(*optimizer, qpos_, qvel_, standingReferences(3600.0), standSchedule());
  CaptureStream out(std::cout);
  for (int cycle = 0; cycle < 3; ++cycle) {
    ASSERT_NE(optimizer->optimize(), nullptr);
    EXPECT_EQ(optimizer->ocp().size(), ContactForceOptimization::kMaxHorizonStages + 1);
  }
  // 3600 s / 0.02 s, give or take the last stage of a duration on the node clock's time axis.
  EXPECT_EQ(countOccurrences(out.str(), "horizon is cut to 200 stages"), 1u) << out.str();
  EXPECT_TRUE(out.str().find("spans 180000 stages") != std::string::npos ||
              out.str().find("spans 179999 stages") != std::string::npos)
      << out.str();

  // A reference of exactly the cap is not cut and not reported.
  auto exact = makeOptimizer();
  feed(*exact, qpos_, qvel_, standingReferences(200 * 0.02 + 1e-9), standSchedule());
  CaptureStream quiet(std::cout);
  ASSERT_NE(exact->optimize(), nullptr);
  EXPECT_EQ(exact->ocp().size(), 201u);
  EXPECT_EQ(quiet.str(), "");
}

}  // namespace
}  // namespace velmora::test
