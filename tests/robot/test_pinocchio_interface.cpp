// PinocchioInterface against MuJoCo loading the same URDF at random states, then state
// validation, queries by id, and independent copies running concurrently.

#include <limits>
#include <memory>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <mujoco/mujoco.h>

#include "RobotTestSupport.h"
#include "pinocchio/PinocchioInterface.h"

namespace velmora::test {
namespace {

using ::testing::HasSubstr;
using RowMajorMatrix = Eigen::Matrix<scalar_t, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

// MuJoCo loading the same URDF, driven with velmora states, as the independent reference. Its
// conventions are converted here and nowhere else. Free joint: qpos = [position, quaternion
// (w, x, y, z)], qvel = [linear velocity of the body origin in WORLD axes, angular velocity in
// LOCAL axes]; velmora stores the quaternion (x, y, z, w) and both velocity parts in local axes.
// Actuated joints are matched by name. With R the base orientation, v_mj = T v with
// T = diag(R, I, P) (P the joint permutation), so M = T' M_mj T, J = J_mj T and the nonlinear
// effects are T' times MuJoCo's inverse dynamics at the acceleration Tdot v = (R (w x v), 0, 0)
// of a motion at constant velmora velocity. MuJoCo spatial vectors are [angular; linear],
// velmora's [linear; angular]; body quantities are taken at the body frame (mjOBJ_XBODY).
class MujocoReference {
 public:
  MujocoReference(const std::string& urdf, const rigid_body::Model& model)
      : model_(mj_loadXML(urdf.c_str(), nullptr, nullptr, 0), mj_deleteModel),
        data_(mj_makeData(model_.get()), mj_deleteData),
        T_(matrix_t::Zero(model.nv, model.nv)) {
    model_->opt.disableflags |= mjDSBL_CONSTRAINT | mjDSBL_CONTACT | mjDSBL_PASSIVE;
    for (int j = 2; j < model.njoints; ++j) {
      const int id = mj_name2id(model_.get(), mjOBJ_JOINT, model.names[j].c_str());
      joints_.push_back({model_->jnt_qposadr[id], model_->jnt_dofadr[id]});
    }
  }

  /// Sets the state (velmora convention) and runs MuJoCo's forward computations.
  void setState(const vector_t& qpos, const vector_t& qvel) {
    const Eigen::Quaternion<scalar_t> orientation(qpos[6], qpos[3], qpos[4], qpos[5]);
    T_.topLeftCorner<3, 3>() = orientation.toRotationMatrix();
    T_.block<3, 3>(3, 3).setIdentity();
    Eigen::Map<vector_t> mj_qpos(data_->qpos, model_->nq);
    mj_qpos.head<3>() = qpos.head<3>();
    mj_qpos.segment<4>(3) << qpos[6], qpos[3], qpos[4], qpos[5];
    for (std::size_t j = 0; j < joints_.size(); ++j) {
      mj_qpos[joints_[j].first] = qpos[7 + j];
      T_(joints_[j].second, 6 + j) = 1.0;
    }
    Eigen::Map<vector_t>(data_->qvel, model_->nv) = T_ * qvel;
    mj_forward(model_.get(), data_.get());
    Eigen::Map<vector_t>(data_->qacc, model_->nv).setZero();
    Eigen::Map<vector3_t>(data_->qacc) =
        T_.topLeftCorner<3, 3>() * qvel.segment<3>(3).cross(qvel.head<3>());
  }

  matrix_t massMatrix() const {
    RowMajorMatrix M(model_->nv, model_->nv);
    mj_fullM(model_.get(), M.data(), data_->qM);
    return T_.transpose() * M * T_;
  }
  vector_t nonlinearEffects() const {
    mj_inverse(model_.get(), data_.get());
    return T_.transpose() * Eigen::Map<const vector_t>(data_->qfrc_inverse, model_->nv);
  }
  scalar_t totalMass() const { return mj_getTotalmass(model_.get()); }
  vector3_t centerOfMass() const { return Eigen::Map<const vector3_t>(data_->subtree_com + 3); }
  rigid_body::SE3 bodyPose(const std::string& body) const {
    const int id = bodyId(body);
    return rigid_body::SE3(
        Eigen::Map<const Eigen::Matrix<scalar_t, 3, 3, Eigen::RowMajor>>(data_->xmat + 9 * id),
        Eigen::Map<const vector3_t>(data_->xpos + 3 * id));
  }
  /// Velocity of the body origin, world-aligned axes, [linear; angular].
  vector6_t bodyVelocity(const std::string& body) const {
    mjtNum angular_linear[6];
    mj_objectVelocity(model_.get(), data_.get(), mjOBJ_XBODY, bodyId(body), angular_linear, 0);
    return swapHalves(angular_linear);
  }
  /// Jacobian of the body origin in world-aligned axes, velmora coordinates.
  matrix6x_t bodyJacobian(const std::string& body) const {
    RowMajorMatrix linear(3, model_->nv), angular(3, model_->nv);
    mj_jacBody(model_.get(), data_.get(), linear.data(), angular.data(), bodyId(body));
    matrix6x_t jacobian(6, model_->nv);
    jacobian << linear, angular;
    return jacobian * T_;
  }
  /// Classical acceleration of the body origin at zero velmora generalised acceleration, gravity
  /// excluded, world-aligned axes.
  vector6_t bodyDriftAcceleration(const std::string& body) const {
    const vector3_t gravity = Eigen::Map<const vector3_t>(model_->opt.gravity);
    Eigen::Map<vector3_t>(model_->opt.gravity).setZero();
    mj_rnePostConstraint(model_.get(), data_.get());
    Eigen::Map<vector3_t>(model_->opt.gravity) = gravity;
    mjtNum angular_linear[6];
    mj_objectAcceleration(model_.get(), data_.get(), mjOBJ_XBODY, bodyId(body), angular_linear, 0);
    return swapHalves(angular_linear);
  }

 private:
  int bodyId(const std::string& body) const {
    return mj_name2id(model_.get(), mjOBJ_BODY, body.c_str());
  }
  static vector6_t swapHalves(const mjtNum* angular_linear) {
    return (vector6_t() << Eigen::Map<const vector3_t>(angular_linear + 3),
            Eigen::Map<const vector3_t>(angular_linear))
        .finished();
  }

  std::unique_ptr<mjModel, void (*)(mjModel*)> model_;
  std::unique_ptr<mjData, void (*)(mjData*)> data_;
  std::vector<std::pair<int, int>> joints_;  // per actuated joint: MuJoCo qpos and dof address
  matrix_t T_;
};

struct RobotCase {
  std::string name;
  std::string urdf;
  /// (velmora frame, MuJoCo body at the same place): link frames, joint frames (at the child
  /// link's origin) and frames of fixed joints.
  std::vector<std::pair<std::string, std::string>> frames;
};

class VersusMujoco : public ::testing::TestWithParam<RobotCase> {
 protected:
  /// Sets the same random state in both models.
  void setRandomState(scalar_t velocity_scale) {
    const RandomState state = randomState(robot_.getModel(), rng_, velocity_scale);
    robot_.updateRobotState(state.qpos, state.qvel);
    mujoco_.setState(state.qpos, state.qvel);
  }

  static constexpr scalar_t kTolerance = 1e-8;
  PinocchioInterface robot_{GetParam().urdf};
  MujocoReference mujoco_{GetParam().urdf, robot_.getModel()};
  std::mt19937 rng_{1234};
};

TEST_P(VersusMujoco, MassMatrixNonlinearEffectsAndCentroidalInertia) {
  for (int k = 0; k < 100; ++k) {
    setRandomState(k % 10 == 0 ? 0.0 : 2.0);  // at rest the nonlinear effects are gravity alone
    SCOPED_TRACE("state " + std::to_string(k));
    const rigid_body::Data& data = robot_.getData();
    ASSERT_TRUE(relativelyNear(data.M, mujoco_.massMatrix(), kTolerance));
    ASSERT_TRUE(relativelyNear(robot_.nle(), mujoco_.nonlinearEffects(), kTolerance));
    ASSERT_NEAR(robot_.total_mass(), mujoco_.totalMass(), kTolerance);
    ASSERT_NEAR(data.Ig.mass(), mujoco_.totalMass(), kTolerance);
    ASSERT_TRUE(relativelyNear(data.com[0], mujoco_.centerOfMass(), kTolerance));
    ASSERT_TRUE(relativelyNear(data.Ig.lever(), data.com[0], kTolerance));
    // The base block of M is the whole robot's inertia in base coordinates.
    ASSERT_TRUE(relativelyNear(data.Ig.transformedBy(data.oMi[1].inverse()).matrix(),
                               data.M.topLeftCorner<6, 6>(), kTolerance));
  }
}

TEST_P(VersusMujoco, FramePlacementsVelocitiesJacobiansAndDriftAccelerations) {
  matrix6x_t J_world_aligned, J_local;
  for (int k = 0; k < 100; ++k) {
    setRandomState(2.0);
    for (const auto& [frame, body] : GetParam().frames) {
      SCOPED_TRACE("state " + std::to_string(k) + ", frame " + frame);
      const rigid_body::SE3 pose = robot_.getFramePose(frame);
      ASSERT_TRUE(relativelyNear(pose.rotation(), mujoco_.bodyPose(body).rotation(), kTolerance));
      ASSERT_TRUE(
          relativelyNear(pose.translation(), mujoco_.bodyPose(body).translation(), kTolerance));
      ASSERT_TRUE(relativelyNear(robot_.getFrame6dVel_localWorldAligned(frame).toVector(),
                                 mujoco_.bodyVelocity(body), kTolerance));
      // Local quantities are the world-aligned ones in the frame's own axes.
      Eigen::Matrix<scalar_t, 6, 6> to_local = Eigen::Matrix<scalar_t, 6, 6>::Zero();
      to_local.topLeftCorner<3, 3>() = to_local.bottomRightCorner<3, 3>() =
          pose.rotation().transpose();
      robot_.getJacobia_localWorldAligned(frame, J_world_aligned);
      robot_.getJacobia_local(frame, J_local);
      ASSERT_TRUE(relativelyNear(J_world_aligned, mujoco_.bodyJacobian(body), kTolerance));
      ASSERT_TRUE(relativelyNear(J_local, to_local * mujoco_.bodyJacobian(body), kTolerance));
      const vector6_t drift = mujoco_.bodyDriftAcceleration(body);
      ASSERT_TRUE(relativelyNear(robot_.getFrame6dAcc_localWorldAligned(frame).toVector(), drift,
                                 kTolerance));
      ASSERT_TRUE(relativelyNear(robot_.getFrame6dAcc_local(frame).toVector(), to_local * drift,
                                 kTolerance));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Robots, VersusMujoco,
                         ::testing::Values(RobotCase{"kestrel",
                                                     kestrelFile("robot.urdf"),
                                                     {{"trunk", "trunk"},
                                                      {"FL_hip", "FL_hip"},
                                                      {"FL_thigh", "FL_thigh"},
                                                      {"FL_foot", "FL_foot"},
                                                      {"FR_foot", "FR_foot"},
                                                      {"RL_foot", "RL_foot"},
                                                      {"RR_foot", "RR_foot"},
                                                      {"RL_calf_joint", "RL_calf"},
                                                      {"FR_foot_fixed", "FR_foot"}}},
                                           RobotCase{"spider",
                                                     testDataFile("spider.urdf"),
                                                     {{"body", "body"},
                                                      {"sensor", "sensor"},
                                                      {"upper_arm", "upper_arm"},
                                                      {"tool", "tool"},
                                                      {"hand", "hand"},
                                                      {"leg_tip", "leg_tip"},
                                                      {"sensor_mount", "sensor"},
                                                      {"b_slider", "slide"}}}),
                         [](const ::testing::TestParamInfo<RobotCase>& info) {
                           return info.param.name;
                         });

class PinocchioInterfaceTest : public ::testing::Test {
 protected:
  RandomState nextState() { return randomState(robot_.getModel(), rng_); }

  PinocchioInterface robot_{kestrelFile("robot.urdf")};
  std::mt19937 rng_{21};
};

TEST_F(PinocchioInterfaceTest, RejectedStatesAreNamedAndLeaveThePreviousOne) {
  const RandomState good = nextState();
  robot_.updateRobotState(good.qpos, good.qvel);
  const vector_t previous = robot_.qpos();
  struct BadState {
    vector_t qpos, qvel;
    std::vector<std::string> words;
  };
  std::vector<BadState> cases = {{vector_t::Zero(18), good.qvel, {"qpos", "18", "19"}},
                                 {good.qpos, vector_t::Zero(19), {"qvel", "19", "18"}},
                                 {good.qpos, good.qvel, {"qpos", "entry 9", "not finite"}},
                                 {good.qpos, good.qvel, {"qvel", "entry 0", "not finite"}},
                                 {good.qpos, good.qvel, {"quaternion", "zero"}}};
  cases[2].qpos[9] = std::numeric_limits<scalar_t>::quiet_NaN();
  cases[3].qvel[0] = std::numeric_limits<scalar_t>::infinity();
  cases[4].qpos.segment<4>(3).setZero();
  for (const BadState& bad : cases) {
    try {
      robot_.updateRobotState(bad.qpos, bad.qvel);
      ADD_FAILURE() << "accepted, expected an error naming " << bad.words[0];
    } catch (const std::invalid_argument& error) {
      for (const std::string& word : bad.words) EXPECT_THAT(error.what(), HasSubstr(word));
    }
    EXPECT_EQ(robot_.qpos(), previous);
  }
}

TEST_F(PinocchioInterfaceTest, NormalisesTheQuaternionAndAnswersByIdAsByName) {
  const RandomState state = nextState();
  vector_t scaled = state.qpos;
  scaled.segment<4>(3) *= 7.0;
  robot_.updateRobotState(scaled, state.qvel);
  EXPECT_TRUE(relativelyNear(robot_.qpos(), state.qpos, 1e-15));
  const int id = robot_.getFrameId("RR_foot");
  EXPECT_EQ(robot_.getFramePose(id).translation(), robot_.getFramePose("RR_foot").translation());
  EXPECT_EQ(robot_.getFrame6dVel_localWorldAligned(id).toVector(),
            robot_.getFrame6dVel_localWorldAligned("RR_foot").toVector());
  EXPECT_EQ(robot_.getFrame6dAcc_local(id).toVector(),
            robot_.getFrame6dAcc_local("RR_foot").toVector());
  EXPECT_EQ(robot_.getFrame6dAcc_localWorldAligned(id).toVector(),
            robot_.getFrame6dAcc_localWorldAligned("RR_foot").toVector());
  matrix6x_t by_name, by_id;  // empty: the queries size them
  robot_.getJacobia_local("RR_foot", by_name);
  robot_.getJacobia_local(id, by_id);
  EXPECT_EQ(by_name, by_id);
  robot_.getJacobia_localWorldAligned("RR_foot", by_name);
  robot_.getJacobia_localWorldAligned(id, by_id);
  EXPECT_EQ(by_name, by_id);
  EXPECT_THROW(robot_.getJacobia_local(robot_.getModel().nframes, by_id), std::out_of_range);
  EXPECT_THAT([&] { robot_.getFramePose("FL_toe"); },
              ::testing::ThrowsMessage<std::invalid_argument>(HasSubstr("'FL_toe'")));
}

TEST_F(PinocchioInterfaceTest, CopiesAreDeepAndRunConcurrently) {
  std::vector<RandomState> states;
  std::vector<vector_t> expected_nle;
  for (int k = 0; k < 100; ++k) {
    states.push_back(nextState());
    robot_.updateRobotState(states.back().qpos, states.back().qvel);
    expected_nle.push_back(robot_.nle());
  }
  const vector_t last_qpos = robot_.qpos();
  const auto worker = [&](PinocchioInterface robot, std::size_t offset,
                          std::vector<vector_t>& out) {
    for (std::size_t k = 0; k < states.size(); ++k) {
      const std::size_t index = (k + offset) % states.size();
      robot.updateRobotState(states[index].qpos, states[index].qvel);
      out[index] = robot.nle();
    }
  };
  std::vector<vector_t> out_a(states.size()), out_b(states.size());
  std::thread a(worker, robot_, 0, std::ref(out_a));
  std::thread b(worker, robot_, 37, std::ref(out_b));
  a.join();
  b.join();
  EXPECT_EQ(out_a, expected_nle);
  EXPECT_EQ(out_b, expected_nle);
  PinocchioInterface assigned(testDataFile("spider.urdf"));
  assigned = robot_;
  assigned.updateRobotState(states[0].qpos, states[0].qvel);
  EXPECT_EQ(assigned.nle(), expected_nle[0]);
  EXPECT_EQ(robot_.qpos(), last_qpos) << "a copy's update changed the original";
}

}  // namespace
}  // namespace velmora::test
