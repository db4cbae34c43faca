// Construction of the swing problem: settings, stage sizes and structure, the linearised
// dynamics against MuJoCo, torque bounds against the URDF, the terminal stage and input errors.

#include <cmath>
#include <stdexcept>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "MujocoJointDynamics.h"
#include "SwingTestSupport.h"
#include "control/SwingOptimization.h"

namespace velmora::test {
namespace {

using ::testing::HasSubstr;

constexpr double kDt = 0.02;
// MuJoCo compiles each body's inertia into principal axes, which shifts its dynamics by parts in
// 1e8; frame or convention errors show up at parts in 1e2 or more.
constexpr double kMujocoRelTol = 1e-6;

using SwingConstruction = KestrelSwingTest;
using SwingStages = KestrelSwingTest;

TEST_F(SwingConstruction, StandardInteriorPointSettings) {
  SwingOptimization swing(node, info, model);
  const auto& s = swing.solverSettings();
  EXPECT_EQ(s.mode, ocp_qp::SolverMode::Speed);
  EXPECT_EQ(s.iter_max, 30);
  EXPECT_DOUBLE_EQ(s.alpha_min, 1e-8);
  EXPECT_DOUBLE_EQ(s.mu0, 100.0);
  EXPECT_DOUBLE_EQ(s.tol_stat, 1e-4);
  EXPECT_DOUBLE_EQ(s.tol_eq, 1e-4);
  EXPECT_DOUBLE_EQ(s.tol_ineq, 1e-4);
  EXPECT_DOUBLE_EQ(s.tol_comp, 1e-4);
  EXPECT_DOUBLE_EQ(s.reg_prim, 1e-12);
  EXPECT_EQ(s.warm_start, 0);
  EXPECT_EQ(s.pred_corr, 1);
  EXPECT_EQ(s.ric_alg, 0);
  EXPECT_EQ(s.split_step, 1);
  EXPECT_DOUBLE_EQ(swing.dt(), kDt);
  EXPECT_TRUE(swing.stages().empty());
  EXPECT_TRUE(swing.solution().empty());
}

TEST_F(SwingConstruction, RejectsInconsistentDescriptionAndInputs) {
  ModelInfo short_nominal = info;
  short_nominal.joints_nominal_pos.conservativeResize(nj - 1);
  try {
    SwingOptimization swing(node, short_nominal, model);
    FAIL() << "a nominal pose shorter than the joint list was accepted";
  } catch (const std::invalid_argument& e) {
    EXPECT_THAT(e.what(), HasSubstr("joints_nominal_pos 11"));
    EXPECT_THAT(e.what(), HasSubstr("joints_name has 12"));
  }

  ModelInfo too_many = info;
  too_many.joints_name.push_back("extra_joint");
  too_many.joints_nominal_pos.conservativeResize(nj + 1);
  too_many.joints_nominal_pos(nj) = 0.0;
  EXPECT_THROW(SwingOptimization(node, too_many, model), std::invalid_argument);

  ModelInfo none = info;
  none.joints_name.clear();
  none.joints_nominal_pos.resize(0);
  EXPECT_THROW(SwingOptimization(node, none, model), std::invalid_argument);

  EXPECT_THROW(SwingOptimization(nullptr, info, model), std::invalid_argument);

  SwingOptimization swing(node, info, model);
  const auto [qpos, qvel] = measuredState(info.joints_nominal_pos, vector_t::Zero(nj));
  EXPECT_THROW(swing.update_state(nullptr, qvel), std::invalid_argument);
  EXPECT_THROW(swing.update_state(qpos, nullptr), std::invalid_argument);
}

TEST_F(SwingStages, SizesAndStructureForTwelveJoints) {
  ASSERT_EQ(nj, 12);
  SwingOptimization swing(node, info, model);
  swing.update_trajectory_reference(stationaryReferences(bentJoints(), 1.0));
  ASSERT_NE(swing.optimize(), nullptr);

  const auto& stages = swing.stages();
  ASSERT_EQ(stages.size(), 51u);
  ASSERT_EQ(swing.solution().size(), 51u);
  const size_t N = 50;
  std::vector<int> all_inputs(12);
  for (int i = 0; i < 12; ++i) all_inputs[i] = i;

  for (size_t k = 0; k <= N; ++k) {
    SCOPED_TRACE("stage " + std::to_string(k));
    const auto& st = stages[k];
    // Costs on every stage.
    ASSERT_EQ(st.Q.rows(), 24);
    ASSERT_EQ(st.Q.cols(), 24);
    EXPECT_EQ(st.S.rows(), 12);
    EXPECT_EQ(st.S.cols(), 24);
    EXPECT_EQ(st.R.rows(), 12);
    EXPECT_EQ(st.R.cols(), 12);
    EXPECT_EQ(st.q.size(), 24);
    EXPECT_EQ(st.r.size(), 12);
    const double scale = (k == N) ? 100.0 : 1.0;
    matrix_t expected_Q = matrix_t::Zero(24, 24);
    expected_Q.diagonal().head(12).setConstant(100.0 * scale);
    expected_Q.diagonal().tail(12).setConstant(20.0 * scale);
    EXPECT_EQ(st.Q, expected_Q);
    EXPECT_TRUE(st.S.isZero(0.0));
    EXPECT_TRUE(st.q.isZero(0.0));
    EXPECT_TRUE(st.r.isZero(0.0));
    EXPECT_EQ(st.R, 1e-4 * matrix_t::Identity(12, 12));

    if (k == N) {
      // The last stage has a state only.
      EXPECT_EQ(st.A.size(), 0);
      EXPECT_EQ(st.B.size(), 0);
      EXPECT_EQ(st.b.size(), 0);
      EXPECT_TRUE(st.idxbu.empty());
      EXPECT_EQ(st.lbu.size(), 0);
      EXPECT_EQ(st.ubu.size(), 0);
      continue;
    }
    ASSERT_EQ(st.A.rows(), 24);
    ASSERT_EQ(st.A.cols(), 24);
    ASSERT_EQ(st.B.rows(), 24);
    ASSERT_EQ(st.B.cols(), 12);
    ASSERT_EQ(st.b.size(), 24);
    matrix_t expected_A = matrix_t::Identity(24, 24);
    for (int i = 0; i < 12; ++i) expected_A(i, 12 + i) = kDt;
    EXPECT_EQ(st.A, expected_A);
    EXPECT_TRUE(st.B.topRows(12).isZero(0.0));
    EXPECT_TRUE(st.b.head(12).isZero(0.0));
    EXPECT_FALSE(st.B.bottomRows(12).isZero(0.0));
    EXPECT_EQ(st.idxbu, all_inputs);
    EXPECT_EQ(st.lbu.size(), 12);
    EXPECT_EQ(st.ubu.size(), 12);
    EXPECT_EQ(st.lbu_mask, vector_t::Ones(12));
    EXPECT_EQ(st.ubu_mask, vector_t::Ones(12));
    EXPECT_TRUE(st.idxbx.empty());
    EXPECT_EQ(st.C.size(), 0);
    EXPECT_EQ(st.D.size(), 0);
    EXPECT_EQ(st.lg.size(), 0);
  }
}

TEST_F(SwingStages, TorqueBoundsAreTheUrdfEffortLimits) {
  const std::string urdf = kestrelUrdfWithDistinctEfforts();
  const auto limits = urdfEffortLimits(urdf);
  ASSERT_EQ(limits.size(), 12u);
  const PinocchioInterface distinct_model(urdf);
  SwingOptimization swing(node, loadModelInfo(kestrelFile("description.info"), distinct_model),
                          distinct_model);
  swing.update_trajectory_reference(stationaryReferences(bentJoints(), 0.1));
  ASSERT_NE(swing.optimize(), nullptr);
  for (const auto& stage : {swing.stages().at(0), swing.stages().at(4)}) {
    ASSERT_EQ(stage.idxbu.size(), 12u);
    for (size_t m = 0; m < stage.idxbu.size(); ++m) {
      const std::string& joint = info.joints_name.at(stage.idxbu[m]);
      ASSERT_EQ(limits.count(joint), 1u) << joint;
      EXPECT_DOUBLE_EQ(stage.ubu(m), limits.at(joint)) << joint;
      EXPECT_DOUBLE_EQ(stage.lbu(m), -limits.at(joint)) << joint;
    }
  }
}

// On a reference that stands still the stage matrices are those of the joint-space dynamics at
// the reference pose: B = dt [0; M_jj^-1], b = -dt [0; M_jj^-1 g_j]. The base is tilted so that
// the orientation handed to the model matters for the gravity torques.
TEST_F(SwingStages, StationaryDynamicsMatchMujoco) {
  const vector3_t rpy(0.15, -0.2, 0.7);
  const vector_t joints = bentJoints();
  SwingOptimization swing(node, info, model);
  swing.update_trajectory_reference(stationaryReferences(joints, 0.2, rpy));
  ASSERT_NE(swing.optimize(), nullptr);

  MujocoJointDynamics mujoco(kestrelFile("robot.urdf"));
  BaseAndJointState state;
  state.base_pos_world = standingBasePos();
  state.base_orientation = quaternionFromRpy(rpy);
  state.joint_pos = joints;
  state.joint_vel = vector_t::Zero(nj);
  const vector_t gravity = mujoco.jointGravity(state);
  mujoco.setState(state);
  const matrix_t M_inv = mujoco.jointMass().inverse();

  // The reference torques are not trivial: a tilted robot loads every joint differently.
  ASSERT_GT(gravity.cwiseAbs().maxCoeff(), 0.5);
  const auto& stages = swing.stages();
  ASSERT_EQ(stages.size(), 11u);
  for (size_t k = 0; k < 10; ++k) {
    SCOPED_TRACE("stage " + std::to_string(k));
    EXPECT_TRUE(stages[k].B.bottomRows(nj).isApprox(kDt * M_inv, kMujocoRelTol));
    EXPECT_TRUE(stages[k].b.tail(nj).isApprox(-kDt * M_inv * gravity, kMujocoRelTol))
        << stages[k].b.tail(nj).transpose() << "\n"
        << (-kDt * M_inv * gravity).transpose();
  }
}

// Along a moving reference (base translating and turning, joints accelerating) each stage is
// linearised at its own time t0 + k dt, with the base velocities handed to the model in its own
// axes: b = -dt (M_jj^-1 h_j + a_ref), h_j from MuJoCo at the same physical state.
TEST_F(SwingStages, MovingReferenceDriftMatchesMujocoAtEachStageTime) {
  const double T = 0.3;
  const vector3_t rpy_start(0.1, -0.15, 0.4);
  const vector3_t rpy_rate(0.2, -0.3, 1.5);
  const vector3_t base_vel(0.6, -0.3, 0.05);
  vector_t joint_vel(nj), joint_acc(nj);
  for (Eigen::Index i = 0; i < nj; ++i) {
    joint_vel(i) = 0.8 * std::sin(1.0 + static_cast<double>(i));
    joint_acc(i) = 3.0 * std::cos(2.0 * static_cast<double>(i));
  }
  const vector_t joint_start = bentJoints();
  auto references =
      makeReferences(rampTrajectory(standingBasePos(), base_vel, t0, t0 + T),
                     rampTrajectory(rpy_start, rpy_rate, t0, t0 + T),
                     parabolaTrajectory(joint_start, joint_vel, joint_acc, t0, t0 + T));
  SwingOptimization swing(node, info, model);
  swing.update_trajectory_reference(references);
  ASSERT_NE(swing.optimize(), nullptr);

  const auto& stages = swing.stages();
  ASSERT_EQ(stages.size(), 16u);
  MujocoJointDynamics mujoco(kestrelFile("robot.urdf"));
  for (size_t k = 0; k < 15; ++k) {
    SCOPED_TRACE("stage " + std::to_string(k));
    const double s = static_cast<double>(k) * kDt;
    const vector3_t rpy = rpy_start + rpy_rate * s;
    BaseAndJointState state;
    state.base_pos_world = standingBasePos() + base_vel * s;
    state.base_orientation = quaternionFromRpy(rpy);
    state.base_lin_vel_world = base_vel;
    // Angular velocity of R = Rz(y) Ry(p) Rx(r) in world axes.
    state.base_ang_vel_world = rpy_rate(2) * Eigen::Vector3d::UnitZ() +
                               rpy_rate(1) * (Eigen::AngleAxisd(rpy(2), Eigen::Vector3d::UnitZ()) *
                                              Eigen::Vector3d::UnitY()) +
                               rpy_rate(0) * (Eigen::AngleAxisd(rpy(2), Eigen::Vector3d::UnitZ()) *
                                              Eigen::AngleAxisd(rpy(1), Eigen::Vector3d::UnitY()) *
                                              Eigen::Vector3d::UnitX());
    state.joint_pos = joint_start + joint_vel * s + 0.5 * joint_acc * s * s;
    state.joint_vel = joint_vel + joint_acc * s;
    mujoco.setState(state);
    const matrix_t M_inv = mujoco.jointMass().inverse();
    const vector_t h = mujoco.jointBiasAtZeroSpatialBaseAcc();
    EXPECT_TRUE(stages[k].B.bottomRows(nj).isApprox(kDt * M_inv, kMujocoRelTol));
    const vector_t expected_b = -kDt * (M_inv * h + joint_acc);
    EXPECT_TRUE(stages[k].b.tail(nj).isApprox(expected_b, kMujocoRelTol))
        << "got      " << stages[k].b.tail(nj).transpose() << "\nexpected "
        << expected_b.transpose();
  }
}

TEST_F(SwingStages, ShorterHorizonLeavesNoStaleFieldsOnTheLastStage) {
  SwingOptimization swing(node, info, model);
  swing.update_trajectory_reference(stationaryReferences(bentJoints(), 1.0));
  ASSERT_NE(swing.optimize(), nullptr);
  ASSERT_EQ(swing.stages().size(), 51u);
  ASSERT_EQ(swing.stages()[25].A.rows(), 24);  // a full stage before the horizon shrinks

  swing.update_trajectory_reference(stationaryReferences(bentJoints(), 0.5));
  ASSERT_NE(swing.optimize(), nullptr);
  const auto& stages = swing.stages();
  ASSERT_EQ(stages.size(), 26u);
  ASSERT_EQ(swing.solution().size(), 26u);
  const auto& last = stages.back();
  EXPECT_EQ(last.A.size(), 0);
  EXPECT_EQ(last.B.size(), 0);
  EXPECT_EQ(last.b.size(), 0);
  EXPECT_TRUE(last.idxbu.empty());
  EXPECT_EQ(last.lbu.size() + last.ubu.size() + last.lbu_mask.size() + last.ubu_mask.size(), 0);
  EXPECT_EQ(last.Q(0, 0), 10000.0);
  EXPECT_EQ(last.Q(12, 12), 2000.0);
  EXPECT_EQ(stages[24].Q(0, 0), 100.0);
}

// A joint that the model does not know gets no bound; the other bounds stay with their inputs.
TEST_F(SwingStages, UnknownJointIsLeftUnboundedAndBoundsStayPaired) {
  const std::string urdf = kestrelUrdfWithDistinctEfforts();
  const auto limits = urdfEffortLimits(urdf);
  const PinocchioInterface distinct_model(urdf);
  const int unknown = 4;
  ModelInfo renamed = info;
  renamed.joints_name[unknown] = "no_such_joint";
  SwingOptimization swing(node, renamed, distinct_model);
  swing.update_trajectory_reference(stationaryReferences(info.joints_nominal_pos, 0.4));
  // A large velocity error that only saturated torques can brake.
  const auto [qpos, qvel] = measuredState(info.joints_nominal_pos, vector_t::Constant(nj, 80.0));
  swing.update_state(qpos, qvel);
  ASSERT_NE(swing.optimize(), nullptr);

  const auto& stage = swing.stages().at(0);
  std::vector<int> expected_idx;
  for (int i = 0; i < nj; ++i) {
    if (i != unknown) expected_idx.push_back(i);
  }
  ASSERT_EQ(stage.idxbu, expected_idx);
  ASSERT_EQ(stage.lbu.size(), 11);
  ASSERT_EQ(stage.ubu.size(), 11);
  EXPECT_EQ(stage.lbu_mask, vector_t::Ones(11));
  EXPECT_EQ(stage.ubu_mask, vector_t::Ones(11));
  for (size_t m = 0; m < stage.idxbu.size(); ++m) {
    EXPECT_DOUBLE_EQ(stage.ubu(m), limits.at(info.joints_name[stage.idxbu[m]]));
  }

  // Behaviour: the bounded joints brake at their limit, the unknown one beyond it.
  const vector_t& u0 = swing.solution().at(0).u;
  const double limit = limits.at(info.joints_name[unknown]);
  for (Eigen::Index i = 0; i < nj; ++i) {
    if (i == unknown) {
      EXPECT_LT(u0(i), -1.5 * limit) << "the unknown joint was bounded";
    } else {
      EXPECT_GE(u0(i), -limits.at(info.joints_name[i]) - 1e-3) << info.joints_name[i];
      EXPECT_LE(u0(i), limits.at(info.joints_name[i]) + 1e-3) << info.joints_name[i];
    }
  }
}

TEST_F(SwingStages, WrongTrajectoryDimensionsAreRejectedByName) {
  SwingOptimization swing(node, info, model);
  auto expect_rejected = [&](const std::shared_ptr<TrajectoriesBuffer>& refs,
                             const std::string& name, const std::string& dims) {
    swing.update_trajectory_reference(refs);
    try {
      swing.optimize();
      FAIL() << "accepted a wrong " << name << " trajectory";
    } catch (const std::invalid_argument& e) {
      EXPECT_THAT(e.what(), HasSubstr(name));
      EXPECT_THAT(e.what(), HasSubstr(dims));
    }
    EXPECT_TRUE(swing.stages().empty());
  };
  const double t1 = t0 + 0.5;
  const auto base = constantTrajectory(standingBasePos(), t0, t1);
  const auto rpy = constantTrajectory(vector3_t::Zero(), t0, t1);
  expect_rejected(
      makeReferences(base, rpy, constantTrajectory(info.joints_nominal_pos.head(11), t0, t1)),
      "joint position", "dimension 11, expected 12");
  expect_rejected(makeReferences(constantTrajectory(vector_t::Zero(2), t0, t1), rpy,
                                 constantTrajectory(info.joints_nominal_pos, t0, t1)),
                  "base position", "dimension 2, expected 3");
  expect_rejected(makeReferences(base, constantTrajectory(vector_t::Zero(4), t0, t1),
                                 constantTrajectory(info.joints_nominal_pos, t0, t1)),
                  "base roll-pitch-yaw", "dimension 4, expected 3");
}

}  // namespace
}  // namespace velmora::test
