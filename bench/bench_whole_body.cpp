// Whole-body controller: one full optimize() (model queries, blocks, QP, joint commands) on the
// bundled robot, standing on four feet and trotting. Every iteration gets a different measured
// state from a precomputed set (a slow sway with joint motion), as the running controller does.

#include <benchmark/benchmark.h>

#include <cmath>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <rclcpp/rclcpp.hpp>

#include "../tests/BundledRobot.h"
#include "common/TrajectoriesBuffer.h"
#include "control/WholeBodyController.h"
#include "core/trajectory/CubicSplineTrajectory.h"
#include "description/ModelInfoLoader.h"
#include "pinocchio/PinocchioInterface.h"

namespace velmora {
namespace {

using test::kestrelFile;

std::shared_ptr<CubicSplineTrajectory> holdAt(const vector3_t& value, double now_s) {
  return std::make_shared<CubicSplineTrajectory>(
      CubicSplineTrajectory::constant(value, now_s - 1000.0, now_s + 1000.0));
}

/// optimize() with contact mode `mode_a` on even and `mode_b` on odd iterations.
void BM_WholeBodyOptimize(::benchmark::State& state, size_t mode_a, size_t mode_b) {
  if (!rclcpp::ok()) {
    rclcpp::init(0, nullptr);
  }
  auto node = std::make_shared<rclcpp::Node>("bench_whole_body");
  auto model = std::make_shared<PinocchioInterface>(kestrelFile("robot.urdf"));
  auto info = std::make_shared<ModelInfo>(loadModelInfo(kestrelFile("description.info"), *model));
  WholeBodyController wbc(node, info, model);
  wbc.loadParamsSetting(kestrelFile("params.info"), false);

  // Measured states: the standing pose with a slow sway and joint motion.
  constexpr int kStates = 64;
  std::vector<std::shared_ptr<vector_t>> qpos(kStates), qvel(kStates);
  for (int k = 0; k < kStates; ++k) {
    const double phase = 2.0 * M_PI * k / kStates;
    vector_t q(model->Nq());
    q << info->base_init_pos + vector3_t(0.01 * std::sin(phase), 0.01 * std::cos(phase), 0.0), 0.0,
        0.0, 0.02 * std::sin(phase), 1.0, info->joints_init_pos;
    q.tail(12).array() += 0.05 * std::sin(phase);
    vector_t v = vector_t::Zero(model->Nv());
    v.head(6) << 0.1 * std::cos(phase), -0.1 * std::sin(phase), 0.0, 0.0, 0.0, 0.05;
    v.tail(12).setConstant(0.3 * std::cos(phase));
    qpos[k] = std::make_shared<vector_t>(q);
    qvel[k] = std::make_shared<vector_t>(v);
  }

  // References: base held at the standing pose, feet held below their hips, swing feet 5 cm up.
  model->updateRobotState(*qpos[0], *qvel[0]);
  const double now = node->now().seconds();
  auto refs = std::make_shared<TrajectoriesBuffer>();
  const vector3_t base = info->base_init_pos;
  refs->set_base_pos_traj(holdAt(base, now));
  refs->set_base_pos_ref_traj(holdAt(base, now));
  refs->set_base_rpy_traj(holdAt(vector3_t::Zero(), now));
  std::map<std::string, std::shared_ptr<CubicSplineTrajectory>> feet;
  for (const auto& foot : info->foot_name) {
    feet[foot] = holdAt(model->getFramePose(foot).translation() + vector3_t(0, 0, 0.05), now);
  }
  refs->set_foot_pos_traj(feet);

  auto policy = std::make_shared<CtrlData>();
  policy->a = matrix_t::Zero(6, 12);
  policy->a.block(0, 0, 3, 3) = -100.0 * matrix_t::Identity(3, 3);
  policy->a.block(0, 3, 3, 3) = -20.0 * matrix_t::Identity(3, 3);
  policy->a.block(3, 6, 3, 3) = -150.0 * matrix_t::Identity(3, 3);
  policy->b = vector_t::Zero(6);
  wbc.update_trajectory_reference(refs);
  wbc.update_control_data(policy);

  size_t iteration = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const int k = static_cast<int>(iteration % kStates);
    wbc.update_state(qpos[k], qvel[k]);
    wbc.update_mode(iteration % 2 == 0 ? mode_a : mode_b);
    ++iteration;
    state.ResumeTiming();
    ::benchmark::DoNotOptimize(wbc.optimize());
  }
  state.counters["failed_solves"] = static_cast<double>(wbc.numFailedSolves());
}

BENCHMARK_CAPTURE(BM_WholeBodyOptimize, all_stance, 15, 15)
    ->Unit(::benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(BM_WholeBodyOptimize, trot, 9, 6)
    ->Unit(::benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace
}  // namespace velmora
