#pragma once

#include "rigid_body/Data.h"
#include "rigid_body/Model.h"

namespace velmora::rigid_body {

/// Composite inertias of every subtree in the world frame (`oYcrb`), subtree masses and centres
/// of mass (`mass`, `com`; entry 0 is the whole robot) and the whole-robot inertia `Ig` (total
/// mass, centre of mass, rotational inertia about it in world axes). Precondition:
/// forwardKinematics has run (uses `oMi`).
void computeCentroidalInertia(const Model& model, Data& data);

}  // namespace velmora::rigid_body
