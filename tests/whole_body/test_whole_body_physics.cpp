// WholeBodyController: physics of the solved programme on the bundled robot. Every check uses
// the mass matrix, nonlinear effects and Jacobians of an independent model copy, never the
// controller's own blocks.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "WbcTestRig.h"

namespace velmora::wbc_test {
namespace {

constexpr int kNv = 18;

struct Split {
  vector_t qdd, f, tau;
};

Split split(const vector_t& x) { return {x.head(kNv), x.segment(kNv, 12), x.tail(12)}; }

/// Acceleration of foot `foot` (world axes) implied by the generalised acceleration.
vector3_t footAcceleration(const Rig& rig, int foot, const vector_t& qdd) {
  const std::string& name = rig.info->foot_name[foot];
  return rig.linearJacobian(name) * qdd + rig.model->getFrame6dAcc_localWorldAligned(name).linear();
}

/// Hard constraints of a solved cycle: equations of motion, zero swing forces, the friction
/// pyramid with its normal bound, torque limits, and the record carrying the solved torques.
void expectHardConstraints(const Rig& rig, const contact_flag_t& flags,
                           const ActuatorCommands& commands, double mu) {
  const vector_t& x = rig.wbc->lastSolution();
  ASSERT_EQ(x.size(), 42);
  ASSERT_TRUE(x.allFinite());
  const Split s = split(x);
  const auto& data = rig.model->getData();
  matrix_t S = matrix_t::Zero(kNv, 12);
  S.bottomRows(12).setIdentity();
  const vector_t eom_residual =
      data.M * s.qdd + rig.model->nle() - rig.contactJacobian().transpose() * s.f - S * s.tau;
  EXPECT_LT(eom_residual.cwiseAbs().maxCoeff(), 1e-8) << eom_residual.transpose();

  const double slack = 1e-7;
  for (int i = 0; i < 4; ++i) {
    const vector3_t fi = s.f.segment<3>(3 * i);
    if (!flags[i]) {
      EXPECT_LT(fi.cwiseAbs().maxCoeff(), 1e-9)
          << "swing foot " << i << " force " << fi.transpose();
      continue;
    }
    EXPECT_GE(fi.z(), -slack) << "foot " << i;
    EXPECT_LE(fi.z(), 400.0 + slack) << "foot " << i;
    EXPECT_LE(std::abs(fi.x()), mu * fi.z() + slack) << "foot " << i;
    EXPECT_LE(std::abs(fi.y()), mu * fi.z() + slack) << "foot " << i;
  }
  const vector_t limit = rig.model->getModel().effortLimit.tail(12);
  EXPECT_TRUE(((limit - s.tau.cwiseAbs()).array() >= -slack).all()) << s.tau.transpose();
  EXPECT_EQ(commands.torque, s.tau);
  for (const vector_t* field :
       {&commands.Kp, &commands.Kd, &commands.pos, &commands.vel, &commands.torque}) {
    EXPECT_TRUE(field->allFinite());
  }
  EXPECT_EQ(rig.wbc->jointAccelerations(), s.qdd.tail(12));
}

TEST(WholeBodyPhysics, EverySolvedCycleObeysTheHardConstraints) {
  Rig rig;
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  const auto random = [&](int n, double scale) {
    vector_t v(n);
    for (int k = 0; k < n; ++k) v(k) = scale * unit(rng);
    return v;
  };
  const size_t modes[] = {15, 9, 6, 7, 11, 13, 14, 3, 12, 0};
  int cycles = 0;
  for (int round = 0; round < 4; ++round) {
    for (size_t mode : modes) {
      SCOPED_TRACE("round " + std::to_string(round) + " mode " + std::to_string(mode));
      vector_t qpos = rig.standingQpos(random(3, 0.1), random(3, 0.02));
      qpos.tail(12) += random(12, 0.15);
      rig.setState(qpos, random(kNv, 0.3));
      // References near the present pose, swing feet offset a little.
      auto refs = rig.holdReferences();
      FootMap feet = refs->get_foot_pos_traj();
      for (auto& [name, traj] : feet) {
        traj = constantTraj(vector3_t(traj->evaluate(rig.now())) + random(3, 0.05), rig.now());
      }
      refs->set_foot_pos_traj(feet);
      rig.wbc->update_mode(mode);
      rig.wbc->update_trajectory_reference(refs);
      rig.wbc->update_control_data(Rig::constantPolicy(random(6, 1.5)));
      const auto commands = rig.wbc->optimize();
      ASSERT_EQ(rig.wbc->numFailedSolves(), 0u);
      expectHardConstraints(rig, quadruped::modeNumber2StanceLeg(mode), *commands, 0.5);
      ++cycles;
    }
  }
  EXPECT_EQ(cycles, 40);
}

TEST(WholeBodyPhysics, StandingStillHoldsTheWeightWithStaticTorques) {
  Rig rig;
  rig.wbc->update_mode(15);
  rig.wbc->update_trajectory_reference(rig.holdReferences());
  rig.wbc->update_control_data(Rig::constantPolicy(vector6_t::Zero()));
  const auto commands = rig.wbc->optimize();
  expectHardConstraints(rig, {true, true, true, true}, *commands, 0.5);
  const Split s = split(rig.wbc->lastSolution());

  // No motion is demanded and almost none results: the force regularisation (weight 0.01
  // against the base weight 100) lets the body sink by about 0.01^2 m^2 g / (2 100^2) ~ 8e-6
  // m/s^2, which the knees follow a few times amplified.
  EXPECT_LT(std::abs(s.qdd(2)), 1e-5);
  EXPECT_LT(s.qdd.cwiseAbs().maxCoeff(), 1e-4) << s.qdd.transpose();
  // Vertical forces carry the weight.
  const double weight = rig.model->total_mass() * 9.81;
  double vertical = 0.0;
  for (int i = 0; i < 4; ++i) vertical += s.f(3 * i + 2);
  EXPECT_NEAR(vertical, weight, 1e-6 * weight);
  EXPECT_NEAR(rig.model->total_mass(), 12.5, 0.5);

  // Independent static solution: the least-norm contact forces that balance gravity on the
  // floating base (h_base = Jc_base^T f), then the joint torques that hold them.
  const matrix_t Jc = rig.contactJacobian();
  const vector_t h = rig.model->nle();
  const matrix_t base_rows = Jc.leftCols(6).transpose();  // 6 x 12
  const vector_t f_static = base_rows.completeOrthogonalDecomposition().solve(h.head(6));
  const vector_t tau_static = h.tail(12) - Jc.rightCols(12).transpose() * f_static;
  EXPECT_LT((base_rows * f_static - h.head(6)).norm(), 1e-9);
  EXPECT_LT((s.f - f_static).cwiseAbs().maxCoeff(), 1e-2 * weight / 4) << s.f.transpose();
  EXPECT_LT((s.tau - tau_static).cwiseAbs().maxCoeff(), 1e-2) << s.tau.transpose() << "\n"
                                                              << tau_static.transpose();
  // The torques do real work: gravity loads the thigh and calf joints.
  EXPECT_GT(tau_static.cwiseAbs().maxCoeff(), 1.0);

  // The quarter-weight estimate used after a failed solve is close to the same torques.
  const vector_t estimate = rig.wbc->staticTorqueEstimate();
  EXPECT_LT((estimate - tau_static).norm(), 0.15 * tau_static.norm())
      << estimate.transpose() << "\n"
      << tau_static.transpose();
}

TEST(WholeBodyPhysics, FeasibleBaseAccelerationIsRealisedWithStanceFeetStill) {
  Rig rig;
  struct Case {
    vector3_t rpy;
    double speed;      // scale of the state's velocities
    vector6_t demand;  // world axes, linear first
  };
  vector6_t demand1, demand2;
  demand1 << 0.8, -0.5, 1.2, 0.6, -0.9, 0.7;
  demand2 << -0.3, 0.4, -1.5, -1.0, 0.5, -0.8;
  const Case cases[] = {{{0, 0, 0}, 0.0, demand1},
                        {{0.1, -0.08, 0.5}, 0.0, demand2},
                        {{-0.05, 0.1, -0.4}, 0.3, demand1}};
  for (const Case& c : cases) {
    vector_t qvel = c.speed * vector_t::LinSpaced(kNv, -1.0, 1.0);
    vector_t qpos = rig.standingQpos(c.rpy);
    rig.setState(qpos, qvel);
    rig.wbc->update_mode(15);
    rig.wbc->update_trajectory_reference(rig.holdReferences());
    rig.wbc->update_control_data(Rig::constantPolicy(c.demand));
    const auto commands = rig.wbc->optimize();
    expectHardConstraints(rig, {true, true, true, true}, *commands, 0.5);
    const Split s = split(rig.wbc->lastSolution());

    // Base acceleration in world axes from the world-aligned base Jacobian and drift.
    matrix6x_t J = matrix6x_t::Zero(6, kNv);
    rig.model->getJacobia_localWorldAligned(rig.info->base_name, J);
    const auto drift = rig.model->getFrame6dAcc_localWorldAligned(rig.info->base_name);
    vector6_t realised = J * s.qdd;
    realised.head<3>() += drift.linear();
    realised.tail<3>() += drift.angular();
    EXPECT_LT((realised - c.demand).cwiseAbs().maxCoeff(), 1e-4)
        << realised.transpose() << "\n vs \n"
        << c.demand.transpose();
    for (int i = 0; i < 4; ++i) {
      EXPECT_LT(footAcceleration(rig, i, s.qdd).norm(), 1e-5) << "foot " << i;
    }
  }
}

TEST(WholeBodyPhysics, TrotStanceFeetStayStillAndSwingFeetFollowTheirTask) {
  Rig rig;
  for (size_t mode : {9, 6}) {
    rig.setState(rig.standingQpos(), vector_t::Zero(kNv));
    rig.wbc->update_mode(mode);
    rig.wbc->update_trajectory_reference(rig.holdReferences());
    rig.wbc->update_control_data(Rig::constantPolicy(vector6_t::Zero()));
    const auto commands = rig.wbc->optimize();
    const contact_flag_t flags = quadruped::modeNumber2StanceLeg(mode);
    expectHardConstraints(rig, flags, *commands, 0.5);
    const Split s = split(rig.wbc->lastSolution());
    double vertical = 0.0;
    for (int i = 0; i < 4; ++i) {
      vertical += s.f(3 * i + 2);
      if (flags[i]) {
        EXPECT_LT(footAcceleration(rig, i, s.qdd).norm(), 1e-4) << "stance foot " << i;
      } else {
        // The swing task holds the feet where they are (references at the present position).
        EXPECT_LT(footAcceleration(rig, i, s.qdd).norm(), 1e-2) << "swing foot " << i;
      }
    }
    // Two feet carry the body; the base may fall a little but not freely.
    const double weight = rig.model->total_mass() * 9.81;
    EXPECT_GT(vertical, 0.5 * weight);
  }
}

TEST(WholeBodyPhysics, NonFiniteDemandFailsTheSolveAndSendsTheStaticEstimate) {
  Rig rig;
  rig.wbc->update_mode(15);
  rig.wbc->update_trajectory_reference(rig.holdReferences());
  vector_t qvel = 0.2 * vector_t::LinSpaced(kNv, -1.0, 1.0);
  rig.setState(rig.standingQpos(), qvel);

  // A good cycle first: joint accelerations are non-zero.
  rig.wbc->update_control_data(Rig::constantPolicy(vector6_t::Constant(0.5)));
  rig.wbc->optimize();
  ASSERT_FALSE(rig.wbc->jointAccelerations().isZero());
  const vector_t last_good = rig.wbc->lastSolution();

  auto broken = std::make_shared<CtrlData>();
  broken->a = matrix_t::Zero(6, 12);
  broken->a(0, 0) = std::numeric_limits<double>::quiet_NaN();
  broken->b = vector_t::Zero(6);
  rig.wbc->update_control_data(broken);
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  const auto failed = rig.wbc->optimize();
  const std::string log =
      ::testing::internal::GetCapturedStdout() + ::testing::internal::GetCapturedStderr();
  EXPECT_THAT(log, ::testing::HasSubstr("controller wbc failed, please restart ..."));
  EXPECT_EQ(rig.wbc->numFailedSolves(), 1u);
  EXPECT_TRUE(rig.wbc->jointAccelerations().isZero(0.0));
  EXPECT_EQ(rig.wbc->lastSolution(), last_good);
  const vector_t limit = rig.model->getModel().effortLimit.tail(12);
  const vector_t estimate = rig.wbc->staticTorqueEstimate();
  EXPECT_EQ(failed->torque, estimate.cwiseMax(-limit).cwiseMin(limit));
  EXPECT_GT(failed->torque.norm(), 1.0);
  // Stance legs extrapolate with zero acceleration.
  const double dt = rig.wbc->dt();
  const vector_t q = rig.model->qpos().tail(12);
  const vector_t qd = rig.model->qvel().tail(12);
  EXPECT_TRUE(failed->pos.isApprox(q + dt * qd, 1e-14));
  EXPECT_TRUE(failed->vel.isApprox(qd, 1e-14));
  EXPECT_TRUE((failed->Kp.array() == 10.0).all());

  // Zero torque when the fallback is switched off.
  rig.wbc->setSendStaticTorqueOnFailure(false);
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  EXPECT_TRUE(rig.wbc->optimize()->torque.isZero(0.0));
  ::testing::internal::GetCapturedStdout();
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(rig.wbc->numFailedSolves(), 2u);

  // The next good policy restores torques and accelerations; nothing of the failure remains.
  rig.wbc->update_control_data(Rig::constantPolicy(vector6_t::Constant(0.5)));
  const auto recovered = rig.wbc->optimize();
  EXPECT_FALSE(rig.wbc->jointAccelerations().isZero());
  expectHardConstraints(rig, {true, true, true, true}, *recovered, 0.5);
  EXPECT_EQ(rig.wbc->numFailedSolves(), 2u);
}

TEST(WholeBodyPhysics, ZeroFrictionClampStillAdmitsOnePercentTangentialForce) {
  ParamValues values;
  values.friction = 0.0;  // clamped to 0.01
  Rig rig(writeParams(values, "mu_zero"));
  // Demand a sideways acceleration that needs about 2 % of the weight as tangential force.
  vector6_t demand = vector6_t::Zero();
  demand(1) = 0.2;
  rig.wbc->update_mode(15);
  rig.wbc->update_trajectory_reference(rig.holdReferences());
  rig.wbc->update_control_data(Rig::constantPolicy(demand));
  const auto commands = rig.wbc->optimize();
  expectHardConstraints(rig, {true, true, true, true}, *commands, 0.01);
  const Split s = split(rig.wbc->lastSolution());
  double lateral = 0.0;
  for (int i = 0; i < 4; ++i) lateral += s.f(3 * i + 1);
  const double weight = rig.model->total_mass() * 9.81;
  // The pyramid caps the total at 1 % of the normal forces; the demand is cut to that.
  EXPECT_NEAR(lateral, 0.01 * weight, 1e-3 * weight);
}

}  // namespace
}  // namespace velmora::wbc_test
