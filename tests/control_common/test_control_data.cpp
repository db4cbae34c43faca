// CtrlData and ActuatorCommands records.

#include <gtest/gtest.h>

#include "common/ControlData.h"

namespace velmora {
namespace {

TEST(ControlData, NewRecordsAreEmpty) {
  const CtrlData law;
  EXPECT_EQ(law.a.size(), 0);
  EXPECT_EQ(law.b.size(), 0);
  const ActuatorCommands commands;
  EXPECT_EQ(commands.Kp.size() + commands.Kd.size() + commands.pos.size() + commands.vel.size() +
                commands.torque.size(),
            0);
}

TEST(ControlData, SetZeroResizesAndZeroesEveryVector) {
  ActuatorCommands commands;
  commands.Kp = vector_t::Constant(3, 5.0);
  commands.torque = vector_t::Constant(20, -1.0);
  commands.setZero(12);
  for (const vector_t* v :
       {&commands.Kp, &commands.Kd, &commands.pos, &commands.vel, &commands.torque}) {
    EXPECT_EQ(v->size(), 12);
    EXPECT_TRUE(v->isZero(0.0));
  }
  commands.setZero(0);
  for (const vector_t* v :
       {&commands.Kp, &commands.Kd, &commands.pos, &commands.vel, &commands.torque}) {
    EXPECT_EQ(v->size(), 0);
  }
}

}  // namespace
}  // namespace velmora
