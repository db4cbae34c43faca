// Contact force optimisation: the body's model-predictive controller.
//
// A single rigid body with the robot's total mass and its composite inertia Ig about the centre
// of mass, linearised at the reference and written in error coordinates (state layout in the
// header). Discrete dynamics of stage k (step dt, forward Euler):
//   p+ = p + dt v
//   v+ = v + dt/m sum_stance f_i - dt (a_des + g e_z)
//   rpy+ = rpy + dt E(rpy)^-1 Ig^-1 L                      (E maps rpy rates to omega)
//   L+ = L + dt sum_stance (pf_i - p_des) x f_i + dt F_ff x p - dt (Ig (E rpy_dd + E' rpy_d)
//        + rpy_d x Ig rpy_d)
// with F_ff the total force of the previous solve at this stage (or m (a_des + g e_z)). Rows:
// |fx| <= mu fz, |fy| <= mu fz, 0 <= fz <= 400 N in stance, 0 <= fz <= 0 in swing. Costs:
// 1/2 x' W x + 1e-4/2 |u - f_des|^2 on inner stages, 1/2 x' 100 W x at the end.

#include "control/ContactForceOptimization.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <stdexcept>
#include <string>
#include <tuple>

#include "common/MotionPhaseDefinition.h"
#include "core/misc/LoadData.h"
#include "core/misc/Numerics.h"
#include "pinocchio/Orientation.h"

namespace velmora {

namespace {

constexpr int kStateDim = 12;
constexpr scalar_t kMaxNormalForce = 400.0;  // N, every foot in stance
constexpr scalar_t kInputWeight = 1e-4;      // weight of |u - f_des|^2
constexpr scalar_t kTerminalWeightScale = 100.0;

bool all_finite(const std::vector<ocp_qp::OcpQpSolution>& solution) {
  for (const auto& stage : solution) {
    if (!stage.x.allFinite() || !stage.u.allFinite() || !stage.K.allFinite() ||
        !stage.k.allFinite()) {
      return false;
    }
  }
  return true;
}

/// `*ptr`, or std::invalid_argument naming the argument when it is null.
template <typename T>
const T& checked(const std::shared_ptr<T>& ptr, const char* name) {
  if (ptr == nullptr) {
    throw std::invalid_argument(std::string("ContactForceOptimization: ") + name + " is null");
  }
  return *ptr;
}

}  // namespace

ContactForceOptimization::ContactForceOptimization(
    std::shared_ptr<rclcpp::Node> nodeHandle, std::shared_ptr<ModelInfo> modelInfoPtr,
    std::shared_ptr<PinocchioInterface> pinocchioInterfacePtr)
    : nodeHandle_(std::move(nodeHandle)),
      modelInfo_(checked(modelInfoPtr, "the robot description")),
      pinocchioInterface_(checked(pinocchioInterfacePtr, "the robot model")) {
  checked(nodeHandle_, "the node");
  if (modelInfo_.foot_name.size() != std::tuple_size<contact_flag_t>::value) {
    throw std::invalid_argument("ContactForceOptimization: the robot description lists " +
                                std::to_string(modelInfo_.foot_name.size()) +
                                " feet; contact modes describe exactly 4");
  }
  total_mass_ = pinocchioInterface_.total_mass();

  solver_settings.mode = ocp_qp::SolverMode::Speed;
  solver_settings.iter_max = 30;
  solver_settings.alpha_min = 1e-8;
  solver_settings.mu0 = 100.0;
  solver_settings.tol_stat = 1e-4;
  solver_settings.tol_eq = 1e-4;
  solver_settings.tol_ineq = 1e-4;
  solver_settings.tol_comp = 1e-4;
  solver_settings.reg_prim = 1e-12;
  solver_settings.warm_start = 0;
  solver_settings.pred_corr = 1;
  solver_settings.ric_alg = 0;
  solver_settings.split_step = 1;
}

void ContactForceOptimization::loadParamsSetting(const std::string& paramFile, bool verbose) {
  weight_.setZero(kStateDim, kStateDim);
  loadData::loadEigenMatrix(paramFile, "weights.force_optmization", weight_);

  loadData::loadCppDataType(paramFile, "friction_coefficient", mu_);
  mu_ = numerics::clampOrLowerLimit(mu_, 0.01, 1.0);

  loadData::loadCppDataType(paramFile, "force_optimization_dt", dt_);
  dt_ = numerics::clampOrLowerLimit(dt_, 0.001, 0.5);

  if (verbose) {
    std::cerr << "\n ------------ ForceOptimization Param ------------ \n";
    std::cerr << "\n ########### weights.force_optmization ########### \n";
    std::cerr << weight_ << "\n";
    std::cerr << "\n ########### friction_coefficient: " << mu_ << "\n";
    std::cerr << "\n ########### force_optimization_dt: " << dt_ << "s\n";
  }
}

void ContactForceOptimization::update_trajectory_reference(
    std::shared_ptr<const TrajectoriesBuffer> referenceTrajectoriesPtr) {
  referenceTrajectoriesPtrBuffer_.push(std::move(referenceTrajectoriesPtr));
}

void ContactForceOptimization::update_mode_schedule(std::shared_ptr<ModeSchedule> mode_schedule) {
  mode_schedule_buffer.push(std::move(mode_schedule));
}

void ContactForceOptimization::update_state(std::shared_ptr<vector_t> qpos_ptr,
                                            std::shared_ptr<vector_t> qvel_ptr) {
  checked(qpos_ptr, "the measured position");
  checked(qvel_ptr, "the measured velocity");
  const bool sizes_match =
      qpos_ptr->size() == pinocchioInterface_.Nq() && qvel_ptr->size() == pinocchioInterface_.Nv();
  if (sizes_match && !(qpos_ptr->allFinite() && qvel_ptr->allFinite())) {
    has_valid_state_ = false;  // keep the last finite state in the model, solve nothing
    return;
  }
  pinocchioInterface_.updateRobotState(*qpos_ptr, *qvel_ptr);  // throws on wrong sizes
  has_valid_state_ = true;
}

void ContactForceOptimization::report(const std::string& cause, const std::string& message) {
  size_t suppressed = 0;
  if (!report_throttle_.allow(cause, suppressed)) return;
  std::cout << "ContactForceOptimization: " << message;
  if (suppressed > 0) std::cout << " (" << suppressed << " similar reports suppressed)";
  std::cout << std::endl;
}

vector3_t ContactForceOptimization::compute_euler_angle_err(const vector3_t& rpy_m,
                                                            const vector3_t& rpy_d) const {
  return eulerAngleError(rpy_m, rpy_d);
}

scalar_t ContactForceOptimization::stage_time(size_t k) const {
  return nodeHandle_->now().seconds() + static_cast<scalar_t>(k) * dt_;
}

bool ContactForceOptimization::take_cycle_inputs(size_t& N) {
  cycle_.mode_schedule = mode_schedule_buffer.get();
  const auto trajectories = referenceTrajectoriesPtrBuffer_.get();
  if (cycle_.mode_schedule == nullptr || trajectories == nullptr) return false;
  cycle_.pos_traj = trajectories->get_base_pos_traj();
  cycle_.rpy_traj = trajectories->get_base_rpy_traj();
  const auto foot_traj = trajectories->get_foot_pos_traj();
  if (cycle_.pos_traj == nullptr || cycle_.rpy_traj == nullptr || foot_traj.empty()) return false;

  const size_t nf = modelInfo_.foot_name.size();
  cycle_.foot_traj.assign(nf, nullptr);
  for (size_t i = 0; i < nf; ++i) {
    const auto it = foot_traj.find(modelInfo_.foot_name[i]);
    if (it != foot_traj.end()) cycle_.foot_traj[i] = it->second;
  }

  // Every trajectory a stage reads into a 3-vector, checked once per horizon.
  bool dimensions_ok = reference_check_.requireDimension(cycle_.pos_traj.get(), "base_pos") &&
                       reference_check_.requireDimension(cycle_.rpy_traj.get(), "base_rpy");
  for (size_t i = 0; i < nf && dimensions_ok; ++i) {
    dimensions_ok = reference_check_.requireDimension(cycle_.foot_traj[i].get(), "foot_pos",
                                                      modelInfo_.foot_name[i]);
  }
  if (!dimensions_ok) {
    report(reference_check_.fault(), reference_check_.fault());
    return false;
  }

  // Compared as a floating-point number first: a reference spanning years must neither
  // overflow the stage count nor allocate a horizon to match.
  const scalar_t stages = std::floor(cycle_.pos_traj->duration() / dt_);
  if (!(stages >= 1.0)) return false;
  if (stages > static_cast<scalar_t>(kMaxHorizonStages)) {
    char message[160];
    std::snprintf(message, sizeof(message),
                  "the base_pos reference spans %.0f stages of %g s; the horizon is cut to %zu "
                  "stages",
                  stages, dt_, kMaxHorizonStages);
    report("horizon cap", message);
    N = kMaxHorizonStages;
  } else {
    N = static_cast<size_t>(stages);
  }

  cycle_.contact_flags.resize(N);
  for (size_t k = 0; k < N; ++k) {
    const scalar_t phase = static_cast<scalar_t>(k) * dt_ / cycle_.mode_schedule->duration();
    const size_t mode = cycle_.mode_schedule->getModeFromPhase(phase);
    cycle_.contact_flags[k] = quadruped::modeNumber2StanceLeg(mode);
    for (size_t i = 0; i < nf; ++i) {
      if (cycle_.contact_flags[k][i] && cycle_.foot_traj[i] == nullptr) return false;
    }
  }
  return true;
}

void ContactForceOptimization::step1(size_t k) {
  const scalar_t time_k = stage_time(k);
  const auto& pos_traj = cycle_.pos_traj;
  const auto& rpy_traj = cycle_.rpy_traj;
  const contact_flag_t& contact_flag = cycle_.contact_flags[k];
  const size_t nf = modelInfo_.foot_name.size();

  Ig_ = pinocchioInterface_.getData().Ig.inertia();
  const auto base_pose = pinocchioInterface_.getFramePose(modelInfo_.base_name);
  const vector3_t rpy = toEulerAngles(base_pose.rotation());

  const vector3_t acc_des = pos_traj->derivative(time_k, 2);
  vector3_t force_ff = total_mass_ * (acc_des + vector3_t(0.0, 0.0, grav_));
  if (has_sol_ && k + 1 < solution_.size() &&
      solution_[k].u.size() == static_cast<Eigen::Index>(3 * nf)) {
    force_ff.setZero();
    for (size_t i = 0; i < nf; ++i) force_ff += solution_[k].u.segment<3>(3 * i);
  }

  const vector3_t rpy_dot_des = rpy_traj->derivative(time_k, 1);
  const vector3_t rpy_ddot_des = rpy_traj->derivative(time_k, 2);
  reference_check_.requireFinite(acc_des, "base_pos");
  reference_check_.requireFinite(rpy_dot_des, "base_rpy");
  reference_check_.requireFinite(rpy_ddot_des, "base_rpy");

  auto& stage = ocp_[k];
  stage.A.setIdentity(kStateDim, kStateDim);
  stage.A(0, 3) = dt_;
  stage.A(1, 4) = dt_;
  stage.A(2, 5) = dt_;
  stage.A.block<3, 3>(6, 9) = dt_ * getJacobiFromOmegaToRPY(rpy) * Ig_.inverse();
  stage.A.block<3, 3>(9, 0) = skew(dt_ * force_ff);

  stage.B.setZero(kStateDim, 3 * nf);
  const vector3_t xc = pos_traj->evaluate(time_k);
  reference_check_.requireFinite(xc, "base_pos");
  for (size_t i = 0; i < nf; ++i) {
    if (!contact_flag[i]) continue;
    const vector3_t pf_i = cycle_.foot_traj[i]->evaluate(time_k);
    reference_check_.requireFinite(pf_i, "foot_pos", modelInfo_.foot_name[i]);
    stage.B.block<3, 3>(3, 3 * i).diagonal().setConstant(dt_ / total_mass_);
    stage.B.block<3, 3>(9, 3 * i) = skew(dt_ * (pf_i - xc));
  }

  const matrix3_t J = getJacobiFromRPYToOmega(rpy);
  const matrix3_t J_dot = getJacobiDotFromRPYToOmega(rpy, rpy_dot_des);
  stage.b.setZero(kStateDim);
  stage.b.segment<3>(3) = -dt_ * acc_des;
  stage.b(5) -= dt_ * grav_;
  stage.b.segment<3>(9) = -dt_ * (Ig_ * (J * rpy_ddot_des + J_dot * rpy_dot_des) +
                                  skew(rpy_dot_des) * Ig_ * rpy_dot_des);
}

void ContactForceOptimization::step2(size_t k, size_t N) {
  if (k >= N) return;
  const contact_flag_t& contact_flag = cycle_.contact_flags[k];
  const size_t nf = modelInfo_.foot_name.size();

  const scalar_t m = 1.0 / mu_;
  Eigen::Matrix<scalar_t, 5, 3> Ci;
  Ci << m, 0, 1,  //
      -m, 0, 1,   //
      0, m, 1,    //
      0, -m, 1,   //
      0, 0, 1;

  auto& stage = ocp_[k];
  stage.C.setZero(5 * nf, kStateDim);
  stage.D.setZero(5 * nf, 3 * nf);
  stage.lg.setZero(5 * nf);
  stage.ug.setZero(5 * nf);
  stage.lg_mask.setOnes(5 * nf);
  stage.ug_mask.setOnes(5 * nf);
  for (size_t i = 0; i < nf; ++i) {
    stage.D.block<5, 3>(5 * i, 3 * i) = Ci;
    stage.ug(5 * i + 4) = contact_flag[i] ? kMaxNormalForce : 0.0;
    stage.ug_mask.segment<4>(5 * i).setZero();
  }
}

void ContactForceOptimization::step3(size_t k, size_t N) {
  const scalar_t time_k = stage_time(k);
  const size_t nf = modelInfo_.foot_name.size();

  auto& stage = ocp_[k];
  stage.Q = weight_;
  stage.S.setZero(3 * nf, kStateDim);
  stage.q.setZero(kStateDim);
  stage.r.setZero(3 * nf);

  if (k < N) {
    stage.R.setIdentity(3 * nf, 3 * nf);
    stage.R *= kInputWeight;
    const contact_flag_t& contact_flag = cycle_.contact_flags[k];
    size_t nc = 0;
    for (size_t i = 0; i < nf; ++i) nc += contact_flag[i] ? 1 : 0;
    const vector3_t force_des_i =
        total_mass_ / static_cast<scalar_t>(std::max<size_t>(nc, 1)) *
        (cycle_.pos_traj->derivative(time_k, 2) + vector3_t(0.0, 0.0, grav_));
    for (size_t i = 0; i < nf; ++i) {
      if (contact_flag[i]) stage.r.segment<3>(3 * i) = -kInputWeight * force_des_i;
    }
  } else {
    stage.Q *= kTerminalWeightScale;
    stage.q *= kTerminalWeightScale;
  }
}

void ContactForceOptimization::clear_terminal_stage(ocp_qp::OcpQp& stage) {
  stage.A.resize(0, 0);
  stage.B.resize(0, 0);
  stage.b.resize(0);
  stage.R.resize(0, 0);
  stage.C.resize(0, 0);
  stage.D.resize(0, 0);
  stage.lg.resize(0);
  stage.ug.resize(0);
  stage.lg_mask.resize(0);
  stage.ug_mask.resize(0);
}

std::shared_ptr<CtrlData> ContactForceOptimization::optimize() {
  CtrlData_ptr = nullptr;

  size_t N = 0;
  reference_check_.clear();
  if (!has_valid_state_ || !take_cycle_inputs(N)) return CtrlData_ptr;
  const auto& pos_traj = cycle_.pos_traj;
  const auto& rpy_traj = cycle_.rpy_traj;

  ocp_.resize(N + 1);
  for (size_t k = 0; k <= N; ++k) {
    if (k < N) step1(k);
    step2(k, N);
    step3(k, N);
  }
  clear_terminal_stage(ocp_[N]);
  if (reference_check_.failed()) {
    report(reference_check_.fault(), reference_check_.fault() + " within the horizon");
    return CtrlData_ptr;
  }

  if (solution_.size() == N + 1) {
    solver_settings.warm_start = 1;
  } else {
    solver_settings.warm_start = 0;
    solution_.resize(N + 1);
  }
  ocp_qp::OcpQpIpmSolver solver(ocp_, solver_settings, solver_workspace_);

  const scalar_t time_c = nodeHandle_->now().seconds();
  const auto base_pose = pinocchioInterface_.getFramePose(modelInfo_.base_name);
  const auto base_twist = pinocchioInterface_.getFrame6dVel_localWorldAligned(modelInfo_.base_name);
  const vector3_t omega = base_twist.angular();
  const vector3_t rpy = toEulerAngles(base_pose.rotation());
  const vector3_t rpy_des = rpy_traj->evaluate(time_c);
  const vector3_t rpy_dot_des = rpy_traj->derivative(time_c, 1);
  const matrix3_t J = getJacobiFromRPYToOmega(rpy);

  vector_t x0(kStateDim);
  x0.segment<3>(0) = base_pose.translation() - pos_traj->evaluate(time_c);
  x0.segment<3>(3) = base_twist.linear() - pos_traj->derivative(time_c, 1);
  x0.segment<3>(6) = compute_euler_angle_err(rpy, rpy_des);
  x0.segment<3>(9) = Ig_ * omega - Ig_ * J * rpy_dot_des;
  if (!x0.allFinite()) {
    report("initial state non-finite",
           "the error state at the start of the horizon is not finite (base_pos or base_rpy "
           "trajectory)");
    return CtrlData_ptr;
  }

  const ocp_qp::SolverStatus res = solver.solve(x0, ocp_, solution_);
  solver_iterations_ = solver.getNumIterations();
  if (res != ocp_qp::SolverStatus::Success && res != ocp_qp::SolverStatus::MaxIterReached) {
    std::cout << "ContactForceOptimization: " << res << std::endl;
    // A non-finite iterate must seed neither the next warm start nor the force estimate.
    if (!all_finite(solution_)) solution_.clear();
    return CtrlData_ptr;
  }

  using Matrix12 = Eigen::Matrix<scalar_t, kStateDim, kStateDim>;
  using Vector12 = Eigen::Matrix<scalar_t, kStateDim, 1>;
  const matrix3_t Ig_inv = Ig_.inverse();

  // Continuous-time form of stage 0 (four feet: 12 inputs).
  const Matrix12 A = (Matrix12(ocp_[0].A) - Matrix12::Identity()) / dt_;
  const Matrix12 B = Matrix12(ocp_[0].B) / dt_;
  const Vector12 drift = Vector12(ocp_[0].b) / dt_;
  const Matrix12 K = solution_[0].K;
  const Vector12 k = solution_[0].k;

  // Closed-loop rate of the error state under u = K x + k, projected by
  // P = [0 I 0 0; 0 0 0 Ig^-1] onto the linear and angular velocity errors.
  const Matrix12 closed_loop = A + B.lazyProduct(K);
  const Vector12 feedforward_rate = B * k + drift;
  const vector3_t omega_des = J * rpy_dot_des;
  const vector3_t w = omega - omega_des;

  auto ctrl_data = std::make_shared<CtrlData>();
  ctrl_data->a.resize(6, kStateDim);
  ctrl_data->a.topRows<3>() = closed_loop.middleRows<3>(3);
  ctrl_data->a.bottomRows<3>() = Ig_inv.lazyProduct(closed_loop.middleRows<3>(9));
  ctrl_data->b.resize(6);
  ctrl_data->b.head<3>() = feedforward_rate.segment<3>(3);
  ctrl_data->b.tail<3>() =
      Ig_inv * (feedforward_rate.segment<3>(9) - skew(w) * Ig_ * w);  // gyroscopic term

  has_sol_ = true;
  if (!ctrl_data->a.allFinite() || !ctrl_data->b.allFinite()) return CtrlData_ptr;
  CtrlData_ptr = std::move(ctrl_data);
  return CtrlData_ptr;
}

}  // namespace velmora
