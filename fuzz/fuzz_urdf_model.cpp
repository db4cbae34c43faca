// Fuzz target: the URDF -> rigid-body model builder on arbitrary text. Every input either builds
// a model or is refused with std::invalid_argument; anything else (a crash, a sanitizer report,
// another exception) is a fault, and so is an accepted model holding a non-finite placement or
// inertia, or NaN limits.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "rigid_body/BuildModelFromUrdf.h"

namespace {

bool isFinite(const velmora::rigid_body::SE3& placement) {
  return placement.rotation().allFinite() && placement.translation().allFinite();
}

/// Throws std::logic_error naming the first broken invariant of an accepted model.
void checkAcceptedModel(const velmora::rigid_body::Model& model) {
  if (model.njoints < 2 || static_cast<int>(model.parents.size()) != model.njoints) {
    throw std::logic_error("accepted URDF: inconsistent joint tables");
  }
  for (int j = 0; j < model.njoints; ++j) {
    const auto& inertia = model.inertias[j];
    if (!isFinite(model.jointPlacements[j]) || !std::isfinite(inertia.mass()) ||
        !inertia.lever().allFinite() || !inertia.inertia().allFinite()) {
      throw std::logic_error("accepted URDF: non-finite placement or inertia of joint '" +
                             model.names[j] + "'");
    }
  }
  for (const auto& frame : model.frames) {
    if (!isFinite(frame.placement)) {
      throw std::logic_error("accepted URDF: non-finite placement of frame '" + frame.name + "'");
    }
  }
  if (model.lowerPositionLimit.hasNaN() || model.upperPositionLimit.hasNaN() ||
      model.effortLimit.hasNaN() || model.velocityLimit.hasNaN()) {
    throw std::logic_error("accepted URDF: NaN limits");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string urdf(reinterpret_cast<const char*>(data), size);
  try {
    checkAcceptedModel(velmora::rigid_body::buildModelFromUrdfString(urdf, "fuzz input"));
  } catch (const std::invalid_argument&) {
  }
  return 0;
}
