#pragma once

// Independent reference for the joint-space dynamics of the bundled robot: MuJoCo loads the same
// URDF and reports the actuated-joint block of the mass matrix and the joint rows of the bias
// forces. MuJoCo's free joint takes the base orientation as w, x, y, z, the base linear velocity
// in world axes and the angular velocity in base axes.

#include <memory>
#include <stdexcept>
#include <string>

#include <mujoco/mujoco.h>
#include <Eigen/Dense>

namespace velmora::test {

/// Rotation (body to world) of roll-pitch-yaw `rpy`: R = Rz(yaw) Ry(pitch) Rx(roll).
inline Eigen::Quaterniond quaternionFromRpy(const Eigen::Vector3d& rpy) {
  return Eigen::AngleAxisd(rpy(2), Eigen::Vector3d::UnitZ()) *
         Eigen::AngleAxisd(rpy(1), Eigen::Vector3d::UnitY()) *
         Eigen::AngleAxisd(rpy(0), Eigen::Vector3d::UnitX());
}

/// One state of the floating-base robot in physical terms.
struct BaseAndJointState {
  Eigen::Vector3d base_pos_world = Eigen::Vector3d::Zero();
  Eigen::Quaterniond base_orientation = Eigen::Quaterniond::Identity();  // base to world
  Eigen::Vector3d base_lin_vel_world = Eigen::Vector3d::Zero();
  Eigen::Vector3d base_ang_vel_world = Eigen::Vector3d::Zero();
  Eigen::VectorXd joint_pos;
  Eigen::VectorXd joint_vel;
};

class MujocoJointDynamics {
 public:
  explicit MujocoJointDynamics(const std::string& urdf_path) {
    char error[1000] = "";
    model_.reset(mj_loadXML(urdf_path.c_str(), nullptr, error, sizeof(error)));
    if (!model_) {
      throw std::runtime_error("MuJoCo cannot load " + urdf_path + ": " + error);
    }
    if (model_->nv < 7 || model_->jnt_type[0] != mjJNT_FREE) {
      throw std::runtime_error("expected a free-floating robot in " + urdf_path);
    }
    data_.reset(mj_makeData(model_.get()));
  }

  int numJoints() const { return model_->nv - 6; }

  /// Evaluates the dynamics at `state`; the accessors below then refer to it.
  void setState(const BaseAndJointState& state) {
    const int nj = numJoints();
    mjData* d = data_.get();
    mj_resetData(model_.get(), d);
    Eigen::Map<Eigen::VectorXd> qpos(d->qpos, model_->nq);
    Eigen::Map<Eigen::VectorXd> qvel(d->qvel, model_->nv);
    qpos.head<3>() = state.base_pos_world;
    qpos(3) = state.base_orientation.w();
    qpos(4) = state.base_orientation.x();
    qpos(5) = state.base_orientation.y();
    qpos(6) = state.base_orientation.z();
    qpos.tail(nj) = state.joint_pos;
    rotation_ = state.base_orientation.toRotationMatrix();
    qvel.head<3>() = state.base_lin_vel_world;
    qvel.segment<3>(3) = rotation_.transpose() * state.base_ang_vel_world;
    qvel.tail(nj) = state.joint_vel;
    ang_vel_local_ = qvel.segment<3>(3);
    lin_vel_local_ = rotation_.transpose() * state.base_lin_vel_world;
    mj_forward(model_.get(), d);
    full_mass_.resize(model_->nv, model_->nv);
    Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor> dense(model_->nv,
                                                                                 model_->nv);
    mj_fullM(model_.get(), dense.data(), d->qM);
    full_mass_ = dense;
  }

  /// Actuated-joint block of the joint-space inertia matrix [kg m^2].
  Eigen::MatrixXd jointMass() const {
    return full_mass_.bottomRightCorner(numJoints(), numJoints());
  }

  /// Joint rows of the bias forces at zero *spatial* base acceleration (the free-flyer
  /// convention, where the base origin then accelerates by omega x v), [N m].
  Eigen::VectorXd jointBiasAtZeroSpatialBaseAcc() const {
    const int nj = numJoints();
    const Eigen::Map<const Eigen::VectorXd> bias(data_->qfrc_bias, model_->nv);
    // MuJoCo's bias holds the base origin at zero world acceleration; add the inertial
    // reaction of the base origin accelerating by R (omega_local x v_local).
    const Eigen::Vector3d origin_acc_world = rotation_ * ang_vel_local_.cross(lin_vel_local_);
    return bias.tail(nj) + full_mass_.bottomLeftCorner(nj, 3) * origin_acc_world;
  }

  /// Joint rows of the gravity forces alone [N m].
  Eigen::VectorXd jointGravity(const BaseAndJointState& state) {
    BaseAndJointState at_rest = state;
    at_rest.base_lin_vel_world.setZero();
    at_rest.base_ang_vel_world.setZero();
    at_rest.joint_vel.setZero(state.joint_pos.size());
    setState(at_rest);
    const Eigen::Map<const Eigen::VectorXd> bias(data_->qfrc_bias, model_->nv);
    return bias.tail(numJoints());
  }

 private:
  struct ModelDeleter {
    void operator()(mjModel* m) const { mj_deleteModel(m); }
  };
  struct DataDeleter {
    void operator()(mjData* d) const { mj_deleteData(d); }
  };
  std::unique_ptr<mjModel, ModelDeleter> model_;
  std::unique_ptr<mjData, DataDeleter> data_;
  Eigen::MatrixXd full_mass_;
  Eigen::Matrix3d rotation_ = Eigen::Matrix3d::Identity();
  Eigen::Vector3d ang_vel_local_ = Eigen::Vector3d::Zero();
  Eigen::Vector3d lin_vel_local_ = Eigen::Vector3d::Zero();
};

}  // namespace velmora::test
