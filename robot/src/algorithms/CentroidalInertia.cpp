// Composite (subtree) inertias in the world frame and the whole-robot centroidal inertia.
//
// oYcrb_i = sum over the subtree of i of oXk I_k, accumulated leaves first (children have larger
// ids than their parents). Entry 0 collects the whole robot: its mass is the total mass, its
// lever the centre of mass and its rotational part the inertia about the centre of mass in world
// axes (the body of the universe carries no inertia).

#include "rigid_body/algorithms/CentroidalInertia.h"

namespace velmora::rigid_body {

void computeCentroidalInertia(const Model& model, Data& data) {
  data.oYcrb[0] = Inertia::Zero();
  for (int i = 1; i < model.njoints; ++i) {
    data.oYcrb[i] = model.inertias[i].transformedBy(data.oMi[i]);
  }
  for (int i = model.njoints - 1; i > 0; --i) {
    data.oYcrb[model.parents[i]] += data.oYcrb[i];
  }
  for (int i = 0; i < model.njoints; ++i) {
    data.mass[i] = data.oYcrb[i].mass();
    data.com[i] = data.oYcrb[i].lever();
  }
  data.Ig = data.oYcrb[0];
}

}  // namespace velmora::rigid_body
