#pragma once

#include <string>

#include "rigid_body/Model.h"

namespace velmora::rigid_body {

/// Builds a floating-base model from the URDF file at `urdf_path`.
///  - If the root link is named "world" and has exactly one child joint, of type floating, that
///    joint (keeping its URDF name and origin) is the floating base; otherwise a floating base
///    named "root_joint" is added at the root link.
///  - Revolute and continuous joints become kRevolute (one angle coordinate, continuous ones
///    without position limits), prismatic joints kPrismatic. Fixed joints are not model joints:
///    their child links are merged into the parent body (inertias added) and become frames.
///  - Joints are numbered depth first, children in the order the URDF parser lists them
///    (alphabetical by joint name).
///  - Frames: "universe", one per link (kBody), one per model joint (kJoint) and one per fixed
///    joint (kFixedJoint), named as in the URDF.
/// Throws std::invalid_argument naming the file and the problem (unreadable file, XML/URDF
/// errors, unsupported joint types, mimic joints, invalid inertias).
Model buildModelFromUrdf(const std::string& urdf_path);

/// The same from URDF text; `source_name` names it in error messages.
Model buildModelFromUrdfString(const std::string& urdf_xml, const std::string& source_name);

}  // namespace velmora::rigid_body
