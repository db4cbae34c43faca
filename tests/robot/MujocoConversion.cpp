#include "MujocoConversion.h"

#include <stdexcept>

#include <Eigen/Geometry>

namespace velmora::test {

namespace {
using RowMajorMatrix = Eigen::Matrix<scalar_t, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

matrix3_t rotationFromQuaternionXyzw(const vector_t& qpos) {
  return Eigen::Quaternion<scalar_t>(qpos[6], qpos[3], qpos[4], qpos[5])
      .normalized()
      .toRotationMatrix();
}
}  // namespace

MujocoRobot::MujocoRobot(const std::string& urdf_path, const rigid_body::Model& model)
    : nq_(model.nq), nv_(model.nv) {
  char error[1000] = "";
  model_.reset(mj_loadXML(urdf_path.c_str(), nullptr, error, sizeof(error)));
  if (!model_) throw std::runtime_error("MuJoCo cannot load " + urdf_path + ": " + error);
  model_->opt.disableflags |= mjDSBL_CONSTRAINT | mjDSBL_CONTACT | mjDSBL_PASSIVE;
  model_->opt.enableflags |= mjENBL_ENERGY;
  data_.reset(mj_makeData(model_.get()));
  if (model_->nq != nq_ || model_->nv != nv_) {
    throw std::runtime_error("MuJoCo model sizes differ: nq " + std::to_string(model_->nq) +
                             ", nv " + std::to_string(model_->nv));
  }
  if (model_->njnt < 1 || model_->jnt_type[0] != mjJNT_FREE || model_->jnt_qposadr[0] != 0) {
    throw std::runtime_error("MuJoCo model does not start with a free joint");
  }
  for (int j = 2; j < model.njoints; ++j) {
    const int id = mj_name2id(model_.get(), mjOBJ_JOINT, model.names[j].c_str());
    if (id < 0) throw std::runtime_error("MuJoCo model lacks joint " + model.names[j]);
    joint_qpos_address_.push_back(model_->jnt_qposadr[id]);
    joint_dof_address_.push_back(model_->jnt_dofadr[id]);
  }
}

vector_t MujocoRobot::toMujocoQpos(const vector_t& qpos) const {
  vector_t out(nq_);
  out.head<3>() = qpos.head<3>();
  out[3] = qpos[6];                        // w
  out.segment<3>(4) = qpos.segment<3>(3);  // x y z
  for (std::size_t j = 0; j < joint_qpos_address_.size(); ++j) {
    out[joint_qpos_address_[j]] = qpos[7 + j];
  }
  return out;
}

vector_t MujocoRobot::fromMujocoQpos(const vector_t& mujoco_qpos) const {
  vector_t out(nq_);
  out.head<3>() = mujoco_qpos.head<3>();
  out.segment<3>(3) = mujoco_qpos.segment<3>(4);
  out[6] = mujoco_qpos[3];
  for (std::size_t j = 0; j < joint_qpos_address_.size(); ++j) {
    out[7 + j] = mujoco_qpos[joint_qpos_address_[j]];
  }
  return out;
}

vector_t MujocoRobot::toMujocoQvel(const vector_t& qpos, const vector_t& qvel) const {
  vector_t out(nv_);
  out.head<3>() = rotationFromQuaternionXyzw(qpos) * qvel.head<3>();
  out.segment<3>(3) = qvel.segment<3>(3);
  for (std::size_t j = 0; j < joint_dof_address_.size(); ++j) {
    out[joint_dof_address_[j]] = qvel[6 + j];
  }
  return out;
}

vector_t MujocoRobot::fromMujocoQvel(const vector_t& mujoco_qpos,
                                     const vector_t& mujoco_qvel) const {
  const vector_t qpos = fromMujocoQpos(mujoco_qpos);
  vector_t out(nv_);
  out.head<3>() = rotationFromQuaternionXyzw(qpos).transpose() * mujoco_qvel.head<3>();
  out.segment<3>(3) = mujoco_qvel.segment<3>(3);
  for (std::size_t j = 0; j < joint_dof_address_.size(); ++j) {
    out[6 + j] = mujoco_qvel[joint_dof_address_[j]];
  }
  return out;
}

void MujocoRobot::setState(const vector_t& qpos, const vector_t& qvel) {
  qpos_ = qpos;
  qvel_ = qvel;
  Eigen::Map<vector_t>(data_->qpos, nq_) = toMujocoQpos(qpos);
  Eigen::Map<vector_t>(data_->qvel, nv_) = toMujocoQvel(qpos, qvel);
  Eigen::Map<vector_t>(data_->qacc, nv_).setZero();
  mj_forward(model_.get(), data_.get());
}

matrix_t MujocoRobot::velocityMap() const {
  matrix_t T = matrix_t::Zero(nv_, nv_);
  T.topLeftCorner<3, 3>() = rotationFromQuaternionXyzw(qpos_);
  T.block<3, 3>(3, 3).setIdentity();
  for (std::size_t j = 0; j < joint_dof_address_.size(); ++j) {
    T(joint_dof_address_[j], 6 + j) = 1.0;
  }
  return T;
}

matrix_t MujocoRobot::massMatrix() const {
  RowMajorMatrix full(nv_, nv_);
  mj_fullM(model_.get(), full.data(), data_->qM);
  const matrix_t T = velocityMap();
  return T.transpose() * matrix_t(full) * T;
}

namespace {
/// MuJoCo acceleration (dofs) of a motion at constant velmora velocity: Tdot v.
vector_t constantVelocityAcceleration(const vector_t& qpos, const vector_t& qvel, int nv) {
  vector_t out = vector_t::Zero(nv);
  out.head<3>() = rotationFromQuaternionXyzw(qpos) * qvel.segment<3>(3).cross(qvel.head<3>());
  return out;
}
}  // namespace

vector_t MujocoRobot::nonlinearEffects() {
  Eigen::Map<vector_t>(data_->qacc, nv_) = constantVelocityAcceleration(qpos_, qvel_, nv_);
  mj_inverse(model_.get(), data_.get());
  const vector_t generalized_force = Eigen::Map<const vector_t>(data_->qfrc_inverse, nv_);
  return velocityMap().transpose() * generalized_force;
}

vector_t MujocoRobot::nonlinearEffectsFromBias() const {
  RowMajorMatrix full(nv_, nv_);
  mj_fullM(model_.get(), full.data(), data_->qM);
  const vector_t bias = Eigen::Map<const vector_t>(data_->qfrc_bias, nv_);
  return velocityMap().transpose() *
         (bias + matrix_t(full) * constantVelocityAcceleration(qpos_, qvel_, nv_));
}

scalar_t MujocoRobot::totalEnergy() {
  mj_energyPos(model_.get(), data_.get());
  mj_energyVel(model_.get(), data_.get());
  return data_->energy[0] + data_->energy[1];
}

int MujocoRobot::bodyId(const std::string& body_name) const {
  const int id = mj_name2id(model_.get(), mjOBJ_BODY, body_name.c_str());
  if (id < 0) throw std::runtime_error("MuJoCo model has no body " + body_name);
  return id;
}

rigid_body::SE3 MujocoRobot::bodyPose(const std::string& body_name) const {
  const int id = bodyId(body_name);
  const Eigen::Map<const Eigen::Matrix<scalar_t, 3, 3, Eigen::RowMajor>> rotation(data_->xmat +
                                                                                  9 * id);
  return rigid_body::SE3(rotation, Eigen::Map<const vector3_t>(data_->xpos + 3 * id));
}

rigid_body::Motion MujocoRobot::bodyVelocityWorldAligned(const std::string& body_name) const {
  mjtNum angular_linear[6];
  mj_objectVelocity(model_.get(), data_.get(), mjOBJ_XBODY, bodyId(body_name), angular_linear, 0);
  return rigid_body::Motion(Eigen::Map<const vector3_t>(angular_linear + 3),
                            Eigen::Map<const vector3_t>(angular_linear));
}

matrix6x_t MujocoRobot::bodyJacobianWorldAligned(const std::string& body_name) const {
  RowMajorMatrix linear(3, nv_), angular(3, nv_);
  mj_jacBody(model_.get(), data_.get(), linear.data(), angular.data(), bodyId(body_name));
  matrix6x_t jacobian(6, nv_);
  jacobian << linear, angular;
  return jacobian * velocityMap();
}

matrix6x_t MujocoRobot::bodyJacobianLocal(const std::string& body_name) const {
  const matrix3_t rotation_t = bodyPose(body_name).rotation().transpose();
  matrix6x_t jacobian = bodyJacobianWorldAligned(body_name);
  jacobian.topRows<3>() = rotation_t * jacobian.topRows<3>();
  jacobian.bottomRows<3>() = rotation_t * jacobian.bottomRows<3>();
  return jacobian;
}

rigid_body::Motion MujocoRobot::bodyDriftAccelerationWorldAligned(const std::string& body_name) {
  const scalar_t saved_gravity[3] = {model_->opt.gravity[0], model_->opt.gravity[1],
                                     model_->opt.gravity[2]};
  mju_zero3(model_->opt.gravity);
  Eigen::Map<vector_t>(data_->qacc, nv_) = constantVelocityAcceleration(qpos_, qvel_, nv_);
  mj_rnePostConstraint(model_.get(), data_.get());
  mjtNum angular_linear[6];
  mj_objectAcceleration(model_.get(), data_.get(), mjOBJ_XBODY, bodyId(body_name), angular_linear,
                        0);
  mju_copy3(model_->opt.gravity, saved_gravity);
  return rigid_body::Motion(Eigen::Map<const vector3_t>(angular_linear + 3),
                            Eigen::Map<const vector3_t>(angular_linear));
}

scalar_t MujocoRobot::totalMass() const { return mj_getTotalmass(model_.get()); }

rigid_body::Inertia MujocoRobot::centroidalInertia() const {
  scalar_t mass = 0.0;
  vector3_t first_moment = vector3_t::Zero();
  for (int b = 1; b < model_->nbody; ++b) {
    mass += model_->body_mass[b];
    first_moment += model_->body_mass[b] * Eigen::Map<const vector3_t>(data_->xipos + 3 * b);
  }
  const vector3_t com = first_moment / mass;
  matrix3_t inertia = matrix3_t::Zero();
  for (int b = 1; b < model_->nbody; ++b) {
    const Eigen::Map<const Eigen::Matrix<scalar_t, 3, 3, Eigen::RowMajor>> principal_axes(
        data_->ximat + 9 * b);
    const vector3_t principal_moments = Eigen::Map<const vector3_t>(model_->body_inertia + 3 * b);
    const vector3_t offset = Eigen::Map<const vector3_t>(data_->xipos + 3 * b) - com;
    inertia += principal_axes * principal_moments.asDiagonal() * principal_axes.transpose() +
               model_->body_mass[b] *
                   (offset.squaredNorm() * matrix3_t::Identity() - offset * offset.transpose());
  }
  return rigid_body::Inertia(mass, com, inertia);
}

}  // namespace velmora::test
