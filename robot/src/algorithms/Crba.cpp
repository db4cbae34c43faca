// Composite rigid-body algorithm in the world frame.
//
// For velocity coordinates r and c with r belonging to a joint that supports c's joint i (or to
// i itself): M(r, c) = M(c, r) = J_r . (oYcrb_i J_c), with J the world joint Jacobians and oYcrb_i
// the composite inertia of i's subtree. Every other entry couples independent branches and stays
// zero.

#include "rigid_body/algorithms/Crba.h"

namespace velmora::rigid_body {

void crba(const Model& model, Data& data) {
  for (int i = 1; i < model.njoints; ++i) {
    const Inertia& composite = data.oYcrb[i];
    const int first = model.idx_vs[i];
    for (int c = first; c < first + model.nvs[i]; ++c) {
      const vector6_t column = data.J.col(c);
      const Force momentum = composite * Motion(column);
      for (const int r : model.support_dofs[i]) {
        const scalar_t entry = momentum.linear().dot(data.J.col(r).head<3>()) +
                               momentum.angular().dot(data.J.col(r).tail<3>());
        data.M(r, c) = entry;
        data.M(c, r) = entry;
      }
    }
  }
}

}  // namespace velmora::rigid_body
