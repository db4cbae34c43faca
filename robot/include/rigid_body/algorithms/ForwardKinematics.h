#pragma once

#include "core/Types.h"
#include "rigid_body/Data.h"
#include "rigid_body/Model.h"

namespace velmora::rigid_body {

/// Joint placements (`liMi`, `oMi`), body velocities `v` and drift accelerations `a` (the spatial
/// accelerations at zero generalised acceleration, gravity excluded), all local, at position `q`
/// (Nq, unit quaternion) and velocity `qd` (Nv). Preconditions (not checked): sizes match the
/// model and the base quaternion has unit norm.
void forwardKinematics(const Model& model, Data& data, const vector_t& q, const vector_t& qd);

/// Joint placements only (`liMi`, `oMi`, the same values as forwardKinematics gives) at position
/// `q`; leaves `v` and `a` as they were. Preconditions as forwardKinematics.
void forwardPlacements(const Model& model, Data& data, const vector_t& q);

}  // namespace velmora::rigid_body
