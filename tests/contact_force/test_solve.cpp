// One optimisation: missing inputs, warm start, solver failure, and the physics of the optimal
// forces and of the body-acceleration law on the bundled robot.

#include <Eigen/Eigenvalues>
#include <atomic>
#include <thread>

#include "ContactForceTestSupport.h"

namespace velmora::test {
namespace {

TEST_F(ContactForceTest, MissingInputsGiveNullWithoutSolving) {
  const auto complete = standingReferences(1.0);
  const double t0 = node_->now().seconds();

  struct Case {
    std::string what;
    std::shared_ptr<TrajectoriesBuffer> refs;  // null: no set pushed
    bool schedule;
    bool state = true;
  };
  auto no_pos = standingReferences(1.0);
  no_pos->set_base_pos_traj(nullptr);
  auto no_rpy = standingReferences(1.0);
  no_rpy->set_base_rpy_traj(nullptr);
  auto no_feet = standingReferences(1.0);
  no_feet->set_foot_pos_traj({});
  auto too_short = standingReferences(0.019);  // shorter than one 0.02 s step: N = 0
  auto missing_foot = standingReferences(1.0);
  auto feet = missing_foot->get_foot_pos_traj();
  feet.erase(info_->foot_name[0]);
  missing_foot->set_foot_pos_traj(feet);
  auto null_foot = standingReferences(1.0);
  feet = null_foot->get_foot_pos_traj();
  feet[info_->foot_name[2]] = nullptr;
  null_foot->set_foot_pos_traj(feet);
  // Only the reference-position slot filled: the fallback of the set still provides the base.
  auto ref_slot_only = standingReferences(1.0);
  ref_slot_only->set_base_pos_traj(nullptr);
  ref_slot_only->set_base_pos_ref_traj(constantTrajectory(base_pos_, t0, 1.0));

  const std::vector<Case> null_cases{{"no reference set", nullptr, true},
                                     {"no base position", no_pos, true},
                                     {"no base roll-pitch-yaw", no_rpy, true},
                                     {"no foot trajectory", no_feet, true},
                                     {"reference shorter than a step", too_short, true},
                                     {"stance foot without trajectory", missing_foot, true},
                                     {"stance foot with a null trajectory", null_foot, true},
                                     {"no schedule", complete, false},
                                     {"no measured state", complete, true, false}};
  for (const auto& c : null_cases) {
    auto optimizer = makeOptimizer();
    if (c.state) {
      optimizer->update_state(std::make_shared<vector_t>(qpos_), std::make_shared<vector_t>(qvel_));
    }
    if (c.refs) optimizer->update_trajectory_reference(c.refs);
    if (c.schedule) optimizer->update_mode_schedule(standSchedule());
    CaptureStream out(std::cout), err(std::cerr);
    EXPECT_EQ(optimizer->optimize(), nullptr) << c.what;
    EXPECT_FALSE(optimizer->has_solution()) << c.what;
    EXPECT_TRUE(optimizer->solution().empty()) << c.what << ": a solve happened";
    EXPECT_EQ(out.str() + err.str(), "") << c.what;
  }

  auto optimizer = makeOptimizer();
  feed(*optimizer, qpos_, qvel_, ref_slot_only, standSchedule());
  EXPECT_NE(optimizer->optimize(), nullptr);
}

TEST_F(ContactForceTest, MissingInputsAfterASolveKeepTheSolution) {
  auto optimizer = makeOptimizer();
  feed(*optimizer, qpos_, qvel_, standingReferences(1.0), standSchedule());
  ASSERT_NE(optimizer->optimize(), nullptr);
  auto no_pos = standingReferences(1.0);
  no_pos->set_base_pos_traj(nullptr);
  optimizer->update_trajectory_reference(no_pos);
  EXPECT_EQ(optimizer->optimize(), nullptr);
  EXPECT_TRUE(optimizer->has_solution());
  EXPECT_EQ(optimizer->solution().size(), 51u);
}

TEST_F(ContactForceTest, FootWithoutTrajectoryIsFineWhileItSwings) {
  // FL (foot 0) swings over the whole horizon (mode 7): its trajectory is not needed.
  auto refs = standingReferences(1.0);
  auto feet = refs->get_foot_pos_traj();
  feet.erase(info_->foot_name[0]);
  refs->set_foot_pos_traj(feet);
  auto optimizer = makeOptimizer();
  feed(*optimizer, qpos_, qvel_, refs, makeSchedule(1.0, {0.0, 1.0}, {7}));
  ASSERT_NE(optimizer->optimize(), nullptr);
  for (size_t k = 0; k + 1 < optimizer->ocp().size(); ++k) {
    EXPECT_TRUE(optimizer->ocp()[k].B.leftCols(3).isZero(0.0));
    EXPECT_LT(optimizer->solution()[k].u.head<3>().norm(), 1e-3);
  }
}

TEST_F(ContactForceTest, WarmStartOnlyWhileTheHorizonIsUnchanged) {
  auto optimizer = makeOptimizer();
  feed(*optimizer, qpos_, qvel_, standingReferences(1.0), trotSchedule());
  ASSERT_NE(optimizer->optimize(), nullptr);
  EXPECT_EQ(optimizer->settings().warm_start, 0);
  EXPECT_TRUE(optimizer->has_solution());

  setTime(kStartTime + 0.02);
  optimizer->update_trajectory_reference(standingReferences(1.0));
  ASSERT_NE(optimizer->optimize(), nullptr);
  EXPECT_EQ(optimizer->settings().warm_start, 1);

  optimizer->update_trajectory_reference(standingReferences(0.7));
  ASSERT_NE(optimizer->optimize(), nullptr);
  EXPECT_EQ(optimizer->settings().warm_start, 0);
  EXPECT_EQ(optimizer->solution().size(), 36u);

  optimizer->update_trajectory_reference(standingReferences(0.7));
  ASSERT_NE(optimizer->optimize(), nullptr);
  EXPECT_EQ(optimizer->settings().warm_start, 1);
}

TEST_F(ContactForceTest, SolverFailureIsReportedAndGivesNull) {
  // A terminal weight of 100 x 1e307 overflows to infinity: the solver rejects the data.
  std::vector<double> huge(12, 1e307);
  const std::string overflowing = writeParams("cfo_overflow", 0.5, 0.02, huge);
  const std::string good = writeParams("cfo_good", 0.5, 0.02, defaultWeightDiagonal());

  // Before any success: null, one line per failing cycle, no solution flag.
  auto fresh = makeOptimizer(overflowing);
  feed(*fresh, qpos_, qvel_, standingReferences(1.0), standSchedule());
  for (int cycle = 0; cycle < 2; ++cycle) {
    CaptureStream out(std::cout);
    EXPECT_EQ(fresh->optimize(), nullptr);
    EXPECT_EQ(out.str(), "ContactForceOptimization: NaNDetected\n");
    EXPECT_FALSE(fresh->has_solution());
  }

  // After a success: the failure keeps the flag and the last solution; the next good cycle is
  // warm-started from it and gives a law again.
  auto optimizer = makeOptimizer(good);
  feed(*optimizer, qpos_, qvel_, standingReferences(1.0), standSchedule());
  ASSERT_NE(optimizer->optimize(), nullptr);
  const std::vector<ocp_qp::OcpQpSolution> before = optimizer->solution();
  optimizer->loadParamsSetting(overflowing, false);
  {
    CaptureStream out(std::cout);
    EXPECT_EQ(optimizer->optimize(), nullptr);
    EXPECT_EQ(out.str(), "ContactForceOptimization: NaNDetected\n");
  }
  EXPECT_TRUE(optimizer->has_solution());
  ASSERT_EQ(optimizer->solution().size(), before.size());
  EXPECT_EQ(optimizer->solution()[3].u, before[3].u);
  optimizer->loadParamsSetting(good, false);
  CaptureStream out(std::cout);
  EXPECT_NE(optimizer->optimize(), nullptr);
  EXPECT_EQ(optimizer->settings().warm_start, 1);
  EXPECT_EQ(out.str(), "");
}

TEST_F(ContactForceTest, NonConvexWeightIsAFailureNotALaw) {
  // A negative state weight makes the problem unbounded below: whatever the solver reports, no
  // law comes out of it and the failure line names a failing status.
  std::vector<double> negative(12, -50.0);
  auto optimizer = makeOptimizer(writeParams("cfo_negative", 0.5, 0.02, negative));
  vector_t qvel = qvel_;
  qvel(0) = 0.5;
  feed(*optimizer, qpos_, qvel, standingReferences(1.0), standSchedule());
  CaptureStream out(std::cout);
  const auto law = optimizer->optimize();
  const std::string line = out.str();
  if (law == nullptr) {
    EXPECT_TRUE(line == "ContactForceOptimization: MinStepLengthReached\n" ||
                line == "ContactForceOptimization: NaNDetected\n" ||
                line == "ContactForceOptimization: UnknownFailure\n")
        << line;
  } else {
    ADD_FAILURE() << "a non-convex problem produced a law; output: " << line;
  }
}

TEST_F(ContactForceTest, StandingAtTheReferenceCarriesTheWeight) {
  auto optimizer = makeOptimizer();
  feed(*optimizer, qpos_, qvel_, standingReferences(1.0), standSchedule());
  CaptureStream out(std::cout);
  const auto law = optimizer->optimize();
  ASSERT_NE(law, nullptr);
  EXPECT_EQ(out.str(), "");
  ASSERT_EQ(law->a.rows(), 6);
  ASSERT_EQ(law->a.cols(), 12);
  ASSERT_EQ(law->b.size(), 6);

  const double mg = weight();
  for (size_t k = 0; k + 1 < optimizer->solution().size(); ++k) {
    const vector_t& u = optimizer->solution()[k].u;
    EXPECT_NEAR(verticalForceSum(u), mg, 0.01 * mg) << "stage " << k;
    for (int i = 0; i < 4; ++i) {
      EXPECT_NEAR(u(3 * i + 2), mg / 4.0, 0.01 * mg / 4.0) << "foot " << i << " stage " << k;
      EXPECT_LT(u.segment<2>(3 * i).norm(), 0.01 * mg / 4.0);
    }
  }
  // At rest on the reference the law demands (almost) no acceleration.
  EXPECT_LT(law->b.head<3>().norm(), 0.02) << law->b.transpose();
  EXPECT_LT(law->b.tail<3>().norm(), 0.02) << law->b.transpose();
  // The error state starts at zero and the predicted motion stays there.
  EXPECT_LT(optimizer->solution()[0].x.norm(), 1e-12);
  EXPECT_LT(optimizer->solution().back().x.norm(), 1e-3);
}

TEST_F(ContactForceTest, LawDrivesEveryErrorBack) {
  auto optimizer = makeOptimizer();
  feed(*optimizer, qpos_, qvel_, standingReferences(1.0), standSchedule());
  const auto law = optimizer->optimize();
  ASSERT_NE(law, nullptr);
  const matrix_t& a = law->a;

  // Body 2 cm below its reference: upward acceleration. Yaw ahead of the reference: the
  // opposite yaw acceleration.
  vector_t low = vector_t::Zero(12);
  low(2) = -0.02;
  EXPECT_GT((a * low)(2), 0.0);
  vector_t yawed = vector_t::Zero(12);
  yawed(8) = 0.1;
  EXPECT_LT((a * yawed)(5), 0.0);
  // Every error pushes back on its own axis: position and velocity on the linear rows,
  // orientation and angular momentum on the angular rows.
  for (int i = 0; i < 3; ++i) {
    EXPECT_LT(a(i, i), 0.0) << "position " << i;
    EXPECT_LT(a(i, 3 + i), 0.0) << "velocity " << i;
    EXPECT_LT(a(3 + i, 6 + i), 0.0) << "orientation " << i;
    EXPECT_LT(a(3 + i, 9 + i), 0.0) << "angular momentum " << i;
  }

  // The closed loop of the level body under the law is asymptotically stable:
  //   p' = v, v' = a_lin x, rpy' = Ig^-1 L, L' = Ig a_ang x.
  const matrix3_t Ig = model_->getData().Ig.inertia();
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

TEST_F(ContactForceTest, LawIsThePredictedRateOfTheVelocityError) {
  // Displaced, moving and tilted body: the law evaluated at the measured error equals the
  // change of the velocity part of the predicted error state over the first step.
  vector_t qpos = qpos_, qvel = qvel_;
  qpos(0) += 0.02;
  qpos(2) -= 0.015;
  qpos.segment<4>(3) =
      Eigen::Quaterniond(Eigen::AngleAxisd(0.05, Eigen::Vector3d(0.3, -0.5, 1).normalized()))
          .coeffs();
  qvel(1) = 0.1;
  auto optimizer = makeOptimizer();
  feed(*optimizer, qpos, qvel, standingReferences(1.0), standSchedule());
  const auto law = optimizer->optimize();
  ASSERT_NE(law, nullptr);

  const double dt = optimizer->dt();
  const auto& sol = optimizer->solution();
  const auto& stage = optimizer->ocp()[0];
  const vector_t& x0 = sol[0].x;
  // The model's one-step prediction under the optimal first input; the solver's second state
  // agrees with it up to the equality tolerance.
  const vector_t x1 = stage.A * x0 + stage.B * sol[0].u + stage.b;
  EXPECT_LT((x1 - sol[1].x).cwiseAbs().maxCoeff(), 1e-4);
  const vector_t dx = (x1 - x0) / dt;
  model_->updateRobotState(qpos, qvel);  // Ig in world axes turns with the tilted body
  const matrix3_t Ig = model_->getData().Ig.inertia();
  const vector_t predicted_acc = law->a * x0 + law->b;
  // Linear: the velocity error rate. Angular: Ig^-1 times the angular momentum error rate (the
  // body does not rotate, so the gyroscopic correction vanishes).
  const vector3_t linear = dx.segment<3>(3);
  const vector3_t angular = Ig.inverse() * dx.segment<3>(9);
  ASSERT_GT(linear.norm(), 0.1);
  ASSERT_GT(angular.norm(), 0.1);
  EXPECT_TRUE(predicted_acc.head<3>().isApprox(linear, 1e-8))
      << predicted_acc.head<3>().transpose() << " vs " << linear.transpose();
  EXPECT_TRUE(predicted_acc.tail<3>().isApprox(angular, 1e-8))
      << predicted_acc.tail<3>().transpose() << " vs " << angular.transpose();
}

TEST_F(ContactForceTest, GyroscopicTermOfTheAngularVelocityError) {
  // A body spinning about a tilted axis against a non-rotating reference: the law's angular
  // part carries -Ig^-1 (w x Ig w) on top of the model's prediction.
  vector_t qvel = qvel_;
  qvel.segment<3>(3) = vector3_t(0.8, -0.5, 1.2);  // base axes = world axes (level body)
  auto spinning = makeOptimizer();
  feed(*spinning, qpos_, qvel, standingReferences(1.0), standSchedule());
  const auto law = spinning->optimize();
  ASSERT_NE(law, nullptr);
  const matrix3_t Ig = model_->getData().Ig.inertia();
  const vector3_t w = qvel.segment<3>(3);
  const auto& sol = spinning->solution();
  const auto& stage = spinning->ocp()[0];
  const double dt = spinning->dt();
  const vector_t x1 = stage.A * sol[0].x + stage.B * sol[0].u + stage.b;
  const vector3_t model_rate = Ig.inverse() * (x1 - sol[0].x).segment<3>(9) / dt;
  const vector3_t gyroscopic = -Ig.inverse() * w.cross(Ig * w);
  ASSERT_GT(gyroscopic.norm(), 1e-3);
  const vector3_t law_rate = (law->a * sol[0].x + law->b).tail<3>();
  EXPECT_TRUE(law_rate.isApprox(model_rate + gyroscopic, 1e-8))
      << law_rate.transpose() << " vs " << (model_rate + gyroscopic).transpose();
}

TEST_F(ContactForceTest, TrotSwingFeetCarryNothingAndStanceFeetStayInThePyramid) {
  auto optimizer = makeOptimizer();
  vector_t qvel = qvel_;
  qvel(0) = 0.2;  // some motion so that horizontal forces are needed
  feed(*optimizer, qpos_, qvel, standingReferences(1.0), trotSchedule());
  ASSERT_NE(optimizer->optimize(), nullptr);
  const double mu = optimizer->friction_coefficient();
  const double mg = weight();
  const double tol = 1e-3 * mg;
  const auto& sol = optimizer->solution();
  double mean_vertical = 0.0;
  for (size_t k = 0; k + 1 < sol.size(); ++k) {
    mean_vertical += verticalForceSum(sol[k].u) / static_cast<double>(sol.size() - 1);
    const double phase = static_cast<double>(k) * optimizer->dt() / 0.5;
    const bool first_pair = phase < 0.5;  // FL + RR, then FR + RL
    const std::array<bool, 4> stance{first_pair, !first_pair, !first_pair, first_pair};
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
    }
  }
  // Vertical momentum: the body starts and ends (nearly) without vertical velocity error, so on
  // average the stance feet carry the weight.
  EXPECT_NEAR(mean_vertical, mg, 0.01 * mg);
  EXPECT_LT(std::abs(sol.back().x(5)), 0.02);
}

TEST_F(ContactForceTest, ForceLimitsBindUnderLargeDemands) {
  // A fast sideways slide needs more traction than friction allows; a body far below its
  // reference and falling needs more than 400 N per foot. The bounds hold and are reached.
  // Fixed weights, so that tuning the bundled robot's file cannot soften the demands.
  const double mu_fz_slack = 1e-3 * weight();
  auto optimizer = makeOptimizer(writeParams("limits", 0.5, 0.02, defaultWeightDiagonal()));
  vector_t qvel = qvel_;
  qvel(1) = 3.0;
  feed(*optimizer, qpos_, qvel, standingReferences(1.0), standSchedule());
  ASSERT_NE(optimizer->optimize(), nullptr);
  const double mu = optimizer->friction_coefficient();
  double max_ratio = 0.0;
  for (size_t k = 0; k + 1 < optimizer->solution().size(); ++k) {
    for (int i = 0; i < 4; ++i) {
      const vector3_t f = optimizer->solution()[k].u.segment<3>(3 * i);
      EXPECT_LE(std::abs(f.y()), mu * f.z() + mu_fz_slack);
      max_ratio = std::max(max_ratio, std::abs(f.y()) / f.z());
    }
  }
  EXPECT_GT(max_ratio, 0.99 * mu) << "the friction bound never became active";

  vector_t qpos = qpos_;
  qpos(2) -= 0.15;
  qvel = qvel_;
  qvel(2) = -4.0;
  feed(*optimizer, qpos, qvel, standingReferences(1.0), standSchedule());
  ASSERT_NE(optimizer->optimize(), nullptr);
  double max_fz = 0.0;
  for (size_t k = 0; k + 1 < optimizer->solution().size(); ++k) {
    for (int i = 0; i < 4; ++i) {
      const double fz = optimizer->solution()[k].u(3 * i + 2);
      EXPECT_LE(fz, 400.0 + 0.1);
      max_fz = std::max(max_fz, fz);
    }
  }
  EXPECT_GT(max_fz, 399.0) << "the normal-force bound never became active";
}

TEST_F(ContactForceTest, RepeatedCyclesStayQuietAndFinite) {
  // Twenty periods of the running controller on a trot: clock advancing, state drifting a
  // little; every cycle returns a finite law, warm-started after the first, and prints nothing.
  auto optimizer = makeOptimizer();
  vector_t qpos = qpos_;
  const auto schedule = trotSchedule();
  CaptureStream out(std::cout);
  for (int cycle = 0; cycle < 20; ++cycle) {
    setTime(kStartTime + 0.02 * cycle);
    qpos(0) = base_pos_.x() + 0.002 * std::sin(0.7 * cycle);
    feed(*optimizer, qpos, qvel_, standingReferences(1.0), schedule);
    const auto law = optimizer->optimize();
    ASSERT_NE(law, nullptr) << "cycle " << cycle;
    EXPECT_TRUE(law->a.allFinite() && law->b.allFinite());
    EXPECT_EQ(optimizer->settings().warm_start, cycle == 0 ? 0 : 1);
  }
  EXPECT_EQ(out.str(), "");
}

TEST_F(ContactForceTest, PushesFromAnotherThreadNeverBreakACycle) {
  // The host thread swaps complete and incomplete reference sets and schedules while the
  // optimiser runs: every cycle gives either null or a finite law, and never throws.
  auto optimizer = makeOptimizer();
  feed(*optimizer, qpos_, qvel_, standingReferences(1.0), standSchedule());
  auto incomplete = standingReferences(1.0);
  auto feet = incomplete->get_foot_pos_traj();
  feet.erase(info_->foot_name[3]);
  incomplete->set_foot_pos_traj(feet);
  const std::vector<std::shared_ptr<const TrajectoriesBuffer>> sets{
      standingReferences(1.0), incomplete, standingReferences(0.6), nullptr};
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
    // Each cycle follows at least one push, so that a host thread left without the processor
    // cannot keep one set (say, the null one) in place for every cycle.
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
