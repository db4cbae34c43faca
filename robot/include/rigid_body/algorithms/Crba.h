#pragma once

#include "rigid_body/Data.h"
#include "rigid_body/Model.h"

namespace velmora::rigid_body {

/// Joint-space inertia matrix `data.M` (Nv x Nv, both triangles) by the composite rigid-body
/// algorithm. Preconditions: computeJointJacobians and computeCentroidalInertia have run.
void crba(const Model& model, Data& data);

}  // namespace velmora::rigid_body
