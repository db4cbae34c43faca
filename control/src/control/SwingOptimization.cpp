// Joint tracking QP: stage construction, solve and policy.
//
// Stage k < N, linearised along the reference motion at t_k (M_jj: actuated-joint block of the
// joint-space inertia matrix at the reference state, h: its joint nonlinear effects, a_ref: the
// reference joint acceleration):
//   x_{k+1} = [I, dt I; 0, I] x_k + [0; dt M_jj^-1] u_k + [0; -dt (M_jj^-1 h + a_ref)]
// Costs: Q = diag(100 I, 20 I) (x 100 at stage N), R = 1e-4 I, no linear or cross terms.
// Bounds: -effortLimit <= u <= effortLimit for every joint the model knows.

#include "control/SwingOptimization.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>

#include "pinocchio/Orientation.h"

namespace velmora {
namespace {

constexpr scalar_t kStageLength_s = 0.02;
constexpr scalar_t kPositionErrorWeight = 100.0;
constexpr scalar_t kVelocityErrorWeight = 20.0;
constexpr scalar_t kTerminalWeightScale = 100.0;
constexpr scalar_t kTorqueWeight = 1e-4;
constexpr scalar_t kFallbackStiffness = 10.0;  // [N m / rad]
constexpr scalar_t kFallbackDamping = 0.5;     // [N m s / rad]
// Reference times live on the node clock (about 1.7e9 s since the epoch), where one unit in
// the last place is about 2.4e-7 s; a duration of a whole number of stages must not lose its
// last stage to that rounding.
constexpr scalar_t kDurationRounding_s = 1e-6;

void check_dimension(const CubicSplineTrajectory& trajectory, Eigen::Index expected,
                     const char* name) {
  if (trajectory.dimension() != expected) {
    std::ostringstream msg;
    msg << "SwingOptimization: the " << name << " trajectory has dimension "
        << trajectory.dimension() << ", expected " << expected;
    throw std::invalid_argument(msg.str());
  }
}

}  // namespace

ocp_qp::OcpQpIpmSolverSettings SwingOptimization::standardSolverSettings() {
  ocp_qp::OcpQpIpmSolverSettings settings;
  settings.mode = ocp_qp::SolverMode::Speed;
  settings.iter_max = 30;
  settings.alpha_min = 1e-8;
  settings.mu0 = 100.0;
  settings.tol_stat = 1e-4;
  settings.tol_eq = 1e-4;
  settings.tol_ineq = 1e-4;
  settings.tol_comp = 1e-4;
  settings.reg_prim = 1e-12;
  settings.warm_start = 0;
  settings.pred_corr = 1;
  settings.ric_alg = 0;
  settings.split_step = 1;
  return settings;
}

SwingOptimization::SwingOptimization(std::shared_ptr<rclcpp::Node> nodeHandle,
                                     const ModelInfo& modelInfo,
                                     const PinocchioInterface& pinocchioInterface)
    : SwingOptimization(std::move(nodeHandle), modelInfo, pinocchioInterface,
                        standardSolverSettings()) {}

SwingOptimization::SwingOptimization(std::shared_ptr<rclcpp::Node> nodeHandle,
                                     const ModelInfo& modelInfo,
                                     const PinocchioInterface& pinocchioInterface,
                                     const ocp_qp::OcpQpIpmSolverSettings& settings)
    : nodeHandle_(std::move(nodeHandle)),
      modelInfo_(modelInfo),
      pinocchioInterface_(pinocchioInterface),
      pinocchioInterface_map_(pinocchioInterface),
      dt_(kStageLength_s),
      solver_settings(settings) {
  if (!nodeHandle_) {
    throw std::invalid_argument("SwingOptimization: the node handle is empty");
  }
  const auto nj = static_cast<Eigen::Index>(num_joints());
  if (nj == 0 || modelInfo_.joints_nominal_pos.size() != nj || 7 + nj > pinocchioInterface_.Nq()) {
    std::ostringstream msg;
    msg << "SwingOptimization: joints_name has " << nj << " entries, joints_nominal_pos "
        << modelInfo_.joints_nominal_pos.size() << ", the robot model "
        << pinocchioInterface_.Nq() - 7
        << " actuated joints; the two lists must have the same non-zero length, at most the "
           "model's";
    throw std::invalid_argument(msg.str());
  }
  weight_.setZero(2 * nj, 2 * nj);
  weight_.diagonal().head(nj).setConstant(kPositionErrorWeight);
  weight_.diagonal().tail(nj).setConstant(kVelocityErrorWeight);
  solver_settings.warm_start = 0;
}

SwingOptimization::~SwingOptimization() = default;

void SwingOptimization::update_state(std::shared_ptr<vector_t> qpos_ptr,
                                     std::shared_ptr<vector_t> qvel_ptr) {
  if (!qpos_ptr || !qvel_ptr) {
    throw std::invalid_argument("SwingOptimization::update_state: empty state pointer");
  }
  pinocchioInterface_.updateRobotState(*qpos_ptr, *qvel_ptr);
}

void SwingOptimization::update_trajectory_reference(
    std::shared_ptr<const TrajectoriesBuffer> referenceTrajectoriesPtr) {
  referenceTrajectoriesPtrBuffer_.push(std::move(referenceTrajectoriesPtr));
}

void SwingOptimization::update_mode_schedule(std::shared_ptr<ModeSchedule> mode_schedule) {
  mode_schedule_buffer.push(std::move(mode_schedule));
}

scalar_t SwingOptimization::now_s() const { return nodeHandle_->now().seconds(); }

void SwingOptimization::check_references(const StageReferences& refs) const {
  check_dimension(*refs.base_pos, 3, "base position");
  check_dimension(*refs.base_rpy, 3, "base roll-pitch-yaw");
  check_dimension(*refs.joint_pos, static_cast<Eigen::Index>(num_joints()), "joint position");
}

void SwingOptimization::get_dynamics(size_t k) {
  const scalar_t time_k = now_s() + static_cast<scalar_t>(k) * dt_;
  const auto nj = modelInfo_.joints_nominal_pos.size();

  const vector_t rpy_des = stage_refs_.base_rpy->evaluate(time_k);
  const vector_t rpy_dot_des = stage_refs_.base_rpy->derivative(time_k, 1);
  const vector_t base_pos_des = stage_refs_.base_pos->evaluate(time_k);
  const vector_t base_vel_des = stage_refs_.base_pos->derivative(time_k, 1);
  const vector_t jnt_pos_des = stage_refs_.joint_pos->evaluate(time_k);
  const vector_t jnt_vel_des = stage_refs_.joint_pos->derivative(time_k, 1);
  const vector_t jnt_acc_des = stage_refs_.joint_pos->derivative(time_k, 2);

  // Reference state; the model takes the base velocity in base axes.
  const Eigen::Quaternion<scalar_t> quat_des = toQuaternion(vector3_t(rpy_des));
  const matrix3_t R_world_base = quat_des.toRotationMatrix();
  const vector3_t omega_world = getJacobiFromRPYToOmega(vector3_t(rpy_des)) * rpy_dot_des;
  vector_t qpos_map = vector_t::Zero(pinocchioInterface_map_.Nq());
  vector_t qvel_map = vector_t::Zero(pinocchioInterface_map_.Nv());
  qpos_map.head<3>() = base_pos_des;
  qpos_map.segment<4>(3) = quat_des.coeffs();  // x, y, z, w
  qvel_map.head<3>() = R_world_base.transpose() * base_vel_des;
  qvel_map.segment<3>(3) = R_world_base.transpose() * omega_world;
  qpos_map.tail(nj) = jnt_pos_des;
  qvel_map.tail(nj) = jnt_vel_des;
  pinocchioInterface_map_.updateRobotState(std::move(qpos_map), std::move(qvel_map));

  const matrix_t M_inv = pinocchioInterface_map_.getData().M.bottomRightCorner(nj, nj).inverse();
  const auto h = pinocchioInterface_map_.nle().tail(nj);

  ocp_qp::OcpQp& stage = ocp_[k];
  stage.A.setIdentity(2 * nj, 2 * nj);
  stage.A.topRightCorner(nj, nj).diagonal().setConstant(dt_);
  stage.B.setZero(2 * nj, nj);
  stage.B.bottomRows(nj) = dt_ * M_inv;
  stage.b.setZero(2 * nj);
  stage.b.tail(nj) = -dt_ * (M_inv * h + jnt_acc_des);
}

void SwingOptimization::get_inequality_constraints(size_t k, size_t N) {
  if (k >= N) {
    return;
  }
  const auto nj = modelInfo_.joints_nominal_pos.size();
  const auto& model = pinocchioInterface_.getModel();
  const auto effort_limit = model.effortLimit.tail(nj);

  ocp_qp::OcpQp& stage = ocp_[k];
  stage.idxbu.clear();
  for (Eigen::Index i = 0; i < nj; ++i) {
    if (model.existJointName(modelInfo_.joints_name[static_cast<size_t>(i)])) {
      stage.idxbu.push_back(static_cast<int>(i));
    }
  }
  // Entry m of the bounds and masks belongs to input idxbu[m]; unknown joints stay unbounded.
  const auto nb = static_cast<Eigen::Index>(stage.idxbu.size());
  stage.lbu.resize(nb);
  stage.ubu.resize(nb);
  for (Eigen::Index m = 0; m < nb; ++m) {
    const scalar_t limit = effort_limit(stage.idxbu[static_cast<size_t>(m)]);
    stage.lbu(m) = -limit;
    stage.ubu(m) = limit;
  }
  stage.lbu_mask.setOnes(nb);
  stage.ubu_mask.setOnes(nb);
}

void SwingOptimization::get_costs(size_t k, size_t N) {
  const auto nj = static_cast<Eigen::Index>(num_joints());
  ocp_qp::OcpQp& stage = ocp_[k];
  stage.Q = weight_;
  stage.S.setZero(nj, 2 * nj);
  stage.q.setZero(2 * nj);
  stage.r.setZero(nj);
  stage.R.setIdentity(nj, nj);
  stage.R *= kTorqueWeight;
  if (k == N) {
    stage.Q *= kTerminalWeightScale;
  }
}

void SwingOptimization::clear_terminal_stage(size_t N) {
  ocp_qp::OcpQp& stage = ocp_[N];
  stage.A.resize(0, 0);
  stage.B.resize(0, 0);
  stage.b.resize(0);
  stage.idxbu.clear();
  stage.lbu.resize(0);
  stage.ubu.resize(0);
  stage.lbu_mask.resize(0);
  stage.ubu_mask.resize(0);
}

std::shared_ptr<CtrlData> SwingOptimization::fallback_policy() const {
  const auto nj = static_cast<Eigen::Index>(num_joints());
  auto policy = std::make_shared<CtrlData>();
  policy->a.setZero(nj, 2 * nj);
  policy->a.leftCols(nj).diagonal().setConstant(-kFallbackStiffness);
  policy->a.rightCols(nj).diagonal().setConstant(-kFallbackDamping);
  policy->b = pinocchioInterface_.nle().tail(nj);
  return policy;
}

std::shared_ptr<CtrlData> SwingOptimization::optimize() {
  const auto references = referenceTrajectoriesPtrBuffer_.get();
  if (!references) {
    return feedbackPolicies_ptr;
  }
  StageReferences refs{references->get_base_pos_traj(), references->get_base_rpy_traj(),
                       references->get_joint_pos_traj()};
  if (!refs.joint_pos || !refs.base_pos || !refs.base_rpy) {
    return feedbackPolicies_ptr;
  }
  const scalar_t duration_s = std::max<scalar_t>(refs.joint_pos->duration(), 0.0);
  // Compared as a floating-point number first: a reference spanning years must neither
  // overflow the stage count nor allocate a horizon to match.
  const scalar_t stages = std::floor((duration_s + kDurationRounding_s) / dt_);
  if (!(stages >= 1.0)) {
    return feedbackPolicies_ptr;
  }
  size_t N = kMaxHorizonStages;
  if (stages > static_cast<scalar_t>(kMaxHorizonStages)) {
    size_t suppressed = 0;
    if (report_throttle_.allow("horizon cap", suppressed)) {
      char message[160];
      std::snprintf(message, sizeof(message),
                    "SwingOptimization: the joint_pos reference spans %.0f stages of %g s; the "
                    "horizon is cut to %zu stages",
                    stages, dt_, kMaxHorizonStages);
      std::cout << message << std::endl;
    }
  } else {
    N = static_cast<size_t>(stages);
  }
  check_references(refs);
  stage_refs_ = std::move(refs);

  ocp_.resize(N + 1);
  for (size_t k = 0; k <= N; ++k) {
    if (k < N) {
      get_dynamics(k);
    }
    get_inequality_constraints(k, N);
    get_costs(k, N);
  }
  clear_terminal_stage(N);

  if (solution_.size() == N + 1) {
    solver_settings.warm_start = 1;
  } else {
    solver_settings.warm_start = 0;
    solution_.resize(N + 1);
  }
  ocp_qp::OcpQpIpmSolver solver(ocp_, solver_settings, solver_workspace_);

  const auto nj = static_cast<Eigen::Index>(num_joints());
  const scalar_t time_c = now_s();
  vector_t x0(2 * nj);
  x0.head(nj) = pinocchioInterface_.qpos().tail(nj) - stage_refs_.joint_pos->evaluate(time_c);
  x0.tail(nj) = pinocchioInterface_.qvel().tail(nj) - stage_refs_.joint_pos->derivative(time_c, 1);

  const ocp_qp::SolverStatus res = solver.solve(x0, ocp_, solution_);
  stage_refs_ = StageReferences{};  // the trajectories are not held beyond the call
  if (res == ocp_qp::SolverStatus::Success || res == ocp_qp::SolverStatus::MaxIterReached) {
    auto policy = std::make_shared<CtrlData>();
    policy->a = solution_[0].K;
    policy->b = solution_[0].k;
    feedbackPolicies_ptr = std::move(policy);
  } else {
    feedbackPolicies_ptr = fallback_policy();
    // A failed iterate is no starting point: the next solve starts cold.
    solution_.clear();
    std::cout << "SwingOptimization: " << res << std::endl;
  }
  return feedbackPolicies_ptr;
}

}  // namespace velmora
