#pragma once

#include "rigid_body/Data.h"
#include "rigid_body/Model.h"

namespace velmora::rigid_body {

/// Placements `oMf`, world-aligned velocities `vf_world_aligned` and classical drift
/// accelerations (`af_local`, `af_world_aligned`) of every frame. Precondition: forwardKinematics
/// has run at the current state.
void updateFrameKinematics(const Model& model, Data& data);

}  // namespace velmora::rigid_body
