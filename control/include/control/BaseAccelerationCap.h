#pragma once

// Cap of the base acceleration the body law demands from the whole-body controller.

#include <cmath>
#include <stdexcept>
#include <string>

#include "core/Types.h"

namespace velmora {

/// Returns the base acceleration `acc` (linear [m/s^2] in rows 0-2, angular [rad/s^2] in rows
/// 3-5, any one frame) with its linear part scaled down to norm `max_linear_mps2` and its angular
/// part scaled down to norm `max_angular_radps2` where they exceed them; each part keeps its
/// direction and the other part is left as it is. The two parts are capped separately because
/// their units differ: under one norm of the six entries, a large angular demand (a trunk rolled
/// by a push) shrank the vertical acceleration that holds the trunk up, and it sank.
/// Preconditions: both caps positive and finite (else std::invalid_argument naming the cap). A
/// non-finite entry of `acc` is returned as it is (the whole-body program rejects it).
inline vector6_t capBaseAcceleration(vector6_t acc, scalar_t max_linear_mps2,
                                     scalar_t max_angular_radps2) {
  const auto requireCap = [](scalar_t cap, const char* name) {
    if (!(cap > 0.0) || !std::isfinite(cap)) {
      throw std::invalid_argument(std::string("capBaseAcceleration: ") + name +
                                  " must be positive and finite, got " + std::to_string(cap));
    }
  };
  requireCap(max_linear_mps2, "max_linear_mps2");
  requireCap(max_angular_radps2, "max_angular_radps2");
  const scalar_t linear = acc.head<3>().norm();
  if (linear > max_linear_mps2) acc.head<3>() *= max_linear_mps2 / linear;
  const scalar_t angular = acc.tail<3>().norm();
  if (angular > max_angular_radps2) acc.tail<3>() *= max_angular_radps2 / angular;
  return acc;
}

}  // namespace velmora
