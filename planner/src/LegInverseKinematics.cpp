#include "planner/LegInverseKinematics.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "pinocchio/Orientation.h"
#include "rigid_body/algorithms/ForwardKinematics.h"

namespace velmora {
namespace sim {
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

}  // namespace sim
}  // namespace velmora
