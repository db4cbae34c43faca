#pragma once

// Files of the robot bundled in robots/ (VELMORA_ROBOTS_DIR is defined by the build), shared by
// the tests and the benchmarks.

#include <string>

namespace velmora::test {

/// Path of a file of the bundled robot, e.g. kestrelFile("robot.urdf").
inline std::string kestrelFile(const std::string& name) {
  return std::string(VELMORA_ROBOTS_DIR) + "/kestrel/" + name;
}

}  // namespace velmora::test
