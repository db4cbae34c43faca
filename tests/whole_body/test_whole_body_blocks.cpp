// WholeBodyController: the task and constraint blocks of one cycle, checked row by row against
// quantities computed from an independent copy of the robot model.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "WbcTestRig.h"

namespace velmora::wbc_test {
namespace {

constexpr int kNv = 18;
constexpr int kNVar = 42;
constexpr int kForceCol = kNv;
constexpr int kTorqueCol = kNv + 12;

/// A state with every velocity non-zero, so that drift accelerations are not zero.
void setMovingState(Rig& rig) {
  vector_t qpos = rig.standingQpos(vector3_t(0.05, -0.04, 0.3));
  qpos.tail(12) += 0.1 * vector_t::LinSpaced(12, -1.0, 1.0);
  vector_t qvel = 0.4 * vector_t::LinSpaced(kNv, -1.0, 1.0);
  rig.setState(qpos, qvel);
}

/// Runs one cycle with a zero-acceleration policy and references that hold the present pose.
void runCycle(Rig& rig, size_t mode) {
  rig.wbc->update_mode(mode);
  rig.wbc->update_trajectory_reference(rig.holdReferences());
  rig.wbc->update_control_data(Rig::constantPolicy(vector6_t::Zero()));
  rig.wbc->optimize();
}

struct BlockRows {
  int contact, base, swing, force;
};

TEST(WholeBodyBlocks, SizesAndNamesPerContactMode) {
  struct Case {
    size_t mode;
    int constraint_eq, constraint_ineq;
    BlockRows task;
  };
  const Case cases[] = {
      {15, 18, 12 + 20, {12, 6, 0, 12}},    // all stance
      {9, 18 + 6, 12 + 10, {6, 6, 6, 12}},  // trot diagonal: feet 1 and 2 swing
      {6, 18 + 6, 12 + 10, {6, 6, 6, 12}}, {7, 18 + 3, 12 + 15, {9, 6, 3, 12}},
      {0, 18 + 12, 12, {0, 6, 12, 12}},  // flight
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("mode " + std::to_string(c.mode));
    Rig rig;
    runCycle(rig, c.mode);
    const MatrixDB& constraints = rig.wbc->constraintBlock();
    const MatrixDB& task = rig.wbc->weighedTaskBlock();
    EXPECT_EQ(constraints.name(), "eulerNewtonEqulimit_taufriction_cone");
    EXPECT_EQ(task.name(), "contact_taskbase_taskswing_taskcontact_force");
    EXPECT_EQ(constraints.A.rows(), c.constraint_eq);
    EXPECT_EQ(constraints.b.size(), c.constraint_eq);
    EXPECT_EQ(constraints.C.rows(), c.constraint_ineq);
    EXPECT_EQ(constraints.lb.size(), c.constraint_ineq);
    EXPECT_EQ(constraints.ub.size(), c.constraint_ineq);
    const int task_rows = c.task.contact + c.task.base + c.task.swing + c.task.force;
    EXPECT_EQ(task.A.rows(), task_rows);
    EXPECT_EQ(task.b.size(), task_rows);
    EXPECT_EQ(constraints.A.cols(), kNVar);
    EXPECT_EQ(constraints.C.cols(), kNVar);
    EXPECT_EQ(task.A.cols(), kNVar);
    const contact_flag_t flags = quadruped::modeNumber2StanceLeg(c.mode);
    EXPECT_EQ(rig.wbc->contactFlag(), flags);
    EXPECT_EQ(rig.wbc->numContacts(), static_cast<size_t>(c.task.contact / 3));
  }
}

TEST(WholeBodyBlocks, ContactJacobianStacksLinearWorldAlignedFootJacobians) {
  Rig rig;
  setMovingState(rig);
  runCycle(rig, 9);
  EXPECT_TRUE(rig.wbc->contactJacobian().isApprox(rig.contactJacobian(), 1e-14));
}

TEST(WholeBodyBlocks, EquationsOfMotionRows) {
  Rig rig;
  setMovingState(rig);
  runCycle(rig, 9);
  const MatrixDB& constraints = rig.wbc->constraintBlock();
  const auto& data = rig.model->getData();
  const matrix_t eom = constraints.A.topRows(kNv);
  EXPECT_TRUE(eom.leftCols(kNv).isApprox(data.M, 1e-14));
  EXPECT_TRUE(eom.leftCols(kNv).isApprox(eom.leftCols(kNv).transpose(), 1e-14));
  EXPECT_TRUE(eom.middleCols(kForceCol, 12).isApprox(-rig.contactJacobian().transpose(), 1e-14));
  matrix_t selection = matrix_t::Zero(kNv, 12);
  selection.bottomRows(12).setIdentity();
  EXPECT_EQ(eom.rightCols(12), -selection);
  EXPECT_TRUE(constraints.b.head(kNv).isApprox(-rig.model->nle(), 1e-14));
}

TEST(WholeBodyBlocks, TorqueLimitRows) {
  Rig rig;
  runCycle(rig, 15);
  const MatrixDB& constraints = rig.wbc->constraintBlock();
  matrix_t expected = matrix_t::Zero(12, kNVar);
  expected.rightCols(12).setIdentity();
  EXPECT_EQ(constraints.C.topRows(12), expected);
  // Effort limits of the bundled robot: 33.5 N m for every joint.
  EXPECT_TRUE(constraints.ub.head(12).isApprox(vector_t::Constant(12, 33.5)));
  EXPECT_TRUE(constraints.lb.head(12).isApprox(vector_t::Constant(12, -33.5)));
  EXPECT_EQ(constraints.ub.head(12), rig.model->getModel().effortLimit.tail(12));
}

/// Whether force f of stance foot `foot` satisfies the friction rows of the constraint block
/// when all other variables are zero.
bool frictionRowsAccept(const MatrixDB& constraints, int foot, const vector3_t& force) {
  vector_t x = vector_t::Zero(kNVar);
  x.segment<3>(kForceCol + 3 * foot) = force;
  const vector_t rows = constraints.C.bottomRows(constraints.C.rows() - 12) * x;
  const vector_t lb = constraints.lb.tail(rows.size());
  const vector_t ub = constraints.ub.tail(rows.size());
  return ((rows - lb).array() >= 0).all() && ((ub - rows).array() >= 0).all();
}

TEST(WholeBodyBlocks, FrictionPyramidAcceptsExactlyTheConeWithBoundedNormalForce) {
  for (double mu : {0.5, 0.01}) {
    ParamValues values;
    values.friction = mu;
    Rig rig(writeParams(values, "mu"));
    runCycle(rig, 15);
    const MatrixDB& constraints = rig.wbc->constraintBlock();
    for (int foot = 0; foot < 4; ++foot) {
      SCOPED_TRACE("mu " + std::to_string(mu) + " foot " + std::to_string(foot));
      const double fz = 50.0;
      EXPECT_TRUE(frictionRowsAccept(constraints, foot, {0.99 * mu * fz, 0, fz}));
      EXPECT_TRUE(frictionRowsAccept(constraints, foot, {-0.99 * mu * fz, 0.99 * mu * fz, fz}));
      EXPECT_FALSE(frictionRowsAccept(constraints, foot, {1.01 * mu * fz, 0, fz}));
      EXPECT_FALSE(frictionRowsAccept(constraints, foot, {0, -1.01 * mu * fz, fz}));
      EXPECT_TRUE(frictionRowsAccept(constraints, foot, {0, 0, 400.0}));
      EXPECT_FALSE(frictionRowsAccept(constraints, foot, {0, 0, 400.5}));
      EXPECT_FALSE(frictionRowsAccept(constraints, foot, {0, 0, -1.0}));
    }
    // Exact layout of the first stance foot's five rows.
    const matrix_t rows = constraints.C.block(12, kForceCol, 5, 3);
    Eigen::Matrix<double, 5, 3> pyramid;
    pyramid << 0, 0, 1, 1, 0, -mu, -1, 0, -mu, 0, 1, -mu, 0, -1, -mu;
    EXPECT_TRUE(rows.isApprox(matrix_t(pyramid)));
    EXPECT_EQ(constraints.lb(12), 0.0);
    EXPECT_EQ(constraints.ub(12), 400.0);
    EXPECT_EQ(constraints.lb(13), -1e16);
    EXPECT_EQ(constraints.ub(13), 0.0);
  }
}

TEST(WholeBodyBlocks, SwingFeetForcesAreHeldAtZeroAndStanceFeetGetThePyramid) {
  Rig rig;
  runCycle(rig, 9);  // feet 0 and 3 stance, 1 and 2 swing
  const MatrixDB& constraints = rig.wbc->constraintBlock();
  matrix_t expected = matrix_t::Zero(6, kNVar);
  expected.block(0, kForceCol + 3, 3, 3).setIdentity();
  expected.block(3, kForceCol + 6, 3, 3).setIdentity();
  EXPECT_EQ(constraints.A.bottomRows(6), expected);
  EXPECT_TRUE(constraints.b.tail(6).isZero(0.0));
  // Pyramid rows touch only feet 0 and 3, in that order.
  const matrix_t cone = constraints.C.bottomRows(10);
  EXPECT_FALSE(cone.block(0, kForceCol, 5, 3).isZero());
  EXPECT_FALSE(cone.block(5, kForceCol + 9, 5, 3).isZero());
  EXPECT_TRUE(cone.block(0, kForceCol + 3, 10, 6).isZero(0.0));
  EXPECT_TRUE(cone.leftCols(kNv).isZero(0.0));
  EXPECT_TRUE(cone.rightCols(12).isZero(0.0));
}

TEST(WholeBodyBlocks, ContactTaskAsksStanceFeetNotToAccelerate) {
  Rig rig;
  setMovingState(rig);
  runCycle(rig, 11);  // feet 0, 2, 3 stance
  const MatrixDB& task = rig.wbc->weighedTaskBlock();
  int k = 0;
  for (int foot : {0, 2, 3}) {
    const std::string& name = rig.info->foot_name[foot];
    const vector3_t drift = rig.model->getFrame6dAcc_localWorldAligned(name).linear();
    ASSERT_GT(drift.norm(), 1e-3);
    EXPECT_TRUE(task.A.block(3 * k, 0, 3, kNv).isApprox(1000.0 * rig.linearJacobian(name), 1e-14));
    EXPECT_TRUE(task.A.block(3 * k, kNv, 3, kNVar - kNv).isZero(0.0));
    EXPECT_TRUE(task.b.segment<3>(3 * k).isApprox(-1000.0 * drift, 1e-14));
    ++k;
  }
}

TEST(WholeBodyBlocks, ContactForceRegularisationRows) {
  for (double weight : {0.01, 0.0}) {
    ParamValues values;
    values.contact_force_weight = weight;
    Rig rig(writeParams(values, "force_weight"));
    runCycle(rig, 9);
    const MatrixDB& task = rig.wbc->weighedTaskBlock();
    matrix_t expected = matrix_t::Zero(12, kNVar);
    expected.block(0, kForceCol, 12, 12) = weight * matrix_t::Identity(12, 12);
    EXPECT_EQ(task.A.bottomRows(12), expected);  // rows exist even with weight 0
    EXPECT_TRUE(task.b.tail(12).isZero(0.0));
  }
}

// ----------------------------------------------------------------------------------------------
// Base task
// ----------------------------------------------------------------------------------------------

constexpr double kBaseWeight = 100.0;  // params.info, weights.floatingbase diagonal

/// The body acceleration demanded in base axes, recovered from the base rows of the last
/// cycle: rows = W [J_base 0] x - W (acc - drift_base).
vector6_t demandedAcceleration(const Rig& rig, int base_row) {
  const vector6_t rhs = rig.wbc->weighedTaskBlock().b.segment<6>(base_row);
  const auto drift = rig.model->getFrame6dAcc_local(rig.info->base_name);
  vector6_t drift6;
  drift6 << drift.linear(), drift.angular();
  return rhs / kBaseWeight + drift6;
}

TEST(WholeBodyBlocks, BaseRowsUseTheLocalBaseJacobian) {
  Rig rig;
  setMovingState(rig);
  runCycle(rig, 15);
  matrix6x_t J = matrix6x_t::Zero(6, kNv);
  rig.model->getJacobia_local(rig.info->base_name, J);
  const MatrixDB& task = rig.wbc->weighedTaskBlock();
  EXPECT_TRUE(task.A.block(12, 0, 6, kNv).isApprox(kBaseWeight * J, 1e-14));
  EXPECT_TRUE(task.A.block(12, kNv, 6, kNVar - kNv).isZero(0.0));
  // A zero policy with references at the present pose demands no acceleration.
  EXPECT_LT(demandedAcceleration(rig, 12).norm(), 1e-12);
}

TEST(WholeBodyBlocks, EmptyReferencesDemandNoBaseAccelerationAndNoSwingRows) {
  Rig rig;
  setMovingState(rig);
  vector6_t large;
  large << 3, -2, 1, 0.5, 0.4, -0.3;
  rig.wbc->update_mode(9);
  rig.wbc->update_control_data(Rig::constantPolicy(large));
  rig.wbc->update_trajectory_reference(nullptr);
  rig.wbc->optimize();
  EXPECT_LT(demandedAcceleration(rig, 6).norm(), 1e-12);
  EXPECT_EQ(rig.wbc->weighedTaskBlock().A.rows(), 6 + 6 + 0 + 12);

  // References without a base orientation trajectory: the same.
  auto refs = rig.holdReferences();
  refs->set_base_rpy_traj(nullptr);
  rig.wbc->update_trajectory_reference(refs);
  rig.wbc->optimize();
  EXPECT_LT(demandedAcceleration(rig, 6).norm(), 1e-12);
  EXPECT_EQ(rig.wbc->weighedTaskBlock().A.rows(), 6 + 6 + 6 + 12);
}

TEST(WholeBodyBlocks, DemandedAccelerationIsCappedAtNorm20ThenTurnedIntoBaseAxes) {
  Rig rig;
  const vector3_t rpy(0.2, -0.1, 0.7);
  rig.setState(rig.standingQpos(rpy), vector_t::Zero(kNv));
  const matrix3_t R = rig.model->getFramePose(rig.info->base_name).rotation();
  vector6_t direction;
  direction << 1, -2, 3, -0.5, 0.25, 1;
  direction.normalize();
  for (double norm : {25.0, 19.0}) {
    SCOPED_TRACE("norm " + std::to_string(norm));
    rig.wbc->update_mode(15);
    rig.wbc->update_trajectory_reference(rig.holdReferences());
    rig.wbc->update_control_data(Rig::constantPolicy(norm * direction));
    rig.wbc->optimize();
    const vector6_t world_demand = std::min(norm, 20.0) * direction;
    vector6_t expected;
    expected << R.transpose() * world_demand.head<3>(), R.transpose() * world_demand.tail<3>();
    EXPECT_TRUE(demandedAcceleration(rig, 12).isApprox(expected, 1e-10));
  }
}

TEST(WholeBodyBlocks, BaseErrorStateLayoutMatchesThePolicyInput) {
  Rig rig;
  const vector3_t rpy(0.1, -0.05, 0.4);
  const vector3_t v_body(0.3, -0.2, 0.1);
  const vector3_t w_body(0.2, 0.3, -0.4);
  vector_t qvel = vector_t::Zero(kNv);
  qvel << v_body, w_body, vector_t::Zero(12);
  rig.setState(rig.standingQpos(rpy), qvel);
  const auto base = rig.model->getFramePose(rig.info->base_name);
  const matrix3_t R = base.rotation();

  const vector3_t pos_ref = base.translation() + vector3_t(0.04, -0.03, 0.02);
  const vector3_t rpy_ref = rpy + vector3_t(-0.1, 0.05, 0.2);
  const vector3_t rpy_rate(0.1, -0.2, 0.3);
  const double t0 = rig.now();
  auto refs = rig.holdReferences();
  refs->set_base_pos_traj(constantTraj(pos_ref, t0));
  // The orientation reference passes rpy_ref at t0 and moves at a constant rate; over the few
  // milliseconds between t0 and the controller's sampling time it changes by far less than the
  // tolerance of the orientation check below.
  refs->set_base_rpy_traj(std::make_shared<CubicSplineTrajectory>(CubicSplineTrajectory::linearRamp(
      rpy_ref - 100.0 * rpy_rate, rpy_ref + 100.0 * rpy_rate, t0 - 100.0, t0 + 100.0)));

  // Expected error state, from the state we set and the references we built.
  const vector3_t pos_err = base.translation() - pos_ref;
  const vector3_t vel_err = R * v_body;  // the position reference is at rest
  const vector3_t rpy_err = rpy - rpy_ref;
  const vector3_t omega_ref = getJacobiFromRPYToOmega(rpy) * rpy_rate;
  const vector3_t momentum_err = rig.model->getData().Ig.inertia() * (R * w_body - omega_ref);

  // Policy 1 picks position and orientation errors, policy 2 velocity and momentum errors.
  auto pick = [](int first, int second) {
    auto policy = std::make_shared<CtrlData>();
    policy->a = matrix_t::Zero(6, 12);
    policy->a.block(0, first, 3, 3).setIdentity();
    policy->a.block(3, second, 3, 3).setIdentity();
    policy->b = vector_t::Zero(6);
    return policy;
  };
  const struct {
    int first, second;
    vector3_t linear, angular;
    double tol;
  } cases[] = {{0, 6, pos_err, rpy_err, 1e-3}, {3, 9, vel_err, momentum_err, 1e-10}};
  for (const auto& c : cases) {
    rig.wbc->update_mode(15);
    rig.wbc->update_trajectory_reference(refs);
    rig.wbc->update_control_data(pick(c.first, c.second));
    rig.wbc->optimize();
    vector6_t expected;
    expected << R.transpose() * c.linear, R.transpose() * c.angular;
    EXPECT_TRUE((demandedAcceleration(rig, 12) - expected).cwiseAbs().maxCoeff() < c.tol)
        << demandedAcceleration(rig, 12).transpose() << "\n vs \n"
        << expected.transpose();
  }
}

// ----------------------------------------------------------------------------------------------
// Swing task
// ----------------------------------------------------------------------------------------------

/// Parameters with simple swing numbers: W = 2 I, Kp = 50 I, Kd = 5 I.
ParamValues swingParams() {
  ParamValues values;
  values.swing_weight = 2.0;
  values.swing_kp = 50.0;
  values.swing_kd = 5.0;
  return values;
}

/// The swing rows of foot k (counted among swing feet) imply this desired foot position when
/// the robot is at rest: rhs = W Kp (p_des - p).
vector3_t desiredSwingPosition(const Rig& rig, int first_swing_row, int k, int foot) {
  const vector3_t rhs = rig.wbc->weighedTaskBlock().b.segment<3>(first_swing_row + 3 * k);
  const vector3_t p = rig.model->getFramePose(rig.info->foot_name[foot]).translation();
  return p + rhs / (2.0 * 50.0);
}

TEST(WholeBodyBlocks, SwingTargetIsReanchoredAtTheMeasuredBaseAndHeightCapped) {
  Rig rig(writeParams(swingParams(), "swing"));
  const vector3_t p_base = rig.model->getFramePose(rig.info->base_name).translation();
  const int swing_row = 9 + 6;  // mode 7: three stance feet, then the base rows
  struct Case {
    vector3_t base_ref_offset;  // base reference minus measured base
    double foot_below_base_ref;
    double expected_z_below_base;  // expected p_des.z relative to the measured base
  };
  const Case cases[] = {
      {{0, 0, 0}, 0.10, 0.15},            // capped: base_ref.z - 0.15 is lower
      {{0, 0, 0}, 0.25, 0.25},            // below the cap: unchanged
      {{0.05, -0.02, 0.02}, 0.10, 0.13},  // cap measured from the base reference
  };
  for (const Case& c : cases) {
    const vector3_t base_ref = p_base + c.base_ref_offset;
    const vector3_t foot_rel(0.2, 0.15, -c.foot_below_base_ref);
    auto refs = rig.holdReferences();
    refs->set_base_pos_ref_traj(constantTraj(base_ref, rig.now()));
    FootMap feet = refs->get_foot_pos_traj();
    feet[rig.info->foot_name[0]] = constantTraj(base_ref + foot_rel, rig.now());
    refs->set_foot_pos_traj(feet);
    rig.wbc->update_mode(7);
    rig.wbc->update_trajectory_reference(refs);
    rig.wbc->update_control_data(Rig::constantPolicy(vector6_t::Zero()));
    rig.wbc->optimize();
    ASSERT_EQ(rig.wbc->weighedTaskBlock().A.rows(), 9 + 6 + 3 + 12);
    const vector3_t p_des = desiredSwingPosition(rig, swing_row, 0, 0);
    EXPECT_NEAR(p_des.x(), p_base.x() + 0.2, 1e-12);
    EXPECT_NEAR(p_des.y(), p_base.y() + 0.15, 1e-12);
    EXPECT_NEAR(p_des.z(), p_base.z() - c.expected_z_below_base, 1e-12);
    // The rows act on the foot's linear Jacobian, weighted.
    EXPECT_TRUE(rig.wbc->weighedTaskBlock()
                    .A.block(swing_row, 0, 3, kNv)
                    .isApprox(2.0 * rig.linearJacobian(rig.info->foot_name[0]), 1e-14));
  }
}

TEST(WholeBodyBlocks, SwingRowsOfAMovingRobot) {
  Rig rig(writeParams(swingParams(), "swing_moving"));
  setMovingState(rig);
  auto refs = rig.holdReferences();
  rig.wbc->update_mode(9);  // feet 1 and 2 swing
  rig.wbc->update_trajectory_reference(refs);
  rig.wbc->update_control_data(Rig::constantPolicy(vector6_t::Zero()));
  rig.wbc->optimize();
  const MatrixDB& task = rig.wbc->weighedTaskBlock();
  const vector3_t p_b = rig.model->getFramePose(rig.info->base_name).translation();
  const vector3_t v_b = rig.model->getFrame6dVel_localWorldAligned(rig.info->base_name).linear();
  int k = 0;
  for (int foot : {1, 2}) {
    const std::string& name = rig.info->foot_name[foot];
    // References hold the present pose, so p_des = p (below the cap) and v_des = v_b.
    const vector3_t p = rig.model->getFramePose(name).translation();
    ASSERT_LT(p.z(), p_b.z() - 0.15);
    const vector3_t v = rig.model->getFrame6dVel_localWorldAligned(name).linear();
    const vector3_t drift = rig.model->getFrame6dAcc_localWorldAligned(name).linear();
    const vector3_t expected = 2.0 * (5.0 * (v_b - v) - drift);
    EXPECT_TRUE(task.b.segment<3>(6 + 6 + 3 * k).isApprox(expected, 1e-10));
    EXPECT_TRUE(
        task.A.block(12 + 3 * k, 0, 3, kNv).isApprox(2.0 * rig.linearJacobian(name), 1e-14));
    ++k;
  }
}

TEST(WholeBodyBlocks, SwingFootMissingFromAFullMapGetsNoRows) {
  Rig rig(writeParams(swingParams(), "swing_missing"));
  auto refs = rig.holdReferences();
  FootMap feet = refs->get_foot_pos_traj();
  feet.erase(rig.info->foot_name[1]);
  feet["not_a_foot"] = constantTraj(vector3_t::Zero(), rig.now());  // still four entries
  refs->set_foot_pos_traj(feet);
  rig.wbc->update_mode(9);
  rig.wbc->update_trajectory_reference(refs);
  rig.wbc->update_control_data(Rig::constantPolicy(vector6_t::Zero()));
  const auto commands = rig.wbc->optimize();
  const MatrixDB& task = rig.wbc->weighedTaskBlock();
  ASSERT_EQ(task.A.rows(), 6 + 6 + 3 + 12);
  EXPECT_TRUE(
      task.A.block(12, 0, 3, kNv).isApprox(2.0 * rig.linearJacobian(rig.info->foot_name[2])));
  EXPECT_TRUE(commands->torque.allFinite());

  // A map with three entries: no swing rows at all.
  feet.erase("not_a_foot");
  refs->set_foot_pos_traj(feet);
  rig.wbc->optimize();
  EXPECT_EQ(rig.wbc->weighedTaskBlock().A.rows(), 6 + 6 + 0 + 12);
}

TEST(WholeBodyBlocks, WithoutBaseReferenceSwingTargetsAreWorldPositions) {
  Rig rig(writeParams(swingParams(), "swing_world"));
  const vector3_t p_base = rig.model->getFramePose(rig.info->base_name).translation();
  auto refs = rig.holdReferences();
  refs->set_base_pos_ref_traj(nullptr);
  FootMap feet = refs->get_foot_pos_traj();
  const vector3_t high_target = p_base + vector3_t(0.25, 0.1, -0.05);  // above the cap
  feet[rig.info->foot_name[0]] = constantTraj(high_target, rig.now());
  refs->set_foot_pos_traj(feet);
  rig.wbc->update_mode(7);
  rig.wbc->update_trajectory_reference(refs);
  rig.wbc->update_control_data(Rig::constantPolicy(vector6_t::Zero()));
  rig.wbc->optimize();
  const vector3_t p_des = desiredSwingPosition(rig, 15, 0, 0);
  EXPECT_NEAR(p_des.x(), high_target.x(), 1e-12);
  EXPECT_NEAR(p_des.y(), high_target.y(), 1e-12);
  EXPECT_NEAR(p_des.z(), p_base.z() - 0.15, 1e-12);
}

}  // namespace
}  // namespace velmora::wbc_test
