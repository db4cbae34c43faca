#pragma once

// The runs of a sweep: every grid combination (the last grid parameter varies fastest), each
// repeated `draws` times with the random parameters drawn anew. Draws come from a 64-bit
// Mersenne Twister seeded with the sweep's seed, whose sequence the C++ standard fixes, so a
// sweep expands to the same runs on every machine.

#include <string>
#include <utility>
#include <vector>

#include "core/misc/InfoNode.h"
#include "sweep/SweepSpec.h"

namespace velmora::sweep {

/// One run: its 1-based index, its id ("0007", also its directory name), its family label and
/// the value of every parameter (grid ones first, then random ones, in sweep-file order).
struct RunSpec {
  int index = 0;
  std::string id;
  std::string family;
  std::vector<std::pair<std::string, std::string>> values;

  /// The value of parameter `path`, or nullptr when the sweep does not set it.
  const std::string* value(const std::string& path) const;
};

/// True for the derived parameters (push.*, payload.*), which add timeline events instead of
/// setting a key of the scenario.
bool isDerivedParameter(const std::string& path);

/// Expands `spec` over the base scenario `base` (already parsed).
/// @throws SweepFileError naming the sweep file and the parameter's line when a parameter path
///         is neither a key of the base scenario, nor a value key of the scenario format, nor a
///         known derived one, when it names a block, when a derived
///         parameter gets a value that is not a number, or when push.* / payload.* parameters
///         lack push.force_n / payload.mass_kg, or when there would be more than 10^6 runs.
std::vector<RunSpec> expandRuns(const SweepSpec& spec, const InfoNode& base);

}  // namespace velmora::sweep
