// The swing solve: early returns, horizon, warm start, initial state, the policy against an
// independent Riccati recursion and against gravity, solver statuses, the fallback law, and
// closed-loop tracking of a joint-space plant simulated with MuJoCo.

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "MujocoJointDynamics.h"
#include "SwingTestSupport.h"
#include "control/SwingOptimization.h"

namespace velmora::test {
namespace {

using SwingOptimize = KestrelSwingTest;
using SwingTracking = KestrelSwingTest;

std::string statusText(ocp_qp::SolverStatus status) {
  std::ostringstream os;
  os << status;
  return os.str();
}

TEST_F(SwingOptimize, MissingReferencesReturnThePreviousPolicyWithoutBuilding) {
  SwingOptimization swing(node, info, model);
  EXPECT_EQ(swing.optimize(), nullptr);  // nothing passed in
  swing.update_trajectory_reference(nullptr);
  EXPECT_EQ(swing.optimize(), nullptr);

  const double t1 = t0 + 1.0;
  const auto base = constantTrajectory(standingBasePos(), t0, t1);
  const auto rpy = constantTrajectory(vector3_t::Zero(), t0, t1);
  const auto joints = constantTrajectory(info.joints_nominal_pos, t0, t1);
  swing.update_trajectory_reference(makeReferences(base, rpy, nullptr));
  EXPECT_EQ(swing.optimize(), nullptr);
  swing.update_trajectory_reference(makeReferences(nullptr, rpy, joints));
  EXPECT_EQ(swing.optimize(), nullptr);
  swing.update_trajectory_reference(makeReferences(base, nullptr, joints));
  EXPECT_EQ(swing.optimize(), nullptr);
  EXPECT_TRUE(swing.stages().empty());
  EXPECT_TRUE(swing.solution().empty());

  // After a solve, each kind of missing input hands back the very same policy object.
  swing.update_trajectory_reference(makeReferences(base, rpy, joints));
  const auto policy = swing.optimize();
  ASSERT_NE(policy, nullptr);
  const int warm_start = swing.solverSettings().warm_start;
  for (const auto& refs : {makeReferences(base, rpy, nullptr), makeReferences(nullptr, rpy, joints),
                           makeReferences(base, nullptr, joints)}) {
    swing.update_trajectory_reference(refs);
    EXPECT_EQ(swing.optimize(), policy);
  }
  swing.update_trajectory_reference(nullptr);
  EXPECT_EQ(swing.optimize(), policy);
  EXPECT_EQ(swing.stages().size(), 51u);
  EXPECT_EQ(swing.solution().size(), 51u);
  EXPECT_EQ(swing.solverSettings().warm_start, warm_start);
}

TEST_F(SwingOptimize, HorizonIsTheWholeNumberOfStagesInTheJointTrajectory) {
  SwingOptimization swing(node, info, model);
  // Durations on the clock's axis: the end time carries the rounding of t0 + duration.
  const std::vector<std::pair<double, size_t>> cases = {
      {1.0, 50},
      {0.5, 25},
      {0.059, 2},
      {0.04, 2},
      {0.039, 1},
      {0.02, 1},
      {1.0 - 1e-3, 49},
      // 0.3 / 0.02 and 0.7 / 0.02 fall just short of 15 and 35 in floating point.
      {0.3, 15},
      {0.7, 35}};
  for (const auto& [duration, N] : cases) {
    SCOPED_TRACE("duration " + std::to_string(duration));
    swing.update_trajectory_reference(stationaryReferences(info.joints_nominal_pos, duration));
    ASSERT_NE(swing.optimize(), nullptr);
    EXPECT_EQ(swing.stages().size(), N + 1);
    EXPECT_EQ(swing.solution().size(), N + 1);
  }
  // On the epoch-based system-time axis the subtraction is coarse (2.4e-7 s); still 50 stages.
  const double epoch_t0 = 1.7e9 + 0.123;
  swing.update_trajectory_reference(
      makeReferences(constantTrajectory(standingBasePos(), epoch_t0, epoch_t0 + 1.0),
                     constantTrajectory(vector3_t::Zero(), epoch_t0, epoch_t0 + 1.0),
                     constantTrajectory(info.joints_nominal_pos, epoch_t0, epoch_t0 + 1.0)));
  ASSERT_NE(swing.optimize(), nullptr);
  EXPECT_EQ(swing.stages().size(), 51u);
}

TEST_F(SwingOptimize, OneHourReferenceIsCutToTheHorizonCap) {
  SwingOptimization swing(node, info, model);
  swing.update_trajectory_reference(stationaryReferences(info.joints_nominal_pos, 3600.0));
  CoutCapture out;
  for (int cycle = 0; cycle < 3; ++cycle) {
    ASSERT_NE(swing.optimize(), nullptr);
    EXPECT_EQ(swing.stages().size(), SwingOptimization::kMaxHorizonStages + 1);
    EXPECT_EQ(swing.solution().size(), SwingOptimization::kMaxHorizonStages + 1);
  }
  // Three cycles within a second: one warning, naming both stage counts.
  EXPECT_EQ(out.text(),
            "SwingOptimization: the joint_pos reference spans 180000 stages of 0.02 s; the "
            "horizon is cut to 200 stages\n");

  // A reference of exactly the cap is solved whole, without a warning.
  SwingOptimization exact(node, info, model);
  exact.update_trajectory_reference(stationaryReferences(info.joints_nominal_pos, 4.0));
  CoutCapture quiet;
  ASSERT_NE(exact.optimize(), nullptr);
  EXPECT_EQ(exact.stages().size(), 201u);
  EXPECT_EQ(quiet.text(), "");
}

TEST_F(SwingOptimize, HorizonShorterThanOneStageKeepsThePreviousPolicyWithoutSolving) {
  SwingOptimization swing(node, info, model);
  swing.update_trajectory_reference(stationaryReferences(info.joints_nominal_pos, 0.019));
  EXPECT_EQ(swing.optimize(), nullptr);
  EXPECT_TRUE(swing.stages().empty());

  swing.update_trajectory_reference(stationaryReferences(info.joints_nominal_pos, 0.3));
  const auto policy = swing.optimize();
  ASSERT_NE(policy, nullptr);
  swing.update_trajectory_reference(stationaryReferences(info.joints_nominal_pos, 0.019));
  EXPECT_EQ(swing.optimize(), policy);
  EXPECT_EQ(swing.stages().size(), 16u);
  EXPECT_EQ(swing.solution().size(), 16u);
}

TEST_F(SwingOptimize, WarmStartOnlyWhenTheHorizonIsUnchanged) {
  SwingOptimization swing(node, info, model);
  const auto refs_long = stationaryReferences(bentJoints(), 1.0);
  const auto refs_short = stationaryReferences(bentJoints(), 0.6);
  const std::vector<std::pair<std::shared_ptr<TrajectoriesBuffer>, int>> sequence = {
      {refs_long, 0},  {refs_long, 1},  {refs_long, 1},
      {refs_short, 0}, {refs_short, 1}, {refs_long, 0}};
  for (size_t call = 0; call < sequence.size(); ++call) {
    SCOPED_TRACE("call " + std::to_string(call));
    swing.update_trajectory_reference(sequence[call].first);
    ASSERT_NE(swing.optimize(), nullptr);
    EXPECT_EQ(swing.solverSettings().warm_start, sequence[call].second);
  }
}

TEST_F(SwingOptimize, InitialStateIsTheTrackingErrorAtTheCurrentTime) {
  // A reference that moves: the error is taken at the clock's present time, not at t0.
  const vector_t q_start = bentJoints();
  vector_t rate(nj);
  for (Eigen::Index i = 0; i < nj; ++i) rate(i) = 0.3 * std::cos(static_cast<double>(i));
  const auto joints = rampTrajectory(q_start, rate, t0, t0 + 1.0);
  SwingOptimization swing(node, info, model);
  swing.update_trajectory_reference(standingBaseWith(joints));

  const double t = t0 + 0.25;
  clock.set(t);
  {
    const auto [qpos, qvel] = measuredState(joints->evaluate(t), joints->derivative(t, 1));
    swing.update_state(qpos, qvel);
    ASSERT_NE(swing.optimize(), nullptr);
    EXPECT_LT(swing.solution().at(0).x.cwiseAbs().maxCoeff(), 1e-12);
  }
  {
    vector_t dq(nj), dv(nj);
    for (Eigen::Index i = 0; i < nj; ++i) {
      dq(i) = 0.01 * static_cast<double>(i + 1);
      dv(i) = -0.1 * static_cast<double>(i % 4);
    }
    const auto [qpos, qvel] =
        measuredState(joints->evaluate(t) + dq, joints->derivative(t, 1) + dv);
    swing.update_state(qpos, qvel);
    ASSERT_NE(swing.optimize(), nullptr);
    const vector_t& x0 = swing.solution().at(0).x;
    EXPECT_TRUE(x0.head(nj).isApprox(dq, 1e-9)) << x0.head(nj).transpose();
    EXPECT_TRUE(x0.tail(nj).isApprox(dv, 1e-9)) << x0.tail(nj).transpose();
  }
}

// Independent reference for the policy: with no torque bound active the problem is a plain
// LQ problem, whose stage-0 law follows from a backward Riccati recursion over the stages.
void lqPolicyAtStageZero(const std::vector<ocp_qp::OcpQp>& stages, matrix_t& K, vector_t& k) {
  const size_t N = stages.size() - 1;
  matrix_t P = stages[N].Q;
  vector_t p = stages[N].q;
  for (size_t i = N; i-- > 0;) {
    const auto& st = stages[i];
    const matrix_t H = st.R + st.B.transpose() * P * st.B;
    const matrix_t G = st.S + st.B.transpose() * P * st.A;
    const vector_t g = st.r + st.B.transpose() * (P * st.b + p);
    const Eigen::LDLT<matrix_t> H_ldlt(H);
    K = -H_ldlt.solve(G);
    k = -H_ldlt.solve(g);
    const matrix_t P_next = st.Q + st.A.transpose() * P * st.A + G.transpose() * K;
    p = st.q + st.A.transpose() * (P * st.b + p) + G.transpose() * k;
    P = 0.5 * (P_next + P_next.transpose());
  }
}

TEST_F(SwingOptimize, PolicyIsTheStageZeroLawOfTheLqOptimum) {
  SwingOptimization swing(node, info, model);
  swing.update_trajectory_reference(stationaryReferences(bentJoints(), 1.0, vector3_t(0.1, 0, 0)));
  vector_t dq(nj);
  for (Eigen::Index i = 0; i < nj; ++i) dq(i) = 0.002 * ((i % 2) ? 1.0 : -1.0);
  const auto [qpos, qvel] = measuredState(bentJoints() + dq, vector_t::Zero(nj));
  swing.update_state(qpos, qvel);
  const auto policy = swing.optimize();
  ASSERT_NE(policy, nullptr);
  ASSERT_EQ(policy->a.rows(), nj);
  ASSERT_EQ(policy->a.cols(), 2 * nj);
  ASSERT_EQ(policy->b.size(), nj);
  EXPECT_EQ(policy->a, swing.solution().at(0).K);
  EXPECT_EQ(policy->b, swing.solution().at(0).k);

  matrix_t K;
  vector_t k;
  lqPolicyAtStageZero(swing.stages(), K, k);
  // The interior-point law carries barrier terms of the (far) torque bounds: small differences.
  EXPECT_LT((policy->a - K).norm(), 1e-3 * K.norm()) << "K\n" << K << "\ngot\n" << policy->a;
  EXPECT_LT((policy->b - k).norm(), 1e-3 * k.norm() + 1e-6);
  // The law steers the measured error: u0 = K x0 + k.
  const vector_t& x0 = swing.solution().at(0).x;
  EXPECT_TRUE((policy->a * x0 + policy->b).isApprox(swing.solution().at(0).u, 1e-9));
}

// On the reference with gravity the only load, the feed-forward torque is the gravity torque of
// the reference state, up to the torque regularisation.
TEST_F(SwingOptimize, FeedForwardHoldsTheGravityTorquesOnTheReference) {
  const vector3_t rpy(-0.1, 0.2, 1.0);
  const vector_t joints = bentJoints();
  SwingOptimization swing(node, info, model);
  swing.update_trajectory_reference(stationaryReferences(joints, 1.0, rpy));
  const auto [qpos, qvel] = measuredState(joints, vector_t::Zero(nj));
  swing.update_state(qpos, qvel);
  const auto policy = swing.optimize();
  ASSERT_NE(policy, nullptr);

  MujocoJointDynamics mujoco(kestrelFile("robot.urdf"));
  BaseAndJointState state;
  state.base_pos_world = standingBasePos();
  state.base_orientation = quaternionFromRpy(rpy);
  state.joint_pos = joints;
  state.joint_vel = vector_t::Zero(nj);
  const vector_t gravity = mujoco.jointGravity(state);
  ASSERT_GT(gravity.cwiseAbs().maxCoeff(), 0.5);
  // R = 1e-4 against velocity-error weights of 20 at dt = 0.02: relative shifts of order 1e-4.
  EXPECT_LT((policy->b - gravity).cwiseAbs().maxCoeff(), 1e-3 * gravity.cwiseAbs().maxCoeff())
      << "k " << policy->b.transpose() << "\ng " << gravity.transpose();
}

TEST_F(SwingOptimize, MaxIterReachedCountsAsSuccess) {
  // Tolerances of 0 are never met by an interior iterate: the solve ends at the limit.
  auto settings = SwingOptimization::standardSolverSettings();
  settings.iter_max = 2;
  settings.tol_stat = settings.tol_eq = settings.tol_ineq = settings.tol_comp = 0.0;
  SwingOptimization swing(node, info, model, settings);
  swing.update_trajectory_reference(stationaryReferences(info.joints_nominal_pos, 0.4));
  const auto [qpos, qvel] = measuredState(bentJoints(), vector_t::Constant(nj, 2.0));
  swing.update_state(qpos, qvel);
  CoutCapture cout_capture;
  const auto policy = swing.optimize();
  ASSERT_NE(policy, nullptr);
  EXPECT_EQ(cout_capture.text(), "");

  // The same problem from the same state does stop at the iteration limit.
  auto stages = swing.stages();
  std::vector<ocp_qp::OcpQpSolution> solution;
  ocp_qp::OcpQpIpmSolver solver(stages, settings);
  ASSERT_EQ(solver.solve(swing.solution().at(0).x, stages, solution),
            ocp_qp::SolverStatus::MaxIterReached);

  EXPECT_EQ(policy->a, swing.solution().at(0).K);
  EXPECT_EQ(policy->b, swing.solution().at(0).k);
  EXPECT_NE(policy->a(0, 0), -10.0);  // not the fallback law
}

TEST_F(SwingOptimize, FailedSolveGivesTheFixedPdLawWithMeasuredNonlinearEffects) {
  // Step lengths can never reach 2 and tolerances of 0 are never met: the solve must fail.
  auto failing = SwingOptimization::standardSolverSettings();
  failing.alpha_min = 2.0;
  failing.tol_stat = failing.tol_eq = failing.tol_ineq = failing.tol_comp = 0.0;
  SwingOptimization swing(node, info, model, failing);
  swing.update_trajectory_reference(stationaryReferences(info.joints_nominal_pos, 0.4));
  const vector_t measured_q = bentJoints();
  const vector_t measured_v = vector_t::LinSpaced(nj, -1.0, 1.0);
  const auto [qpos, qvel] = measuredState(measured_q, measured_v);
  swing.update_state(qpos, qvel);

  std::shared_ptr<CtrlData> policy;
  std::string printed;
  {
    CoutCapture cout_capture;
    policy = swing.optimize();
    printed = cout_capture.text();
  }
  ASSERT_NE(policy, nullptr);

  auto stages = swing.stages();
  std::vector<ocp_qp::OcpQpSolution> solution;
  ocp_qp::OcpQpIpmSolver solver(stages, failing);
  vector_t x0(2 * nj);
  x0 << measured_q - info.joints_nominal_pos, measured_v;
  const auto status = solver.solve(x0, stages, solution);
  ASSERT_NE(status, ocp_qp::SolverStatus::Success);
  ASSERT_NE(status, ocp_qp::SolverStatus::MaxIterReached);
  EXPECT_EQ(printed, "SwingOptimization: " + statusText(status) + "\n");

  matrix_t expected_a = matrix_t::Zero(nj, 2 * nj);
  for (Eigen::Index i = 0; i < nj; ++i) {
    expected_a(i, i) = -10.0;
    expected_a(i, nj + i) = -0.5;
  }
  EXPECT_EQ(policy->a, expected_a);
  PinocchioInterface measured(model);
  measured.updateRobotState(*qpos, *qvel);
  EXPECT_EQ(policy->b, measured.nle().tail(nj));
  // And those are physical nonlinear effects: MuJoCo at the same state.
  MujocoJointDynamics mujoco(kestrelFile("robot.urdf"));
  BaseAndJointState state;
  state.base_pos_world = standingBasePos();
  state.joint_pos = measured_q;
  state.joint_vel = measured_v;
  mujoco.setState(state);
  EXPECT_TRUE(policy->b.isApprox(mujoco.jointBiasAtZeroSpatialBaseAcc(), 1e-6))
      << policy->b.transpose() << "\n"
      << mujoco.jointBiasAtZeroSpatialBaseAcc().transpose();

  // A failed iterate is not reused: the next solve starts cold.
  swing.optimize();
  EXPECT_EQ(swing.solverSettings().warm_start, 0);
}

TEST_F(SwingOptimize, HandedOutPoliciesAreNeverModified) {
  SwingOptimization swing(node, info, model);
  swing.update_trajectory_reference(stationaryReferences(info.joints_nominal_pos, 0.5));
  const auto first = swing.optimize();
  ASSERT_NE(first, nullptr);
  const CtrlData first_copy = *first;
  const auto [qpos, qvel] = measuredState(bentJoints(), vector_t::Constant(nj, 0.5));
  swing.update_state(qpos, qvel);
  swing.update_trajectory_reference(stationaryReferences(bentJoints(), 0.5, vector3_t(0, 0.3, 0)));
  const auto second = swing.optimize();
  ASSERT_NE(second, nullptr);
  EXPECT_NE(second, first);
  EXPECT_EQ(first->a, first_copy.a);
  EXPECT_EQ(first->b, first_copy.b);
  EXPECT_FALSE(second->b.isApprox(first->b, 1e-3));
}

/// A joint reference that keeps every joint moving: 0.25 rad sines at 0.8 Hz around the nominal
/// pose, knots every 0.2 s over 2 s from t0 (the horizon covers the full duration).
std::shared_ptr<CubicSplineTrajectory> swingingJoints(const ModelInfo& info, double t0) {
  std::vector<scalar_t> knot_times;
  std::vector<vector_t> knot_values;
  for (int j = 0; j <= 10; ++j) {
    const double s = 0.2 * j;
    vector_t q = info.joints_nominal_pos;
    for (Eigen::Index i = 0; i < q.size(); ++i) {
      q(i) += 0.25 * std::sin(2.0 * M_PI * 0.8 * s + 0.5 * static_cast<double>(i));
    }
    knot_times.push_back(t0 + s);
    knot_values.push_back(q);
  }
  return std::make_shared<CubicSplineTrajectory>(knot_times, knot_values);
}

vector_t effortLimits(const ModelInfo& info) {
  const auto limits = urdfEffortLimits(kestrelFile("robot.urdf"));
  vector_t effort(static_cast<Eigen::Index>(info.joints_name.size()));
  for (Eigen::Index i = 0; i < effort.size(); ++i) effort(i) = limits.at(info.joints_name[i]);
  return effort;
}

// Closed loop on the linearised model: every 20 ms the policy is re-planned from the present
// error and applied to that plan's stage-0 dynamics. With R negligible, the weights make the
// joint velocity error follow -sqrt(100 / 20) times the position error, a time constant of
// 0.45 s: after 1 s the error is about e^-2.2 = 0.11 of its start.
TEST_F(SwingTracking, PolicyDrivesTheLinearisedJointModelOntoAMovingReference) {
  const auto joints = swingingJoints(info, t0);
  SwingOptimization swing(node, info, model);
  swing.update_trajectory_reference(standingBaseWith(joints));
  const vector_t effort = effortLimits(info);

  vector_t x = vector_t::Zero(2 * nj);
  x.head(nj).setConstant(0.1);
  const double initial_error = x.head(nj).cwiseAbs().maxCoeff();
  double previous_error = initial_error;
  double t = t0;
  for (int plan = 0; plan < 50; ++plan) {
    SCOPED_TRACE("plan " + std::to_string(plan));
    clock.set(t);
    const auto [qpos, qvel] =
        measuredState(joints->evaluate(t) + x.head(nj), joints->derivative(t, 1) + x.tail(nj));
    swing.update_state(qpos, qvel);
    const auto policy = swing.optimize();
    ASSERT_NE(policy, nullptr);
    const auto& stage = swing.stages().at(0);
    const vector_t u = (policy->a * x + policy->b).cwiseMax(-effort).cwiseMin(effort);
    x = stage.A * x + stage.B * u + stage.b;
    t += swing.dt();
    const double error = x.head(nj).cwiseAbs().maxCoeff();
    EXPECT_LE(error, previous_error + 1e-12);
    previous_error = error;
  }
  EXPECT_LT(previous_error, 0.2 * initial_error);
  EXPECT_LT(x.tail(nj).cwiseAbs().maxCoeff(), 0.1);
}

// The same loop on the robot's true joint-space dynamics (MuJoCo, base held at the reference
// pose, 1 ms steps, torques clamped to the effort limits). The linearisation leaves out how the
// gravity torques change with the error, and the weights give soft position gains (about
// 0.5 N m/rad on the calves), so the error shrinks but less than on the linearised model.
TEST_F(SwingTracking, PolicyBringsTheTrueJointDynamicsTowardAMovingReference) {
  const auto joints = swingingJoints(info, t0);
  SwingOptimization swing(node, info, model);
  swing.update_trajectory_reference(standingBaseWith(joints));
  const vector_t effort = effortLimits(info);

  MujocoJointDynamics plant(kestrelFile("robot.urdf"));
  BaseAndJointState state;
  state.base_pos_world = standingBasePos();
  state.joint_pos = joints->evaluate(t0) + vector_t::Constant(nj, 0.1);
  state.joint_vel = joints->derivative(t0, 1);
  auto tracking_error = [&](double t) {
    return (state.joint_pos - joints->evaluate(t)).cwiseAbs().maxCoeff();
  };
  const double initial_error = tracking_error(t0);
  const double plant_dt = 0.001;
  std::vector<double> error_per_plan;
  double t = t0;
  for (int plan = 0; plan < 50; ++plan) {
    clock.set(t);
    const auto [qpos, qvel] = measuredState(state.joint_pos, state.joint_vel);
    swing.update_state(qpos, qvel);
    const auto policy = swing.optimize();
    ASSERT_NE(policy, nullptr);
    for (int step = 0; step < 20; ++step) {
      vector_t x(2 * nj);
      x << state.joint_pos - joints->evaluate(t), state.joint_vel - joints->derivative(t, 1);
      const vector_t u = (policy->a * x + policy->b).cwiseMax(-effort).cwiseMin(effort);
      plant.setState(state);
      const vector_t qdd =
          plant.jointMass().ldlt().solve(u - plant.jointBiasAtZeroSpatialBaseAcc());
      state.joint_vel += plant_dt * qdd;
      state.joint_pos += plant_dt * state.joint_vel;
      t += plant_dt;
    }
    error_per_plan.push_back(tracking_error(t));
  }
  const double worst = *std::max_element(error_per_plan.begin(), error_per_plan.end());
  const double late = *std::max_element(error_per_plan.end() - 10, error_per_plan.end());
  EXPECT_LE(worst, initial_error) << "the error grew";
  EXPECT_LT(late, 0.6 * initial_error) << "late tracking error " << late;
}

}  // namespace
}  // namespace velmora::test
