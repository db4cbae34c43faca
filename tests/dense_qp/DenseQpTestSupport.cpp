#include "DenseQpTestSupport.h"

#include <map>
#include <string>

#include <rclcpp/rclcpp.hpp>

#include "../BundledRobot.h"
#include "common/TrajectoriesBuffer.h"
#include "control/WholeBodyController.h"
#include "core/trajectory/CubicSplineTrajectory.h"
#include "description/ModelInfoLoader.h"
#include "pinocchio/PinocchioInterface.h"

namespace velmora::dense_qp::test {

struct WholeBodyProblems::Rig {
  std::shared_ptr<rclcpp::Node> node;
  std::shared_ptr<PinocchioInterface> model;
  std::shared_ptr<ModelInfo> info;
  std::unique_ptr<WholeBodyController> controller;
  vector_t qpos;
  std::mt19937 rng{1990};
};

WholeBodyProblems::WholeBodyProblems() : rig_(std::make_unique<Rig>()) {
  if (!rclcpp::ok()) rclcpp::init(0, nullptr);
  Rig& r = *rig_;
  r.node = std::make_shared<rclcpp::Node>("whole_body_problems");
  r.model = std::make_shared<PinocchioInterface>(velmora::test::kestrelFile("robot.urdf"));
  r.info = std::make_shared<ModelInfo>(
      loadModelInfo(velmora::test::kestrelFile("description.info"), *r.model));
  r.controller = std::make_unique<WholeBodyController>(r.node, r.info, r.model);
  r.controller->loadParamsSetting(velmora::test::kestrelFile("params.info"), false);
  r.qpos = vector_t::Zero(r.model->Nq());
  r.qpos << r.info->base_init_pos, r.info->base_init_quat, r.info->joints_init_pos;

  // References: the base held at the standing pose, every foot 5 cm above where it stands.
  r.model->updateRobotState(r.qpos, vector_t::Zero(r.model->Nv()));
  const double now = r.node->now().seconds();
  auto hold = [now](const vector3_t& value) {
    return std::make_shared<CubicSplineTrajectory>(
        CubicSplineTrajectory::constant(vector_t(value), now - 1e4, now + 1e4));
  };
  auto references = std::make_shared<TrajectoriesBuffer>();
  references->set_base_pos_traj(hold(r.info->base_init_pos));
  references->set_base_pos_ref_traj(hold(r.info->base_init_pos));
  references->set_base_rpy_traj(hold(vector3_t::Zero()));
  std::map<std::string, std::shared_ptr<CubicSplineTrajectory>> feet;
  for (const auto& foot : r.info->foot_name) {
    feet[foot] = hold(r.model->getFramePose(foot).translation() + vector3_t(0, 0, 0.05));
  }
  references->set_foot_pos_traj(feet);
  r.controller->update_trajectory_reference(references);
}

WholeBodyProblems::~WholeBodyProblems() = default;

DenseQp WholeBodyProblems::build(size_t mode, double demand, Eigen::VectorXd& feasible_x) {
  Rig& r = *rig_;
  std::normal_distribution<double> normal(0.0, 1.0);
  auto q = std::make_shared<vector_t>(r.qpos);
  auto v = std::make_shared<vector_t>(vector_t::Zero(r.model->Nv()));
  for (int j = 0; j < 3; ++j) (*q)(j) += 0.01 * normal(r.rng);
  q->segment<4>(3) = (Eigen::AngleAxisd(0.3 * normal(r.rng), Eigen::Vector3d::UnitZ()) *
                      Eigen::AngleAxisd(0.05 * normal(r.rng), Eigen::Vector3d::UnitY()) *
                      Eigen::AngleAxisd(0.05 * normal(r.rng), Eigen::Vector3d::UnitX()))
                         .coeffs();
  for (Eigen::Index j = 7; j < q->size(); ++j) (*q)(j) += 0.1 * normal(r.rng);
  for (Eigen::Index j = 0; j < v->size(); ++j) (*v)(j) = 0.3 * normal(r.rng);

  // A policy with the base demand as its constant part: acc = a x + b.
  auto policy = std::make_shared<CtrlData>();
  policy->a = matrix_t::Zero(6, 12);
  policy->b = vector_t(6);
  for (int j = 0; j < 6; ++j) policy->b(j) = demand * (j < 3 ? 2.0 : 4.0) * normal(r.rng);

  r.controller->update_state(q, v);
  r.controller->update_mode(mode);
  r.controller->update_control_data(policy);
  r.controller->optimize();
  const MatrixDB& task = r.controller->weighedTaskBlock();
  const MatrixDB& rows = r.controller->constraintBlock();
  DenseQp qp;
  qp.H = task.A.transpose() * task.A;
  qp.H.diagonal().array() += 1e-8;
  qp.g = -task.A.transpose() * task.b;
  qp.A = rows.A;
  qp.b = rows.b;
  qp.C = rows.C;
  qp.l = rows.lb;
  qp.u = rows.ub;
  const Eigen::Index nv = r.model->Nv();
  feasible_x.setZero(qp.H.rows());
  feasible_x.head(nv) = qp.A.leftCols(nv).colPivHouseholderQr().solve(qp.b);
  return qp;
}

}  // namespace velmora::dense_qp::test
