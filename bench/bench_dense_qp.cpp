// Whole-body QP as the whole-body controller solves it every cycle: a fresh MathematicalProgram
// built from the controller's stacked constraint rows and the Hessian of its task rows
// (1/2 |A x - b|^2 + 1e-8/2 |x|^2), solved from scratch. The instances are taken from
// WholeBodyController on the bundled robot: random states near the standing pose, swing feet
// asked to move 5 cm up, random base acceleration demands.

#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <rclcpp/rclcpp.hpp>

#include "../tests/BundledRobot.h"
#include "common/TrajectoriesBuffer.h"
#include "control/WholeBodyController.h"
#include "core/optimization/MathematicalProgram.h"
#include "core/trajectory/CubicSplineTrajectory.h"
#include "dense_qp/DenseQp.h"
#include "description/ModelInfoLoader.h"
#include "pinocchio/PinocchioInterface.h"

namespace velmora {
namespace {

/// 64 instances: all four feet in stance (mode 15), or a trot alternating modes 9 and 6, with
/// base acceleration demands of about `demand` times 2 m/s^2 and 4 rad/s^2 per axis.
std::vector<dense_qp::DenseQp> makeSequence(bool trot, double demand) {
  if (!rclcpp::ok()) rclcpp::init(0, nullptr);
  auto node = std::make_shared<rclcpp::Node>("bench_dense_qp");
  auto model = std::make_shared<PinocchioInterface>(test::kestrelFile("robot.urdf"));
  auto info =
      std::make_shared<ModelInfo>(loadModelInfo(test::kestrelFile("description.info"), *model));
  WholeBodyController controller(node, info, model);
  controller.loadParamsSetting(test::kestrelFile("params.info"), false);
  vector_t qpos(model->Nq());
  qpos << info->base_init_pos, info->base_init_quat, info->joints_init_pos;
  model->updateRobotState(qpos, vector_t::Zero(model->Nv()));

  const double now = node->now().seconds();
  auto hold = [now](const vector3_t& value) {
    return std::make_shared<CubicSplineTrajectory>(
        CubicSplineTrajectory::constant(vector_t(value), now - 1e4, now + 1e4));
  };
  auto references = std::make_shared<TrajectoriesBuffer>();
  references->set_base_pos_traj(hold(info->base_init_pos));
  references->set_base_pos_ref_traj(hold(info->base_init_pos));
  references->set_base_rpy_traj(hold(vector3_t::Zero()));
  std::map<std::string, std::shared_ptr<CubicSplineTrajectory>> feet;
  for (const auto& foot : info->foot_name) {
    feet[foot] = hold(model->getFramePose(foot).translation() + vector3_t(0, 0, 0.05));
  }
  references->set_foot_pos_traj(feet);
  controller.update_trajectory_reference(references);

  std::mt19937 rng(trot ? 2024 : 1990);
  std::normal_distribution<double> normal(0.0, 1.0);
  std::vector<dense_qp::DenseQp> sequence;
  for (int k = 0; k < 64; ++k) {
    auto q = std::make_shared<vector_t>(qpos);
    auto v = std::make_shared<vector_t>(vector_t::Zero(model->Nv()));
    for (int j = 0; j < 3; ++j) (*q)(j) += 0.01 * normal(rng);
    q->segment<4>(3) = (Eigen::AngleAxisd(0.3 * normal(rng), Eigen::Vector3d::UnitZ()) *
                        Eigen::AngleAxisd(0.05 * normal(rng), Eigen::Vector3d::UnitY()) *
                        Eigen::AngleAxisd(0.05 * normal(rng), Eigen::Vector3d::UnitX()))
                           .coeffs();
    for (Eigen::Index j = 7; j < q->size(); ++j) (*q)(j) += 0.1 * normal(rng);
    for (Eigen::Index j = 0; j < v->size(); ++j) (*v)(j) = 0.3 * normal(rng);
    auto policy = std::make_shared<CtrlData>();  // acc = a x + b with the demand in b
    policy->a = matrix_t::Zero(6, 12);
    policy->b = vector_t(6);
    for (int j = 0; j < 6; ++j) policy->b(j) = demand * (j < 3 ? 2.0 : 4.0) * normal(rng);
    controller.update_state(q, v);
    controller.update_mode(trot ? (k % 2 == 0 ? 9 : 6) : 15);
    controller.update_control_data(policy);
    controller.optimize();

    const MatrixDB& task = controller.weighedTaskBlock();
    const MatrixDB& rows = controller.constraintBlock();
    dense_qp::DenseQp qp;
    qp.H = task.A.transpose() * task.A;
    qp.H.diagonal().array() += 1e-8;
    qp.g = -task.A.transpose() * task.b;
    qp.A = rows.A;
    qp.b = rows.b;
    qp.C = rows.C;
    qp.l = rows.lb;
    qp.u = rows.ub;
    sequence.push_back(qp);
  }
  return sequence;
}

/// Arguments: trot 0 = all stance (18 equality, 32 inequality rows), 1 = trot (24, 22); demand
/// scale 1 or 15.
void BM_DenseQpWholeBodyShape(::benchmark::State& state) {
  const bool trot = state.range(0) == 1;
  const std::vector<dense_qp::DenseQp> sequence =
      makeSequence(trot, static_cast<double>(state.range(1)));
  size_t next = 0;
  int64_t failures = 0, iterations = 0, solves = 0;
  for (auto _ : state) {
    const dense_qp::DenseQp& qp = sequence[next];
    next = (next + 1) % sequence.size();
    MathematicalProgram program;
    const VectorVariables vars = program.newVectorVariables(qp.numVariables());
    program.addLinearEqualityConstraints(qp.A, qp.b, vars);
    program.addLinearInEqualityConstraints(qp.C, qp.l, qp.u, vars);
    program.addQuadraticCost(qp.H, qp.g, vars);
    if (program.solve()) {
      ::benchmark::DoNotOptimize(program.getSolution(vars));
    } else {
      ++failures;
    }
    iterations += program.info().iterations;
    ++solves;
  }
  state.counters["failures"] = static_cast<double>(failures);
  state.counters["ipm_iterations"] =
      solves > 0 ? static_cast<double>(iterations) / static_cast<double>(solves) : 0.0;
  state.SetLabel(trot ? "trot" : "all stance");
}
BENCHMARK(BM_DenseQpWholeBodyShape)
    ->ArgNames({"trot", "demand"})
    ->Args({0, 1})
    ->Args({1, 1})
    ->Args({0, 15})
    ->Args({1, 15})
    ->Unit(::benchmark::kMicrosecond);

}  // namespace
}  // namespace velmora
