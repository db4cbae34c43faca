// PinocchioInterface against MuJoCo loading the same URDF at random states, then state
// validation, independent copies running concurrently, and updates that allocate nothing.

#include <atomic>
#include <cstddef>
#include <limits>
#include <memory>
#include <thread>
#include <tuple>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <mujoco/mujoco.h>

#include "RobotTestSupport.h"
#include "pinocchio/PinocchioInterface.h"

// Allocations are counted by interposing malloc, which operator new and Eigen both end in (glibc
// provides __libc_malloc). A sanitizer owns malloc itself; there the allocation test skips.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VELMORA_SANITIZER_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VELMORA_SANITIZER_ALLOCATOR 1
#endif
#endif

namespace {
std::atomic<long> allocation_count{0};
}  // namespace

#ifndef VELMORA_SANITIZER_ALLOCATOR
extern "C" void* __libc_malloc(std::size_t size);
extern "C" void* malloc(std::size_t size) {
  ++allocation_count;
  return __libc_malloc(size);
}
#endif

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
        data_(nullptr, mj_deleteData),
        T_(matrix_t::Zero(model.nv, model.nv)) {
    if (!model_) throw std::runtime_error("MuJoCo cannot load " + urdf);
    data_.reset(mj_makeData(model_.get()));
    model_->opt.disableflags |= mjDSBL_CONSTRAINT | mjDSBL_CONTACT | mjDSBL_PASSIVE;
    for (int j = 2; j < model.njoints; ++j) {
      const int id = mj_name2id(model_.get(), mjOBJ_JOINT, model.names[j].c_str());
      if (id < 0) throw std::runtime_error("MuJoCo model of " + urdf + " lacks " + model.names[j]);
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
  std::vector<std::string> bodies;  // link frames, MuJoCo bodies of the same name
  /// (velmora frame, MuJoCo body at the same place): joint frames (at the child link's origin)
  /// and frames of fixed joints.
  std::vector<std::pair<std::string, std::string>> aliases;
};

void PrintTo(const RobotCase& robot, std::ostream* out) { *out << robot.name; }

class VersusMujoco : public ::testing::TestWithParam<RobotCase> {
 protected:
  static constexpr scalar_t kTolerance = 1e-8;
  PinocchioInterface robot_{GetParam().urdf};
  MujocoReference mujoco_{GetParam().urdf, robot_.getModel()};
};

TEST_P(VersusMujoco, DynamicsAndFrameKinematicsAtRandomStates) {
  std::mt19937 rng(1234);
  matrix6x_t J_world_aligned, J_local;
  std::vector<std::pair<std::string, std::string>> frames = GetParam().aliases;
  for (const std::string& body : GetParam().bodies) frames.push_back({body, body});
  for (int k = 0; k < 100; ++k) {
    // Every tenth state at rest, where the nonlinear effects are gravity alone.
    const RandomState state = randomState(robot_.getModel(), rng, k % 10 == 0 ? 0.0 : 2.0);
    robot_.updateRobotState(state.qpos, state.qvel);
    mujoco_.setState(state.qpos, state.qvel);
    SCOPED_TRACE("state " + std::to_string(k));
    const rigid_body::Data& data = robot_.getData();
    ASSERT_TRUE(relativelyNear(data.M, mujoco_.massMatrix(), kTolerance));
    ASSERT_TRUE(relativelyNear(robot_.nle(), mujoco_.nonlinearEffects(), kTolerance));
    ASSERT_NEAR(robot_.total_mass(), mujoco_.totalMass(), kTolerance);
    ASSERT_TRUE(relativelyNear(data.com[0], mujoco_.centerOfMass(), kTolerance));
    // The base block of M is the whole robot's inertia in base coordinates.
    ASSERT_TRUE(relativelyNear(data.Ig.transformedBy(data.oMi[1].inverse()).matrix(),
                               data.M.topLeftCorner<6, 6>(), kTolerance));
    for (const auto& [frame, body] : frames) {
      SCOPED_TRACE("state " + std::to_string(k) + ", frame " + frame);
      // Every query by name on even states, by id on odd ones.
      const int id = robot_.getFrameId(frame);
      const bool by_id = k % 2 == 1;
      const rigid_body::SE3 pose = by_id ? robot_.getFramePose(id) : robot_.getFramePose(frame);
      ASSERT_TRUE(relativelyNear(pose.rotation(), mujoco_.bodyPose(body).rotation(), kTolerance));
      ASSERT_TRUE(
          relativelyNear(pose.translation(), mujoco_.bodyPose(body).translation(), kTolerance));
      const matrix6x_t expected_J = mujoco_.bodyJacobian(body);
      const rigid_body::Motion velocity = by_id ? robot_.getFrame6dVel_localWorldAligned(id)
                                                : robot_.getFrame6dVel_localWorldAligned(frame);
      ASSERT_TRUE(relativelyNear(velocity.toVector(), expected_J * robot_.qvel(), kTolerance));
      by_id ? robot_.getJacobia_localWorldAligned(id, J_world_aligned)
            : robot_.getJacobia_localWorldAligned(frame, J_world_aligned);
      by_id ? robot_.getJacobia_local(id, J_local) : robot_.getJacobia_local(frame, J_local);
      // Local quantities are the world-aligned ones in the frame's own axes.
      Eigen::Matrix<scalar_t, 6, 6> to_local = Eigen::Matrix<scalar_t, 6, 6>::Zero();
      to_local.topLeftCorner<3, 3>() = to_local.bottomRightCorner<3, 3>() =
          pose.rotation().transpose();
      ASSERT_TRUE(relativelyNear(J_world_aligned, expected_J, kTolerance));
      ASSERT_TRUE(relativelyNear(J_local, to_local * expected_J, kTolerance));
      const vector6_t drift = mujoco_.bodyDriftAcceleration(body);
      const rigid_body::Motion acceleration = by_id ? robot_.getFrame6dAcc_localWorldAligned(id)
                                                    : robot_.getFrame6dAcc_localWorldAligned(frame);
      const rigid_body::Motion acceleration_local =
          by_id ? robot_.getFrame6dAcc_local(id) : robot_.getFrame6dAcc_local(frame);
      ASSERT_TRUE(relativelyNear(acceleration.toVector(), drift, kTolerance));
      ASSERT_TRUE(relativelyNear(acceleration_local.toVector(), to_local * drift, kTolerance));
    }
  }
}

const RobotCase kKestrel{
    "kestrel",
    kestrelFile("robot.urdf"),
    {"trunk", "FL_hip", "FL_thigh", "FL_foot", "FR_foot", "RL_foot", "RR_foot"},
    {{"RL_calf_joint", "RL_calf"}, {"FR_foot_fixed", "FR_foot"}}};
const RobotCase kSpider{"spider",
                        testDataFile("spider.urdf"),
                        {"body", "sensor", "upper_arm", "tool", "hand", "leg_tip"},
                        {{"sensor_mount", "sensor"}, {"b_slider", "slide"}}};
INSTANTIATE_TEST_SUITE_P(Robots, VersusMujoco, ::testing::Values(kKestrel, kSpider),
                         [](const auto& info) { return info.param.name; });

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
  std::vector<std::tuple<vector_t, vector_t, std::vector<std::string>>> cases = {
      {vector_t::Zero(18), good.qvel, {"qpos", "size 18, expected 19"}},
      {good.qpos, vector_t::Zero(19), {"qvel", "size 19, expected 18"}},
      {good.qpos, good.qvel, {"qpos", "entry 9", "not finite"}},
      {good.qpos, good.qvel, {"qvel", "entry 0", "not finite"}},
      {good.qpos, good.qvel, {"quaternion", "zero"}}};
  std::get<0>(cases[2])[9] = std::numeric_limits<scalar_t>::quiet_NaN();
  std::get<1>(cases[3])[0] = std::numeric_limits<scalar_t>::infinity();
  std::get<0>(cases[4]).segment<4>(3).setZero();
  for (const auto& [qpos, qvel, words] : cases) {
    try {
      robot_.updateRobotState(qpos, qvel);
      ADD_FAILURE() << "accepted, expected an error naming " << words[0];
    } catch (const std::invalid_argument& error) {
      for (const std::string& word : words) EXPECT_THAT(error.what(), HasSubstr(word));
    }
    EXPECT_EQ(robot_.qpos(), previous);
  }
}

TEST_F(PinocchioInterfaceTest, NormalisesTheQuaternionAndNamesUnknownFrames) {
  const RandomState state = nextState();
  vector_t scaled = state.qpos;
  scaled.segment<4>(3) *= 7.0;
  robot_.updateRobotState(scaled, state.qvel);
  EXPECT_TRUE(relativelyNear(robot_.qpos(), state.qpos, 1e-15));
  matrix6x_t J;
  EXPECT_THROW(robot_.getJacobia_local(robot_.getModel().nframes, J), std::out_of_range);
  EXPECT_THAT([&] { robot_.getFramePose("FL_toe"); },
              ::testing::ThrowsMessage<std::invalid_argument>(HasSubstr("'FL_toe'")));
}

TEST_F(PinocchioInterfaceTest, CopiesAreDeepAndRunConcurrently) {
  std::vector<RandomState> states(100);
  std::vector<vector_t> expected(states.size());
  for (std::size_t k = 0; k < states.size(); ++k) {
    states[k] = nextState();
    robot_.updateRobotState(states[k].qpos, states[k].qvel);
    expected[k] = robot_.nle();
  }
  std::vector<std::vector<vector_t>> results(2, std::vector<vector_t>(states.size()));
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < results.size(); ++t) {
    threads.emplace_back([&, t, copy = robot_]() mutable {
      for (std::size_t k = 0; k < states.size(); ++k) {
        const std::size_t index = (k + 37 * t) % states.size();
        copy.updateRobotState(states[index].qpos, states[index].qvel);
        results[t][index] = copy.nle();
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(results, decltype(results)(2, expected));
  EXPECT_EQ(robot_.nle(), expected.back()) << "a copy's update changed the original";
}

TEST_F(PinocchioInterfaceTest, UpdatesWithTheCallersVectorsAndQueriesAllocateNothing) {
#ifdef VELMORA_SANITIZER_ALLOCATOR
  GTEST_SKIP() << "the sanitizer owns malloc";
#endif
  std::vector<RandomState> states;
  for (int k = 0; k < 20; ++k) states.push_back(nextState());
  matrix6x_t J(6, robot_.Nv());
  const int foot = robot_.getFrameId("FL_foot");
  long before = allocation_count.load();
  const vector_t copy = states[0].qpos;  // the counter sees Eigen's allocations
  EXPECT_GT(allocation_count.load(), before);
  before = allocation_count.load();
  for (const RandomState& state : states) {  // lvalues, as the controllers pass their state
    robot_.updateRobotState(state.qpos, state.qvel);
    robot_.getFramePose("RR_foot");
    robot_.getFrame6dVel_localWorldAligned(foot);
    robot_.getJacobia_localWorldAligned(foot, J);
    robot_.getJacobia_local("RL_foot", J);
  }
  EXPECT_EQ(allocation_count.load(), before);
}

}  // namespace
}  // namespace velmora::test
