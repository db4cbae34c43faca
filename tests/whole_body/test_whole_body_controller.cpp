// WholeBodyController on the bundled robot: error paths, the physics of the solved programme
// (checked with the mass matrix, nonlinear effects and Jacobians of an independent model copy,
// never the controller's own blocks), the swing task, the per-leg joint commands, failed solves
// and bad references.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <random>
#include <string>
#include <thread>

#include "WholeBodyTestSupport.h"

namespace velmora::test {
namespace {

using ::testing::HasSubstr;
constexpr int kNv = 18, kNJ = 12;
constexpr double kBaseWeight = 100.0;  // bundled params.info, weights.floatingbase diagonal

TEST(WholeBodyController, ConstructionParameterAndInputErrorsNameTheCause) {
  Rig rig;
  auto three_feet = std::make_shared<ModelInfo>(*rig.info);
  three_feet->foot_name.pop_back();
  auto eleven_joints = std::make_shared<ModelInfo>(*rig.info);
  eleven_joints->joints_name.pop_back();  // nv = 18 = nJ + 7
  ParamValues no_dt;
  no_dt.with_wbc_dt = false;
  const std::string bad_damping_file = writeParams(ParamValues{}, "bad_damping");
  std::ofstream(bad_damping_file, std::ios::app) << "safety { damping_kd -1 }\n";
  auto wrong_policy = Rig::constantPolicy(vector6_t::Zero());
  wrong_policy->a = matrix_t::Zero(6, 11);
  const auto v = std::make_shared<vector_t>(vector_t::Zero(kNv));
  const std::vector<std::pair<std::function<void()>, std::string>> cases{
      {[&] { WholeBodyController(nullptr, rig.info, rig.model); }, ""},
      {[&] { WholeBodyController(rig.node, three_feet, rig.model); }, "3 feet"},
      {[&] { rig.wbc->loadParamsSetting(writeParams(no_dt, "no_dt"), false); }, "wbc_dt"},
      {[&] { rig.wbc->loadParamsSetting(bad_damping_file, false); }, "safety.damping_kd"},
      {[&] { rig.cycle(16); }, "16"},
      {[&] { rig.cycle(15, nullptr, wrong_policy); }, "6 x 11"},
      {[&] { rig.wbc->update_state(std::make_shared<vector_t>(vector_t::Zero(5)), v); }, ""},
      {[&] {
         WholeBodyController wbc(rig.node, eleven_joints, rig.model);
         wbc.loadParamsSetting(kestrelFile("params.info"), false);
         wbc.update_mode(15);
         wbc.update_control_data(Rig::constantPolicy(vector6_t::Zero()));
         wbc.optimize();
       },
       "nv != info_.actuatedDofNum + 6"}};
  for (size_t i = 0; i < cases.size(); ++i) {
    try {
      cases[i].first();
      ADD_FAILURE() << "case " << i << " accepted";
    } catch (const std::exception& error) {
      EXPECT_THAT(error.what(), HasSubstr(cases[i].second)) << "case " << i;
    }
  }
}

/// Hard constraints of a solved cycle, from the test's own model: equations of motion, zero
/// swing forces, the friction pyramid with its 400 N normal bound, torque limits, and the
/// record carrying the solved torques.
void expectHardConstraints(const Rig& rig, const contact_flag_t& flags,
                           const ActuatorCommands& commands, double mu) {
  const vector_t& x = rig.wbc->lastSolution();
  ASSERT_EQ(x.size(), kNv + 12 + kNJ);
  ASSERT_TRUE(x.allFinite());
  const vector_t qdd = x.head(kNv), f = x.segment(kNv, 12), tau = x.tail(kNJ);
  vector_t residual =
      rig.model->getData().M * qdd + rig.model->nle() - rig.contactJacobian().transpose() * f;
  residual.tail(kNJ) -= tau;
  EXPECT_LT(residual.cwiseAbs().maxCoeff(), 1e-8) << residual.transpose();
  const double slack = 1e-7;
  for (int i = 0; i < 4; ++i) {
    const vector3_t fi = f.segment<3>(3 * i);
    if (!flags[i]) {
      EXPECT_LT(fi.cwiseAbs().maxCoeff(), 1e-9) << "swing foot " << i << ": " << fi.transpose();
      continue;
    }
    EXPECT_GE(fi.z(), -slack) << "foot " << i;
    EXPECT_LE(fi.z(), 400.0 + slack) << "foot " << i;
    EXPECT_LE(std::abs(fi.x()), mu * fi.z() + slack) << "foot " << i;
    EXPECT_LE(std::abs(fi.y()), mu * fi.z() + slack) << "foot " << i;
  }
  const vector_t limit = rig.model->getModel().effortLimit.tail(kNJ);
  EXPECT_TRUE(((limit - tau.cwiseAbs()).array() >= -slack).all()) << tau.transpose();
  EXPECT_EQ(commands.torque, tau);
  EXPECT_EQ(rig.wbc->jointAccelerations(), qdd.tail(kNJ));
}

TEST(WholeBodyController, EverySolvedCycleObeysTheHardConstraints) {
  std::mt19937 rng(7);
  const auto random = [&](int n, double scale) { return randomVector(rng, n, scale); };
  for (const double mu : {0.5, 0.01}) {
    ParamValues values;
    values.friction = mu;
    Rig rig(writeParams(values, "hard"));
    for (const size_t mode : {15, 9, 6, 7, 11, 13, 14, 3, 12, 0}) {
      SCOPED_TRACE("mu " + std::to_string(mu) + " mode " + std::to_string(mode));
      vector_t qpos = rig.standingQpos(random(3, 0.1), random(3, 0.02));
      qpos.tail(kNJ) += random(kNJ, 0.15);
      rig.setState(qpos, random(kNv, 0.3));
      auto refs = rig.holdReferences();  // swing feet offset a little from where they are
      FootMap feet = refs->get_foot_pos_traj();
      for (auto& [name, traj] : feet) {
        traj = constantTraj(traj->evaluate(rig.now()) + random(3, 0.05), rig.now());
      }
      refs->set_foot_pos_traj(feet);
      const auto commands = rig.cycle(mode, refs, Rig::constantPolicy(random(6, 1.5)));
      ASSERT_EQ(rig.wbc->numFailedSolves(), 0u);
      expectHardConstraints(rig, quadruped::modeNumber2StanceLeg(mode), *commands, mu);
    }
  }
}

TEST(WholeBodyController, StandingStillHoldsTheWeightWithStaticTorques) {
  Rig rig;
  const auto commands = rig.cycle(15);
  expectHardConstraints(rig, {true, true, true, true}, *commands, 0.5);
  const vector_t& x = rig.wbc->lastSolution();
  const vector_t qdd = x.head(kNv), f = x.segment(kNv, 12), tau = x.tail(kNJ);
  // No motion is demanded and almost none results (the force regularisation lets the body
  // sink by about 1e-5 m/s^2, which the knees follow a few times amplified).
  EXPECT_LT(qdd.cwiseAbs().maxCoeff(), 1e-4) << qdd.transpose();
  // Independent static solution: the least-norm contact forces that balance gravity on the
  // floating base (h_base = Jc_base^T f), then the joint torques that hold them.
  const matrix_t Jc = rig.contactJacobian();
  const vector_t h = rig.model->nle();
  const vector_t f_static =
      Jc.leftCols(6).transpose().completeOrthogonalDecomposition().solve(vector_t(h.head(6)));
  const vector_t tau_static = h.tail(kNJ) - Jc.rightCols(kNJ).transpose() * f_static;
  double vertical = 0.0;
  for (int i = 0; i < 4; ++i) vertical += f(3 * i + 2);
  EXPECT_NEAR(vertical, rig.weight(), 1e-6 * rig.weight());
  EXPECT_LT((f - f_static).cwiseAbs().maxCoeff(), 1e-2 * rig.weight() / 4) << f.transpose();
  EXPECT_LT((tau - tau_static).cwiseAbs().maxCoeff(), 1e-2) << tau.transpose();
  EXPECT_GT(tau_static.cwiseAbs().maxCoeff(), 1.0);
  // The quarter-weight estimate sent after a failed solve is close to the same torques.
  EXPECT_LT((rig.wbc->staticTorqueEstimate() - tau_static).norm(), 0.15 * tau_static.norm());
}

/// The body acceleration (base axes) demanded of the last all-stance cycle, recovered from its
/// base rows: rhs = W (demand - drift of the base in base axes).
vector6_t demandedAcceleration(const Rig& rig) {
  const auto drift = rig.model->getFrame6dAcc_local(rig.info->base_name);
  vector6_t drift6;
  drift6 << drift.linear(), drift.angular();
  return rig.wbc->weighedTaskBlock().b.segment<6>(12) / kBaseWeight + drift6;
}

TEST(WholeBodyController, BaseDemandReadsTheErrorStateInPolicyOrder) {
  Rig rig;
  const vector3_t rpy(0.1, -0.05, 0.4), v_body(0.3, -0.2, 0.1), w_body(0.2, 0.3, -0.4);
  vector_t qvel = vector_t::Zero(kNv);
  qvel << v_body, w_body, vector_t::Zero(kNJ);
  rig.setState(rig.standingQpos(rpy), qvel);
  const auto base = rig.model->getFramePose(rig.info->base_name);
  const matrix3_t R = base.rotation();
  const vector3_t pos_ref = base.translation() + vector3_t(0.04, -0.03, 0.02);
  const vector3_t rpy_ref = rpy + vector3_t(-0.1, 0.05, 0.2), rpy_rate(0.1, -0.2, 0.3);
  const double t0 = rig.now();
  auto refs = rig.holdReferences();
  refs->set_base_pos_traj(constantTraj(pos_ref, t0));
  // Passes rpy_ref at t0 and moves on at rpy_rate.
  refs->set_base_rpy_traj(std::make_shared<CubicSplineTrajectory>(CubicSplineTrajectory::linearRamp(
      rpy_ref - 100.0 * rpy_rate, rpy_ref + 100.0 * rpy_rate, t0 - 100.0, t0 + 100.0)));
  // The error state the policy reads: position, velocity, roll-pitch-yaw, angular momentum.
  const vector3_t momentum_err =
      rig.model->getData().Ig.inertia() * (R * w_body - getJacobiFromRPYToOmega(rpy) * rpy_rate);
  for (int slot = 0; slot < 4; ++slot) {
    auto pick = Rig::constantPolicy(vector6_t::Zero());
    pick->a.block<3, 3>(3 * (slot % 2), 3 * slot).setIdentity();  // into linear or angular
    const double cycle_start = rig.now();
    rig.cycle(15, refs, pick);
    const double cycle_end = rig.now();
    // The cycle samples the moving orientation reference one period ahead of some instant
    // between its start and end: the roll-pitch-yaw slot is checked to within what the
    // reference moves in that time.
    const double sampled_at = cycle_end + rig.wbc->dt();
    const vector3_t errors[4] = {base.translation() - pos_ref, R * v_body,
                                 rpy - (rpy_ref + rpy_rate * (sampled_at - t0)), momentum_err};
    const double tolerance = slot == 2 ? rpy_rate.norm() * (cycle_end - cycle_start) + 1e-9 : 1e-10;
    vector6_t expected = vector6_t::Zero();
    expected.segment<3>(3 * (slot % 2)) = R.transpose() * errors[slot];
    EXPECT_LT((demandedAcceleration(rig) - expected).cwiseAbs().maxCoeff(), tolerance)
        << "slot " << slot << ": " << demandedAcceleration(rig).transpose();
  }
  // Without references the base is asked not to accelerate.
  rig.wbc->update_trajectory_reference(nullptr);
  rig.wbc->optimize();
  EXPECT_LT(demandedAcceleration(rig).norm(), 1e-12);
}

TEST(WholeBodyController, SwingRowsTrackTheTargetReanchoredAtTheMeasuredBaseAndCapped) {
  ParamValues values;  // simple swing numbers: W = 2, Kp = 50, Kd = 5
  values.swing_weight = 2.0;
  values.swing_kp = 50.0;
  values.swing_kd = 5.0;
  Rig rig(writeParams(values, "swing"));
  vector_t qpos = rig.standingQpos(vector3_t(0.05, -0.04, 0.3));
  qpos.tail(kNJ) += 0.1 * vector_t::LinSpaced(kNJ, -1.0, 1.0);
  rig.setState(qpos, 0.4 * vector_t::LinSpaced(kNv, -1.0, 1.0));
  const std::string& foot = rig.info->foot_name[0];
  const vector3_t p_b = rig.model->getFramePose(rig.info->base_name).translation();
  const vector3_t v_b = rig.model->getFrame6dVel_localWorldAligned(rig.info->base_name).linear();
  const vector3_t p = rig.model->getFramePose(foot).translation();
  const vector3_t v = rig.model->getFrame6dVel_localWorldAligned(foot).linear();
  const vector3_t drift = rig.model->getFrame6dAcc_localWorldAligned(foot).linear();
  struct Case {
    vector3_t base_ref_offset;  // base reference minus measured base
    double below_base_ref;      // foot reference below the base reference
  };
  for (const Case& c :
       {Case{{0, 0, 0}, 0.10}, Case{{0, 0, 0}, 0.25}, Case{{0.05, -0.02, 0.02}, 0.1}}) {
    const vector3_t base_ref = p_b + c.base_ref_offset, offset(0.2, 0.15, -c.below_base_ref);
    auto refs = rig.holdReferences();
    refs->set_base_pos_ref_traj(constantTraj(base_ref, rig.now()));
    FootMap feet = refs->get_foot_pos_traj();
    feet[foot] = constantTraj(base_ref + offset, rig.now());
    refs->set_foot_pos_traj(feet);
    rig.cycle(7, refs);  // rows: 9 contact, 6 base, then foot 0's 3 swing rows
    const MatrixDB& task = rig.wbc->weighedTaskBlock();
    ASSERT_EQ(task.A.rows(), 9 + 6 + 3 + 12);
    vector3_t p_des = p_b + offset;
    p_des.z() = std::min(p_des.z(), base_ref.z() - 0.15);
    const vector3_t expected = 2.0 * (50.0 * (p_des - p) + 5.0 * (v_b - v) - drift);
    EXPECT_TRUE(task.b.segment<3>(15).isApprox(expected, 1e-10))
        << task.b.segment<3>(15).transpose() << " vs " << expected.transpose();
    EXPECT_TRUE(task.A.block(15, 0, 3, kNv).isApprox(2.0 * rig.linearJacobian(foot), 1e-14));
  }
}

TEST(WholeBodyController, FailedSolveSendsTheStaticEstimateAndRecovers) {
  Rig rig;
  rig.setState(rig.standingQpos(), 0.2 * vector_t::LinSpaced(kNv, -1.0, 1.0));
  rig.cycle(15, nullptr, Rig::constantPolicy(vector6_t::Constant(0.5)));
  ASSERT_FALSE(rig.wbc->jointAccelerations().isZero());
  const vector_t last_good = rig.wbc->lastSolution();
  auto broken = Rig::constantPolicy(vector6_t::Zero());
  broken->a(0, 0) = std::numeric_limits<double>::quiet_NaN();  // a non-finite demand
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  const auto failed = rig.cycle(15, nullptr, broken);
  rig.wbc->setSendStaticTorqueOnFailure(false);
  const auto zero = rig.wbc->optimize();
  const std::string log =
      ::testing::internal::GetCapturedStdout() + ::testing::internal::GetCapturedStderr();
  // The message a failed solve must print, as operators know it.
  EXPECT_THAT(log, HasSubstr("controller wbc failed, please restart ..."));
  EXPECT_EQ(rig.wbc->numFailedSolves(), 2u);
  EXPECT_TRUE(rig.wbc->jointAccelerations().isZero(0.0));
  EXPECT_EQ(rig.wbc->lastSolution(), last_good);
  const vector_t limit = rig.model->getModel().effortLimit.tail(kNJ);
  EXPECT_EQ(failed->torque, rig.wbc->staticTorqueEstimate().cwiseMax(-limit).cwiseMin(limit));
  EXPECT_GT(failed->torque.norm(), 1.0);
  EXPECT_TRUE(zero->torque.isZero(0.0));
  // Stance legs extrapolate with zero acceleration.
  const vector_t q = rig.model->qpos().tail(kNJ), qd = rig.model->qvel().tail(kNJ);
  EXPECT_TRUE(failed->pos.isApprox(q + rig.wbc->dt() * qd, 1e-14));
  EXPECT_TRUE(failed->vel.isApprox(qd, 1e-14));
}

TEST(WholeBodyController, BadReferencesGiveTheSafeDampingCommandReportedOncePerCause) {
  struct Case {
    std::string slot;  // the trajectory the report names
    int dimension;     // of the spoilt trajectory; 0: one that gives NaN values
  };
  const std::vector<Case> cases{{"base_pos", 2},     {"base_rpy", 2}, {"base_pos_ref", 1},
                                {"foot_pos[", 4},    {"base_pos", 0}, {"base_rpy", 0},
                                {"base_pos_ref", 0}, {"foot_pos[", 0}};
  ParamValues values;
  values.damping_kd = 2.5;
  const std::string params = writeParams(values, "damping");
  for (const Case& c : cases) {
    Rig rig(params);
    // A leaning state, so that the measured joint positions are not the description's.
    vector_t qpos = rig.standingQpos(vector3_t(0.05, -0.02, 0.1));
    qpos.tail(kNJ).array() += 0.03;
    rig.setState(qpos, vector_t::Zero(kNv));
    auto refs = rig.holdReferences();
    std::shared_ptr<CubicSplineTrajectory> bad = std::make_shared<NanTrajectory>(rig.now());
    if (c.dimension > 0) bad = constantTraj(vector_t::Zero(c.dimension), rig.now());
    if (c.slot == "base_pos") refs->set_base_pos_traj(bad);
    if (c.slot == "base_rpy") refs->set_base_rpy_traj(bad);
    if (c.slot == "base_pos_ref") refs->set_base_pos_ref_traj(bad);
    if (c.slot == "foot_pos[") {
      FootMap feet = refs->get_foot_pos_traj();
      feet[rig.info->foot_name[0]] = bad;  // the swinging foot
      refs->set_foot_pos_traj(feet);
    }
    ::testing::internal::CaptureStderr();
    for (int cycle = 0; cycle < 3; ++cycle) {
      // Foot 0 swings. A wrong dimension is found before the policy is looked at: a missing
      // policy does not hide it either (the last cycle of those cases).
      if (cycle == 2 && c.dimension > 0) rig.wbc->update_control_data(nullptr);
      const auto commands = cycle < 2 ? rig.cycle(7, refs) : rig.wbc->optimize();
      EXPECT_TRUE(commands->Kp.isZero(0.0)) << c.slot << c.dimension;
      EXPECT_EQ(commands->Kd, vector_t::Constant(kNJ, 2.5));
      EXPECT_EQ(commands->pos, qpos.tail(kNJ));  // the measured joint positions
      EXPECT_TRUE(commands->vel.isZero(0.0) && commands->torque.isZero(0.0));
    }
    const std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(rig.wbc->numRejectedReferences(), 3u);
    // Three cycles within a second: one report, naming the trajectory.
    const std::string report = "WholeBodyController: " + c.slot;
    EXPECT_NE(log.find(report), std::string::npos) << log;
    EXPECT_EQ(log.find(report), log.rfind(report)) << log;
    const auto good = rig.cycle(7);  // good references again: the regular commands return
    EXPECT_GT(good->Kp.maxCoeff(), 0.0);
    EXPECT_FALSE(good->torque.isZero(0.0));
  }
}

TEST(WholeBodyController, RecordsCarryTheCycleAndTheStateTimes) {
  Rig rig;
  const double before_state = rig.now();
  rig.setState(rig.standingQpos(), vector_t::Zero(kNv));
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const double before_cycle = rig.now();
  const auto commands = rig.cycle(15);
  EXPECT_GE(commands->state_stamp_s, before_state);
  EXPECT_LT(commands->state_stamp_s, before_cycle);
  EXPECT_GE(commands->stamp_s, before_cycle);
  EXPECT_LE(commands->stamp_s, rig.now());
}

}  // namespace
}  // namespace velmora::test
