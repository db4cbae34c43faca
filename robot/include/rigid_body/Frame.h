#pragma once

#include <string>

#include "rigid_body/SE3.h"

namespace velmora::rigid_body {

/// What a frame marks: a link (body), a model joint, or a fixed URDF joint.
enum class FrameType { kBody, kJoint, kFixedJoint };

/// A named frame rigidly attached to the body of a model joint.
struct Frame {
  std::string name;
  FrameType type = FrameType::kBody;
  int parent_joint = 0;                ///< id of the joint whose body carries the frame
  SE3 placement;                       ///< placement of the frame in the parent joint's frame
  bool placement_is_identity = false;  ///< set by Model::addFrame; selects a faster path
};

}  // namespace velmora::rigid_body
