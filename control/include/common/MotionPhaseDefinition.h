#pragma once

// Contact modes of a four-legged robot.
//
// A mode number from 0 to 15 says which feet are in stance: foot i is in stance when bit (3 - i)
// is set, so foot 0 is the most significant of the four bits:
//   mode = 8 * s0 + 4 * s1 + 2 * s2 + s3,  si = 1 for a foot in stance.
// Foot order is the order of ModelInfo::foot_name everywhere (for the bundled robot FL, FR, RL,
// RR, so that modes 9 and 6 are the two trot diagonals and 15 is all-stance).

#include <array>
#include <cstddef>
#include <stdexcept>
#include <string>

namespace velmora {

/// One entry per foot, in foot order.
template <typename T>
using feet_array_t = std::array<T, 4>;

/// Stance flags in foot order: true means the foot is in contact.
using contact_flag_t = feet_array_t<bool>;

namespace quadruped {

/// The four stance flags encoded by `modeNumber` (see the table at the top of this file).
/// @throws std::invalid_argument when `modeNumber` is 16 or more.
inline contact_flag_t modeNumber2StanceLeg(const size_t& modeNumber) {
  if (modeNumber > 15) {
    throw std::invalid_argument("modeNumber2StanceLeg: mode number " + std::to_string(modeNumber) +
                                " is not a contact mode (expected 0 to 15)");
  }
  return {(modeNumber & 8u) != 0, (modeNumber & 4u) != 0, (modeNumber & 2u) != 0,
          (modeNumber & 1u) != 0};
}

}  // namespace quadruped
}  // namespace velmora
