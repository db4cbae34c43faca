// SwingOptimization on the bundled robot: input errors, horizon, the linearised dynamics against
// MuJoCo, the torque bounds, the policy against an independent Riccati recursion, and the
// fallback law of a failed solve.

#include <functional>

#include <gmock/gmock.h>

#include "SwingTestSupport.h"

namespace velmora::test {
namespace {

using ::testing::HasSubstr;
using SwingTest = KestrelSwingTest;

constexpr double kDt = 0.02;
// MuJoCo compiles each body's inertia into principal axes, which shifts its dynamics by parts in
// 1e8; frame or convention errors show up at parts in 1e2 or more.
constexpr double kMujocoRelTol = 1e-6;

TEST_F(SwingTest, InconsistentDescriptionsAndInputsAreRejectedByName) {
  ModelInfo short_nominal = info;
  short_nominal.joints_nominal_pos.conservativeResize(nj - 1);
  SwingOptimization swing(node, info, model);
  const auto q = std::make_shared<vector_t>(vector_t::Zero(7 + nj));
  const double t1 = t0 + 0.5;
  const auto base = constantTrajectory(standingBasePos(), t0, t1);
  const auto rpy = constantTrajectory(vector3_t::Zero(), t0, t1);
  const auto joints = constantTrajectory(info.joints_nominal_pos, t0, t1);
  const auto optimizeWith = [&](TrajectoryPtr b, TrajectoryPtr r, TrajectoryPtr j) {
    swing.update_trajectory_reference(makeReferences(b, r, j));
    swing.optimize();
  };
  const std::vector<std::pair<std::function<void()>, std::vector<std::string>>> cases{
      {[&] { SwingOptimization(node, short_nominal, model); },
       {"joints_nominal_pos 11", "joints_name has 12"}},
      {[&] { SwingOptimization(nullptr, info, model); }, {}},
      {[&] { swing.update_state(nullptr, q); }, {}},
      {[&] {
         optimizeWith(base, rpy, constantTrajectory(info.joints_nominal_pos.head(11), t0, t1));
       },
       {"joint position", "dimension 11, expected 12"}},
      {[&] { optimizeWith(constantTrajectory(vector_t::Zero(2), t0, t1), rpy, joints); },
       {"base position", "dimension 2, expected 3"}},
      {[&] { optimizeWith(base, constantTrajectory(vector_t::Zero(4), t0, t1), joints); },
       {"base roll-pitch-yaw", "dimension 4, expected 3"}}};
  for (size_t i = 0; i < cases.size(); ++i) {
    try {
      cases[i].first();
      ADD_FAILURE() << "case " << i << " accepted";
    } catch (const std::invalid_argument& e) {
      for (const auto& fragment : cases[i].second) EXPECT_THAT(e.what(), HasSubstr(fragment));
    }
  }
  EXPECT_TRUE(swing.stages().empty());
}

TEST_F(SwingTest, HorizonIsTheWholeNumberOfStagesUpToTheCap) {
  SwingOptimization swing(node, info, model);
  // Durations on the clock's axis: 0.3 / 0.02 and 0.7 / 0.02 fall just short of 15 and 35 in
  // floating point, the end time carries the rounding of t0 + duration.
  for (const auto& [duration, N] : std::vector<std::pair<double, size_t>>{
           {1.0, 50}, {0.059, 2}, {0.039, 1}, {0.02, 1}, {0.3, 15}, {0.7, 35}, {4.0, 200}}) {
    swing.update_trajectory_reference(stationaryReferences(info.joints_nominal_pos, duration));
    ASSERT_NE(swing.optimize(), nullptr) << duration;
    EXPECT_EQ(swing.stages().size(), N + 1) << duration;
  }
  // An hour of reference is cut to the cap; three cycles within a second give one warning.
  swing.update_trajectory_reference(stationaryReferences(info.joints_nominal_pos, 3600.0));
  CoutCapture out;
  for (int cycle = 0; cycle < 3; ++cycle) {
    ASSERT_NE(swing.optimize(), nullptr);
    EXPECT_EQ(swing.stages().size(), SwingOptimization::kMaxHorizonStages + 1);
  }
  const std::string warnings = out.text();
  EXPECT_EQ(std::count(warnings.begin(), warnings.end(), '\n'), 1) << warnings;
}

// Each stage is linearised at its own time t0 + k dt along a moving reference (base translating
// and turning from a tilted pose, joints accelerating), with the base velocities handed to the
// model in its own axes: B = dt [0; M_jj^-1], b = -dt [0; M_jj^-1 h_j + a_ref].
TEST_F(SwingTest, LinearisedDynamicsMatchMujocoAtEachStageTime) {
  const double T = 0.3;
  const vector3_t rpy_start(0.1, -0.15, 0.4), rpy_rate(0.2, -0.3, 1.5), base_vel(0.6, -0.3, 0.05);
  vector_t joint_vel(nj), joint_acc(nj);
  for (Eigen::Index i = 0; i < nj; ++i) {
    joint_vel(i) = 0.8 * std::sin(1.0 + static_cast<double>(i));
    joint_acc(i) = 3.0 * std::cos(2.0 * static_cast<double>(i));
  }
  const vector_t joint_start = bentJoints(), none = vector_t::Zero(3);
  SwingOptimization swing(node, info, model);
  swing.update_trajectory_reference(
      makeReferences(parabolaTrajectory(standingBasePos(), base_vel, none, t0, t0 + T),
                     parabolaTrajectory(rpy_start, rpy_rate, none, t0, t0 + T),
                     parabolaTrajectory(joint_start, joint_vel, joint_acc, t0, t0 + T)));
  ASSERT_NE(swing.optimize(), nullptr);
  ASSERT_EQ(swing.stages().size(), 16u);
  MujocoJointDynamics mujoco(kestrelFile("robot.urdf"));
  for (size_t k = 0; k < 15; ++k) {
    const double s = static_cast<double>(k) * kDt;
    const vector3_t rpy = rpy_start + rpy_rate * s;
    const Eigen::AngleAxisd yaw(rpy(2), vector3_t::UnitZ()), pitch(rpy(1), vector3_t::UnitY());
    // Angular velocity of R = Rz(y) Ry(p) Rx(r) in world axes.
    const vector3_t omega = rpy_rate(2) * vector3_t::UnitZ() +
                            rpy_rate(1) * (yaw * vector3_t::UnitY()) +
                            rpy_rate(0) * (yaw * pitch * vector3_t::UnitX());
    mujoco.setState(standingBasePos() + base_vel * s,
                    yaw * pitch * Eigen::AngleAxisd(rpy(0), vector3_t::UnitX()), base_vel, omega,
                    joint_start + joint_vel * s + 0.5 * joint_acc * s * s,
                    joint_vel + joint_acc * s);
    const matrix_t M_inv = mujoco.jointMass().inverse();
    const vector_t expected_b = -kDt * (M_inv * mujoco.jointBias() + joint_acc);
    const auto& stage = swing.stages()[k];
    EXPECT_TRUE(stage.B.bottomRows(nj).isApprox(kDt * M_inv, kMujocoRelTol)) << "stage " << k;
    EXPECT_TRUE(stage.b.tail(nj).isApprox(expected_b, kMujocoRelTol))
        << "stage " << k << "\n"
        << stage.b.tail(nj).transpose() << "\n"
        << expected_b.transpose();
  }
}

// Every joint the model knows is bounded by its URDF effort limit; a joint the model does not
// know is left unbounded.
TEST_F(SwingTest, TorqueBoundsAreTheUrdfEffortLimits) {
  const Eigen::Index unknown = 4;
  ModelInfo renamed = info;
  renamed.joints_name[unknown] = "no_such_joint";
  SwingOptimization swing(node, renamed, model);
  swing.update_trajectory_reference(stationaryReferences(info.joints_nominal_pos, 0.4));
  // A large velocity error that only saturated torques can brake.
  setJointState(swing, info.joints_nominal_pos, vector_t::Constant(nj, 80.0));
  ASSERT_NE(swing.optimize(), nullptr);
  const auto& stage = swing.stages().at(0);
  const vector_t limit = model.getModel().effortLimit.tail(nj);  // 33.5 N m on every joint
  ASSERT_EQ(stage.idxbu, std::vector<int>({0, 1, 2, 3, 5, 6, 7, 8, 9, 10, 11}));
  EXPECT_EQ(stage.lbu_mask, vector_t::Ones(11));
  EXPECT_EQ(stage.ubu_mask, vector_t::Ones(11));
  for (size_t m = 0; m < stage.idxbu.size(); ++m) {
    EXPECT_DOUBLE_EQ(stage.ubu(m), limit(stage.idxbu[m]));
    EXPECT_DOUBLE_EQ(stage.lbu(m), -limit(stage.idxbu[m]));
  }
  // The bounded joints brake within their limit, the unknown one beyond it.
  const vector_t& u0 = swing.solution().at(0).u;
  for (Eigen::Index i = 0; i < nj; ++i) {
    if (i == unknown) {
      EXPECT_LT(u0(i), -1.5 * limit(i)) << "the unknown joint was bounded";
    } else {
      EXPECT_LE(std::abs(u0(i)), limit(i) + 1e-3) << info.joints_name[i];
    }
  }
}

// Independent reference for the policy: with no torque bound active the problem is a plain LQ
// problem, whose stage-0 law follows from a backward Riccati recursion over the stages.
TEST_F(SwingTest, PolicyIsTheStageZeroLawOfTheLqOptimum) {
  SwingOptimization swing(node, info, model);
  swing.update_trajectory_reference(stationaryReferences(bentJoints(), 1.0, vector3_t(0.1, 0, 0)));
  vector_t dq(nj);
  for (Eigen::Index i = 0; i < nj; ++i) dq(i) = 0.002 * ((i % 2) ? 1.0 : -1.0);
  setJointState(swing, bentJoints() + dq, vector_t::Zero(nj));
  const auto policy = swing.optimize();
  ASSERT_NE(policy, nullptr);
  const auto& stages = swing.stages();
  matrix_t P = stages.back().Q, K;
  vector_t p = stages.back().q, k;
  for (size_t i = stages.size() - 1; i-- > 0;) {
    const auto& st = stages[i];
    const matrix_t H = st.R + st.B.transpose() * P * st.B;
    const matrix_t G = st.S + st.B.transpose() * P * st.A;
    const Eigen::LDLT<matrix_t> H_ldlt(H);
    K = -H_ldlt.solve(G);
    k = -H_ldlt.solve(st.r + st.B.transpose() * (P * st.b + p));
    p = st.q + st.A.transpose() * (P * st.b + p) + G.transpose() * k;
    const matrix_t P_next = st.Q + st.A.transpose() * P * st.A + G.transpose() * K;
    P = 0.5 * (P_next + P_next.transpose());
  }
  // The interior-point law carries barrier terms of the (far) torque bounds: small differences.
  EXPECT_LT((policy->a - K).norm(), 1e-3 * K.norm()) << "K\n" << K << "\ngot\n" << policy->a;
  EXPECT_LT((policy->b - k).norm(), 1e-3 * k.norm() + 1e-6);
  const vector_t& x0 = swing.solution().at(0).x;
  EXPECT_TRUE((policy->a * x0 + policy->b).isApprox(swing.solution().at(0).u, 1e-9));
}

TEST_F(SwingTest, FailedSolveGivesTheFallbackLawWithMeasuredNonlinearEffects) {
  // Step lengths can never reach 2 and tolerances of 0 are never met: the solve must fail.
  auto failing = SwingOptimization::standardSolverSettings();
  failing.alpha_min = 2.0;
  failing.tol_stat = failing.tol_eq = failing.tol_ineq = failing.tol_comp = 0.0;
  SwingOptimization swing(node, info, model, failing);
  swing.update_trajectory_reference(stationaryReferences(info.joints_nominal_pos, 0.4));
  const vector_t measured_q = bentJoints(), measured_v = vector_t::LinSpaced(nj, -1.0, 1.0);
  setJointState(swing, measured_q, measured_v);
  CoutCapture out;
  const auto policy = swing.optimize();
  ASSERT_NE(policy, nullptr);
  EXPECT_THAT(out.text(), HasSubstr("SwingOptimization:"));  // the failure is reported
  matrix_t expected_a = matrix_t::Zero(nj, 2 * nj);
  expected_a.leftCols(nj).diagonal().setConstant(-10.0);
  expected_a.rightCols(nj).diagonal().setConstant(-0.5);
  EXPECT_EQ(policy->a, expected_a);
  // b: the measured nonlinear effects, physical ones (MuJoCo at the same state).
  MujocoJointDynamics mujoco(kestrelFile("robot.urdf"));
  mujoco.setState(standingBasePos(), Eigen::Quaterniond::Identity(), vector3_t::Zero(),
                  vector3_t::Zero(), measured_q, measured_v);
  EXPECT_TRUE(policy->b.isApprox(mujoco.jointBias(), 1e-6)) << policy->b.transpose() << "\n"
                                                            << mujoco.jointBias().transpose();
  swing.optimize();  // a failed iterate is not reused: the next solve starts cold
  EXPECT_EQ(swing.solverSettings().warm_start, 0);
}

}  // namespace
}  // namespace velmora::test
