// Faults injected into the closed loop (lockstep, the bundled robot walking at 0.5 m/s for 5 s,
// the fault at 2 s). Each case checks every command message the plant applies for non-finite
// values, what the robot does through the fault (walks on, damps down and recovers, or falls)
// and the fault's own trace in the applied messages (safe commands, lost or late messages).

#include <cmath>
#include <sstream>

#include <gtest/gtest.h>

#include "sim/ScenarioRunner.h"

namespace velmora {
namespace sim {
namespace {

constexpr double kFaultAt = 2.0;
constexpr double kDuration = 5.0;
constexpr double kWalkSpeed = 0.5;
constexpr double kWbcPeriod = 0.002;
/// Whole-body cycles in the run: one at every period from t = 0 to kDuration inclusive.
constexpr size_t kCycles = 2501;

/// One applied message, reduced to what the checks need.
struct Applied {
  double time_s = 0.0;
  double stamp_s = 0.0;
  bool finite = true;
  bool safe = false;  ///< the damping command: kp = 0, kd = 1, vel = 0, torque = 0
};

struct FaultRun {
  RunResult result;
  std::vector<Applied> applied;
};

/// Runs the walk with each "NAME@T" of `faults` injected.
FaultRun runWithFaults(const std::vector<std::string>& faults) {
  std::vector<std::string> args = {"--scenario", "walk", "--vx",       "0.5",
                                   "--duration", "5",    "--lockstep", "--quiet"};
  for (const std::string& fault : faults) {
    args.push_back("--fault");
    args.push_back(fault);
  }
  const SimOptions options = parseSimOptions(args, VELMORA_ROBOTS_DIR);
  FaultRun run;
  std::ostringstream progress;
  run.result =
      runScenario(options, progress, [&run](double t, const communication::msg::ActuatorCmds& m) {
        Applied a;
        a.time_s = t;
        a.stamp_s = m.header.stamp.sec + 1e-9 * m.header.stamp.nanosec;
        bool safe = !m.kp.empty();
        for (size_t j = 0; j < m.kp.size(); ++j) {
          a.finite = a.finite && std::isfinite(m.kp[j]) && std::isfinite(m.pos[j]) &&
                     std::isfinite(m.kd[j]) && std::isfinite(m.vel[j]) &&
                     std::isfinite(m.torque[j]);
          safe =
              safe && m.kp[j] == 0.0f && m.kd[j] == 1.0f && m.vel[j] == 0.0f && m.torque[j] == 0.0f;
        }
        a.safe = safe;
        run.applied.push_back(a);
      });
  std::ostringstream summary;
  writeSummaryTable(run.result.report, summary);
  std::cout << summary.str();
  return run;
}

/// Runs the walk with `fault` injected at kFaultAt.
FaultRun runWithFault(const std::string& fault) { return runWithFaults({fault + "@2"}); }

/// Checks shared by every fault: each applied message finite, the report's counts consistent
/// with what the plant received, the fault recorded once with at least one event.
void expectCleanTrace(const FaultRun& run, const std::string& fault) {
  const RunReport& r = run.result.report;
  size_t non_finite = 0;
  for (const Applied& a : run.applied) non_finite += a.finite ? 0 : 1;
  EXPECT_EQ(non_finite, 0u) << fault;
  EXPECT_EQ(r.non_finite_messages, 0u) << fault;
  EXPECT_EQ(r.messages, run.applied.size()) << fault;
  ASSERT_EQ(r.faults.size(), 1u) << fault;
  EXPECT_EQ(faultName(r.faults[0].spec.kind), fault);
  EXPECT_GT(r.faults[0].events, 0u) << fault;
}

/// The robot walks on: no fall, attitude within 0.1 rad, and the last 2 s cover the commanded
/// distance within 15 %.
void expectWalksOn(const FaultRun& run) {
  const RunReport& r = run.result.report;
  ASSERT_FALSE(r.fell);
  EXPECT_NEAR(r.duration_s, kDuration, 0.02);
  EXPECT_LT(r.max_abs_roll, 0.1);
  EXPECT_LT(r.max_abs_pitch, 0.1);
  const auto& samples = run.result.samples;
  const RunSample* from = nullptr;
  for (const RunSample& s : samples) {
    if (!from && s.time_s >= kDuration - 2.0 - 1e-9) from = &s;
  }
  ASSERT_NE(from, nullptr);
  const double covered = (samples.back().base_pos - from->base_pos).head<2>().norm();
  EXPECT_NEAR(covered / (samples.back().time_s - from->time_s), kWalkSpeed, 0.15 * kWalkSpeed);
}

/// Time of the first sample that shows the fall (the run stops there).
double fallTime(const FaultRun& run) { return run.result.samples.back().time_s; }

TEST(Fault, NanStateSampleIsSkippedAndTheRobotWalksOn) {
  const FaultRun run = runWithFault("nan_state");
  expectCleanTrace(run, "nan_state");
  expectWalksOn(run);
  const RunReport& r = run.result.report;
  // The whole-body controller rejects the sample (counted, the run goes on), the force
  // optimisation returns no law for it, and the period of the non-finite state sends the damping
  // command at the last finite joint positions.
  EXPECT_GE(r.optimiser_exceptions, 1u);
  EXPECT_EQ(r.mpc_failures, 1u);
  EXPECT_EQ(r.safe_command_cycles, 1u);
  EXPECT_EQ(r.messages, kCycles);
}

TEST(Fault, FrozenStateDampsDownThenRecovers) {
  const FaultRun run = runWithFault("frozen_state");
  expectCleanTrace(run, "frozen_state");
  expectWalksOn(run);
  // The state grows stale 50 ms into the 100 ms freeze: the damping command goes out from
  // then until the state comes back, one per period, and never outside that window.
  size_t safe = 0;
  for (const Applied& a : run.applied) {
    if (!a.safe) continue;
    ++safe;
    EXPECT_GT(a.time_s, kFaultAt + 0.05 - 1e-9) << a.time_s;
    EXPECT_LT(a.time_s, kFaultAt + 0.1 + 1e-9) << a.time_s;
  }
  EXPECT_GE(safe, 24u);
  EXPECT_LE(safe, 25u);
  EXPECT_EQ(run.result.report.safe_command_cycles, safe);
  EXPECT_EQ(run.result.report.messages, kCycles);
}

TEST(Fault, BadModeForOneCycleIsRejectedAndTheRobotWalksOn) {
  const FaultRun run = runWithFault("bad_mode");
  expectCleanTrace(run, "bad_mode");
  expectWalksOn(run);
  // Mode 16 holds for one planning cycle (10 ms = 5 whole-body periods): the whole-body
  // controller throws in each of them, the run survives, the commands age by at most about
  // five periods.
  const RunReport& r = run.result.report;
  EXPECT_GE(r.optimiser_exceptions, 5u);
  EXPECT_LE(r.safe_command_cycles, 1u);
}

TEST(Fault, DroppedMessagesAreLostAndTheRobotWalksOn) {
  const FaultRun run = runWithFault("drop_cmds");
  expectCleanTrace(run, "drop_cmds");
  expectWalksOn(run);
  const RunReport& r = run.result.report;
  // Every cycle sends; the plant receives all but the dropped ones, ~10 % of 1501 after 2 s.
  const size_t dropped = r.faults[0].events;
  EXPECT_EQ(r.messages + dropped, kCycles);
  EXPECT_NEAR(static_cast<double>(dropped), 150.1, 5.0 * std::sqrt(1501 * 0.09));
  size_t before = 0;
  for (const Applied& a : run.applied) before += a.time_s < kFaultAt - 1e-9 ? 1 : 0;
  EXPECT_EQ(before, 1000u);  // nothing lost before the fault
}

TEST(Fault, LateMessagesArriveFiveMillisecondsLateAndTheRobotWalksOn) {
  const FaultRun run = runWithFault("cmd_latency");
  expectCleanTrace(run, "cmd_latency");
  expectWalksOn(run);
  size_t late = 0;
  for (const Applied& a : run.applied) {
    const double expected_delay = a.stamp_s >= kFaultAt - 1e-9 ? 0.005 : 0.0;
    EXPECT_NEAR(a.time_s - a.stamp_s, expected_delay, 1e-6) << a.stamp_s;
    late += expected_delay > 0.0 ? 1 : 0;
  }
  // Messages sent in the last 5 ms are still on their way when the run ends.
  EXPECT_EQ(late, 1501u - 3u);
}

TEST(Fault, EncoderNoiseIsToleratedAndTheRobotWalksOn) {
  const FaultRun run = runWithFault("encoder_noise");
  expectCleanTrace(run, "encoder_noise");
  expectWalksOn(run);
  EXPECT_EQ(run.result.report.faults[0].events, 3001u);  // every 1 ms state from 2 s to 5 s
  EXPECT_EQ(run.result.report.safe_command_cycles, 0u);
}

TEST(Fault, OptimiserFailingTenCyclesMakesTheRobotFall) {
  // Without a body law the whole-body controller sends all-zero commands (no gain, no torque),
  // which are fresh and so pass the stale-command rule: the trunk drops within 0.2 s.
  const FaultRun run = runWithFault("mpc_fail");
  expectCleanTrace(run, "mpc_fail");
  const RunReport& r = run.result.report;
  EXPECT_TRUE(r.fell);
  EXPECT_GT(fallTime(run), kFaultAt);
  EXPECT_LT(fallTime(run), kFaultAt + 0.3);
  EXPECT_EQ(r.mpc_failures, 10u);
  EXPECT_EQ(r.safe_command_cycles, 0u);
}

TEST(Fault, MissingReferencesMakeTheRobotFall) {
  // No references: the force optimisation returns no law, with the same result as above.
  const FaultRun run = runWithFault("missing_refs");
  expectCleanTrace(run, "missing_refs");
  const RunReport& r = run.result.report;
  EXPECT_TRUE(r.fell);
  EXPECT_GT(fallTime(run), kFaultAt);
  EXPECT_LT(fallTime(run), kFaultAt + 0.5);
  EXPECT_GE(r.mpc_failures, 1u);
}

TEST(Fault, NanStateHeldByAFreezeDampsDownThenRecovers) {
  // The NaN sample is the last one before the state freezes for 100 ms. As in the controller's
  // publication loop, a non-finite state counts as stale: every period until the state returns
  // sends the damping command at the last finite joint positions, and the walk resumes.
  const FaultRun run = runWithFaults({"nan_state@2", "frozen_state@2.001"});
  const RunReport& r = run.result.report;
  size_t non_finite = 0, safe_during = 0, safe_outside = 0;
  for (const Applied& a : run.applied) {
    non_finite += a.finite ? 0 : 1;
    const bool during = a.time_s >= kFaultAt - 1e-9 && a.time_s < kFaultAt + 0.101 - 1e-9;
    if (a.safe) ++(during ? safe_during : safe_outside);
  }
  EXPECT_EQ(non_finite, 0u);
  EXPECT_EQ(r.non_finite_messages, 0u);
  // Whole-body periods 2.000 to 2.100 s: the damping command in every one of them, in no other.
  EXPECT_EQ(safe_during, 51u);
  EXPECT_EQ(safe_outside, 0u);
  // 100 ms of damping alone tilt the trunk by about 0.3 rad; it does not fall and walks on.
  ASSERT_FALSE(r.fell);
  EXPECT_LT(r.max_abs_roll, 0.45);
  EXPECT_LT(r.max_abs_pitch, 0.45);
  const auto& samples = run.result.samples;
  const RunSample& mid = samples[samples.size() * 3 / 5];  // 3 s: the fault is 0.9 s past
  const double covered = (samples.back().base_pos - mid.base_pos).head<2>().norm();
  EXPECT_NEAR(covered / (samples.back().time_s - mid.time_s), kWalkSpeed, 0.15 * kWalkSpeed);
}

TEST(Fault, ShortBaseTrajectoryIsRejectedAndTheRobotRecovers) {
  // The optimisers reject the 2-dimensional base trajectory: no body law for the five force
  // cycles of those 0.1 s, so all-zero commands as above, but short enough that the trunk only
  // sags (to about 0.22 m) and pitches (about 0.13 rad) before the walk resumes.
  const FaultRun run = runWithFault("short_base_traj");
  expectCleanTrace(run, "short_base_traj");
  const RunReport& r = run.result.report;
  EXPECT_EQ(r.faults[0].events, 10u);  // 0.1 s of 10 ms planning cycles
  EXPECT_EQ(r.mpc_failures, 5u);
  ASSERT_FALSE(r.fell);
  EXPECT_LT(r.max_abs_roll, 0.3);
  EXPECT_LT(r.max_abs_pitch, 0.3);
  EXPECT_EQ(r.messages, kCycles);
  const auto& samples = run.result.samples;
  const RunSample& mid = samples[samples.size() * 3 / 5];  // 3 s: the fault is 0.9 s past
  const double covered = (samples.back().base_pos - mid.base_pos).head<2>().norm();
  EXPECT_NEAR(covered / (samples.back().time_s - mid.time_s), kWalkSpeed, 0.15 * kWalkSpeed);
}

}  // namespace
}  // namespace sim
}  // namespace velmora
