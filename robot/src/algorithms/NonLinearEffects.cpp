// Recursive Newton-Euler algorithm at zero generalised acceleration.
//
// Gravity enters as a fictitious upward acceleration of the world: a_gf_i = a_i + iXo (-g, 0),
// with a_i the drift acceleration from forwardKinematics. Body forces (local):
//   f_i = I_i a_gf_i + v_i x* (I_i v_i),
// accumulated from the leaves, f_p += pXi f_i, and projected on the joint axes: h_i = S_i^T f_i.

#include "rigid_body/algorithms/NonLinearEffects.h"

namespace velmora::rigid_body {

void computeNonLinearEffects(const Model& model, Data& data) {
  const vector3_t upward = -model.gravity;
  for (int i = 1; i < model.njoints; ++i) {
    Motion& a_gf = data.a_gf[i];
    a_gf.linear().noalias() = data.oMi[i].rotation().transpose() * upward;
    a_gf.linear() += data.a[i].linear();
    a_gf.angular() = data.a[i].angular();
    const Inertia& inertia = model.inertias[i];
    data.f[i] = inertia * a_gf;
    data.f[i] += crossForce(data.v[i], inertia * data.v[i]);
  }
  for (int i = model.njoints - 1; i > 0; --i) {
    const Force& f = data.f[i];
    const int iv = model.idx_vs[i];
    switch (model.joint_types[i]) {
      case JointType::kFreeFlyer:
        data.nle.segment<3>(iv) = f.linear();
        data.nle.segment<3>(iv + 3) = f.angular();
        break;
      case JointType::kRevolute:
        data.nle[iv] = model.axes[i].dot(f.angular());
        break;
      case JointType::kPrismatic:
        data.nle[iv] = model.axes[i].dot(f.linear());
        break;
      case JointType::kUniverse:
        break;
    }
    const int parent = model.parents[i];
    if (parent > 0) data.f[parent] += data.liMi[i].act(f);
  }
}

}  // namespace velmora::rigid_body
