// The fault injector on its own: which slot a fault alters, what it keeps, and the noise's
// statistics (the timing of every fault is checked in the closed-loop runs).

#include "SimTestSupport.h"
#include "sim/FaultInjector.h"

namespace velmora::sim {
namespace {

TEST(FaultInjector, NanStateCorruptsTheFirstJointOnlyAndNoiseTheJointsOnly) {
  FaultInjector faults({{FaultKind::kNanState, 1.0}, {FaultKind::kEncoderNoise, 1.0}}, 3);
  vector_t q = vector_t::LinSpaced(19, 0.0, 1.8);
  const vector_t before = q;
  faults.corruptConsumedState(1.0, q);
  EXPECT_TRUE(std::isnan(q(7)));
  EXPECT_EQ(q.head(7), before.head(7));
  EXPECT_EQ(q.tail(11), before.tail(11));
  double sum = 0.0, sum_sq = 0.0;
  const size_t n = 4000 * 12;
  for (int k = 0; k < 4000; ++k) {
    q = before;
    faults.measure(1.0 + k * 0.001, q);
    EXPECT_EQ(q.head(7), before.head(7));
    sum += (q - before).sum();
    sum_sq += (q - before).squaredNorm();
  }
  const double mean = sum / n, sigma = std::sqrt(sum_sq / n - mean * mean);
  EXPECT_NEAR(mean, 0.0, 5.0 * FaultInjector::kEncoderNoiseSigma / std::sqrt(n));
  EXPECT_NEAR(sigma, FaultInjector::kEncoderNoiseSigma, 0.03 * FaultInjector::kEncoderNoiseSigma);
}

TEST(FaultInjector, AlteredPlansKeepEverythingButTheFaultySlot) {
  std::vector<double> phases = {0.0, 0.4, 1.0};
  std::vector<size_t> modes = {15, 9};
  auto schedule = std::make_shared<ModeSchedule>(1.0, phases, modes);
  auto references = std::make_shared<TrajectoriesBuffer>();
  const std::vector<vector_t> knots = {vector3_t(0.0, 0.0, 0.3), vector3_t(0.1, 0.05, 0.31),
                                       vector3_t(0.2, 0.1, 0.3)};
  references->set_base_pos_traj(
      std::make_shared<CubicSplineTrajectory>(std::vector<scalar_t>{2.0, 2.5, 3.0}, knots));
  references->set_base_rpy_traj(references->get_base_pos_traj());
  FaultInjector faults({{FaultKind::kBadMode, 2.0}, {FaultKind::kShortBaseTraj, 2.0}}, 1);
  std::shared_ptr<ModeSchedule> altered_schedule = schedule;
  std::shared_ptr<const TrajectoriesBuffer> altered = references;
  faults.alterPlan(2.0, altered_schedule, altered);
  EXPECT_EQ(altered_schedule->getModeFromPhase(0.0), FaultInjector::kBadMode);
  EXPECT_EQ(altered_schedule->getModeFromPhase(0.5), 9u);
  EXPECT_EQ(altered_schedule->eventPhases(), schedule->eventPhases());
  for (double s = 2.0; s <= 3.0; s += 0.25) {
    const vector_t base = altered->get_base_pos_traj()->evaluate(s);
    ASSERT_EQ(base.size(), 2);
    EXPECT_LT((base - references->get_base_pos_traj()->evaluate(s).head(2)).norm(), 1e-12);
  }
  EXPECT_EQ(altered->get_base_rpy_traj(), references->get_base_rpy_traj());
}

}  // namespace
}  // namespace velmora::sim
