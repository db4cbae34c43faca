// Gait table and gait switches: the reader's errors, the schedules of the bundled gaits against
// their stated duty factors and phase offsets, and the planner's contact invariants across
// switches between every pair of gaits at many switch times.

#include <cmath>

#include "SimTestSupport.h"
#include "common/MotionPhaseDefinition.h"
#include "planner/GaitTable.h"
#include "sim/DrivingCommand.h"

namespace velmora::sim {
namespace {

using GaitTableTest = test::BundledRobotTest;

TEST(GaitTable, ErrorsNameTheLineAndTheKey) {
  const std::string good = "trot\n{\n  cycle_s 0.5\n  duty 0.5\n  offsets \"0.5 0 0 0.5\"\n}\n";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"trot\n{\n  cycle_s 0.5\n  speed 2\n}\n", ":4: unknown key 'speed'"},
      {"trot\n{\n  duty 0\n}\n", ":3: duty"},
      {"trot\n{\n  duty 1.5\n}\n", ":3: duty"},
      {"trot\n{\n cycle_s 1\n duty 0.5\n offsets \"0 0 1 0\"\n}\n", ":5: offsets"},
      {"trot\n{\n cycle_s 1\n duty 0.5\n offsets \"0 0 -0.1 0\"\n}\n", ":5: offsets"},
      {"trot\n{\n cycle_s 1\n duty 0.5\n offsets \"0 0 0\"\n}\n", ":5: offsets expects 4"},
      {"trot\n{\n cycle_s 1\n duty 0.5\n}\n", ":1: gait 'trot' lacks the key offsets"},
      {good + good, ":7: gait 'trot' defined twice"},
      {"trot\n{\n  duty 1\n", ":1: 'trot' has no closing"},
      {"trot\n{\n  duty\n}\n", ":3: key 'duty'"},
  };
  for (const auto& [text, fragment] : cases) {
    try {
      planner::GaitTable::parse(text, "my.info");
      ADD_FAILURE() << "no error for:\n" << text;
    } catch (const std::invalid_argument& error) {
      EXPECT_NE(std::string(error.what()).find("my.info" + fragment), std::string::npos)
          << error.what();
    }
  }
  EXPECT_EQ(planner::GaitTable::parse(good, "my.info").gait("trot"), planner::Gait::trot());
  EXPECT_THROW(planner::GaitTable::parse(good, "my.info").gait("pace"), std::invalid_argument);
}

/// Circular distance between two phases (fractions of a cycle).
double phaseDistance(double a, double b) {
  const double d = std::abs(a - b) - std::floor(std::abs(a - b));
  return std::min(d, 1.0 - d);
}

/// Times [s] within [from, to) at which `foot` lifts off in the planner's schedule (1 ms grid).
std::vector<double> liftOffs(const planner::GaitPlanner& planner, size_t foot, double from,
                             double to) {
  std::vector<double> lifts;
  for (double t = from; t < to; t += 1e-3) {
    if (planner.stanceAt(foot, t) && !planner.stanceAt(foot, t + 1e-3)) lifts.push_back(t + 1e-3);
  }
  return lifts;
}

TEST_F(GaitTableTest, ScheduleOfEveryGaitHasItsDutyFactorAndOffsets) {
  for (const std::string& name : planner::gaitNames()) {
    const planner::Gait gait = planner::gaitNamed(name);
    planner::PlannerSettings settings;
    settings.horizon_s = 2.0 * gait.period_s;
    planner::GaitPlanner planner(info_, model_, settings);
    planner.setCommand(gait, planner::VelocityCommand{});
    planner.plan(0.0, qpos_, qvel_);  // the gait's cycles start at stand_before_gait_s
    const double t0 = settings.stand_before_gait_s + 3.0 * gait.period_s;
    const ModeSchedule schedule = *planner.plan(t0, qpos_, qvel_).mode_schedule;
    ASSERT_TRUE(schedule.isValidModeSequence()) << name;
    std::array<double, 4> stance{};  // stance time of each foot over the first cycle
    for (double phase = 0.0; phase < 0.5; phase += 1e-4) {
      const contact_flag_t flags =
          quadruped::modeNumber2StanceLeg(schedule.getModeFromPhase(phase));
      for (size_t i = 0; i < 4; ++i) stance[i] += flags[i] ? 1e-4 * schedule.duration() : 0.0;
    }
    for (size_t i = 0; i < 4; ++i) {
      EXPECT_NEAR(stance[i] / gait.period_s, gait.stand ? 1.0 : 1.0 - gait.swing_fraction, 2e-3)
          << name << " foot " << i;
      if (gait.stand) continue;
      const std::vector<double> lifts = liftOffs(planner, i, t0, t0 + gait.period_s);
      ASSERT_EQ(lifts.size(), 1u) << name << " foot " << i;
      const double phase = (lifts[0] - settings.stand_before_gait_s) / gait.period_s;
      EXPECT_LE(phaseDistance(phase, gait.swing_offset[i]), 1e-3 / gait.period_s + 1e-9)
          << name << " foot " << i;
    }
  }
}

TEST_F(GaitTableTest, SwitchesEndSwingsAsPlannedAndLiftNoMoreFeetThanEitherGait) {
  const auto feetInAir = [](const planner::GaitPlanner& planner, double t) {
    size_t air = 0;
    for (size_t i = 0; i < 4; ++i) air += planner.stanceAt(i, t) ? 0 : 1;
    return air;
  };
  for (const std::string& from : planner::gaitNames()) {
    for (const std::string& to : planner::gaitNames()) {
      if (from == to) continue;
      const planner::Gait old_gait = planner::gaitNamed(from), new_gait = planner::gaitNamed(to);
      // Most feet in the air in either gait alone.
      planner::GaitPlanner old_only(info_, model_, planner::PlannerSettings{}),
          new_only(info_, model_, {});
      old_only.setCommand(old_gait, {});
      new_only.setCommand(new_gait, {});
      old_only.plan(0.0, qpos_, qvel_);
      new_only.plan(0.0, qpos_, qvel_);
      size_t air_limit = 0;
      for (double t = 0.5; t < 6.0; t += 1e-3) {
        air_limit = std::max({air_limit, feetInAir(old_only, t), feetInAir(new_only, t)});
      }
      // Requests off the gaits' event grid (a swing due at the request itself is not begun).
      for (double request = 1.3011; request < 1.3 + old_gait.period_s; request += 0.047) {
        planner::GaitPlanner planner(info_, model_, planner::PlannerSettings{});
        planner.setCommand(old_gait, {});
        planner.plan(0.0, qpos_, qvel_);
        planner.setCommand(new_gait, {});
        planner.plan(request, qpos_, qvel_);
        const double end = request + 2.0 * old_gait.period_s + 3.0 * new_gait.period_s + 0.6;
        for (size_t i = 0; i < 4; ++i) {
          // A swing under way at the request ends when the old gait lands it.
          for (double t = request; !old_only.stanceAt(i, request) && !old_only.stanceAt(i, t);
               t += 1e-3) {
            EXPECT_FALSE(planner.stanceAt(i, t)) << from << "->" << to << " at " << request;
          }
        }
        for (double t = request; t < end; t += 1e-3) {
          ASSERT_LE(feetInAir(planner, t), air_limit) << from << "->" << to << " t " << t;
        }
        std::vector<double> settled_lifts;
        for (size_t i = 0; i < 4; ++i) {
          for (const double lift : liftOffs(planner, i, request, end)) {
            // A lift-off the old gait does not have comes half the new stance time after landing.
            if (old_only.stanceAt(i, lift - 1e-3) && !old_only.stanceAt(i, lift)) continue;
            for (double t = lift - 1e-3; t > lift - 0.5 * new_gait.stanceTime() + 2e-3; t -= 1e-3) {
              ASSERT_TRUE(planner.stanceAt(i, t))
                  << from << "->" << to << " foot " << i << " " << t;
            }
          }
          // Settled: the new gait's phase offsets, cycle for cycle.
          const std::vector<double> lifts =
              liftOffs(planner, i, end - 2.0 * new_gait.period_s, end);
          if (new_gait.stand) {
            EXPECT_TRUE(lifts.empty()) << from << "->" << to << " foot " << i;
            continue;
          }
          ASSERT_GE(lifts.size(), 2u) << from << "->" << to << " foot " << i;
          EXPECT_NEAR(lifts.back() - lifts[lifts.size() - 2], new_gait.period_s, 2e-3);
          settled_lifts.push_back(lifts.back());
        }
        for (size_t i = 1; i < settled_lifts.size(); ++i) {
          const double lag = (settled_lifts[i] - settled_lifts[0]) / new_gait.period_s;
          EXPECT_LE(phaseDistance(lag, new_gait.swing_offset[i] - new_gait.swing_offset[0]),
                    2e-3 / new_gait.period_s + 1e-9)
              << from << "->" << to << " foot " << i;
        }
      }
    }
  }
}

TEST_F(GaitTableTest, FullSupportShiftPutsTheBodyOverTheStanceFeetCentroidInEachSwing) {
  planner::Gait gait = planner::gaitNamed("static_walk");
  gait.support_shift = 1.0;
  planner::PlannerSettings settings;
  settings.raibert_gain = 0.0;  // footholds at the hips: the robot here does not follow the plan
  settings.velocity_carry_time_s = 0.0;  // (nor is the plan made to carry its velocity error)
  planner::GaitPlanner planner(info_, model_, settings);
  planner.setCommand(gait, {});
  planner.plan(0.0, qpos_, qvel_);
  vector_t qpos = qpos_;  // the robot stands where the plan wants it at t = 1 s
  qpos.head<2>() += planner.bodyShiftAt(1.0).head<2>();
  const planner::PlannerOutput out = planner.plan(1.0, qpos, qvel_);
  vector3_t centroid4 = vector3_t::Zero();
  for (size_t i = 0; i < 4; ++i) centroid4 += 0.25 * planner.footRefAt(i, 1.0);
  size_t swings_seen = 0;
  for (double t = 1.0; t < 1.0 + settings.horizon_s; t += 0.01) {
    vector3_t centroid3 = vector3_t::Zero();
    size_t in_air = 4;
    for (size_t i = 0; i < 4; ++i) {
      if (planner.stanceAt(i, t))
        centroid3 += planner.footRefAt(i, t) / 3.0;
      else
        in_air = i;
    }
    if (in_air == 4) continue;
    ++swings_seen;
    const vector3_t base = out.trajectories->get_base_pos_traj()->evaluate(t);
    EXPECT_NEAR(base(0) - centroid3(0), qpos_(0) - centroid4(0), 2e-3) << "t " << t;
    EXPECT_NEAR(base(1) - centroid3(1), qpos_(1) - centroid4(1), 2e-3) << "t " << t;
  }
  EXPECT_GT(swings_seen, 0u);
}

}  // namespace
}  // namespace velmora::sim
