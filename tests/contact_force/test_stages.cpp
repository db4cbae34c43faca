// The stages of the contact force QP: horizon, dynamics, friction rows and costs, checked against
// the physics they encode (cross products, mass, gravity) rather than against the code's own
// formulas.

#include "ContactForceTestSupport.h"

namespace velmora::test {
namespace {

/// Stance flags of stage k, decoded here independently of the optimiser.
contact_flag_t expectedFlags(const ModeSchedule& schedule, size_t k, double dt) {
  const double phase = static_cast<double>(k) * dt / schedule.duration();
  const auto& phases = schedule.eventPhases();
  size_t index = schedule.modeSequence().size() - 1;
  for (size_t i = 0; i + 1 < phases.size(); ++i) {
    if (phase >= phases[i] && phase < phases[i + 1]) {
      index = i;
      break;
    }
  }
  const size_t mode = schedule.modeSequence()[index];
  return {(mode >> 3 & 1u) == 1, (mode >> 2 & 1u) == 1, (mode >> 1 & 1u) == 1, (mode & 1u) == 1};
}

TEST_F(ContactForceTest, HorizonFollowsTheReferenceDuration) {
  struct Case {
    double duration, dt;
    size_t stages;
  };
  // N = duration / dt truncated; stages = N + 1.
  const std::vector<Case> cases{{1.0, 0.02, 51}, {1.019, 0.02, 51}, {0.5, 0.02, 26},
                                {0.04, 0.02, 3}, {1.0, 0.05, 21},   {0.3, 0.1, 3}};
  for (const auto& c : cases) {
    auto optimizer = makeOptimizer(writeParams("cfo_n", 0.5, c.dt, defaultWeightDiagonal()));
    feed(*optimizer, qpos_, qvel_, standingReferences(c.duration), standSchedule());
    ASSERT_NE(optimizer->optimize(), nullptr) << c.duration << " s";
    EXPECT_EQ(optimizer->ocp().size(), c.stages) << c.duration << " s at " << c.dt << " s";
    EXPECT_EQ(optimizer->solution().size(), c.stages);
  }
}

TEST_F(ContactForceTest, StagesFollowTheSchedule) {
  // One-second cycle: all stance, FL + RR, FR + RL, all swing; then the last mode is held.
  auto schedule = makeSchedule(1.0, {0.0, 0.25, 0.5, 0.75, 1.0}, {15, 9, 6, 0});
  auto optimizer = makeOptimizer();
  feed(*optimizer, qpos_, qvel_, standingReferences(1.2), schedule);
  optimizer->optimize();
  const auto& ocp = optimizer->ocp();
  const double dt = optimizer->dt();
  const size_t N = ocp.size() - 1;
  ASSERT_EQ(N, 60u);
  const double m = model_->total_mass();

  bool saw_all_swing = false;
  for (size_t k = 0; k < N; ++k) {
    const contact_flag_t flags = expectedFlags(*schedule, k, dt);
    const auto& stage = ocp[k];
    ASSERT_EQ(stage.B.rows(), 12);
    ASSERT_EQ(stage.B.cols(), 12);
    ASSERT_EQ(stage.D.rows(), 20);
    int nc = 0;
    for (int i = 0; i < 4; ++i) nc += flags[i];
    saw_all_swing |= nc == 0;
    for (int i = 0; i < 4; ++i) {
      const auto cols = stage.B.middleCols(3 * i, 3);
      if (flags[i]) {
        // A unit force changes the velocity error by dt / m along itself and nothing else.
        EXPECT_TRUE(cols.middleRows(3, 3).isApprox(dt / m * matrix3_t::Identity()));
        EXPECT_EQ(stage.ug(5 * i + 4), 400.0);
        // Desired force: an equal share of the weight.
        EXPECT_NEAR(stage.r(3 * i + 2), -1e-4 * m * 9.81 / nc, 1e-12);
      } else {
        EXPECT_TRUE(cols.isZero(0.0)) << "swing foot " << i << " at stage " << k;
        EXPECT_EQ(stage.ug(5 * i + 4), 0.0);
        EXPECT_TRUE(stage.r.segment<3>(3 * i).isZero(0.0));
      }
    }
  }
  EXPECT_TRUE(saw_all_swing);
}

TEST_F(ContactForceTest, FrictionPyramidRows) {
  auto optimizer = makeOptimizer(writeParams("cfo_mu", 0.5, 0.02, defaultWeightDiagonal()));
  feed(*optimizer, qpos_, qvel_, standingReferences(1.0), trotSchedule());
  optimizer->optimize();
  const auto& stage = optimizer->ocp()[0];  // mode 9: FL and RR in stance
  ASSERT_EQ(stage.C.rows(), 20);
  ASSERT_EQ(stage.C.cols(), 12);
  EXPECT_TRUE(stage.C.isZero(0.0));
  EXPECT_TRUE(stage.lg.isZero(0.0));
  Eigen::Matrix<double, 5, 3> pyramid;
  pyramid << 2, 0, 1, -2, 0, 1, 0, 2, 1, 0, -2, 1, 0, 0, 1;  // mu = 0.5
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) {
      const auto block = stage.D.block<5, 3>(5 * i, 3 * j);
      if (i == j) {
        EXPECT_EQ(block, pyramid) << "foot " << i;
      } else {
        EXPECT_TRUE(block.isZero(0.0));
      }
    }
    // Pyramid rows: lower bound 0 only; the normal-force row: both bounds.
    EXPECT_TRUE(stage.lg_mask.segment<5>(5 * i).isOnes(0.0));
    EXPECT_EQ(stage.ug_mask.segment<5>(5 * i),
              (Eigen::Matrix<double, 5, 1>() << 0, 0, 0, 0, 1).finished());
    EXPECT_TRUE(stage.ug.segment<4>(5 * i).isZero(0.0));
  }
  EXPECT_EQ(stage.ug(4), 400.0);   // FL stance
  EXPECT_EQ(stage.ug(9), 0.0);     // FR swing
  EXPECT_EQ(stage.ug(14), 0.0);    // RL swing
  EXPECT_EQ(stage.ug(19), 400.0);  // RR stance
}

TEST_F(ContactForceTest, DynamicsEncodeTheRigidBody) {
  // Standing, constant reference: the stage matrices against the rigid-body physics.
  auto optimizer = makeOptimizer();
  feed(*optimizer, qpos_, qvel_, standingReferences(1.0), standSchedule());
  optimizer->optimize();
  const double dt = optimizer->dt();
  const double m = model_->total_mass();
  const matrix3_t Ig = model_->getData().Ig.inertia();
  const vector3_t weight_force(0, 0, m * 9.81);

  const auto& stage = optimizer->ocp()[0];
  // Position integrates velocity; velocity error falls by g dt without forces.
  matrix_t expected_top = matrix_t::Zero(6, 12);
  expected_top.block<6, 6>(0, 0).setIdentity();
  expected_top.block<3, 3>(0, 3) = dt * matrix3_t::Identity();
  EXPECT_TRUE(stage.A.topRows(6).isApprox(expected_top));
  EXPECT_NEAR(stage.b(5), -dt * 9.81, 1e-15);  // -0.1962 at 0.02 s
  EXPECT_TRUE(stage.b.head<5>().isZero(0.0));
  EXPECT_TRUE(stage.b.tail<3>().isZero(1e-15));  // no reference rotation

  // Level body: the orientation error integrates Ig^-1 L.
  EXPECT_TRUE((stage.A.block<3, 3>(6, 9) * Ig).isApprox(dt * matrix3_t::Identity(), 1e-9));

  // A force f at foot i adds dt (p_foot - p_ref) x f to the angular momentum error; a position
  // error e with the supporting weight W adds dt W x e (first solve: W = m g).
  const vector3_t f(3.0, -2.0, 40.0), e(0.01, -0.02, 0.005);
  for (int i = 0; i < 4; ++i) {
    const vector3_t lever = foot_pos_[info_->foot_name[i]] - base_pos_;
    EXPECT_TRUE((stage.B.block<3, 3>(9, 3 * i) * f).isApprox(dt * lever.cross(f), 1e-12));
  }
  EXPECT_TRUE((stage.A.block<3, 3>(9, 0) * e).isApprox(dt * weight_force.cross(e), 1e-12));
}

TEST_F(ContactForceTest, DriftFollowsTheReferenceMotion) {
  // Base accelerating upward at 0.5 m/s^2 (a parabola written as a spline), yaw turning at
  // 0.4 rad/s: the drift subtracts the reference acceleration and the desired force shares
  // m (g + a) among the stance feet.
  auto optimizer = makeOptimizer();
  const double t0 = node_->now().seconds();
  const double acc = 0.5, yaw_rate = 0.4;
  std::vector<double> times;
  std::vector<vector_t> heights;
  for (int i = 0; i <= 10; ++i) {
    const double t = 0.1 * i;
    times.push_back(t0 + t);
    heights.emplace_back(
        vector_t(vector3_t(base_pos_.x(), base_pos_.y(), base_pos_.z() + 0.5 * acc * t * t)));
  }
  auto refs = std::make_shared<TrajectoriesBuffer>();
  refs->set_base_pos_traj(std::make_shared<CubicSplineTrajectory>(
      times, heights, vector_t(vector3_t::Zero()), vector_t(vector3_t(0, 0, acc * 1.0))));
  refs->set_base_rpy_traj(rampTrajectory(vector3_t::Zero(), vector3_t(0, 0, yaw_rate), t0, 1.0));
  std::map<std::string, TrajectoryPtr> feet;
  for (const auto& [name, pos] : foot_pos_) feet[name] = constantTrajectory(pos, t0, 1.0);
  refs->set_foot_pos_traj(feet);
  feed(*optimizer, qpos_, qvel_, refs, standSchedule());
  optimizer->optimize();

  const double dt = optimizer->dt();
  const double m = model_->total_mass();
  const matrix3_t Ig = model_->getData().Ig.inertia();
  for (size_t k : {0u, 10u, 25u}) {
    const auto& stage = optimizer->ocp()[k];
    EXPECT_NEAR(stage.b(5), -dt * (acc + 9.81), 1e-9) << "stage " << k;
    EXPECT_NEAR(stage.r(2), -1e-4 * m * (9.81 + acc) / 4.0, 1e-9);
    // Constant yaw rate about z of a level body: the reference's rate of change of angular
    // momentum is w x Ig w.
    const vector3_t w(0, 0, yaw_rate);
    EXPECT_TRUE(stage.b.tail<3>().isApprox(-dt * w.cross(Ig * w), 1e-9)) << stage.b.transpose();
  }
}

TEST_F(ContactForceTest, CostsAndTerminalStage) {
  auto optimizer = makeOptimizer();
  feed(*optimizer, qpos_, qvel_, standingReferences(1.0), standSchedule());
  optimizer->optimize();
  const auto& ocp = optimizer->ocp();
  const size_t N = ocp.size() - 1;
  const matrix_t& W = optimizer->weight();
  for (size_t k = 0; k < N; ++k) {
    EXPECT_EQ(ocp[k].Q, W);
    EXPECT_TRUE(ocp[k].q.isZero(0.0));
    EXPECT_TRUE(ocp[k].S.isZero(0.0));
    EXPECT_EQ(ocp[k].S.rows(), 12);
    EXPECT_EQ(ocp[k].S.cols(), 12);
    EXPECT_TRUE(ocp[k].R.isApprox(1e-4 * matrix_t::Identity(12, 12)));
  }
  const auto& last = ocp[N];
  EXPECT_TRUE(last.Q.isApprox(100.0 * W));
  EXPECT_TRUE(last.q.isZero(0.0));
  EXPECT_TRUE(last.S.isZero(0.0));
  EXPECT_TRUE(last.r.isZero(0.0));
  EXPECT_EQ(last.A.size() + last.B.size() + last.b.size() + last.R.size(), 0);
  EXPECT_EQ(last.C.size() + last.D.size() + last.lg.size() + last.ug.size(), 0);
  EXPECT_TRUE(last.idxbx.empty() && last.idxbu.empty());
}

TEST_F(ContactForceTest, ShorterHorizonLeavesNoStaleTerminalStage) {
  auto optimizer = makeOptimizer();
  feed(*optimizer, qpos_, qvel_, standingReferences(1.0), trotSchedule());
  ASSERT_NE(optimizer->optimize(), nullptr);
  optimizer->update_trajectory_reference(standingReferences(0.5));
  const auto law = optimizer->optimize();
  ASSERT_NE(law, nullptr);
  const auto& ocp = optimizer->ocp();
  ASSERT_EQ(ocp.size(), 26u);
  const auto& last = ocp[25];
  EXPECT_EQ(last.A.size() + last.B.size() + last.b.size() + last.R.size(), 0);
  EXPECT_EQ(last.C.size() + last.D.size() + last.lg.size() + last.ug.size(), 0);
  EXPECT_EQ(last.lg_mask.size() + last.ug_mask.size(), 0);
  EXPECT_EQ(optimizer->settings().warm_start, 0);

  // The same problem posed to a fresh optimiser gives the same answer (the only difference is
  // the force estimate of the angular dynamics, taken from the earlier solve).
  auto fresh = makeOptimizer();
  feed(*fresh, qpos_, qvel_, standingReferences(0.5), trotSchedule());
  const auto fresh_law = fresh->optimize();
  ASSERT_NE(fresh_law, nullptr);
  for (size_t k = 0; k < 25; ++k) {
    EXPECT_LT((optimizer->solution()[k].u - fresh->solution()[k].u).cwiseAbs().maxCoeff(), 0.5)
        << "stage " << k;
  }
  EXPECT_LT((law->b - fresh_law->b).cwiseAbs().maxCoeff(), 0.05);
}

TEST_F(ContactForceTest, ForceEstimateComesFromThePreviousSolve) {
  auto optimizer = makeOptimizer();
  vector_t qvel = qvel_;
  qvel(1) = 0.3;  // sideways motion: the solved forces differ from an even weight share
  feed(*optimizer, qpos_, qvel, standingReferences(0.5), trotSchedule());
  ASSERT_NE(optimizer->optimize(), nullptr);
  const std::vector<ocp_qp::OcpQpSolution> previous = optimizer->solution();
  ASSERT_EQ(previous.size(), 26u);

  optimizer->update_trajectory_reference(standingReferences(1.0));
  ASSERT_NE(optimizer->optimize(), nullptr);
  const double dt = optimizer->dt();
  const vector3_t e(0.3, -0.1, 0.2);
  const vector3_t fallback(0, 0, model_->total_mass() * 9.81);
  for (size_t k = 0; k < 50; ++k) {
    vector3_t force = fallback;
    if (k < 25) {  // stages the previous (25-step) horizon had inputs for
      force.setZero();
      for (int i = 0; i < 4; ++i) force += previous[k].u.segment<3>(3 * i);
    }
    EXPECT_TRUE((optimizer->ocp()[k].A.block<3, 3>(9, 0) * e).isApprox(dt * force.cross(e), 1e-12))
        << "stage " << k;
  }
}

}  // namespace
}  // namespace velmora::test
