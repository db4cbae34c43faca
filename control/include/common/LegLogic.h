#pragma once

// Per-foot gait events derived from a ModeSchedule.
//
// Phase 0 of the schedule is taken to be `time_cur`: an event at phase p happens at
// time_cur + p * duration. Events are looked for only at the schedule's event phases, comparing
// the mode found there with the mode found at the previous event phase, so the wrap-around from
// the last mode back to the first is not seen; its time, time_cur + duration, is the default
// answer for a foot without the event in the cycle. Only the first event of each foot counts.

#include <memory>
#include <vector>

#include "common/ModeSchedule.h"
#include "core/Types.h"

namespace velmora {
namespace quadruped {

/// Absolute time [s, caller's clock] of each foot's first lift-off (stance to swing) in the
/// schedule's cycle, in foot order; time_cur + duration for a foot without one.
/// @throws std::invalid_argument when `mode_schedule` is null or has no event phase or no mode,
///         or when it holds a mode number of 16 or more.
/// @throws std::logic_error when the schedule has fewer modes than intervals between its event
///         phases (ModeSchedule::getModeFromPhase finds no mode).
std::vector<scalar_t> getTimeOfNextLiftOff(scalar_t time_cur,
                                           std::shared_ptr<ModeSchedule> mode_schedule);

/// Absolute time [s, caller's clock] of each foot's first touch-down (swing to stance) in the
/// schedule's cycle, in foot order; time_cur + duration for a foot without one.
/// @throws std::invalid_argument as getTimeOfNextLiftOff.
std::vector<scalar_t> getTimeOfNextTouchDown(scalar_t time_cur,
                                             std::shared_ptr<ModeSchedule> mode_schedule);

}  // namespace quadruped
}  // namespace velmora
