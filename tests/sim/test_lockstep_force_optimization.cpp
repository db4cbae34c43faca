// The schedule a lockstep force optimisation cycle sees when it starts half a period before its
// horizon: the planner's schedule read `lead` seconds later, against lookups in the original.

#include <gtest/gtest.h>

#include "SimTestSupport.h"
#include "planner/GaitPlanner.h"
#include "sim/LockstepForceOptimization.h"

namespace velmora::sim {
namespace {

using AdvancedScheduleTest = test::BundledRobotTest;

TEST_F(AdvancedScheduleTest, ModesAreThoseOfTheOriginalScheduleLeadSecondsLater) {
  planner::GaitPlanner planner(info_, model_, planner::PlannerSettings{});
  planner.setCommand(planner::Gait::trot(), planner::VelocityCommand{0.4, 0.0, 0.0});
  planner.plan(0.0, qpos_, qvel_);
  for (const double t : {0.43, 1.0, 1.37}) {  // before, at and between the gait's events
    const ModeSchedule schedule = *planner.plan(t, qpos_, qvel_).mode_schedule;
    const double duration = schedule.duration();
    for (const double lead_s : {0.0, 0.01, 0.25 - 1e-3, 0.25}) {
      const auto advanced = advancedSchedule(schedule, lead_s);
      ASSERT_TRUE(advanced->isValidModeSequence()) << "t " << t << " lead " << lead_s;
      EXPECT_EQ(advanced->duration(), duration);
      const double lead = lead_s / duration;
      for (double phase = 0.0; phase <= 1.0; phase += 0.0037) {
        // Past the original's end the last mode holds, as it does beyond phase 1.
        const size_t expected = schedule.getModeFromPhase(std::min(phase + lead, 1.0));
        EXPECT_EQ(advanced->getModeFromPhase(phase), expected)
            << "t " << t << " lead " << lead_s << " phase " << phase;
      }
    }
  }
}

}  // namespace
}  // namespace velmora::sim
