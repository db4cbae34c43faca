// Fuzz target: the robot description loader on arbitrary INFO text, checked against the bundled
// robot's model. Every input either loads or is refused with std::runtime_error (unreadable or
// unparsable file) or std::invalid_argument (naming the key); anything else is a fault.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "FuzzInputFile.h"
#include "description/ModelInfoLoader.h"
#include "pinocchio/PinocchioInterface.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const velmora::PinocchioInterface robot(std::string(VELMORA_ROBOTS_DIR) +
                                                 "/kestrel/robot.urdf");
  static velmora::fuzz::FuzzInputFile file("description.info");
  file.write(data, size);
  try {
    const velmora::ModelInfo info = velmora::loadModelInfo(file.path(), robot);
    // An accepted description holds finite numbers and a unit quaternion.
    if (!info.base_init_pos.allFinite() || !info.base_init_quat.allFinite() ||
        std::abs(info.base_init_quat.norm() - 1.0) > 1e-9 || !info.joints_init_pos.allFinite() ||
        !info.joints_nominal_pos.allFinite()) {
      throw std::logic_error("accepted description with a non-finite or unnormalised value");
    }
  } catch (const std::invalid_argument&) {
  } catch (const std::runtime_error&) {
  }
  return 0;
}
