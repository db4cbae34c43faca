// PinocchioInterface: state validation, quaternion handling, queries by name and id, and
// deep, independent copies (also across threads).

#include <cmath>
#include <limits>
#include <random>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "TestHelpers.h"
#include "pinocchio/PinocchioInterface.h"

namespace velmora::test {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;

class PinocchioInterfaceTest : public ::testing::Test {
 protected:
  PinocchioInterfaceTest() : robot_(kestrelFile("robot.urdf")) {}

  RandomState nextState() { return randomState(robot_.getModel(), rng_); }

  /// Expects updateRobotState to reject the state with a message containing all `words`.
  void expectRejected(const vector_t& qpos, const vector_t& qvel,
                      const std::vector<std::string>& words) {
    const vector_t previous_qpos = robot_.qpos();
    try {
      robot_.updateRobotState(qpos, qvel);
      ADD_FAILURE() << "state accepted";
    } catch (const std::invalid_argument& error) {
      for (const std::string& word : words) EXPECT_THAT(error.what(), HasSubstr(word));
    }
    // A rejected state leaves the previous one in place.
    EXPECT_EQ(robot_.qpos(), previous_qpos);
  }

  PinocchioInterface robot_;
  std::mt19937 rng_{21};
};

TEST_F(PinocchioInterfaceTest, NeutralStateAfterConstruction) {
  EXPECT_EQ(robot_.Nq(), 19);
  EXPECT_EQ(robot_.Nv(), 18);
  vector_t neutral = vector_t::Zero(19);
  neutral[6] = 1.0;
  EXPECT_EQ(robot_.qpos(), neutral);
  EXPECT_TRUE(robot_.qvel().isZero());
  EXPECT_TRUE(robot_.getFramePose("trunk").isApprox(rigid_body::SE3::Identity(), 0.0));
  // Already computed: the mass matrix is not left empty.
  EXPECT_EQ(Eigen::LLT<matrix_t>(robot_.getData().M).info(), Eigen::Success);
}

TEST_F(PinocchioInterfaceTest, RejectsWrongSizesAndNonFiniteEntries) {
  const RandomState good = nextState();
  robot_.updateRobotState(good.qpos, good.qvel);
  expectRejected(vector_t::Zero(18), good.qvel, {"qpos", "18", "19"});
  expectRejected(good.qpos, vector_t::Zero(19), {"qvel", "19", "18"});
  vector_t qpos = good.qpos;
  qpos[9] = std::numeric_limits<scalar_t>::quiet_NaN();
  expectRejected(qpos, good.qvel, {"qpos", "entry 9", "not finite"});
  vector_t qvel = good.qvel;
  qvel[0] = std::numeric_limits<scalar_t>::infinity();
  expectRejected(good.qpos, qvel, {"qvel", "entry 0"});
  qpos = good.qpos;
  qpos.segment<4>(3).setZero();
  expectRejected(qpos, good.qvel, {"quaternion", "zero"});
}

TEST_F(PinocchioInterfaceTest, NonUnitQuaternionIsNormalised) {
  PinocchioInterface reference = robot_;
  for (int k = 0; k < 20; ++k) {
    const RandomState state = nextState();
    vector_t scaled = state.qpos;
    scaled.segment<4>(3) *= 0.01 + 5.0 * k;
    robot_.updateRobotState(scaled, state.qvel);
    reference.updateRobotState(state.qpos, state.qvel);
    EXPECT_NEAR(robot_.qpos().segment<4>(3).norm(), 1.0, 1e-15);
    EXPECT_TRUE(relativelyNear(robot_.qpos(), state.qpos, 1e-15));
    EXPECT_TRUE(relativelyNear(robot_.getData().M, reference.getData().M, 1e-14));
    EXPECT_TRUE(relativelyNear(robot_.getFramePose("FL_foot").rotation(),
                               reference.getFramePose("FL_foot").rotation(), 1e-14));
  }
}

TEST_F(PinocchioInterfaceTest, UnknownFramesAreNamed) {
  matrix6x_t J;
  const std::string name = "FL_toe";
  const auto expect_named = [&](const auto& query) {
    try {
      query();
      ADD_FAILURE() << "no error";
    } catch (const std::invalid_argument& error) {
      EXPECT_THAT(error.what(), HasSubstr("'FL_toe'"));
    }
  };
  expect_named([&] { robot_.getFramePose(name); });
  expect_named([&] { robot_.getFrame6dVel_localWorldAligned(name); });
  expect_named([&] { robot_.getFrame6dAcc_local(name); });
  expect_named([&] { robot_.getFrame6dAcc_localWorldAligned(name); });
  expect_named([&] { robot_.getJacobia_local(name, J); });
  expect_named([&] { robot_.getJacobia_localWorldAligned(name, J); });
  expect_named([&] { robot_.getFrameId(name); });
  EXPECT_THROW(robot_.getFramePose(robot_.getModel().nframes), std::out_of_range);
  EXPECT_THROW(robot_.getJacobia_local(-1, J), std::out_of_range);
}

TEST_F(PinocchioInterfaceTest, QueriesByIdEqualQueriesByName) {
  const RandomState state = nextState();
  robot_.updateRobotState(state.qpos, state.qvel);
  matrix6x_t by_name, by_id;  // empty: the queries size them
  for (const char* frame : {"FL_foot", "RR_hip", "trunk", "world"}) {
    const int id = robot_.getFrameId(frame);
    EXPECT_TRUE(robot_.getFramePose(frame).isApprox(robot_.getFramePose(id), 0.0));
    EXPECT_EQ(robot_.getFrame6dVel_localWorldAligned(frame).toVector(),
              robot_.getFrame6dVel_localWorldAligned(id).toVector());
    EXPECT_EQ(robot_.getFrame6dAcc_local(frame).toVector(),
              robot_.getFrame6dAcc_local(id).toVector());
    EXPECT_EQ(robot_.getFrame6dAcc_localWorldAligned(frame).toVector(),
              robot_.getFrame6dAcc_localWorldAligned(id).toVector());
    robot_.getJacobia_local(frame, by_name);
    robot_.getJacobia_local(id, by_id);
    ASSERT_EQ(by_name.cols(), 18);
    EXPECT_EQ(by_name, by_id);
    robot_.getJacobia_localWorldAligned(frame, by_name);
    robot_.getJacobia_localWorldAligned(id, by_id);
    EXPECT_EQ(by_name, by_id);
  }
  // A frame on one leg does not depend on the other legs' joints.
  robot_.getJacobia_localWorldAligned("FL_foot", by_name);
  EXPECT_FALSE(by_name.middleCols<3>(6).isZero());
  EXPECT_TRUE(by_name.rightCols<9>().isZero());
}

TEST_F(PinocchioInterfaceTest, CopiesAreDeepAndIndependent) {
  const RandomState first = nextState(), second = nextState();
  robot_.updateRobotState(first.qpos, first.qvel);
  PinocchioInterface copy = robot_;
  copy.updateRobotState(second.qpos, second.qvel);
  EXPECT_TRUE(relativelyNear(robot_.qpos(), first.qpos, 1e-15));
  PinocchioInterface fresh(kestrelFile("robot.urdf"));
  fresh.updateRobotState(first.qpos, first.qvel);
  EXPECT_EQ(robot_.getData().M, fresh.getData().M);
  EXPECT_EQ(robot_.nle(), fresh.nle());
  EXPECT_FALSE(copy.getData().M.isApprox(fresh.getData().M));
  // Assignment copies as well.
  PinocchioInterface assigned = fresh;
  assigned = copy;
  assigned.updateRobotState(first.qpos, first.qvel);
  EXPECT_TRUE(relativelyNear(copy.qpos(), second.qpos, 1e-15));
  EXPECT_EQ(assigned.getData().M, fresh.getData().M);
}

TEST_F(PinocchioInterfaceTest, CopiesRunConcurrently) {
  std::vector<RandomState> states;
  for (int k = 0; k < 200; ++k) states.push_back(nextState());
  // Sequential reference.
  std::vector<vector_t> expected_nle;
  for (const RandomState& state : states) {
    robot_.updateRobotState(state.qpos, state.qvel);
    expected_nle.push_back(robot_.nle());
  }
  const auto worker = [&](PinocchioInterface robot, int offset, std::vector<vector_t>& out) {
    for (std::size_t k = 0; k < states.size(); ++k) {
      const RandomState& state = states[(k + offset) % states.size()];
      robot.updateRobotState(state.qpos, state.qvel);
      out[(k + offset) % states.size()] = robot.nle();
    }
  };
  std::vector<vector_t> out_a(states.size()), out_b(states.size());
  std::thread a(worker, robot_, 0, std::ref(out_a));
  std::thread b(worker, robot_, 77, std::ref(out_b));
  a.join();
  b.join();
  for (std::size_t k = 0; k < states.size(); ++k) {
    EXPECT_EQ(out_a[k], expected_nle[k]);
    EXPECT_EQ(out_b[k], expected_nle[k]);
  }
}

}  // namespace
}  // namespace velmora::test
