// Joint Jacobians in the world frame.
//
// Column k of J is the spatial motion, in world axes at the world origin, that a unit rate of
// velocity coordinate k gives its joint's body: oXi S_i. For a revolute joint with world axis
// w = oRi u through the joint origin p it is (p x w, w); for a prismatic one (oRi u, 0); the
// free flyer's six columns are oXi applied to the unit twists of the body's own axes.

#include "rigid_body/algorithms/JointJacobians.h"

namespace velmora::rigid_body {

void computeJointJacobians(const Model& model, Data& data) {
  for (int i = 1; i < model.njoints; ++i) {
    const matrix3_t& rotation = data.oMi[i].rotation();
    const vector3_t& origin = data.oMi[i].translation();
    const int iv = model.idx_vs[i];
    switch (model.joint_types[i]) {
      case JointType::kFreeFlyer:
        for (int k = 0; k < 3; ++k) {
          data.J.col(iv + k).head<3>() = rotation.col(k);
          data.J.col(iv + k).tail<3>().setZero();
          data.J.col(iv + 3 + k).head<3>() = origin.cross(rotation.col(k));
          data.J.col(iv + 3 + k).tail<3>() = rotation.col(k);
        }
        break;
      case JointType::kRevolute: {
        const vector3_t axis_world = rotation * model.axes[i];
        data.J.col(iv).head<3>() = origin.cross(axis_world);
        data.J.col(iv).tail<3>() = axis_world;
        break;
      }
      case JointType::kPrismatic:
        data.J.col(iv).head<3>() = rotation * model.axes[i];
        data.J.col(iv).tail<3>().setZero();
        break;
      case JointType::kUniverse:
        break;
    }
  }
}

}  // namespace velmora::rigid_body
