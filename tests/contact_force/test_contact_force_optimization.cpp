// ContactForceOptimization on the bundled robot: error paths, the stages of the QP against the
// rigid-body physics they encode, and the optimal forces and body-acceleration law against
// closed forms (weight, friction pyramid, stability, one-step prediction).

#include <functional>

#include "ContactForceTestSupport.h"

namespace velmora::test {
namespace {

TEST_F(ContactForceTest, ConstructionAndParameterErrorsNameTheCause) {
  auto three_feet = std::make_shared<ModelInfo>(*info_);
  three_feet->foot_name.pop_back();
  const std::string dir = ::testing::TempDir() + "/";
  std::ofstream(dir + "cfo_no_mu.info") << "force_optimization_dt 0.02\n"
                                        << "weights { force_optmization { (0,0) 1 } }\n";
  const std::vector<std::pair<std::function<void()>, std::string>> cases{
      {[&] { ContactForceOptimization(nullptr, info_, model_); }, ""},
      {[&] { ContactForceOptimization(node_, three_feet, model_); }, "3 feet"},
      {[&] { makeOptimizer(dir + "cfo_missing.info"); }, "cfo_missing.info"},
      {[&] { makeOptimizer(dir + "cfo_no_mu.info"); }, "friction_coefficient"}};
  for (const auto& [construct, fragment] : cases) {
    try {
      construct();
      ADD_FAILURE() << "no error for case '" << fragment << "'";
    } catch (const std::exception& e) {
      EXPECT_NE(std::string(e.what()).find(fragment), std::string::npos) << e.what();
    }
  }
}

TEST_F(ContactForceTest, HorizonFollowsTheReferenceDurationUpToTheCap) {
  struct Case {
    double duration, dt;
    size_t stages;  // whole steps in the duration, plus the terminal stage
  };
  for (const Case& c : {Case{1.019, 0.02, 51}, Case{0.3, 0.1, 3}, Case{4.0 + 1e-9, 0.02, 201}}) {
    auto optimizer = makeOptimizer(writeParams("cfo_n", 0.5, c.dt));
    feed(*optimizer, qpos_, qvel_, references(c.duration), standSchedule());
    CaptureStream out(std::cout);
    ASSERT_NE(optimizer->optimize(), nullptr) << c.duration << " s";
    EXPECT_EQ(optimizer->ocp().size(), c.stages) << c.duration << " s at " << c.dt << " s";
    EXPECT_EQ(optimizer->solution().size(), c.stages);
    EXPECT_EQ(out.str(), "");
  }
  // An hour of reference is cut to the cap, with one warning for three cycles in a second.
  auto optimizer = makeOptimizer();
  feed(*optimizer, qpos_, qvel_, references(3600.0), standSchedule());
  CaptureStream out(std::cout);
  for (int cycle = 0; cycle < 3; ++cycle) {
    ASSERT_NE(optimizer->optimize(), nullptr);
    EXPECT_EQ(optimizer->ocp().size(), ContactForceOptimization::kMaxHorizonStages + 1);
  }
  const std::string text = out.str();
  EXPECT_NE(text.find("ContactForceOptimization:"), std::string::npos);
  EXPECT_EQ(text.find("ContactForceOptimization:"), text.rfind("ContactForceOptimization:"));
}

/// Stance flags of stage k, decoded here independently of the optimiser (FL is the top bit).
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

TEST_F(ContactForceTest, StagesFollowTheScheduleAndTheWeights) {
  // One-second cycle: all stance, FL + RR, FR + RL, all swing; then the last mode is held.
  auto schedule = makeSchedule(1.0, {0.0, 0.25, 0.5, 0.75, 1.0}, {15, 9, 6, 0});
  auto optimizer = makeOptimizer();
  feed(*optimizer, qpos_, qvel_, references(1.2), schedule);
  optimizer->optimize();
  const auto& ocp = optimizer->ocp();
  const double dt = optimizer->dt(), m = model_->total_mass();
  const size_t N = ocp.size() - 1;
  ASSERT_EQ(N, 60u);
  const matrix_t& W = optimizer->weight();
  for (size_t k = 0; k < N; ++k) {
    const contact_flag_t flags = expectedFlags(*schedule, k, dt);
    const int nc = flags[0] + flags[1] + flags[2] + flags[3];
    EXPECT_EQ(ocp[k].Q, W);
    EXPECT_TRUE(ocp[k].R.isApprox(1e-4 * matrix_t::Identity(12, 12)));
    for (int i = 0; i < 4; ++i) {
      const auto cols = ocp[k].B.middleCols(3 * i, 3);
      if (flags[i]) {
        // A unit force changes the velocity error by dt / m along itself and nothing else.
        EXPECT_TRUE(cols.middleRows(3, 3).isApprox(dt / m * matrix3_t::Identity()));
        EXPECT_EQ(ocp[k].ug(5 * i + 4), 400.0);
        // Desired force: an equal share of the weight.
        EXPECT_NEAR(ocp[k].r(3 * i + 2), -1e-4 * m * 9.81 / nc, 1e-12);
      } else {
        EXPECT_TRUE(cols.isZero(0.0)) << "swing foot " << i << " at stage " << k;
        EXPECT_EQ(ocp[k].ug(5 * i + 4), 0.0);
        EXPECT_TRUE(ocp[k].r.segment<3>(3 * i).isZero(0.0));
      }
    }
  }
  // The terminal stage weighs 100 W and has neither dynamics nor inputs nor rows.
  EXPECT_TRUE(ocp[N].Q.isApprox(100.0 * W));
  EXPECT_EQ(ocp[N].A.size() + ocp[N].B.size() + ocp[N].R.size() + ocp[N].D.size(), 0);
}

TEST_F(ContactForceTest, DynamicsEncodeTheRigidBody) {
  auto optimizer = makeOptimizer();
  feed(*optimizer, qpos_, qvel_, references(1.0), standSchedule());
  optimizer->optimize();
  const double dt = optimizer->dt();
  const matrix3_t Ig = centroidalInertia();
  const auto& stage = optimizer->ocp()[0];
  // Position integrates velocity; the velocity error falls by g dt without forces.
  matrix_t expected_top = matrix_t::Zero(6, 12);
  expected_top.block<6, 6>(0, 0).setIdentity();
  expected_top.block<3, 3>(0, 3) = dt * matrix3_t::Identity();
  EXPECT_TRUE(stage.A.topRows(6).isApprox(expected_top));
  EXPECT_NEAR(stage.b(5), -dt * 9.81, 1e-15);
  EXPECT_TRUE(stage.b.head<5>().isZero(0.0));
  // Level body: the orientation error integrates Ig^-1 L.
  EXPECT_TRUE((stage.A.block<3, 3>(6, 9) * Ig).isApprox(dt * matrix3_t::Identity(), 1e-9));
  // A force f at foot i adds dt (p_foot - p_ref) x f to the angular momentum error; a position
  // error e with the supporting weight W adds dt W x e (first solve: W = m g).
  const vector3_t f(3.0, -2.0, 40.0), e(0.01, -0.02, 0.005), mg(0, 0, weight());
  for (int i = 0; i < 4; ++i) {
    const vector3_t lever = foot_pos_[info_->foot_name[i]] - base_pos_;
    EXPECT_TRUE((stage.B.block<3, 3>(9, 3 * i) * f).isApprox(dt * lever.cross(f), 1e-12));
  }
  EXPECT_TRUE((stage.A.block<3, 3>(9, 0) * e).isApprox(dt * mg.cross(e), 1e-12));
}

TEST_F(ContactForceTest, ShorterHorizonColdStartsAndLeavesNoStaleTerminalStage) {
  auto optimizer = makeOptimizer();
  feed(*optimizer, qpos_, qvel_, references(1.0), trotSchedule());
  // Horizon sequence and the warm start each solve must use: only an unchanged horizon reuses
  // the previous solution.
  for (const auto& [duration, warm] :
       std::vector<std::pair<double, int>>{{1.0, 0}, {1.0, 1}, {0.5, 0}, {0.5, 1}}) {
    optimizer->update_trajectory_reference(references(duration));
    ASSERT_NE(optimizer->optimize(), nullptr);
    EXPECT_EQ(optimizer->settings().warm_start, warm) << duration;
  }
  const auto& last = optimizer->ocp().back();
  ASSERT_EQ(optimizer->ocp().size(), 26u);
  EXPECT_EQ(last.A.size() + last.B.size() + last.b.size() + last.R.size(), 0);
  EXPECT_EQ(last.C.size() + last.D.size() + last.lg.size() + last.ug.size(), 0);
  EXPECT_EQ(last.lg_mask.size() + last.ug_mask.size(), 0);
}

TEST_F(ContactForceTest, MissingInputsAndBadStatesGiveNullWithoutSolving) {
  auto optimizer = makeOptimizer();
  const auto q = std::make_shared<vector_t>(qpos_), v = std::make_shared<vector_t>(qvel_);
  optimizer->update_trajectory_reference(references(1.0));
  optimizer->update_state(q, v);
  EXPECT_EQ(optimizer->optimize(), nullptr);  // no schedule
  optimizer->update_trajectory_reference(nullptr);
  optimizer->update_mode_schedule(standSchedule());
  EXPECT_EQ(optimizer->optimize(), nullptr);  // no reference set
  optimizer->update_trajectory_reference(references(0.019));
  EXPECT_EQ(optimizer->optimize(), nullptr);  // shorter than one step
  EXPECT_TRUE(optimizer->solution().empty()) << "a solve happened";
  EXPECT_THROW(optimizer->update_state(nullptr, v), std::invalid_argument);
  // The rejected states left the good one in place: the error state starts at zero.
  optimizer->update_trajectory_reference(references(1.0));
  ASSERT_NE(optimizer->optimize(), nullptr);
  EXPECT_NEAR(optimizer->solution()[0].x.norm(), 0.0, 1e-9);
  const vector_t u_before = optimizer->solution()[0].u;
  for (const int index : {8, 5}) {  // a joint, a quaternion entry
    vector_t broken = qpos_;
    broken(index) = std::numeric_limits<double>::quiet_NaN();
    optimizer->update_state(std::make_shared<vector_t>(broken), v);
    EXPECT_EQ(optimizer->optimize(), nullptr) << index;
    EXPECT_EQ(optimizer->solution()[0].u, u_before);  // no solve happened
  }
  optimizer->update_state(q, v);
  EXPECT_NE(optimizer->optimize(), nullptr);
}

TEST_F(ContactForceTest, IncompleteOrBadReferencesGiveNullAndOneReportPerBadTrajectory) {
  const double t0 = node_->now().seconds();
  struct Case {
    std::string slot;  // the trajectory a report names
    int dimension;     // of the spoilt trajectory; 0: one giving NaN; -1: none (no report)
  };
  const std::string foot = "foot_pos[" + info_->foot_name[1] + "]";
  const std::vector<Case> cases{{"base_pos", -1}, {"base_rpy", -1}, {foot, -1}, {"base_pos", 2},
                                {"base_rpy", 0},  {foot, 4},        {foot, 0}};
  for (const Case& c : cases) {
    auto refs = references(1.0);
    TrajectoryPtr bad;  // null: the slot is missing
    if (c.dimension == 0) bad = std::make_shared<NanTrajectory>(t0, 1.0);
    if (c.dimension > 0) bad = constantTrajectory(vector_t::Zero(c.dimension), t0, 1.0);
    if (c.slot == "base_pos") refs->set_base_pos_traj(bad);
    if (c.slot == "base_rpy") refs->set_base_rpy_traj(bad);
    if (c.slot == foot) {
      auto feet = refs->get_foot_pos_traj();
      feet[info_->foot_name[1]] = bad;
      refs->set_foot_pos_traj(feet);
    }
    const std::string name = c.dimension < 0 ? "" : c.slot;
    auto optimizer = makeOptimizer();
    feed(*optimizer, qpos_, qvel_, refs, standSchedule());
    CaptureStream out(std::cout);
    for (int cycle = 0; cycle < 5; ++cycle) EXPECT_EQ(optimizer->optimize(), nullptr) << name;
    EXPECT_TRUE(optimizer->solution().empty()) << name;
    // Five failing cycles within a second: one report, naming the trajectory.
    const std::string text = out.str(), report = "ContactForceOptimization: " + name;
    EXPECT_EQ(text.find(report) == std::string::npos, name.empty()) << text;
    EXPECT_EQ(text.find(report), text.rfind(report)) << text;
    optimizer->update_trajectory_reference(references(1.0));
    EXPECT_NE(optimizer->optimize(), nullptr) << name;
  }
}

TEST_F(ContactForceTest, LawIsThePredictedAccelerationOfTheFirstStep) {
  // The law at the measured error equals the rate of the predicted error over the first step:
  // linear = velocity-error rate, angular = Ig^-1 (momentum-error rate - w x Ig w).
  vector_t displaced = qpos_, spinning_v = qvel_, moving_v = qvel_;
  displaced(0) += 0.02;
  displaced(2) -= 0.015;
  displaced.segment<4>(3) =
      Eigen::Quaterniond(Eigen::AngleAxisd(0.05, vector3_t(0.3, -0.5, 1).normalized())).coeffs();
  moving_v(1) = 0.1;
  spinning_v.segment<3>(3) = vector3_t(0.8, -0.5, 1.2);  // level body: base axes = world axes
  for (const auto& [qpos, qvel] : {std::pair{displaced, moving_v}, std::pair{qpos_, spinning_v}}) {
    auto optimizer = makeOptimizer();
    feed(*optimizer, qpos, qvel, references(1.0), standSchedule());
    const auto law = optimizer->optimize();
    ASSERT_NE(law, nullptr);
    const auto& sol = optimizer->solution();
    const auto& stage = optimizer->ocp()[0];
    const vector_t x1 = stage.A * sol[0].x + stage.B * sol[0].u + stage.b;
    EXPECT_LT((x1 - sol[1].x).cwiseAbs().maxCoeff(), 1e-4);
    const vector_t dx = (x1 - sol[0].x) / optimizer->dt();
    model_->updateRobotState(qpos, qvel);  // Ig in world axes turns with the tilted body
    const matrix3_t Ig = centroidalInertia();
    const vector3_t w = qvel.segment<3>(3);
    const vector_t acc = law->a * sol[0].x + law->b;
    const vector3_t angular = Ig.inverse() * (dx.segment<3>(9) - w.cross(Ig * w));
    ASSERT_GT(acc.tail<3>().norm(), 1e-3);
    EXPECT_TRUE(acc.head<3>().isApprox(dx.segment<3>(3), 1e-8)) << acc.transpose();
    EXPECT_TRUE(acc.tail<3>().isApprox(angular, 1e-8)) << acc.transpose();
  }
}

TEST_F(ContactForceTest, ForcesStayInThePyramidAndTheBoundsBindUnderLargeDemands) {
  // Trot with some sideways motion: swing feet carry nothing, stance feet stay in the pyramid
  // and on average carry the weight. Then a fast slide needs more traction than friction
  // allows, and a body far below its reference and falling needs more than 400 N per foot.
  vector_t low = qpos_, trot_v = qvel_, slide_v = qvel_, fall_v = qvel_;
  trot_v(0) = 0.2;
  slide_v(1) = 3.0;
  low(2) -= 0.15;
  fall_v(2) = -4.0;
  struct Case {
    vector_t qpos, qvel;
    std::shared_ptr<ModeSchedule> schedule;
  };
  const std::vector<Case> cases{{qpos_, trot_v, trotSchedule()},
                                {qpos_, slide_v, standSchedule()},
                                {low, fall_v, standSchedule()}};
  std::vector<double> max_ratio, max_fz, mean_fz_sum;
  for (const Case& c : cases) {
    auto optimizer = makeOptimizer(writeParams("cfo_limits", 0.5, 0.02));
    feed(*optimizer, c.qpos, c.qvel, references(1.0), c.schedule);
    ASSERT_NE(optimizer->optimize(), nullptr);
    const double mu = optimizer->friction_coefficient(), tol = 1e-3 * weight();
    const auto& sol = optimizer->solution();
    double ratio = 0.0, fz_max = 0.0, sum = 0.0;
    for (size_t k = 0; k + 1 < sol.size(); ++k) {
      const contact_flag_t stance = expectedFlags(*c.schedule, k, optimizer->dt());
      sum += verticalForceSum(sol[k].u) / static_cast<double>(sol.size() - 1);
      for (int i = 0; i < 4; ++i) {
        const vector3_t f = sol[k].u.segment<3>(3 * i);
        if (!stance[i]) {
          EXPECT_LT(f.norm(), tol) << "swing foot " << i << " at stage " << k;
          continue;
        }
        EXPECT_GE(f.z(), -tol);
        EXPECT_LE(f.z(), 400.0 + tol);
        EXPECT_LE(std::abs(f.x()), mu * f.z() + tol) << "stage " << k << " foot " << i;
        EXPECT_LE(std::abs(f.y()), mu * f.z() + tol) << "stage " << k << " foot " << i;
        ratio = std::max(ratio, std::abs(f.y()) / std::max(f.z(), 1.0));
        fz_max = std::max(fz_max, f.z());
      }
    }
    max_ratio.push_back(ratio);
    max_fz.push_back(fz_max);
    mean_fz_sum.push_back(sum);
  }
  EXPECT_NEAR(mean_fz_sum[0], weight(), 0.01 * weight());
  EXPECT_GT(max_ratio[1], 0.99 * 0.5) << "the friction bound never became active";
  EXPECT_GT(max_fz[2], 399.0) << "the normal-force bound never became active";
}

}  // namespace
}  // namespace velmora::test
