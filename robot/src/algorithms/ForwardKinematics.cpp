// Forward kinematics with velocities and drift accelerations, in each joint's own frame.
//
// Conventions: liMi is joint i in its parent's frame, oMi joint i in the world. Motions are
// spatial (linear part = velocity of the body point at the frame origin), local to joint i,
// linear first. With S_i the joint's motion subspace (constant in the joint frame for every
// joint kind here, so the joint bias term vanishes):
//   v_i = iXp v_p + S_i qd_i
//   a_i = iXp a_p + v_i x (S_i qd_i)          (generalised acceleration zero, no gravity)
// The free-flyer velocity is the body twist in the body's own axes, linear first.

#include "rigid_body/algorithms/ForwardKinematics.h"

#include <cmath>

namespace velmora::rigid_body {

namespace {

/// Rotation about the unit `axis` by the angle of sine `s` and cosine `c` (Rodrigues' formula).
matrix3_t axisRotation(const vector3_t& axis, scalar_t s, scalar_t c) {
  const scalar_t t = 1.0 - c;
  const scalar_t x = axis.x(), y = axis.y(), z = axis.z();
  matrix3_t rotation;
  rotation << t * x * x + c, t * x * y - s * z, t * x * z + s * y,  //
      t * x * y + s * z, t * y * y + c, t * y * z - s * x,          //
      t * x * z - s * y, t * y * z + s * x, t * z * z + c;
  return rotation;
}

/// Rotation about the coordinate axis `index` (0: x, 1: y, 2: z) by the angle of sine `s` and
/// cosine `c`.
matrix3_t principalRotation(int index, scalar_t s, scalar_t c) {
  matrix3_t rotation;
  switch (index) {
    case 0:
      rotation << 1.0, 0.0, 0.0, 0.0, c, -s, 0.0, s, c;
      break;
    case 1:
      rotation << c, 0.0, s, 0.0, 1.0, 0.0, -s, 0.0, c;
      break;
    default:
      rotation << c, -s, 0.0, s, c, 0.0, 0.0, 0.0, 1.0;
      break;
  }
  return rotation;
}

/// Places joint `i` in its parent's frame (`liMi`) at position `q` and returns the joint's
/// motion S_i qd_i in its own frame (zero when `qd` is null).
Motion placeJoint(const Model& model, int i, const vector_t& q, const vector_t* qd, SE3& liMi) {
  const int iq = model.idx_qs[i];
  const int iv = model.idx_vs[i];
  const SE3& placement = model.jointPlacements[i];
  const vector3_t& axis = model.axes[i];
  Motion joint_motion = Motion::Zero();
  switch (model.joint_types[i]) {
    case JointType::kFreeFlyer: {
      const Eigen::Quaternion<scalar_t> orientation(q[iq + 6], q[iq + 3], q[iq + 4], q[iq + 5]);
      liMi = placement * SE3(orientation.toRotationMatrix(), q.segment<3>(iq));
      if (qd != nullptr) joint_motion = Motion(qd->segment<3>(iv), qd->segment<3>(iv + 3));
      break;
    }
    case JointType::kRevolute: {
      const scalar_t s = std::sin(q[iq]);
      const scalar_t c = std::cos(q[iq]);
      const int principal = model.principal_axis[i];
      const matrix3_t rotation =
          principal >= 0 ? principalRotation(principal, s, c) : axisRotation(axis, s, c);
      if (model.placement_rotation_is_identity[i]) {
        liMi.rotation() = rotation;
      } else {
        liMi.rotation().noalias() = placement.rotation() * rotation;
      }
      liMi.translation() = placement.translation();
      if (qd != nullptr) joint_motion = Motion(vector3_t::Zero(), axis * (*qd)[iv]);
      break;
    }
    case JointType::kPrismatic:
      liMi.rotation() = placement.rotation();
      liMi.translation() = placement.translation() + placement.rotation() * (axis * q[iq]);
      if (qd != nullptr) joint_motion = Motion(axis * (*qd)[iv], vector3_t::Zero());
      break;
    case JointType::kUniverse:
      break;
  }
  return joint_motion;
}

}  // namespace

void forwardKinematics(const Model& model, Data& data, const vector_t& q, const vector_t& qd) {
  data.oMi[0] = SE3::Identity();
  data.v[0].setZero();
  data.a[0].setZero();
  for (int i = 1; i < model.njoints; ++i) {
    const int parent = model.parents[i];
    SE3& liMi = data.liMi[i];
    const Motion joint_motion = placeJoint(model, i, q, &qd, liMi);
    data.oMi[i] = data.oMi[parent] * liMi;
    data.v[i] = liMi.actInv(data.v[parent]) + joint_motion;
    data.a[i] = liMi.actInv(data.a[parent]) + data.v[i].cross(joint_motion);
  }
}

void forwardPlacements(const Model& model, Data& data, const vector_t& q) {
  data.oMi[0] = SE3::Identity();
  for (int i = 1; i < model.njoints; ++i) {
    placeJoint(model, i, q, nullptr, data.liMi[i]);
    data.oMi[i] = data.oMi[model.parents[i]] * data.liMi[i];
  }
}

}  // namespace velmora::rigid_body
