// The fault injector and its flag: fault windows and one-shot faults
// against their stated times, the random faults against their stated rates (binomial and
// Gaussian bounds) and seeds, the altered plans against the originals, the flag's error paths.

#include <cmath>
#include <limits>
#include <memory>

#include <gtest/gtest.h>

#include "sim/FaultInjector.h"
#include "sim/SimOptions.h"

namespace velmora {
namespace sim {
namespace {

constexpr double kStep = 0.001;

/// Simulation times 0, 1 ms, ... up to `end_s` (inclusive within rounding), as a run visits them.
std::vector<double> timeline(double end_s) {
  std::vector<double> times;
  for (long k = 0; k <= std::lround(end_s / kStep); ++k) times.push_back(k * kStep);
  return times;
}

void expectUsageError(const std::vector<std::string>& args, const std::string& fragment) {
  try {
    parseSimOptions(args, VELMORA_ROBOTS_DIR);
    ADD_FAILURE() << "no error for the arguments ending in '" << args.back() << "'";
  } catch (const UsageError& error) {
    EXPECT_NE(std::string(error.what()).find(fragment), std::string::npos) << error.what();
  }
}

TEST(FaultFlag, ParsesEveryFaultNameAndItsTime) {
  const std::vector<std::pair<std::string, FaultKind>> names = {
      {"nan_state", FaultKind::kNanState},
      {"frozen_state", FaultKind::kFrozenState},
      {"missing_refs", FaultKind::kMissingRefs},
      {"bad_mode", FaultKind::kBadMode},
      {"short_base_traj", FaultKind::kShortBaseTraj},
      {"mpc_fail", FaultKind::kMpcFail},
      {"drop_cmds", FaultKind::kDropCmds},
      {"cmd_latency", FaultKind::kCmdLatency},
      {"encoder_noise", FaultKind::kEncoderNoise}};
  for (const auto& [name, kind] : names) {
    const FaultSpec spec = parseFaultSpec("--fault", name + "@2.25");
    EXPECT_EQ(spec.kind, kind) << name;
    EXPECT_DOUBLE_EQ(spec.start_s, 2.25) << name;
    EXPECT_EQ(faultName(kind), name);
  }
  const SimOptions options = parseSimOptions({"--lockstep", "--scenario", "walk", "--duration", "5",
                                              "--fault", "drop_cmds@1", "--fault", "nan_state@0"},
                                             VELMORA_ROBOTS_DIR);
  ASSERT_EQ(options.faults.size(), 2u);
  EXPECT_EQ(options.faults[0].kind, FaultKind::kDropCmds);
  EXPECT_EQ(options.faults[1].kind, FaultKind::kNanState);
  EXPECT_DOUBLE_EQ(options.faults[1].start_s, 0.0);
}

TEST(FaultFlag, RejectsBadNamesTimesAndModesNamingTheFlag) {
  const std::vector<std::string> base = {"--lockstep", "--duration", "5", "--fault"};
  const auto with = [&base](const std::string& value) {
    std::vector<std::string> args = base;
    args.push_back(value);
    return args;
  };
  expectUsageError(with("nan_state"), "--fault expects NAME@SECONDS");
  expectUsageError(with("nan_stat@1"), "unknown fault 'nan_stat'");
  expectUsageError(with("@1"), "unknown fault ''");
  expectUsageError(with("nan_state@"), "--fault");
  expectUsageError(with("nan_state@-1"), "must be a finite number of seconds >= 0");
  expectUsageError(with("nan_state@1s"), "got '1s'");
  expectUsageError(with("nan_state@inf"), "got 'inf'");
  expectUsageError(with("nan_state@nan"), "got 'nan'");
  expectUsageError(with("nan_state@5"), "starts at or after the end of the run");
  expectUsageError(base, "--fault needs a value");
  expectUsageError({"--duration", "5", "--fault", "mpc_fail@1"},
                   "--fault mpc_fail needs --lockstep");
  EXPECT_EQ(parseSimOptions({"--duration", "5", "--fault", "nan_state@1"}, VELMORA_ROBOTS_DIR)
                .faults.size(),
            1u);
}

TEST(FaultInjectorWindows, StateFaultsActExactlyInTheirWindows) {
  FaultInjector faults({{FaultKind::kFrozenState, 1.0}, {FaultKind::kNanState, 1.5}}, 1);
  size_t frozen = 0, corrupted = 0;
  double first_frozen = -1.0, last_frozen = -1.0, corrupted_at = -1.0;
  for (const double t : timeline(3.0)) {
    if (!faults.statePushed(t)) {
      ++frozen;
      if (first_frozen < 0.0) first_frozen = t;
      last_frozen = t;
    }
    vector_t qpos = vector_t::Zero(19);
    faults.corruptConsumedState(t, qpos);
    if (!qpos.allFinite()) {
      ++corrupted;
      corrupted_at = t;
      EXPECT_TRUE(std::isnan(qpos(7)));
      EXPECT_TRUE(qpos.head(7).allFinite());
      EXPECT_TRUE(qpos.tail(11).allFinite());
    }
  }
  // 100 ms at 1 ms steps: 1.000 .. 1.099.
  EXPECT_EQ(frozen, 100u);
  EXPECT_NEAR(first_frozen, 1.0, 1e-12);
  EXPECT_NEAR(last_frozen, 1.099, 1e-12);
  EXPECT_EQ(corrupted, 1u);
  EXPECT_NEAR(corrupted_at, 1.5, 1e-12);
  EXPECT_EQ(faults.records()[0].events, 100u);
  EXPECT_EQ(faults.records()[1].events, 1u);
}

TEST(FaultInjectorWindows, OptimiserFailsTenCyclesInARowThenRecovers) {
  FaultInjector faults({{FaultKind::kMpcFail, 0.5}}, 1);
  std::vector<double> failed;
  for (double t = 0.0; t < 2.0; t += 0.02) {
    if (faults.failOptimisation(t)) failed.push_back(t);
  }
  ASSERT_EQ(failed.size(), FaultInjector::kMpcFailCycles);
  EXPECT_NEAR(failed.front(), 0.5, 1e-9);
  for (size_t k = 1; k < failed.size(); ++k) EXPECT_NEAR(failed[k] - failed[k - 1], 0.02, 1e-9);
}

/// A planner-like plan: stance at phase 0 (mode 15), then a trot pair, and full references.
struct Plan {
  std::shared_ptr<ModeSchedule> schedule;
  std::shared_ptr<const TrajectoriesBuffer> references;
};

Plan makePlan() {
  std::vector<double> phases = {0.0, 0.4, 1.0};
  std::vector<size_t> modes = {15, 9};
  Plan plan;
  plan.schedule = std::make_shared<ModeSchedule>(1.0, phases, modes);
  auto references = std::make_shared<TrajectoriesBuffer>();
  const std::vector<scalar_t> times = {2.0, 2.5, 3.0};
  std::vector<vector_t> base = {vector3_t(0.0, 0.0, 0.3), vector3_t(0.1, 0.05, 0.31),
                                vector3_t(0.2, 0.1, 0.3)};
  auto base_traj = std::make_shared<CubicSplineTrajectory>(times, base);
  references->set_base_pos_traj(base_traj);
  references->set_base_pos_ref_traj(base_traj);
  references->set_base_rpy_traj(
      std::make_shared<CubicSplineTrajectory>(times, std::vector<vector_t>(3, vector3_t::Zero())));
  references->set_foot_pos_traj({{"FL_foot", base_traj}});
  plan.references = references;
  return plan;
}

TEST(FaultInjectorPlans, MissingRefsEmptiesHalfASecondOfPlans) {
  FaultInjector faults({{FaultKind::kMissingRefs, 2.0}}, 1);
  size_t emptied = 0;
  for (double t = 1.5; t < 3.0; t += 0.01) {
    Plan plan = makePlan();
    faults.alterPlan(t, plan.schedule, plan.references);
    const bool inside = t >= 2.0 - 1e-9 && t < 2.5 - 1e-9;
    EXPECT_EQ(plan.references == nullptr, inside) << t;
    EXPECT_TRUE(plan.schedule) << t;
    if (!plan.references) ++emptied;
  }
  EXPECT_EQ(emptied, 50u);
}

TEST(FaultInjectorPlans, BadModeReplacesOnlyThePresentModeOfOneCycle) {
  FaultInjector faults({{FaultKind::kBadMode, 2.0}}, 1);
  size_t bad = 0;
  for (double t = 1.95; t < 2.2; t += 0.01) {
    Plan plan = makePlan();
    const auto original = plan.schedule;
    faults.alterPlan(t, plan.schedule, plan.references);
    if (plan.schedule->getModeFromPhase(0.0) == FaultInjector::kBadMode) {
      ++bad;
      EXPECT_GE(t, 2.0 - 1e-9);
      // The rest of the schedule is the planner's.
      EXPECT_EQ(plan.schedule->eventPhases(), original->eventPhases());
      EXPECT_EQ(plan.schedule->modeSequence()[1], 9u);
      EXPECT_EQ(plan.schedule->getModeFromPhase(0.5), 9u);
      EXPECT_DOUBLE_EQ(plan.schedule->duration(), original->duration());
    } else {
      EXPECT_EQ(plan.schedule, original);
    }
  }
  EXPECT_EQ(bad, 1u);
}

TEST(FaultInjectorPlans, ShortBaseTrajectoryKeepsXYAndEveryOtherSlot) {
  FaultInjector faults({{FaultKind::kShortBaseTraj, 2.0}}, 1);
  size_t shortened = 0;
  for (double t = 1.9; t < 2.3; t += 0.01) {
    Plan plan = makePlan();
    const auto original = plan.references;
    faults.alterPlan(t, plan.schedule, plan.references);
    const auto base = plan.references->get_base_pos_traj();
    if (base->evaluate(2.0).size() == 2) {
      ++shortened;
      EXPECT_EQ(plan.references->get_base_pos_ref_traj()->evaluate(2.0).size(), 2);
      for (double s = 2.0; s <= 3.0; s += 0.25) {
        EXPECT_NEAR((base->evaluate(s) - original->get_base_pos_traj()->evaluate(s).head(2)).norm(),
                    0.0, 1e-12)
            << s;
      }
      EXPECT_EQ(plan.references->get_base_rpy_traj(), original->get_base_rpy_traj());
      EXPECT_EQ(plan.references->get_foot_pos_traj(), original->get_foot_pos_traj());
    } else {
      EXPECT_EQ(plan.references, original);
    }
  }
  EXPECT_EQ(shortened, 10u);  // 0.1 s of 0.01 s planning cycles
}

TEST(FaultInjectorRandom, DropsTenPercentFromItsTimeRepeatablyPerSeed) {
  FaultInjector a({{FaultKind::kDropCmds, 1.0}}, 7), b({{FaultKind::kDropCmds, 1.0}}, 7),
      c({{FaultKind::kDropCmds, 1.0}}, 8);
  size_t dropped = 0, sent = 0, differ = 0;
  for (long k = 0; k < 50000; ++k) {
    const double t = k * 0.002;
    const bool drop = a.dropCommand(t);
    EXPECT_EQ(drop, b.dropCommand(t));
    if (drop != c.dropCommand(t)) ++differ;
    if (t < 1.0 - 1e-9) {
      EXPECT_FALSE(drop) << t;
      continue;
    }
    ++sent;
    if (drop) ++dropped;
  }
  // Binomial: standard deviation sqrt(0.09 / n) ~ 0.0013; allow five of them.
  const double rate = static_cast<double>(dropped) / static_cast<double>(sent);
  EXPECT_NEAR(rate, FaultInjector::kDropProbability, 0.0068);
  EXPECT_EQ(a.records()[0].events, dropped);
  EXPECT_GT(differ, 0u);  // another seed, another sequence
}

TEST(FaultInjectorRandom, LatencyAndEncoderNoiseStartAtTheirTimes) {
  FaultInjector faults({{FaultKind::kCmdLatency, 1.0}, {FaultKind::kEncoderNoise, 1.0}}, 3);
  EXPECT_EQ(faults.commandDelay(0.998), 0.0);
  EXPECT_EQ(faults.commandDelay(1.0), FaultInjector::kCommandLatency);
  EXPECT_EQ(faults.commandDelay(10.0), FaultInjector::kCommandLatency);
  vector_t before = vector_t::LinSpaced(19, 0.0, 1.8);
  vector_t q = before;
  faults.measure(0.999, q);
  EXPECT_EQ(q, before);
  // Noise statistics over many samples: mean 0, sigma 0.005 on joints only.
  double sum = 0.0, sum_sq = 0.0;
  size_t n = 0;
  for (int k = 0; k < 4000; ++k) {
    q = before;
    faults.measure(1.0 + k * kStep, q);
    EXPECT_EQ(q.head(7), before.head(7));
    const vector_t noise = q.tail(12) - before.tail(12);
    sum += noise.sum();
    sum_sq += noise.squaredNorm();
    n += 12;
  }
  const double mean = sum / n;
  const double sigma = std::sqrt(sum_sq / n - mean * mean);
  EXPECT_NEAR(mean, 0.0, 5.0 * FaultInjector::kEncoderNoiseSigma / std::sqrt(n));
  EXPECT_NEAR(sigma, FaultInjector::kEncoderNoiseSigma, 0.03 * FaultInjector::kEncoderNoiseSigma);
}

}  // namespace
}  // namespace sim
}  // namespace velmora
