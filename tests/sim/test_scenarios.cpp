// Closed-loop scenarios in lockstep: the bundled robot under the controller, the planner and the
// MuJoCo plant, judged by the figures a user would check.

#include <cmath>

#include "SimTestSupport.h"

namespace velmora::sim {
namespace {

using test::runLockstep;

/// Share of the samples after `from_s` in which every foot touches the floor exactly when the
/// gait plans it in stance.
double contactAgreement(const RunResult& run, double from_s) {
  size_t total = 0, agree = 0;
  for (const RunSample& s : run.samples) {
    if (s.time_s < from_s) continue;
    ++total;
    agree += s.foot_contact == s.planned_stance ? 1 : 0;
  }
  return total == 0 ? 0.0 : static_cast<double>(agree) / static_cast<double>(total);
}

/// Checks shared by every scenario: it lasts its duration, nothing fails, nothing falls.
void expectCleanRun(const RunReport& r, double duration_s) {
  ASSERT_FALSE(r.fell);
  EXPECT_NEAR(r.duration_s, duration_s, 0.02);
  EXPECT_EQ(r.mpc_failures, 0u);
  EXPECT_EQ(r.wbc_failures, 0u);
  // Lockstep sees every part of the control cycle.
  for (const TimingSummary& part : {r.timing_ms.planner, r.timing_ms.contact_force,
                                    r.timing_ms.whole_body, r.timing_ms.plant_step}) {
    EXPECT_GT(part.median, 0.0);
    EXPECT_LE(part.median, part.max);
  }
}

TEST(Scenario, LockstepRunsAreTheSameOnEveryRun) {
  // The contact force optimisation overlaps the rest of the run on a worker thread; its law
  // must still take over at the same step, whatever the threads' timing.
  const std::vector<std::string> args{"--scenario", "walk", "--duration", "3"};
  const RunResult first = runLockstep(args), second = runLockstep(args);
  ASSERT_EQ(first.samples.size(), second.samples.size());
  for (size_t k = 0; k < first.samples.size(); ++k) {
    const RunSample &a = first.samples[k], &b = second.samples[k];
    ASSERT_TRUE(a.base_pos == b.base_pos && a.base_rpy == b.base_rpy && a.base_vel == b.base_vel &&
                a.foot_force_z == b.foot_force_z)
        << "runs part at t " << a.time_s << " s";
  }
}

TEST(Scenario, StandHoldsHeightAttitudeAndPosition) {
  const RunResult run = runLockstep({"--scenario", "stand", "--duration", "10"});
  expectCleanRun(run.report, 10.0);
  for (const RunSample& s : run.samples) {
    if (s.time_s < 2.0) continue;
    EXPECT_NEAR(s.base_pos(2), s.height_ref, 0.02) << "t " << s.time_s;
    EXPECT_LT(std::abs(s.base_rpy(0)), 0.05) << "t " << s.time_s;
    EXPECT_LT(std::abs(s.base_rpy(1)), 0.05) << "t " << s.time_s;
  }
  EXPECT_LT(run.report.drift_m, 0.05);
  // One message per whole-body period.
  EXPECT_NEAR(static_cast<double>(run.report.messages), 5000.0, 100.0);
}

TEST(Scenario, PushDuringTrotInPlaceIsRecovered) {
  const RunResult run = runLockstep({"--scenario", "push", "--duration", "8"});
  expectCleanRun(run.report, 8.0);
  // The push shows: the lateral velocity right after it exceeds anything before it.
  double before = 0.0, after = 0.0;
  for (const RunSample& s : run.samples) {
    if (s.time_s > 1.0 && s.time_s < 5.0) before = std::max(before, std::abs(s.base_vel(1)));
    if (s.time_s >= 5.0 && s.time_s < 5.4) after = std::max(after, std::abs(s.base_vel(1)));
  }
  EXPECT_GT(after, before);
}

TEST(Scenario, TrotInPlaceStaysNearItsStartOnItsPlannedContacts) {
  const RunResult run = runLockstep({"--scenario", "trot_in_place", "--duration", "20"});
  expectCleanRun(run.report, 20.0);
  EXPECT_LT(run.report.drift_m, 0.3);
  EXPECT_GT(contactAgreement(run, 2.0), 0.8);
}

TEST(Scenario, WalkTracksTheForwardCommand) {
  const RunResult run = runLockstep({"--scenario", "walk", "--vx", "0.5", "--duration", "20"});
  expectCleanRun(run.report, 20.0);
  EXPECT_NEAR(run.report.mean_vx, 0.5, 0.05);
  EXPECT_LT(std::abs(run.report.mean_vy), 0.1);
  // Independent of the report's averaging: the distance covered in the second half.
  EXPECT_NEAR(test::speedFrom(run.samples, 10.0), 0.5, 0.05);
  EXPECT_GT(contactAgreement(run, 2.0), 0.8);
}

TEST(Scenario, TurnTracksTheYawRateThroughSeveralTurns) {
  const RunResult run =
      runLockstep({"--scenario", "turn", "--yaw-rate", "1.0", "--duration", "20"});
  expectCleanRun(run.report, 20.0);
  EXPECT_NEAR(run.report.mean_yaw_rate, 1.0, 0.15);
  // The heading wraps past +-pi on the way (about three turns in 20 s).
  double turned = 0.0;
  for (size_t k = 1; k < run.samples.size(); ++k) {
    turned +=
        std::remainder(run.samples[k].base_rpy(2) - run.samples[k - 1].base_rpy(2), 2.0 * M_PI);
  }
  EXPECT_GT(turned, 2.5 * M_PI);
}

}  // namespace
}  // namespace velmora::sim
