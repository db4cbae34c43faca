#include "planner/LegInverseKinematics.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

#include "pinocchio/Orientation.h"
#include "rigid_body/algorithms/ForwardKinematics.h"

namespace velmora {
namespace planner {
namespace {

/// Halvings of a Newton step before a leg gives up improving in one iteration.
constexpr int kMaxHalvings = 8;

}  // namespace

LegInverseKinematics::LegInverseKinematics(const ModelInfo& info, const PinocchioInterface& model,
                                           LegIkSettings settings)
    : model_(model.getModel()), data_(model_), settings_(settings) {
  if (info.foot_name.size() != 4) {
    throw std::invalid_argument("LegInverseKinematics: the robot description lists " +
                                std::to_string(info.foot_name.size()) + " feet, not four");
  }
  num_joints_ = info.joints_name.size();
  for (const auto& name : info.joints_name) {
    joint_q_index_.push_back(model_.idx_qs[model_.getJointId(name)]);
  }
  for (size_t i = 0; i < 4; ++i) {
    foot_frame_[i] = model_.getFrameId(info.foot_name[i]);
    const int parent = model_.frames[foot_frame_[i]].parent_joint;
    std::vector<int> leg;
    for (const int joint : model_.supports[parent]) {
      if (model_.joint_types[joint] == rigid_body::JointType::kFreeFlyer) continue;
      if (model_.joint_types[joint] != rigid_body::JointType::kRevolute) {
        throw std::invalid_argument("LegInverseKinematics: the joint '" + model_.names[joint] +
                                    "' moving the foot '" + info.foot_name[i] +
                                    "' is not revolute");
      }
      leg.push_back(joint);
    }
    if (leg.size() != 3) {
      throw std::invalid_argument("LegInverseKinematics: the foot '" + info.foot_name[i] +
                                  "' is moved by " + std::to_string(leg.size()) +
                                  " actuated joints, not three");
    }
    for (size_t k = 0; k < 3; ++k) {
      leg_joint_[i][k] = leg[k];
      leg_q_[i][k] = model_.idx_qs[leg[k]];
    }
  }
  q_ = vector_t::Zero(model_.nq);
  q_(6) = 1.0;
  // Base at the origin, every joint at zero but the knee, which sweeps its range.
  for (size_t i = 0; i < 4; ++i) {
    const int knee_q = leg_q_[i][2];
    const scalar_t lower = model_.lowerPositionLimit(knee_q);
    const scalar_t upper = model_.upperPositionLimit(knee_q);
    constexpr int kKneeSamples = 400;
    for (int k = 0; k <= kKneeSamples; ++k) {
      q_(knee_q) = lower + (upper - lower) * static_cast<scalar_t>(k) / kKneeSamples;
      updateKinematics();
      hip_in_base_[i] = data_.oMi[leg_joint_[i][0]].translation();
      reach_m_[i] = std::max(reach_m_[i], (foot_pos_[i] - hip_in_base_[i]).norm());
    }
    q_(knee_q) = 0.0;
  }
}

vector3_t LegInverseKinematics::hipPosition(size_t foot, const vector3_t& base_pos,
                                            const vector3_t& base_rpy) const {
  if (foot >= 4) {
    throw std::invalid_argument("LegInverseKinematics::hipPosition: foot index " +
                                std::to_string(foot) + " is out of range [0, 4)");
  }
  return base_pos + toQuaternion(base_rpy).toRotationMatrix() * hip_in_base_[foot];
}

vector3_t LegInverseKinematics::clampToReach(size_t foot, const vector3_t& base_pos,
                                             const vector3_t& base_rpy, const vector3_t& target,
                                             scalar_t reach_fraction) const {
  if (!(reach_fraction > 0.0 && reach_fraction <= 1.0)) {
    throw std::invalid_argument(
        "LegInverseKinematics::clampToReach: reach_fraction must be in (0, 1], got " +
        std::to_string(reach_fraction));
  }
  if (!target.allFinite() || !base_pos.allFinite() || !base_rpy.allFinite()) {
    throw std::invalid_argument("LegInverseKinematics::clampToReach: an input is not finite");
  }
  const vector3_t hip = hipPosition(foot, base_pos, base_rpy);
  const vector3_t offset = target - hip;
  const scalar_t radius = reach_fraction * reach_m_[foot];
  if (offset.norm() <= radius) return target;
  const scalar_t horizontal = offset.head<2>().norm();
  const scalar_t allowed = std::sqrt(std::max(0.0, radius * radius - offset(2) * offset(2)));
  vector3_t clamped = target;
  if (horizontal > 0.0) {
    clamped.head<2>() = hip.head<2>() + offset.head<2>() * (allowed / horizontal);
  }
  return clamped;
}

void LegInverseKinematics::updateKinematics() {
  rigid_body::forwardPlacements(model_, data_, q_);
  for (size_t i = 0; i < 4; ++i) {
    const rigid_body::Frame& frame = model_.frames[foot_frame_[i]];
    foot_pos_[i] = data_.oMi[frame.parent_joint].act(frame.placement.translation());
  }
}

matrix3_t LegInverseKinematics::legJacobian(size_t foot) const {
  // Column k: velocity of the foot for a unit rate of revolute joint k, axis a at point o:
  // a x (p - o), all in world axes.
  matrix3_t J;
  for (size_t k = 0; k < 3; ++k) {
    const int joint = leg_joint_[foot][k];
    const rigid_body::SE3& oMi = data_.oMi[joint];
    const vector3_t axis = oMi.rotation() * model_.axes[joint];
    J.col(static_cast<Eigen::Index>(k)) = axis.cross(foot_pos_[foot] - oMi.translation());
  }
  return J;
}

std::array<vector3_t, 4> LegInverseKinematics::footPositions(const vector3_t& base_pos,
                                                             const vector3_t& base_rpy,
                                                             const vector_t& joints) {
  if (joints.size() != static_cast<Eigen::Index>(num_joints_) || !joints.allFinite() ||
      !base_pos.allFinite() || !base_rpy.allFinite()) {
    throw std::invalid_argument(
        "LegInverseKinematics::footPositions: the joints have the wrong size or an input is not "
        "finite");
  }
  const Eigen::Quaternion<scalar_t> quat = toQuaternion(base_rpy);
  q_.head<3>() = base_pos;
  q_.segment<4>(3) << quat.x(), quat.y(), quat.z(), quat.w();
  for (size_t j = 0; j < num_joints_; ++j) {
    q_(joint_q_index_[j]) = joints(static_cast<Eigen::Index>(j));
  }
  updateKinematics();
  std::array<vector3_t, 4> feet;
  for (size_t i = 0; i < 4; ++i) feet[i] = foot_pos_[i];
  return feet;
}

vector_t LegInverseKinematics::solve(const vector3_t& base_pos, const vector3_t& base_rpy,
                                     const std::array<vector3_t, 4>& feet_world,
                                     const vector_t& joints_guess, scalar_t* residual_m) {
  bool targets_finite = true;
  for (const auto& foot : feet_world) targets_finite = targets_finite && foot.allFinite();
  if (!targets_finite) {
    throw std::invalid_argument("LegInverseKinematics::solve: a foot target is not finite");
  }
  // Writes the pose and joints into q_ and runs forward kinematics (checks sizes and values).
  footPositions(base_pos, base_rpy, joints_guess);
  const scalar_t lambda2 = settings_.damping_m * settings_.damping_m;
  std::array<scalar_t, 4> error_norm{};
  std::array<vector3_t, 4> step{};
  const auto footErrors = [&]() {
    for (size_t i = 0; i < 4; ++i) {
      error_norm[i] = (feet_world[i] - foot_pos_[i]).norm();
    }
  };
  footErrors();
  for (int iteration = 0; iteration < settings_.max_iterations; ++iteration) {
    if (*std::max_element(error_norm.begin(), error_norm.end()) < settings_.tolerance_m) break;
    for (size_t i = 0; i < 4; ++i) {
      const matrix3_t J = legJacobian(i);
      const vector3_t error = feet_world[i] - foot_pos_[i];
      // dq = J^T (J J^T + lambda^2 I)^-1 e, no joint moving more than max_step_rad.
      step[i] =
          J.transpose() * (J * J.transpose() + lambda2 * matrix3_t::Identity()).ldlt().solve(error);
      const scalar_t largest = step[i].cwiseAbs().maxCoeff();
      if (largest > settings_.max_step_rad) step[i] *= settings_.max_step_rad / largest;
    }
    // Backtracking, leg by leg: a step is halved until it brings its foot closer (joint limits
    // and the linearisation can make a full step overshoot); a leg that cannot improve stays.
    q_start_ = q_;
    const vector_t& q_start = q_start_;
    const std::array<scalar_t, 4> error_start = error_norm;
    std::array<scalar_t, 4> scale{{1.0, 1.0, 1.0, 1.0}};
    std::array<bool, 4> settled{};
    bool improved = false;
    for (int trial = 0; trial < kMaxHalvings; ++trial) {
      for (size_t i = 0; i < 4; ++i) {
        if (settled[i]) continue;
        for (size_t k = 0; k < 3; ++k) {
          const int iq = leg_q_[i][k];
          q_(iq) = std::clamp(q_start(iq) + scale[i] * step[i](static_cast<Eigen::Index>(k)),
                              model_.lowerPositionLimit(iq), model_.upperPositionLimit(iq));
        }
      }
      updateKinematics();
      footErrors();
      bool retry = false;
      for (size_t i = 0; i < 4; ++i) {
        if (settled[i]) continue;
        if (error_norm[i] < error_start[i] || error_start[i] < settings_.tolerance_m) {
          settled[i] = true;
          improved = improved || error_norm[i] < error_start[i];
        } else {
          scale[i] *= 0.5;
          retry = true;
        }
      }
      if (!retry) break;
    }
    // Legs that found no better point return to where they started.
    bool reverted = false;
    for (size_t i = 0; i < 4; ++i) {
      if (settled[i]) continue;
      for (size_t k = 0; k < 3; ++k) q_(leg_q_[i][k]) = q_start(leg_q_[i][k]);
      reverted = true;
    }
    if (reverted) {
      updateKinematics();
      footErrors();
    }
    if (!improved) break;
  }
  const scalar_t worst = *std::max_element(error_norm.begin(), error_norm.end());
  if (residual_m != nullptr) *residual_m = worst;
  vector_t joints(static_cast<Eigen::Index>(num_joints_));
  for (size_t j = 0; j < num_joints_; ++j)
    joints(static_cast<Eigen::Index>(j)) = q_(joint_q_index_[j]);
  return joints;
}

}  // namespace planner
}  // namespace velmora
