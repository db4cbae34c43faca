// WholeBodyController with references a host can get wrong: trajectories of the wrong
// dimension and trajectories that give non-finite values lead to the safe damping command,
// reported once per cause and second; the records carry their stamps.

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "WbcTestRig.h"

namespace velmora::wbc_test {
namespace {

constexpr double kDampingKd = 2.5;
constexpr size_t kFootZeroSwings = 7;  // feet 1, 2, 3 in stance

/// The default test parameters plus a safety block with kDampingKd.
std::string paramsWithDamping() {
  const std::string path = writeParams(ParamValues{}, "bad_refs");
  std::ofstream(path, std::ios::app) << "safety\n{\n  damping_kd " << kDampingKd << "\n}\n";
  return path;
}

std::shared_ptr<CubicSplineTrajectory> constantOfDimension(int dimension, double now_s) {
  return std::make_shared<CubicSplineTrajectory>(CubicSplineTrajectory::constant(
      vector_t::Constant(dimension, 0.1), now_s - 100.0, now_s + 100.0));
}

/// A trajectory type of the host's making (the spline's evaluation is virtual) whose values and
/// derivatives are NaN; the spline itself rejects non-finite knots and overflowing coefficients.
class NanTrajectory : public CubicSplineTrajectory {
 public:
  explicit NanTrajectory(double now_s)
      : CubicSplineTrajectory({now_s - 100.0, now_s + 100.0},
                              {vector_t::Zero(3), vector_t::Zero(3)}) {}
  vector_t evaluate(scalar_t) const override { return nan(); }
  vector_t derivative(scalar_t, int) const override { return nan(); }

 private:
  static vector_t nan() { return vector_t::Constant(3, std::numeric_limits<double>::quiet_NaN()); }
};

std::shared_ptr<CubicSplineTrajectory> nanTrajectory(double now_s) {
  return std::make_shared<NanTrajectory>(now_s);
}

size_t countOccurrences(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

void expectSafeDamping(const Rig& rig, const ActuatorCommands& commands) {
  const auto nJ = rig.nJ();
  ASSERT_EQ(commands.Kp.size(), nJ);
  EXPECT_TRUE(commands.Kp.isZero(0.0));
  EXPECT_EQ(commands.Kd, vector_t::Constant(nJ, kDampingKd));
  EXPECT_EQ(commands.pos, rig.model->qpos().tail(nJ));  // the measured joint positions
  EXPECT_TRUE(commands.vel.isZero(0.0));
  EXPECT_TRUE(commands.torque.isZero(0.0));
}

/// A rig whose controller has a policy and foot 0 in swing, and references with one change.
struct BadCase {
  std::string report;  ///< expected in the error line
  std::function<void(Rig&, TrajectoriesBuffer&)> spoil;
};

void runCases(const std::vector<BadCase>& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.report);
    Rig rig(paramsWithDamping());
    // A leaning state, so that the measured joint positions are not the description's.
    vector_t qpos = rig.standingQpos(vector3_t(0.05, -0.02, 0.1));
    qpos.tail(rig.nJ()).array() += 0.03;
    rig.setState(qpos, vector_t::Zero(rig.nv()));
    auto refs = rig.holdReferences();
    c.spoil(rig, *refs);
    rig.wbc->update_mode(kFootZeroSwings);
    rig.wbc->update_trajectory_reference(refs);
    rig.wbc->update_control_data(Rig::constantPolicy(vector6_t::Zero()));

    testing::internal::CaptureStderr();
    for (int cycle = 0; cycle < 3; ++cycle) {
      const auto commands = rig.wbc->optimize();
      ASSERT_NE(commands, nullptr);
      expectSafeDamping(rig, *commands);
    }
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(rig.wbc->numRejectedReferences(), 3u);
    EXPECT_EQ(countOccurrences(log, "[ERROR]"), 1u) << log;  // three cycles, one report
    EXPECT_NE(log.find("WholeBodyController: " + c.report), std::string::npos) << log;

    // Good references again: the regular commands return.
    rig.wbc->update_trajectory_reference(rig.holdReferences());
    const auto commands = rig.wbc->optimize();
    EXPECT_GT(commands->Kp.maxCoeff(), 0.0);
    EXPECT_FALSE(commands->torque.isZero(0.0));
  }
}

TEST(WholeBodyBadReferences, WrongDimensionsGiveTheSafeDampingCommand) {
  runCases({
      {"base_pos trajectory has dimension 2, expected 3",
       [](Rig& rig, TrajectoriesBuffer& refs) {
         refs.set_base_pos_traj(constantOfDimension(2, rig.now()));
       }},
      {"base_rpy trajectory has dimension 2, expected 3",
       [](Rig& rig, TrajectoriesBuffer& refs) {
         refs.set_base_rpy_traj(constantOfDimension(2, rig.now()));
       }},
      {"base_pos_ref trajectory has dimension 1, expected 3",
       [](Rig& rig, TrajectoriesBuffer& refs) {
         refs.set_base_pos_ref_traj(constantOfDimension(1, rig.now()));
       }},
      {"foot_pos[" + Rig().info->foot_name[0] + "] trajectory has dimension 2, expected 3",
       [](Rig& rig, TrajectoriesBuffer& refs) {
         FootMap feet = refs.get_foot_pos_traj();
         feet[rig.info->foot_name[0]] = constantOfDimension(2, rig.now());
         refs.set_foot_pos_traj(feet);
       }},
      {"foot_pos[" + Rig().info->foot_name[3] + "] trajectory has dimension 4, expected 3",
       [](Rig& rig, TrajectoriesBuffer& refs) {
         FootMap feet = refs.get_foot_pos_traj();
         feet[rig.info->foot_name[3]] = constantOfDimension(4, rig.now());
         refs.set_foot_pos_traj(feet);
       }},
  });
}

TEST(WholeBodyBadReferences, NonFiniteTrajectoriesGiveTheSafeDampingCommand) {
  runCases({
      {"base_pos trajectory gives a non-finite value",
       [](Rig& rig, TrajectoriesBuffer& refs) {
         refs.set_base_pos_traj(nanTrajectory(rig.now()));
       }},
      {"base_rpy trajectory gives a non-finite value",
       [](Rig& rig, TrajectoriesBuffer& refs) {
         refs.set_base_rpy_traj(nanTrajectory(rig.now()));
       }},
      {"base_pos_ref trajectory gives a non-finite value",
       [](Rig& rig, TrajectoriesBuffer& refs) {
         refs.set_base_pos_ref_traj(nanTrajectory(rig.now()));
       }},
      {"foot_pos[" + Rig().info->foot_name[0] + "] trajectory gives a non-finite value",
       [](Rig& rig, TrajectoriesBuffer& refs) {
         FootMap feet = refs.get_foot_pos_traj();
         feet[rig.info->foot_name[0]] = nanTrajectory(rig.now());
         refs.set_foot_pos_traj(feet);
       }},
  });
}

TEST(WholeBodyBadReferences, ABadReferenceWinsOverAMissingPolicy) {
  Rig rig(paramsWithDamping());
  auto refs = rig.holdReferences();
  refs->set_base_pos_traj(constantOfDimension(2, rig.now()));
  rig.wbc->update_mode(15);
  rig.wbc->update_trajectory_reference(refs);
  rig.wbc->update_control_data(nullptr);
  testing::internal::CaptureStderr();
  const auto commands = rig.wbc->optimize();
  testing::internal::GetCapturedStderr();
  expectSafeDamping(rig, *commands);

  // Good references and no policy: the all-zero record, as before.
  rig.wbc->update_trajectory_reference(rig.holdReferences());
  const auto zero = rig.wbc->optimize();
  EXPECT_TRUE(zero->Kd.isZero(0.0));
  EXPECT_TRUE(zero->torque.isZero(0.0));
}

TEST(WholeBodyBadReferences, RecordsCarryTheCycleAndStateTimes) {
  Rig rig;
  const double before_state = rig.now();
  rig.setState(rig.standingQpos(), vector_t::Zero(rig.nv()));
  const double after_state = rig.now();
  rig.wbc->update_mode(15);
  rig.wbc->update_trajectory_reference(rig.holdReferences());
  rig.wbc->update_control_data(Rig::constantPolicy(vector6_t::Zero()));
  const double before_cycle = rig.now();
  const auto commands = rig.wbc->optimize();
  const double after_cycle = rig.now();
  EXPECT_GE(commands->state_stamp_s, before_state);
  EXPECT_LE(commands->state_stamp_s, after_state);
  EXPECT_GE(commands->stamp_s, before_cycle);
  EXPECT_LE(commands->stamp_s, after_cycle);
}

}  // namespace
}  // namespace velmora::wbc_test
