// ContactForceOptimization on the bundled robot: error paths, the stages of the QP against the
// rigid-body physics they encode, and the optimal forces and body-acceleration law against
// closed forms (weight, friction pyramid, stability, one-step prediction).

#include <Eigen/Eigenvalues>
#include <atomic>
#include <functional>
#include <thread>

#include "ContactForceTestSupport.h"

namespace velmora::test {
namespace {

TEST_F(ContactForceTest, ConstructionAndParameterErrorsNameTheCause) {
  auto three_feet = std::make_shared<ModelInfo>(*info_);
  three_feet->foot_name.pop_back();
  const std::string dir = ::testing::TempDir() + "/";
  std::ofstream(dir + "cfo_no_mu.info") << "force_optimization_dt 0.02\n"
                                        << "weights { force_optmization { (0,0) 1 } }\n";
  std::ofstream(dir + "cfo_no_weight.info") << "friction_coefficient 0.5\n"
                                            << "force_optimization_dt 0.02\n";
  const std::vector<std::pair<std::function<void()>, std::string>> cases{
      {[&] { ContactForceOptimization(nullptr, info_, model_); }, ""},
      {[&] { ContactForceOptimization(node_, nullptr, model_); }, ""},
      {[&] { ContactForceOptimization(node_, info_, nullptr); }, ""},
      {[&] { ContactForceOptimization(node_, three_feet, model_); }, "3 feet"},
      {[&] { makeOptimizer(dir + "cfo_missing.info"); }, "cfo_missing.info"},
      {[&] { makeOptimizer(dir + "cfo_no_mu.info"); }, "friction_coefficient"},
      {[&] { makeOptimizer(dir + "cfo_no_weight.info"); }, "weights.force_optmization"}};
  for (const auto& [construct, fragment] : cases) {
    try {
      construct();
      ADD_FAILURE() << "no error for case '" << fragment << "'";
    } catch (const std::exception& e) {
      EXPECT_NE(std::string(e.what()).find(fragment), std::string::npos) << e.what();
    }
  }
}

TEST_F(ContactForceTest, ClampsFrictionAndTimeStep) {
  struct Case {
    double mu_in, mu_out, dt_in, dt_out;
  };
  for (const Case& c : {Case{0.0, 0.01, 0.0005, 0.001}, Case{-1.0, 0.01, 2.0, 0.5},
                        Case{1.5, 1.0, 0.02, 0.02}, Case{0.7, 0.7, 0.05, 0.05}}) {
    const auto optimizer = makeOptimizer(writeParams("cfo_clamp", c.mu_in, c.dt_in));
    EXPECT_EQ(optimizer->friction_coefficient(), c.mu_out) << "mu in " << c.mu_in;
    EXPECT_EQ(optimizer->dt(), c.dt_out) << "dt in " << c.dt_in;
  }
}

TEST_F(ContactForceTest, HorizonFollowsTheReferenceDurationUpToTheCap) {
  struct Case {
    double duration, dt;
    size_t stages;  // whole steps in the duration, plus the terminal stage
  };
  for (const Case& c : {Case{1.0, 0.02, 51}, Case{1.019, 0.02, 51}, Case{0.04, 0.02, 3},
                        Case{0.3, 0.1, 3}, Case{200 * 0.02 + 1e-9, 0.02, 201}}) {
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
  EXPECT_EQ(countOccurrences(out.str(), "ContactForceOptimization:"), 1u) << out.str();
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

TEST_F(ContactForceTest, DriftFollowsTheReferenceMotion) {
  // Base accelerating upward at 0.5 m/s^2 (a parabola written as a spline), yaw turning at
  // 0.4 rad/s: the drift subtracts the reference acceleration, the desired force shares
  // m (g + a), and the angular drift is the reference's w x Ig w.
  auto optimizer = makeOptimizer();
  const double t0 = node_->now().seconds(), acc = 0.5, yaw_rate = 0.4;
  std::vector<double> times;
  std::vector<vector_t> heights;
  for (int i = 0; i <= 10; ++i) {
    const double t = 0.1 * i;
    times.push_back(t0 + t);
    heights.emplace_back(base_pos_ + vector3_t(0, 0, 0.5 * acc * t * t));
  }
  auto refs = references(1.0);
  refs->set_base_pos_traj(std::make_shared<CubicSplineTrajectory>(
      times, heights, vector_t(vector3_t::Zero()), vector_t(vector3_t(0, 0, acc))));
  refs->set_base_rpy_traj(std::make_shared<CubicSplineTrajectory>(CubicSplineTrajectory::linearRamp(
      vector_t(vector3_t::Zero()), vector_t(vector3_t(0, 0, yaw_rate)), t0, t0 + 1.0)));
  feed(*optimizer, qpos_, qvel_, refs, standSchedule());
  optimizer->optimize();
  const double dt = optimizer->dt(), m = model_->total_mass();
  const vector3_t w(0, 0, yaw_rate);
  for (size_t k : {0u, 10u, 25u}) {
    const auto& stage = optimizer->ocp()[k];
    EXPECT_NEAR(stage.b(5), -dt * (acc + 9.81), 1e-9) << "stage " << k;
    EXPECT_NEAR(stage.r(2), -1e-4 * m * (9.81 + acc) / 4.0, 1e-9);
    EXPECT_TRUE(stage.b.tail<3>().isApprox(-dt * w.cross(centroidalInertia() * w), 1e-9));
  }
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

TEST_F(ContactForceTest, ForceEstimateComesFromThePreviousSolve) {
  auto optimizer = makeOptimizer();
  vector_t qvel = qvel_;
  qvel(1) = 0.3;  // sideways motion: the solved forces differ from an even weight share
  feed(*optimizer, qpos_, qvel, references(0.5), trotSchedule());
  ASSERT_NE(optimizer->optimize(), nullptr);
  const std::vector<ocp_qp::OcpQpSolution> previous = optimizer->solution();
  optimizer->update_trajectory_reference(references(1.0));
  ASSERT_NE(optimizer->optimize(), nullptr);
  const vector3_t e(0.3, -0.1, 0.2);
  for (size_t k = 0; k < 50; ++k) {
    vector3_t force(0, 0, weight());  // beyond the previous (25-step) horizon
    if (k < 25) {
      force.setZero();
      for (int i = 0; i < 4; ++i) force += previous[k].u.segment<3>(3 * i);
    }
    EXPECT_TRUE((optimizer->ocp()[k].A.block<3, 3>(9, 0) * e)
                    .isApprox(optimizer->dt() * force.cross(e), 1e-12))
        << "stage " << k;
  }
}

TEST_F(ContactForceTest, IncompleteInputsGiveNullWithoutSolving) {
  const auto without = [&](const std::function<void(TrajectoriesBuffer&)>& spoil) {
    auto refs = references(1.0);
    spoil(*refs);
    return refs;
  };
  const std::string fl = info_->foot_name[0];
  struct Case {
    std::string what;
    std::shared_ptr<TrajectoriesBuffer> refs;
    bool schedule = true, state = true;
  };
  const std::vector<Case> cases{
      {"no reference set", nullptr},
      {"no base position", without([](auto& r) { r.set_base_pos_traj(nullptr); })},
      {"no base roll-pitch-yaw", without([](auto& r) { r.set_base_rpy_traj(nullptr); })},
      {"no foot trajectory", without([](auto& r) { r.set_foot_pos_traj({}); })},
      {"reference shorter than a step", references(0.019)},
      {"stance foot without trajectory", without([&](auto& r) {
         auto feet = r.get_foot_pos_traj();
         feet.erase(fl);
         r.set_foot_pos_traj(feet);
       })},
      {"no schedule", references(1.0), false},
      {"no measured state", references(1.0), true, false}};
  for (const auto& c : cases) {
    auto optimizer = makeOptimizer();
    if (c.state) {
      optimizer->update_state(std::make_shared<vector_t>(qpos_), std::make_shared<vector_t>(qvel_));
    }
    if (c.refs) optimizer->update_trajectory_reference(c.refs);
    if (c.schedule) optimizer->update_mode_schedule(standSchedule());
    EXPECT_EQ(optimizer->optimize(), nullptr) << c.what;
    EXPECT_TRUE(optimizer->solution().empty()) << c.what << ": a solve happened";
  }
  // A foot that swings over the whole horizon (mode 7: FL up) needs no trajectory and no force.
  auto optimizer = makeOptimizer();
  feed(*optimizer, qpos_, qvel_, cases[5].refs, makeSchedule(1.0, {0.0, 1.0}, {7}));
  ASSERT_NE(optimizer->optimize(), nullptr);
  for (size_t k = 0; k + 1 < optimizer->ocp().size(); ++k) {
    EXPECT_LT(optimizer->solution()[k].u.head<3>().norm(), 1e-3);
  }
}

TEST_F(ContactForceTest, BadStatesAreRejectedAndNonFiniteStatesGiveNull) {
  auto optimizer = makeOptimizer();
  feed(*optimizer, qpos_, qvel_, references(1.0), standSchedule());
  const auto q = std::make_shared<vector_t>(qpos_);
  const auto v = std::make_shared<vector_t>(qvel_);
  EXPECT_THROW(optimizer->update_state(std::make_shared<vector_t>(qpos_.head(10)), v),
               std::invalid_argument);
  EXPECT_THROW(optimizer->update_state(q, std::make_shared<vector_t>(qvel_.head(5))),
               std::invalid_argument);
  EXPECT_THROW(optimizer->update_state(nullptr, v), std::invalid_argument);
  EXPECT_THROW(optimizer->update_state(q, nullptr), std::invalid_argument);
  // The rejected states left the good one in place: the error state starts at zero.
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

TEST_F(ContactForceTest, BadReferencesGiveNullAndOneReportPerCause) {
  const double t0 = node_->now().seconds();
  const std::string foot = info_->foot_name[1];
  const auto with_foot = [&](TrajectoriesBuffer& refs, TrajectoryPtr traj) {
    auto feet = refs.get_foot_pos_traj();
    feet[foot] = std::move(traj);
    refs.set_foot_pos_traj(feet);
  };
  const std::vector<std::pair<std::string, std::function<void(TrajectoriesBuffer&)>>> cases{
      {"base_pos",
       [&](auto& r) { r.set_base_pos_traj(constantTrajectory(vector_t::Zero(2), t0, 1.0)); }},
      {"base_rpy",
       [&](auto& r) { r.set_base_rpy_traj(constantTrajectory(vector_t::Zero(1), t0, 1.0)); }},
      {"foot_pos[" + foot + "]",
       [&](auto& r) { with_foot(r, constantTrajectory(vector_t::Zero(4), t0, 1.0)); }},
      {"base_pos", [&](auto& r) { r.set_base_pos_traj(std::make_shared<NanTrajectory>(t0, 1.0)); }},
      {"base_rpy", [&](auto& r) { r.set_base_rpy_traj(std::make_shared<NanTrajectory>(t0, 1.0)); }},
      {"foot_pos[" + foot + "]",
       [&](auto& r) { with_foot(r, std::make_shared<NanTrajectory>(t0, 1.0)); }}};
  for (const auto& [name, spoil] : cases) {
    auto refs = references(1.0);
    spoil(*refs);
    auto optimizer = makeOptimizer();
    feed(*optimizer, qpos_, qvel_, refs, standSchedule());
    CaptureStream out(std::cout);
    for (int cycle = 0; cycle < 5; ++cycle) EXPECT_EQ(optimizer->optimize(), nullptr) << name;
    // Five failing cycles within a second: one report, naming the trajectory.
    EXPECT_EQ(countOccurrences(out.str(), "ContactForceOptimization: " + name), 1u) << out.str();
    optimizer->update_trajectory_reference(references(1.0));
    EXPECT_NE(optimizer->optimize(), nullptr) << name;
  }
}

TEST_F(ContactForceTest, SolverFailureGivesNullAndKeepsTheLastSolution) {
  // A terminal weight of 100 x 1e307 overflows to infinity: the solver rejects the data.
  const std::string overflowing = writeParams("cfo_overflow", 0.5, 0.02, std::vector(12, 1e307));
  const std::string good = writeParams("cfo_good", 0.5, 0.02);
  auto fresh = makeOptimizer(overflowing);
  feed(*fresh, qpos_, qvel_, references(1.0), standSchedule());
  CaptureStream out(std::cout);
  EXPECT_EQ(fresh->optimize(), nullptr);
  EXPECT_FALSE(fresh->has_solution());

  auto optimizer = makeOptimizer(good);
  feed(*optimizer, qpos_, qvel_, references(1.0), standSchedule());
  ASSERT_NE(optimizer->optimize(), nullptr);
  const std::vector<ocp_qp::OcpQpSolution> before = optimizer->solution();
  optimizer->loadParamsSetting(overflowing, false);
  EXPECT_EQ(optimizer->optimize(), nullptr);
  EXPECT_TRUE(optimizer->has_solution());
  EXPECT_EQ(optimizer->solution()[3].u, before[3].u);
  optimizer->loadParamsSetting(good, false);
  EXPECT_NE(optimizer->optimize(), nullptr);
  EXPECT_EQ(optimizer->settings().warm_start, 1);
}

TEST_F(ContactForceTest, StandingAtTheReferenceCarriesTheWeightEvenly) {
  auto optimizer = makeOptimizer();
  feed(*optimizer, qpos_, qvel_, references(1.0), standSchedule());
  const auto law = optimizer->optimize();
  ASSERT_NE(law, nullptr);
  ASSERT_EQ(law->a.rows(), 6);
  ASSERT_EQ(law->a.cols(), 12);
  const double mg = weight();
  for (size_t k = 0; k + 1 < optimizer->solution().size(); ++k) {
    const vector_t& u = optimizer->solution()[k].u;
    for (int i = 0; i < 4; ++i) {
      EXPECT_NEAR(u(3 * i + 2), mg / 4.0, 0.01 * mg / 4.0) << "foot " << i << " stage " << k;
      EXPECT_LT(u.segment<2>(3 * i).norm(), 0.01 * mg / 4.0);
    }
  }
  // At rest on the reference the law demands (almost) no acceleration.
  EXPECT_LT(law->b.norm(), 0.03) << law->b.transpose();
  EXPECT_LT(optimizer->solution().back().x.norm(), 1e-3);
}

TEST_F(ContactForceTest, LawStabilisesTheBodyAndPushesEveryErrorBack) {
  auto optimizer = makeOptimizer();
  feed(*optimizer, qpos_, qvel_, references(1.0), standSchedule());
  const auto law = optimizer->optimize();
  ASSERT_NE(law, nullptr);
  const matrix_t& a = law->a;
  for (int i = 0; i < 3; ++i) {
    EXPECT_LT(a(i, i), 0.0) << "position " << i;
    EXPECT_LT(a(i, 3 + i), 0.0) << "velocity " << i;
    EXPECT_LT(a(3 + i, 6 + i), 0.0) << "orientation " << i;
    EXPECT_LT(a(3 + i, 9 + i), 0.0) << "angular momentum " << i;
  }
  // Closed loop of the level body: p' = v, v' = a_lin x, rpy' = Ig^-1 L, L' = Ig a_ang x.
  const matrix3_t Ig = centroidalInertia();
  matrix_t F = matrix_t::Zero(12, 12);
  F.block<3, 3>(0, 3).setIdentity();
  F.middleRows(3, 3) = a.topRows(3);
  F.block<3, 3>(6, 9) = Ig.inverse();
  F.middleRows(9, 3) = Ig * a.bottomRows(3);
  const Eigen::VectorXcd eigenvalues = F.eigenvalues();
  for (Eigen::Index i = 0; i < eigenvalues.size(); ++i) {
    EXPECT_LT(eigenvalues(i).real(), -0.1) << eigenvalues.transpose();
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

TEST_F(ContactForceTest, InitialOrientationErrorIsWrapped) {
  // A yaw reference of -3.0 rad against a robot at yaw 3.0 rad is an error of 6.0 - 2 pi.
  auto optimizer = makeOptimizer();
  vector_t qpos = qpos_;
  qpos.segment<4>(3) = Eigen::Quaterniond(Eigen::AngleAxisd(3.0, vector3_t::UnitZ())).coeffs();
  feed(*optimizer, qpos, qvel_, references(1.0, vector3_t(0, 0, -3.0)), standSchedule());
  optimizer->optimize();
  ASSERT_FALSE(optimizer->solution().empty());
  EXPECT_NEAR(optimizer->solution()[0].x(8), 6.0 - 2.0 * M_PI, 1e-9);
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

TEST_F(ContactForceTest, OptimiserKeepsItsOwnCopyOfTheRobotModel) {
  ContactForceOptimization optimizer(node_, info_, model_);
  feed(optimizer, qpos_, qvel_, references(1.0), standSchedule());
  vector_t raised = qpos_;
  raised(2) += 0.1;
  model_->updateRobotState(raised, qvel_);  // moving the caller's model must not move its own
  optimizer.loadParamsSetting(writeParams("cfo_copy", 0.5, 0.02), false);
  ASSERT_NE(optimizer.optimize(), nullptr);
  EXPECT_NEAR(optimizer.solution()[0].x(2), 0.0, 1e-12);
}

TEST_F(ContactForceTest, PushesFromAnotherThreadNeverBreakACycle) {
  // The host thread swaps complete and incomplete reference sets and schedules while the
  // optimiser runs: every cycle gives either null or a finite law, and never throws.
  auto optimizer = makeOptimizer();
  feed(*optimizer, qpos_, qvel_, references(1.0), standSchedule());
  auto incomplete = references(1.0);
  incomplete->set_foot_pos_traj({});
  const std::vector<std::shared_ptr<const TrajectoriesBuffer>> sets{references(1.0), incomplete,
                                                                    references(0.6), nullptr};
  const std::vector<std::shared_ptr<ModeSchedule>> schedules{standSchedule(), trotSchedule()};
  std::atomic<bool> stop{false};
  std::atomic<size_t> pushes{0};
  std::thread host([&] {
    for (size_t i = 0; !stop.load(); ++i) {
      optimizer->update_trajectory_reference(sets[i % sets.size()]);
      optimizer->update_mode_schedule(schedules[i % schedules.size()]);
      pushes = i + 1;
      std::this_thread::yield();
    }
  });
  int laws = 0;
  for (int cycle = 0; cycle < 60; ++cycle) {
    // Each cycle follows at least one push, so that a starved host cannot hold one set.
    const size_t seen = pushes.load();
    while (pushes.load() == seen) std::this_thread::yield();
    std::shared_ptr<CtrlData> law;
    EXPECT_NO_THROW(law = optimizer->optimize());
    if (law) {
      ++laws;
      EXPECT_TRUE(law->a.allFinite() && law->b.allFinite());
    }
  }
  stop = true;
  host.join();
  EXPECT_GT(laws, 0);
}

}  // namespace
}  // namespace velmora::test
