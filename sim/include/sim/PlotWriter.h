#pragma once

// The plot of a run: a plain SVG document written without any plotting library.

#include <ostream>
#include <string>
#include <vector>

#include "sim/RunLog.h"

namespace velmora {
namespace sim {

/// Tick values for an axis over [lo, hi]: every multiple of one step inside the range, the step
/// being 1, 2 or 5 × 10^k chosen so that about `target` ticks fall inside (at least two).
/// @throws std::invalid_argument when lo or hi is not finite, hi <= lo or target < 3.
std::vector<double> niceTicks(double lo, double hi, int target);

/// Writes the plot of `samples` as an SVG document titled `title` (escaped). Panels, top to
/// bottom: base velocity vx, vy [m/s]; yaw rate [rad/s]; height [m]; roll and pitch [rad]; the
/// vertical floor force on each foot [N]; the contact pattern (planned stance and measured
/// contact per foot); the top view of the base path in world x-y [m] at equal scales. Commands
/// and references are drawn dashed in the colour of their measurement: the commanded velocities,
/// the height reference and, in the top view, the commanded path (the commanded velocity
/// integrated in the commanded heading, which starts at the measured yaw and turns at the
/// commanded yaw rate, from the first measured position). Every panel but the top view shares
/// the time axis [s]. Each panel is a `<g class="panel">` whose tick labels are `<text>`
/// elements of class "xtick" or "ytick" holding the tick value, centred on its position.
/// Non-finite values are left out; long runs are thinned to what the width can show.
/// @throws std::invalid_argument when `samples` is empty.
void writePlotSvg(const std::vector<RunSample>& samples, const std::string& title,
                  std::ostream& out);

}  // namespace sim
}  // namespace velmora
