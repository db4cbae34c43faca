#include "pinocchio/PinocchioInterface.h"

#include <cmath>
#include <stdexcept>
#include <string>

#include "rigid_body/BuildModelFromUrdf.h"
#include "rigid_body/algorithms/CentroidalInertia.h"
#include "rigid_body/algorithms/Crba.h"
#include "rigid_body/algorithms/ForwardKinematics.h"
#include "rigid_body/algorithms/FrameJacobian.h"
#include "rigid_body/algorithms/FrameKinematics.h"
#include "rigid_body/algorithms/JointJacobians.h"
#include "rigid_body/algorithms/NonLinearEffects.h"

namespace velmora {

namespace {

constexpr int kQuaternionIndex = 3;  // x, y, z, w at qpos[3..6]
constexpr scalar_t kMinQuaternionNorm = 1e-6;

void checkVector(const Eigen::Ref<const vector_t>& vector, const char* name, int expected_size) {
  if (vector.size() != expected_size) {
    throw std::invalid_argument(std::string("PinocchioInterface::updateRobotState: ") + name +
                                " has size " + std::to_string(vector.size()) + ", expected " +
                                std::to_string(expected_size));
  }
  for (Eigen::Index k = 0; k < vector.size(); ++k) {
    if (!std::isfinite(vector[k])) {
      throw std::invalid_argument(std::string("PinocchioInterface::updateRobotState: ") + name +
                                  " entry " + std::to_string(k) + " is not finite (" +
                                  std::to_string(vector[k]) + ")");
    }
  }
}

}  // namespace

PinocchioInterface::PinocchioInterface(const std::string& urdf_path)
    : model_(rigid_body::buildModelFromUrdf(urdf_path)),
      data_(model_),
      qpos_(vector_t::Zero(model_.nq)),
      qvel_(vector_t::Zero(model_.nv)),
      total_mass_(model_.totalMass()) {
  qpos_[kQuaternionIndex + 3] = 1.0;
  updateRobotState(qpos_, qvel_);
}

void PinocchioInterface::checkState(const Eigen::Ref<const vector_t>& qpos,
                                    const Eigen::Ref<const vector_t>& qvel) const {
  checkVector(qpos, "qpos", model_.nq);
  checkVector(qvel, "qvel", model_.nv);
  if (qpos.segment<4>(kQuaternionIndex).norm() < kMinQuaternionNorm) {
    throw std::invalid_argument(
        "PinocchioInterface::updateRobotState: qpos base quaternion (entries 3 to 6) has "
        "(near-)zero norm");
  }
}

void PinocchioInterface::updateRobotState(const Eigen::Ref<const vector_t>& qpos,
                                          const Eigen::Ref<const vector_t>& qvel) {
  checkState(qpos, qvel);
  // Same sizes as the storage (checked above): plain copies, no reallocation.
  qpos_ = qpos;
  qvel_ = qvel;
  qpos_.segment<4>(kQuaternionIndex).normalize();

  rigid_body::forwardKinematics(model_, data_, qpos_, qvel_);
  rigid_body::updateFrameKinematics(model_, data_);
  rigid_body::computeJointJacobians(model_, data_);
  rigid_body::computeCentroidalInertia(model_, data_);
  rigid_body::crba(model_, data_);
  rigid_body::computeNonLinearEffects(model_, data_);
}

int PinocchioInterface::checkedFrameId(int frame_id) const {
  if (frame_id < 0 || frame_id >= model_.nframes) {
    throw std::out_of_range("PinocchioInterface: frame id " + std::to_string(frame_id) +
                            " is not in [0, " + std::to_string(model_.nframes) + ")");
  }
  return frame_id;
}

rigid_body::SE3 PinocchioInterface::getFramePose(const std::string& frame_name) const {
  return data_.oMf[model_.getFrameId(frame_name)];
}

rigid_body::Motion PinocchioInterface::getFrame6dVel_localWorldAligned(
    const std::string& frame_name) const {
  return data_.vf_world_aligned[model_.getFrameId(frame_name)];
}

rigid_body::Motion PinocchioInterface::getFrame6dAcc_local(const std::string& frame_name) const {
  return data_.af_local[model_.getFrameId(frame_name)];
}

rigid_body::Motion PinocchioInterface::getFrame6dAcc_localWorldAligned(
    const std::string& frame_name) const {
  return data_.af_world_aligned[model_.getFrameId(frame_name)];
}

void PinocchioInterface::getJacobia_local(const std::string& frame_name, matrix6x_t& J) const {
  rigid_body::getFrameJacobian(model_, data_, model_.getFrameId(frame_name),
                               rigid_body::ReferenceFrame::kLocal, J);
}

void PinocchioInterface::getJacobia_localWorldAligned(const std::string& frame_name,
                                                      matrix6x_t& J) const {
  rigid_body::getFrameJacobian(model_, data_, model_.getFrameId(frame_name),
                               rigid_body::ReferenceFrame::kLocalWorldAligned, J);
}

const rigid_body::SE3& PinocchioInterface::getFramePose(int frame_id) const {
  return data_.oMf[checkedFrameId(frame_id)];
}

const rigid_body::Motion& PinocchioInterface::getFrame6dVel_localWorldAligned(int frame_id) const {
  return data_.vf_world_aligned[checkedFrameId(frame_id)];
}

const rigid_body::Motion& PinocchioInterface::getFrame6dAcc_local(int frame_id) const {
  return data_.af_local[checkedFrameId(frame_id)];
}

const rigid_body::Motion& PinocchioInterface::getFrame6dAcc_localWorldAligned(int frame_id) const {
  return data_.af_world_aligned[checkedFrameId(frame_id)];
}

void PinocchioInterface::getJacobia_local(int frame_id, matrix6x_t& J) const {
  rigid_body::getFrameJacobian(model_, data_, checkedFrameId(frame_id),
                               rigid_body::ReferenceFrame::kLocal, J);
}

void PinocchioInterface::getJacobia_localWorldAligned(int frame_id, matrix6x_t& J) const {
  rigid_body::getFrameJacobian(model_, data_, checkedFrameId(frame_id),
                               rigid_body::ReferenceFrame::kLocalWorldAligned, J);
}

}  // namespace velmora
