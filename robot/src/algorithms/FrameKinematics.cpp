// Frame placements, velocities and classical drift accelerations.
//
// A frame f is fixed on the body of joint i at placement iMf = (R, p). With the joint body's
// local velocity (v, w) and drift acceleration (a, alpha), in joint axes:
//   velocity of the frame origin        v_f = v + w x p
//   classical acceleration of the origin a_f = a + alpha x p + w x v_f
// (the spatial acceleration of the body point plus the w x v correction), so that J qdd + a_f is
// the true acceleration of the origin. World-aligned values rotate these by oRi, local ones by
// R^T; angular parts are w and alpha rotated alike.

#include "rigid_body/algorithms/FrameKinematics.h"

namespace velmora::rigid_body {

void updateFrameKinematics(const Model& model, Data& data) {
  for (int f = 0; f < model.nframes; ++f) {
    const Frame& frame = model.frames[f];
    const SE3& oMi = data.oMi[frame.parent_joint];
    const Motion& v = data.v[frame.parent_joint];
    const Motion& a = data.a[frame.parent_joint];
    const matrix3_t& oRi = oMi.rotation();
    if (frame.placement_is_identity) {
      // The frame is the joint frame (p = 0, R = I).
      data.oMf[f] = oMi;
      const vector3_t a_origin = a.linear() + v.angular().cross(v.linear());
      data.vf_world_aligned[f].linear().noalias() = oRi * v.linear();
      data.vf_world_aligned[f].angular().noalias() = oRi * v.angular();
      data.af_world_aligned[f].linear().noalias() = oRi * a_origin;
      data.af_world_aligned[f].angular().noalias() = oRi * a.angular();
      data.af_local[f] = Motion(a_origin, a.angular());
      continue;
    }
    const vector3_t& p = frame.placement.translation();
    data.oMf[f] = oMi * frame.placement;

    const vector3_t v_origin = v.linear() + v.angular().cross(p);
    const vector3_t a_origin = a.linear() + a.angular().cross(p) + v.angular().cross(v_origin);

    data.vf_world_aligned[f].linear().noalias() = oRi * v_origin;
    data.vf_world_aligned[f].angular().noalias() = oRi * v.angular();
    data.af_world_aligned[f].linear().noalias() = oRi * a_origin;
    data.af_world_aligned[f].angular().noalias() = oRi * a.angular();

    const matrix3_t& iRf = frame.placement.rotation();
    data.af_local[f].linear().noalias() = iRf.transpose() * a_origin;
    data.af_local[f].angular().noalias() = iRf.transpose() * a.angular();
  }
}

}  // namespace velmora::rigid_body
