// Frame Jacobian from the world-frame joint Jacobians.
//
// A world column (v_o, w) (motion at the world origin) moves the frame origin p at v_o + w x p.
// World-aligned: (v_o + w x p, w). Local: both parts rotated by R^T, R the frame's orientation.
// Columns of joints that do not support the frame's body are zero.

#include "rigid_body/algorithms/FrameJacobian.h"

namespace velmora::rigid_body {

void getFrameJacobian(const Model& model, const Data& data, int frame_id, ReferenceFrame reference,
                      matrix6x_t& J) {
  if (J.cols() != model.nv) J.resize(6, model.nv);
  J.setZero();
  const SE3& oMf = data.oMf[frame_id];
  const vector3_t& p = oMf.translation();
  const matrix3_t& rotation = oMf.rotation();
  for (const int k : model.support_dofs[model.frames[frame_id].parent_joint]) {
    const vector3_t angular = data.J.col(k).tail<3>();
    const vector3_t linear = data.J.col(k).head<3>() + angular.cross(p);
    if (reference == ReferenceFrame::kLocalWorldAligned) {
      J.col(k).head<3>() = linear;
      J.col(k).tail<3>() = angular;
    } else {
      J.col(k).head<3>().noalias() = rotation.transpose() * linear;
      J.col(k).tail<3>().noalias() = rotation.transpose() * angular;
    }
  }
}

}  // namespace velmora::rigid_body
