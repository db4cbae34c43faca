// Robot model benchmarks on the bundled quadruped.

#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "pinocchio/PinocchioInterface.h"

namespace {

using velmora::matrix6x_t;
using velmora::PinocchioInterface;
using velmora::scalar_t;
using velmora::vector_t;

struct RobotStates {
  std::vector<vector_t> qpos;
  std::vector<vector_t> qvel;
};

/// Random states (unit quaternion, joints and velocities normal), cycled through by the loops.
RobotStates randomStates(const PinocchioInterface& robot, int count) {
  std::mt19937 rng(42);
  std::normal_distribution<scalar_t> normal(0.0, 1.0);
  RobotStates states;
  for (int k = 0; k < count; ++k) {
    vector_t qpos(robot.Nq()), qvel(robot.Nv());
    for (Eigen::Index i = 0; i < qpos.size(); ++i) qpos[i] = normal(rng);
    for (Eigen::Index i = 0; i < qvel.size(); ++i) qvel[i] = normal(rng);
    qpos.segment<4>(3).normalize();
    states.qpos.push_back(qpos);
    states.qvel.push_back(qvel);
  }
  return states;
}

const std::string kKestrelUrdf = std::string(VELMORA_ROBOTS_DIR) + "/kestrel/robot.urdf";

/// One full update: kinematics, all frames, joint Jacobians, mass matrix, nonlinear effects,
/// centroidal inertia, with the state passed as the controllers pass it (their own vectors).
void BM_UpdateRobotState(::benchmark::State& state) {
  PinocchioInterface robot(kKestrelUrdf);
  const RobotStates states = randomStates(robot, 64);
  std::size_t k = 0;
  for (auto _ : state) {
    const std::size_t index = k++ % states.qpos.size();
    robot.updateRobotState(states.qpos[index], states.qvel[index]);
    ::benchmark::DoNotOptimize(robot.getData().M.data());
    ::benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_UpdateRobotState);

/// One foot Jacobian in world-aligned axes after an update (by frame name, as the controller
/// asks for it).
void BM_FrameJacobianLocalWorldAligned(::benchmark::State& state) {
  PinocchioInterface robot(kKestrelUrdf);
  const RobotStates states = randomStates(robot, 1);
  robot.updateRobotState(states.qpos[0], states.qvel[0]);
  matrix6x_t J(6, robot.Nv());
  const std::string foot = "RR_foot";
  for (auto _ : state) {
    robot.getJacobia_localWorldAligned(foot, J);
    ::benchmark::DoNotOptimize(J.data());
    ::benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_FrameJacobianLocalWorldAligned);

}  // namespace
