#pragma once

#include "core/Types.h"
#include "rigid_body/Data.h"
#include "rigid_body/Model.h"

namespace velmora::rigid_body {

/// Axes in which a frame quantity is expressed; both are taken at the frame origin.
enum class ReferenceFrame {
  kLocal,              ///< the frame's own axes
  kLocalWorldAligned,  ///< axes parallel to the world's
};

/// Fills `J` (resized to 6 x Nv if needed) with the Jacobian of frame `frame_id`: J v is the
/// velocity of the frame (linear rows 0-2 of its origin, angular rows 3-5) in `reference`.
/// Preconditions: computeJointJacobians and updateFrameKinematics have run; valid `frame_id`.
void getFrameJacobian(const Model& model, const Data& data, int frame_id, ReferenceFrame reference,
                      matrix6x_t& J);

}  // namespace velmora::rigid_body
