// Whole-body controller: setup, inputs, tasks, constraints, solve and joint commands.
//
// Conventions: x = [qdd (nv); f (3 nFeet, world axes); tau (nJ)]; Jc stacks the linear
// world-aligned foot Jacobians in foot order; spatial vectors are linear first; the base task
// lives in the base's own axes, foot tasks in world-parallel axes.

#include "control/WholeBodyController.h"

#include <cmath>
#include <iostream>
#include <stdexcept>
#include <string>
#include <utility>

#include "control/BaseAccelerationCap.h"
#include "control/CommandWatchdog.h"
#include "core/misc/LoadData.h"
#include "core/misc/Numerics.h"
#include "core/trajectory/CubicSplineTrajectory.h"
#include "pinocchio/Orientation.h"

namespace velmora {
namespace {

constexpr scalar_t kContactTaskWeight = 1000.0;
// Caps of the demanded base acceleration, linear [m/s^2] and angular [rad/s^2] parts apart
// (capBaseAcceleration). Trotting at 1 m/s, 100 N pushes for 0.1 s from 8 directions at 8 times
// across a gait cycle: the robot stood in 51 of 64 runs, in 42 under one norm cap of 20 on all six
// entries (the roll demand shrank the vertical one and the trunk sank); angular caps of 20 and 80
// did worse than 40 on 12 of those pushes.
constexpr scalar_t kMaxBaseLinearAcceleration = 20.0;
constexpr scalar_t kMaxBaseAngularAcceleration = 40.0;
constexpr scalar_t kMinFootDepthBelowBase = 0.15;  // swing feet stay this far below the base [m]
constexpr scalar_t kMaxNormalForce = 400.0;        // [N]
constexpr scalar_t kNoLowerBound = -1e16;
constexpr scalar_t kHessianRegularisation = 1e-8;
// Scaling passes of the QP solver. On a walk one pass takes the interior point to the answer in
// 3.0 iterations on average, none in 3.7 and ten in 7.3: the program is already well scaled.
constexpr int kEquilibrationPasses = 1;
constexpr scalar_t kGravity = 9.81;                 // [m/s^2]
constexpr scalar_t kLegJointColumnNorm = 0.01;      // a joint moves a foot above this norm
constexpr scalar_t kStepTenLookAhead = 0.002;       // [s]
constexpr scalar_t kMaxSwingStep = 0.1;             // [m]
constexpr scalar_t kMaxSwingVelocityStep = 0.5;     // [m/s]
constexpr scalar_t kMaxLegJacobianCondition = 1e3;  // 1-norm condition of a usable leg Jacobian
constexpr int kWarnThrottleMs = 1000;

vector6_t spatial(const rigid_body::Motion& motion) {
  vector6_t v;
  v << motion.linear(), motion.angular();
  return v;
}

}  // namespace

WholeBodyController::WholeBodyController(std::shared_ptr<rclcpp::Node> nodeHandle,
                                         std::shared_ptr<ModelInfo> modelInfo,
                                         std::shared_ptr<PinocchioInterface> pinocchioInterface)
    : nodeHandle_(std::move(nodeHandle)),
      modelInfo_(modelInfo ? *modelInfo
                           : throw std::invalid_argument(
                                 "WholeBodyController: the robot description pointer is empty")),
      pinocchioInterface_(pinocchioInterface
                              ? *pinocchioInterface
                              : throw std::invalid_argument(
                                    "WholeBodyController: the robot model pointer is empty")),
      weighedTask("default"),
      constraints("default"),
      reduced_program_(pinocchioInterface_.Nv(), 4) {
  if (!nodeHandle_) {
    throw std::invalid_argument("WholeBodyController: the node pointer is empty");
  }
  if (modelInfo_.foot_name.size() != 4) {
    throw std::invalid_argument("WholeBodyController: the robot description lists " +
                                std::to_string(modelInfo_.foot_name.size()) +
                                " feet; exactly 4 are supported");
  }
  nv_ = static_cast<size_t>(pinocchioInterface_.Nv());
  nJ_ = modelInfo_.joints_name.size();
  nFeet_ = modelInfo_.foot_name.size();
  nVar_ = nv_ + 3 * nFeet_ + nJ_;
  frame_jacobian_.setZero(6, static_cast<Eigen::Index>(nv_));
  // Frame ids are looked up once; an unknown frame name fails here, naming the frame.
  base_frame_id_ = pinocchioInterface_.getFrameId(modelInfo_.base_name);
  for (size_t i = 0; i < nFeet_; ++i) {
    foot_frame_ids_[i] = pinocchioInterface_.getFrameId(modelInfo_.foot_name[i]);
  }
}

void WholeBodyController::loadParamsSetting(const std::string& param_file, bool verbose) {
  weightBase_.setZero(6, 6);
  loadData::loadEigenMatrix(param_file, "weights.floatingbase", weightBase_);
  weightSwingLeg_.setZero(3, 3);
  loadData::loadEigenMatrix(param_file, "weights.leg_swing", weightSwingLeg_);
  weightContactForce_ = 0.0;
  loadData::loadCppDataType(param_file, "weights.contact_force", weightContactForce_);
  frictionCoeff_ = 0.0;
  loadData::loadCppDataType(param_file, "friction_coefficient", frictionCoeff_);
  frictionCoeff_ = numerics::clampOrLowerLimit(frictionCoeff_, 0.01, 1.0);
  loadData::loadCppDataType(param_file, "wbc_dt", dt_);
  dt_ = numerics::clampOrLowerLimit(dt_, 0.0002, 0.1);
  swingKp_.setZero(3, 3);
  loadData::loadEigenMatrix(param_file, "feedback_gain.leg_swing.kp", swingKp_);
  swingKd_.setZero(3, 3);
  loadData::loadEigenMatrix(param_file, "feedback_gain.leg_swing.kd", swingKd_);
  baseKp_.setZero(6, 6);
  loadData::loadEigenMatrix(param_file, "feedback_gain.floatingbase.kp", baseKp_);
  baseKd_.setZero(6, 6);
  loadData::loadEigenMatrix(param_file, "feedback_gain.floatingbase.kd", baseKd_);
  safe_damping_kd_ = loadCommandWatchdogLimits(param_file, dt_).damping_kd;

  if (verbose) {
    std::cerr << "\n ------------ WholeBodyController Param ------------ \n";
    std::cerr << "\n ########### weights.floatingbase ########### \n" << weightBase_ << "\n";
    std::cerr << "\n ########### weights.leg_swing ########### \n" << weightSwingLeg_ << "\n";
    std::cerr << "\n ########### weights.weightContactForce_: " << weightContactForce_ << "\n";
    std::cerr << "\n ########### friction_coefficient: " << frictionCoeff_ << "\n";
    std::cerr << "\n ########### wbc_dt: " << dt_ << "\n";
    std::cerr << "\n ########### feedback_gain.leg_swing.kp ########### \n" << swingKp_ << "\n";
    std::cerr << "\n ########### feedback_gain.leg_swing.kd ########### \n" << swingKd_ << "\n";
    std::cerr << "\n ########### feedback_gain.floatingbase.kp ########### \n" << baseKp_ << "\n";
    std::cerr << "\n ########### feedback_gain.floatingbase.kd ########### \n" << baseKd_ << "\n";
  }
}

void WholeBodyController::update_trajectory_reference(
    std::shared_ptr<const TrajectoriesBuffer> referenceTrajectoriesPtr) {
  referenceTrajectoriesPtrBuffer_.push(std::move(referenceTrajectoriesPtr));
}

void WholeBodyController::update_mode(size_t mode) { mode_.push(mode); }

void WholeBodyController::update_state(std::shared_ptr<vector_t> qpos_ptr,
                                       std::shared_ptr<vector_t> qvel_ptr) {
  if (!qpos_ptr || !qvel_ptr) {
    throw std::invalid_argument("WholeBodyController::update_state: empty state pointer");
  }
  pinocchioInterface_.updateRobotState(*qpos_ptr, *qvel_ptr);
  state_stamp_s_ = nodeHandle_->now().seconds();
}

void WholeBodyController::update_control_data(std::shared_ptr<CtrlData> data) {
  ctrlData_ptr.push(std::move(data));
}

vector3_t WholeBodyController::compute_euler_angle_err(const vector3_t& rpy,
                                                       const vector3_t& rpy_ref) const {
  return eulerAngleError(rpy, rpy_ref);
}

// ---------------------------------------------------------------------------------------------
// Contact state
// ---------------------------------------------------------------------------------------------

void WholeBodyController::step1() {
  contactFlag_ = quadruped::modeNumber2StanceLeg(mode_.get());
  nc_ = 0;
  for (bool stance : contactFlag_) {
    nc_ += stance ? 1 : 0;
  }
  step2();
  constraints = (step3() + step4()) + step6();
  weighedTask = ((step5() + step7()) + step8()) + step9();
}

void WholeBodyController::step2() {
  const auto nv = static_cast<Eigen::Index>(pinocchioInterface_.Nv());
  Jc.resize(static_cast<Eigen::Index>(3 * nFeet_), nv);
  frame_jacobian_.setZero(6, nv);
  for (size_t i = 0; i < nFeet_; ++i) {
    pinocchioInterface_.getJacobia_localWorldAligned(foot_frame_ids_[i], frame_jacobian_);
    Jc.middleRows(static_cast<Eigen::Index>(3 * i), 3) = frame_jacobian_.topRows(3);
  }
}

// ---------------------------------------------------------------------------------------------
// Constraints
// ---------------------------------------------------------------------------------------------

MatrixDB WholeBodyController::step3() {
  const auto& data = pinocchioInterface_.getData();
  const auto nv = static_cast<Eigen::Index>(pinocchioInterface_.Nv());
  const auto nJ = static_cast<Eigen::Index>(nJ_);
  if (nv != nJ + 6) {
    throw std::runtime_error("nv != info_.actuatedDofNum + 6");
  }
  const auto nForces = static_cast<Eigen::Index>(3 * nFeet_);
  MatrixDB block("eulerNewtonEqu");
  block.A.setZero(nv, static_cast<Eigen::Index>(nVar_));
  block.A.leftCols(nv) = data.M;
  block.A.middleCols(nv, nForces) = -Jc.transpose();
  block.A.bottomRightCorner(nJ, nJ) = -matrix_t::Identity(nJ, nJ);
  block.b = -data.nle;
  return block;
}

MatrixDB WholeBodyController::step4() {
  const auto nJ = static_cast<Eigen::Index>(nJ_);
  const vector_t& effort_limit = pinocchioInterface_.getModel().effortLimit;
  MatrixDB block("limit_tau");
  block.C.setZero(nJ, static_cast<Eigen::Index>(nVar_));
  block.C.rightCols(nJ).setIdentity();
  block.ub = effort_limit.tail(nJ);
  block.lb = -block.ub;
  return block;
}

MatrixDB WholeBodyController::step6() {
  const auto nv = static_cast<Eigen::Index>(nv_);
  const auto nVar = static_cast<Eigen::Index>(nVar_);
  const auto nc = static_cast<Eigen::Index>(nc_);
  const auto nS = static_cast<Eigen::Index>(nFeet_) - nc;
  const scalar_t mu = frictionCoeff_;

  MatrixDB block("friction_cone");
  block.A.setZero(3 * nS, nVar);
  block.b.setZero(3 * nS);

  Eigen::Matrix<scalar_t, 5, 3> pyramid;
  pyramid << 0, 0, 1,  //
      1, 0, -mu,       //
      -1, 0, -mu,      //
      0, 1, -mu,       //
      0, -1, -mu;
  block.C.setZero(5 * nc, nVar);
  block.lb.setConstant(5 * nc, kNoLowerBound);
  block.ub.setZero(5 * nc);

  Eigen::Index swing = 0;
  Eigen::Index stance = 0;
  for (size_t i = 0; i < nFeet_; ++i) {
    const Eigen::Index force_col = nv + 3 * static_cast<Eigen::Index>(i);
    if (contactFlag_[i]) {
      block.C.block<5, 3>(5 * stance, force_col) = pyramid;
      block.lb(5 * stance) = 0.0;
      block.ub(5 * stance) = kMaxNormalForce;
      ++stance;
    } else {
      block.A.block<3, 3>(3 * swing, force_col).setIdentity();
      ++swing;
    }
  }
  return block;
}

// ---------------------------------------------------------------------------------------------
// Tasks
// ---------------------------------------------------------------------------------------------

MatrixDB WholeBodyController::step5() {
  const auto nv = static_cast<Eigen::Index>(nv_);
  const auto nc = static_cast<Eigen::Index>(nc_);
  MatrixDB block("contact_task");
  block.A.setZero(3 * nc, static_cast<Eigen::Index>(nVar_));
  block.b.setZero(3 * nc);
  Eigen::Index k = 0;
  for (size_t i = 0; i < nFeet_; ++i) {
    if (!contactFlag_[i]) {
      continue;
    }
    block.A.block(3 * k, 0, 3, nv) = Jc.middleRows(3 * static_cast<Eigen::Index>(i), 3);
    block.b.segment<3>(3 * k) =
        -pinocchioInterface_.getFrame6dAcc_localWorldAligned(foot_frame_ids_[i]).linear();
    ++k;
  }
  block.A *= kContactTaskWeight;
  block.b *= kContactTaskWeight;
  return block;
}

MatrixDB WholeBodyController::step7() {
  const std::shared_ptr<CtrlData> policy = ctrlData_ptr.get();
  const auto nv = static_cast<Eigen::Index>(nv_);
  MatrixDB block("base_task");
  block.A.setZero(6, static_cast<Eigen::Index>(nVar_));
  frame_jacobian_.setZero(6, nv);
  pinocchioInterface_.getJacobia_local(base_frame_id_, frame_jacobian_);
  block.A.leftCols(nv) = frame_jacobian_;

  const vector6_t acc = policy ? demandedBaseAcceleration(*policy) : vector6_t::Zero();
  block.b = acc - spatial(pinocchioInterface_.getFrame6dAcc_local(base_frame_id_));
  block.A = weightBase_ * block.A;
  block.b = weightBase_ * block.b;
  return block;
}

vector6_t WholeBodyController::demandedBaseAcceleration(const CtrlData& policy) {
  if (policy.a.rows() != 6 || policy.a.cols() != 12 || policy.b.size() != 6) {
    throw std::invalid_argument(
        "WholeBodyController: the base policy must have a 6 x 12 gain and a 6-entry offset, got " +
        std::to_string(policy.a.rows()) + " x " + std::to_string(policy.a.cols()) + " and " +
        std::to_string(policy.b.size()));
  }
  const std::shared_ptr<const TrajectoriesBuffer>& references = cycle_references_;
  if (!references) {
    return vector6_t::Zero();
  }
  const auto pos_traj = references->get_base_pos_traj();
  const auto rpy_traj = references->get_base_rpy_traj();
  if (!pos_traj || !rpy_traj) {
    return vector6_t::Zero();
  }

  const scalar_t t = nodeHandle_->now().seconds() + dt_;
  const auto base_pose = pinocchioInterface_.getFramePose(base_frame_id_);
  const matrix3_t R = base_pose.rotation();
  const vector3_t p = base_pose.translation();
  const auto base_vel = pinocchioInterface_.getFrame6dVel_localWorldAligned(base_frame_id_);
  const vector3_t v = base_vel.linear();
  const vector3_t omega = base_vel.angular();

  const vector3_t rpy = toEulerAngles(R);
  const vector3_t rpy_err = compute_euler_angle_err(rpy, rpy_traj->evaluate(t));
  const vector3_t omega_ref = getJacobiFromRPYToOmega(rpy) * rpy_traj->derivative(t, 1);
  const matrix3_t inertia = pinocchioInterface_.getData().Ig.inertia();

  const vector3_t pos_ref = pos_traj->evaluate(t);
  const vector3_t vel_ref = pos_traj->derivative(t, 1);
  reference_check_.requireFinite(pos_ref, "base_pos");
  reference_check_.requireFinite(vel_ref, "base_pos");
  reference_check_.requireFinite(omega_ref, "base_rpy");
  reference_check_.requireFinite(rpy_err, "base_rpy");

  Eigen::Matrix<scalar_t, 12, 1> base_err;
  base_err << p - pos_ref, v - vel_ref, rpy_err, inertia * (omega - omega_ref);

  vector6_t acc = capBaseAcceleration(policy.a * base_err + policy.b, kMaxBaseLinearAcceleration,
                                      kMaxBaseAngularAcceleration);
  acc.head<3>() = R.transpose() * acc.head<3>();
  acc.tail<3>() = R.transpose() * acc.tail<3>();
  return acc;
}

MatrixDB WholeBodyController::step8() {
  MatrixDB block("swing_task");
  const std::shared_ptr<const TrajectoriesBuffer>& references = cycle_references_;
  if (!references) {
    return block;
  }
  const TrajectoriesBuffer::trajectory_map_t& foot_trajs = cycle_foot_trajs_;
  if (nc_ == nFeet_ || foot_trajs.size() != nFeet_) {
    return block;
  }

  // Swing feet that have a reference; a foot without one gets no rows.
  std::array<const CubicSplineTrajectory*, 4> swing_traj{};
  Eigen::Index nS = 0;
  for (size_t i = 0; i < nFeet_; ++i) {
    if (contactFlag_[i]) {
      continue;
    }
    const auto it = foot_trajs.find(modelInfo_.foot_name[i]);
    if (it == foot_trajs.end() || !it->second) {
      RCLCPP_WARN_THROTTLE(nodeHandle_->get_logger(), *nodeHandle_->get_clock(), kWarnThrottleMs,
                           "WholeBodyController: no position reference for swing foot %s",
                           modelInfo_.foot_name[i].c_str());
      continue;
    }
    swing_traj[i] = it->second.get();
    ++nS;
  }

  const scalar_t t = nodeHandle_->now().seconds() + dt_;
  const auto nv = static_cast<Eigen::Index>(nv_);
  matrix_t W = matrix_t::Zero(3 * nS, 3 * nS);
  block.A.setZero(3 * nS, static_cast<Eigen::Index>(nVar_));
  block.b.setZero(3 * nS);

  const vector3_t base_pos = pinocchioInterface_.getFramePose(base_frame_id_).translation();
  const vector3_t base_vel =
      pinocchioInterface_.getFrame6dVel_localWorldAligned(base_frame_id_).linear();
  // Without a base reference the foot references are taken in world coordinates, with the
  // height cap measured from the measured base.
  const auto base_ref = references->get_base_pos_ref_traj();
  const vector3_t base_ref_pos = base_ref ? vector3_t(base_ref->evaluate(t)) : base_pos;
  const vector3_t base_ref_vel = base_ref ? vector3_t(base_ref->derivative(t, 1)) : base_vel;
  reference_check_.requireFinite(base_ref_pos, "base_pos_ref");
  reference_check_.requireFinite(base_ref_vel, "base_pos_ref");

  Eigen::Index k = 0;
  for (size_t i = 0; i < nFeet_; ++i) {
    if (swing_traj[i] == nullptr) {
      continue;
    }
    const CubicSplineTrajectory& traj = *swing_traj[i];
    const int foot = foot_frame_ids_[i];
    W.block(3 * k, 3 * k, 3, 3) = weightSwingLeg_;

    vector3_t pos_des = vector3_t(traj.evaluate(t)) - base_ref_pos + base_pos;
    pos_des.z() = std::min(base_ref_pos.z() - kMinFootDepthBelowBase, pos_des.z());
    const vector3_t vel_des = vector3_t(traj.derivative(t, 1)) - base_ref_vel + base_vel;
    const vector3_t acc_ref = traj.derivative(t, 2);
    reference_check_.requireFinite(pos_des, "foot_pos", modelInfo_.foot_name[i]);
    reference_check_.requireFinite(vel_des, "foot_pos", modelInfo_.foot_name[i]);
    reference_check_.requireFinite(acc_ref, "foot_pos", modelInfo_.foot_name[i]);

    const vector3_t foot_pos = pinocchioInterface_.getFramePose(foot).translation();
    const vector3_t foot_vel = pinocchioInterface_.getFrame6dVel_localWorldAligned(foot).linear();
    const vector3_t feedback = swingKp_ * (pos_des - foot_pos) + swingKd_ * (vel_des - foot_vel);

    block.A.block(3 * k, 0, 3, nv) = Jc.middleRows(3 * static_cast<Eigen::Index>(i), 3);
    block.b.segment<3>(3 * k) =
        acc_ref + feedback - pinocchioInterface_.getFrame6dAcc_localWorldAligned(foot).linear();
    ++k;
  }
  block.A = W * block.A;
  block.b = W * block.b;
  return block;
}

MatrixDB WholeBodyController::step9() {
  const auto nv = static_cast<Eigen::Index>(nv_);
  const auto nForces = static_cast<Eigen::Index>(3 * nFeet_);
  MatrixDB block("contact_force");
  block.A.setZero(nForces, static_cast<Eigen::Index>(nVar_));
  block.A.block(0, nv, nForces, nForces).setIdentity();
  block.b.setZero(nForces);
  block.A *= weightContactForce_;
  block.b *= weightContactForce_;
  return block;
}

// ---------------------------------------------------------------------------------------------
// Solve
// ---------------------------------------------------------------------------------------------

std::shared_ptr<ActuatorCommands> WholeBodyController::optimize() {
  actuator_commands_ = std::make_shared<ActuatorCommands>();
  actuator_commands_->setZero(nJ_);
  actuator_commands_->stamp_s = nodeHandle_->now().seconds();
  actuator_commands_->state_stamp_s = state_stamp_s_;
  reference_check_.clear();
  if (!takeReferences()) {
    return rejectReferences();
  }
  if (!ctrlData_ptr.get()) {
    return actuator_commands_;
  }

  step1();
  if (reference_check_.failed()) {
    return rejectReferences();
  }

  const auto nJ = static_cast<Eigen::Index>(nJ_);
  vector_t solution;
  if (solveProgram(solution)) {
    solution_ = std::move(solution);
    actuator_commands_->torque = solution_.tail(nJ);
    joint_acc_ = solution_.segment(static_cast<Eigen::Index>(nv_) - nJ, nJ);
  } else {
    ++num_failed_solves_;
    joint_acc_.setZero(nJ);
    if (send_static_torque_on_failure_) {
      const vector_t limit = pinocchioInterface_.getModel().effortLimit.tail(nJ);
      actuator_commands_->torque = staticTorqueEstimate().cwiseMax(-limit).cwiseMin(limit);
    }
    RCLCPP_INFO(nodeHandle_->get_logger(), "controller wbc failed, please restart ...\n");
  }

  step10();
  if (reference_check_.failed()) {
    return rejectReferences();
  }
  return actuator_commands_;
}

bool WholeBodyController::takeReferences() {
  cycle_references_ = referenceTrajectoriesPtrBuffer_.get();
  cycle_foot_trajs_.clear();
  if (!cycle_references_) {
    return true;
  }
  if (!reference_check_.requireDimension(cycle_references_->get_base_pos_traj().get(),
                                         "base_pos") ||
      !reference_check_.requireDimension(cycle_references_->get_base_rpy_traj().get(),
                                         "base_rpy") ||
      !reference_check_.requireDimension(cycle_references_->get_base_pos_ref_traj().get(),
                                         "base_pos_ref")) {
    return false;
  }
  cycle_foot_trajs_ = cycle_references_->get_foot_pos_traj();
  for (size_t i = 0; i < nFeet_; ++i) {
    const auto it = cycle_foot_trajs_.find(modelInfo_.foot_name[i]);
    if (it != cycle_foot_trajs_.end() &&
        !reference_check_.requireDimension(it->second.get(), "foot_pos", modelInfo_.foot_name[i])) {
      return false;
    }
  }
  return true;
}

std::shared_ptr<ActuatorCommands> WholeBodyController::rejectReferences() {
  ++num_rejected_references_;
  const auto nJ = static_cast<Eigen::Index>(nJ_);
  auto safe = std::make_shared<ActuatorCommands>(
      safeDampingCommand(pinocchioInterface_.qpos().segment(7, nJ), safe_damping_kd_));
  safe->stamp_s = actuator_commands_->stamp_s;
  safe->state_stamp_s = actuator_commands_->state_stamp_s;
  actuator_commands_ = std::move(safe);
  size_t suppressed = 0;
  const std::string& problem = reference_check_.fault();
  if (report_throttle_.allow(problem, suppressed)) {
    RCLCPP_ERROR(nodeHandle_->get_logger(),
                 "WholeBodyController: %s; sending the safe damping command (%zu similar "
                 "reports suppressed)",
                 problem.c_str(), suppressed);
  }
  return actuator_commands_;
}

bool WholeBodyController::solveProgram(vector_t& solution) {
  // The solver sees only qdd and the stance forces; tau and the swing forces follow from them.
  dense_qp::DenseQpSettings settings;
  settings.equilibration_iterations = kEquilibrationPasses;
  reduced_program_.build(constraints, weighedTask, contactFlag_, kHessianRegularisation,
                         settings.infinite_bound, qp_);

  // One solver per contact count: a gait switches between a few shapes every cycle.
  const std::array<Eigen::Index, 3> shape{qp_.numVariables(), qp_.numEqualities(),
                                          qp_.numInequalities()};
  SizedQpSolver& sized = qp_solvers_.at(nc_);
  if (!sized.solver || shape != sized.shape) {
    sized.solver.emplace(shape[0], shape[1], shape[2], settings);
    sized.shape = shape;
  }
  // A non-finite programme (e.g. from a diverged policy) is refused by the solver
  // (kInvalidInput): a failed solve like any other.
  if (sized.solver->solve(qp_, qp_solution_) != dense_qp::DenseQpStatus::kSolved) {
    return false;
  }
  reduced_program_.expand(qp_solution_.x, solution);
  return solution.allFinite();
}

vector_t WholeBodyController::staticTorqueEstimate() const {
  const auto nv = static_cast<Eigen::Index>(pinocchioInterface_.Nv());
  const auto nJ = static_cast<Eigen::Index>(nJ_);
  const scalar_t mass = pinocchioInterface_.getData().mass[0];
  const vector3_t foot_force(0.0, 0.0, 0.25 * mass * kGravity);
  vector_t torque = pinocchioInterface_.nle().tail(nJ);
  matrix6x_t J = matrix6x_t::Zero(6, nv);
  for (const int foot : foot_frame_ids_) {
    pinocchioInterface_.getJacobia_localWorldAligned(foot, J);
    torque -= J.topRightCorner(3, nJ).transpose() * foot_force;
  }
  return torque;
}

// ---------------------------------------------------------------------------------------------
// Joint commands
// ---------------------------------------------------------------------------------------------

int WholeBodyController::legJoints(size_t foot, std::array<Eigen::Index, 3>& joints) const {
  const auto foot_rows = Jc.middleRows(3 * static_cast<Eigen::Index>(foot), 3);
  int count = 0;
  for (Eigen::Index j = 0; j < static_cast<Eigen::Index>(nJ_) && count < 3; ++j) {
    if (foot_rows.col(6 + j).norm() > kLegJointColumnNorm) {
      joints[count++] = j;
    }
  }
  return count;
}

void WholeBodyController::disableLeg(size_t foot, const std::array<Eigen::Index, 3>& joints,
                                     int count, const char* reason) {
  for (int k = 0; k < count; ++k) {
    const Eigen::Index j = joints[k];
    actuator_commands_->Kp(j) = 0.0;
    actuator_commands_->Kd(j) = 0.0;
    actuator_commands_->pos(j) = 0.0;
    actuator_commands_->vel(j) = 0.0;
  }
  RCLCPP_WARN_THROTTLE(nodeHandle_->get_logger(), *nodeHandle_->get_clock(), kWarnThrottleMs,
                       "WholeBodyController: leg of %s gets zero gains this cycle: %s",
                       modelInfo_.foot_name[foot].c_str(), reason);
}

void WholeBodyController::step10() {
  const std::shared_ptr<const TrajectoriesBuffer>& references = cycle_references_;
  if (!references) {
    return;
  }
  const TrajectoriesBuffer::trajectory_map_t& foot_trajs = cycle_foot_trajs_;
  const auto base_traj = references->get_base_pos_traj();
  if (foot_trajs.empty()) {
    return;
  }
  const contact_flag_t stance_flags = quadruped::modeNumber2StanceLeg(mode_.get());
  const scalar_t t = nodeHandle_->now().seconds() + kStepTenLookAhead;
  const vector3_t base_pos = pinocchioInterface_.getFramePose(base_frame_id_).translation();
  const vector3_t base_vel =
      pinocchioInterface_.getFrame6dVel_localWorldAligned(base_frame_id_).linear();
  const auto nJ = static_cast<Eigen::Index>(nJ_);
  const auto q = pinocchioInterface_.qpos().tail(nJ);
  const auto qd = pinocchioInterface_.qvel().tail(nJ);

  for (size_t i = 0; i < nFeet_; ++i) {
    std::array<Eigen::Index, 3> joints{};
    const int count = legJoints(i, joints);
    if (count < 3) {
      disableLeg(i, joints, count, "fewer than three joints move the foot");
      continue;
    }
    if (stance_flags[i]) {
      if (joint_acc_.size() != nJ) {
        continue;
      }
      for (const Eigen::Index j : joints) {
        actuator_commands_->Kp(j) = 10.0;
        actuator_commands_->Kd(j) = 0.1;
        actuator_commands_->pos(j) = q(j) + dt_ * qd(j) + 0.5 * dt_ * dt_ * joint_acc_(j);
        actuator_commands_->vel(j) = qd(j) + dt_ * joint_acc_(j);
      }
      continue;
    }
    const auto it = foot_trajs.find(modelInfo_.foot_name[i]);
    if (it == foot_trajs.end() || !it->second) {
      disableLeg(i, joints, count, "no position reference for the swing foot");
      continue;
    }
    if (!commandSwingLeg(i, joints, *it->second, base_traj, t, base_pos, base_vel)) {
      disableLeg(i, joints, count, "singular or ill-conditioned leg Jacobian");
    }
  }
}

bool WholeBodyController::commandSwingLeg(size_t foot, const std::array<Eigen::Index, 3>& joints,
                                          const CubicSplineTrajectory& foot_traj,
                                          const std::shared_ptr<CubicSplineTrajectory>& base_traj,
                                          scalar_t t, const vector3_t& base_pos,
                                          const vector3_t& base_vel) {
  const int foot_frame = foot_frame_ids_[foot];
  const auto foot_rows = Jc.middleRows(3 * static_cast<Eigen::Index>(foot), 3);
  matrix3_t J_leg;
  vector3_t q_leg;
  for (int k = 0; k < 3; ++k) {
    J_leg.col(k) = foot_rows.col(6 + joints[k]);
    q_leg(k) = pinocchioInterface_.qpos()(7 + joints[k]);
  }
  matrix3_t J_inv;
  bool invertible = false;
  J_leg.computeInverseWithCheck(J_inv, invertible);
  if (!invertible || !J_inv.allFinite()) {
    return false;
  }
  const scalar_t condition =
      J_leg.cwiseAbs().colwise().sum().maxCoeff() * J_inv.cwiseAbs().colwise().sum().maxCoeff();
  if (!(condition < kMaxLegJacobianCondition)) {
    return false;
  }

  const vector3_t r = pinocchioInterface_.getFramePose(foot_frame).translation() - base_pos;
  const vector3_t r_v =
      pinocchioInterface_.getFrame6dVel_localWorldAligned(foot_frame).linear() - base_vel;
  vector3_t r_ref;
  vector3_t r_v_ref;
  if (base_traj) {
    r_ref = foot_traj.evaluate(t) - base_traj->evaluate(t);
    r_v_ref = foot_traj.derivative(t, 1) - base_traj->derivative(t, 1);
  } else {
    r_ref = vector3_t(foot_traj.evaluate(t)) - base_pos;
    r_v_ref = vector3_t(foot_traj.derivative(t, 1)) - base_vel;
  }
  if (!r_ref.allFinite() || !r_v_ref.allFinite()) {
    // The foot or the base reference (both checked for dimension this cycle) overflowed.
    reference_check_.requireFinite(r_ref, base_traj ? "base_pos or foot_pos" : "foot_pos",
                                   modelInfo_.foot_name[foot]);
    reference_check_.requireFinite(r_v_ref, base_traj ? "base_pos or foot_pos" : "foot_pos",
                                   modelInfo_.foot_name[foot]);
    return false;
  }
  r_ref.z() = std::min(r_ref.z(), -kMinFootDepthBelowBase);

  vector3_t dp = r_ref - r;
  if (dp.norm() > kMaxSwingStep) {
    dp *= kMaxSwingStep / dp.norm();
  }
  const vector3_t dv = r_v_ref - r_v;
  const scalar_t dv_norm = dv.norm();
  if (dv_norm > kMaxSwingVelocityStep) {
    r_v_ref = r_v + kMaxSwingVelocityStep * dv / dv_norm;
  }
  scalar_t kp = dp.norm() < 0.03 ? 60.0 : 30.0;
  if (dv_norm >= 0.1) {
    kp = 1.0;
  }

  const vector3_t q_des = q_leg + J_inv * dp;
  const vector3_t qd_des = J_inv * r_v_ref;
  if (!q_des.allFinite() || !qd_des.allFinite()) {
    return false;
  }
  for (int k = 0; k < 3; ++k) {
    const Eigen::Index j = joints[k];
    actuator_commands_->Kp(j) = kp;
    actuator_commands_->Kd(j) = 2.0;
    actuator_commands_->pos(j) = q_des(k);
    actuator_commands_->vel(j) = qd_des(k);
  }
  return true;
}

}  // namespace velmora
