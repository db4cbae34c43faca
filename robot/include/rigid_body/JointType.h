#pragma once

namespace velmora::rigid_body {

/// Kind of a model joint. Fixed URDF joints are not model joints: their child links are merged
/// into the parent body and become frames.
///  - kUniverse: joint 0, the world (no coordinates);
///  - kFreeFlyer: 7 position coordinates (position, quaternion x y z w), 6 velocity coordinates
///    (linear then angular velocity in the joint's own axes);
///  - kRevolute: rotation about a unit axis of the joint frame (URDF revolute and continuous);
///  - kPrismatic: translation along a unit axis of the joint frame.
enum class JointType { kUniverse, kFreeFlyer, kRevolute, kPrismatic };

}  // namespace velmora::rigid_body
