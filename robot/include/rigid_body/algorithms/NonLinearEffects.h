#pragma once

#include "rigid_body/Data.h"
#include "rigid_body/Model.h"

namespace velmora::rigid_body {

/// Nonlinear effects `data.nle` = C(q, v) v + g(q), the generalised forces that keep the robot at
/// zero generalised acceleration, by the recursive Newton-Euler algorithm. Precondition:
/// forwardKinematics has run (uses `liMi`, `oMi`, `v`, `a`).
void computeNonLinearEffects(const Model& model, Data& data);

}  // namespace velmora::rigid_body
