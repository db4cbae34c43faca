#pragma once

// The scenario file of one run: the base scenario with the run's values set, a push and a
// payload event added to its timeline for the derived push.* / payload.* parameters, and its
// relative robot paths made absolute where they named files beside the base scenario (the
// generated file lives elsewhere).

#include <filesystem>
#include <optional>

#include "core/misc/InfoNode.h"
#include "sweep/RunPlan.h"

namespace velmora::sweep {

/// Where the run's scenario comes from.
struct ScenarioContext {
  std::filesystem::path base_dir;    ///< Directory of the base scenario file.
  std::filesystem::path robots_dir;  ///< The bundled robots, which velmora_sim searches first.
};

/// The run's scenario; keys the base lacks are added. Push: force_n [N] horizontal, at
/// direction_deg from +x (counter- clockwise, world axes), from at_s (default 3 s) for duration_s
/// (default 0.1 s) at point_m (trunk axes, default the trunk origin). Payload: mass_kg from at_s
/// (default 3 s) at point_m. `duration_s` (when set) overrides the scenario's duration.
/// Preconditions: `run` comes from expandRuns over `base` (its paths exist in `base` or are
/// derived, derived values are valid).
InfoNode makeRunScenario(const InfoNode& base, const RunSpec& run,
                         const std::optional<double>& duration_s, const ScenarioContext& context);

}  // namespace velmora::sweep
