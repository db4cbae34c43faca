#pragma once

// Command-line flags of velmora_plant and velmora_host (names as velmora_sim's).

#include <string>
#include <vector>

namespace velmora {
namespace nodes {

/// The flags' values; robot files default to the bundled robot (kestrel).
struct NodeCommandLine {
  std::string robot_urdf;         ///< --robot-urdf FILE
  std::string robot_description;  ///< --robot-description FILE
  std::string params;             ///< --params FILE
  std::string gait = "trot";      ///< --gait NAME
  std::string terrain = "flat";   ///< --terrain SPEC (velmora_sim's syntax)
  std::string friction = "1";     ///< --friction MU (the floor's sliding friction coefficient)
};

/// Parses `args` (without the program name) of `program`, which accepts the flags in `accepted`
/// (each of the NodeCommandLine fields' flags, each taking one value). `robots_dir` holds the
/// bundled robot (kestrel/robot.urdf, description.info, params.info).
/// @throws std::invalid_argument "<program>: ..." naming an unknown flag, a flag without a value
///         or a robot file (of an accepted flag) that cannot be read.
NodeCommandLine parseNodeCommandLine(const std::string& program,
                                     const std::vector<std::string>& args,
                                     const std::vector<std::string>& accepted,
                                     const std::string& robots_dir);

/// The bundled robots' directory beside the running program (<prefix>/share/velmora/robots, or
/// the build tree's share/velmora/robots).
std::string bundledRobotsDirectory();

}  // namespace nodes
}  // namespace velmora
