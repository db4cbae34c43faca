#pragma once

#include "rigid_body/Data.h"
#include "rigid_body/Model.h"

namespace velmora::rigid_body {

/// Fills `data.J`: column k is the spatial motion (world axes, at the world origin) produced by a
/// unit rate of velocity coordinate k. Precondition: forwardKinematics has run (uses `oMi`).
void computeJointJacobians(const Model& model, Data& data);

}  // namespace velmora::rigid_body
