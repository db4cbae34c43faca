#pragma once

#include <cstddef>
#include <vector>

#include "core/Types.h"

namespace velmora {

/// One cycle of a gait as a sequence of contact modes over a normalised phase in [0, 1].
///
/// Phase 0 is the present moment and phase 1 the end of the cycle, `duration()` seconds later.
/// Mode `modeSequence()[i]` holds on [eventPhases()[i], eventPhases()[i+1]); the last mode also
/// holds at phase 1. Modes are opaque unsigned numbers here (see MotionPhaseDefinition.h for
/// their meaning). A valid schedule (isValidModeSequence()) has duration > 0, event phases
/// non-decreasing from exactly 0 to 1 and one mode fewer than event phases; validity is checked
/// only on request. Immutable after construction and safe to share between threads.
class ModeSchedule {
 public:
  /// Stores `duration` [s] and moves the contents of both lists in: the caller's lists are empty
  /// afterwards. Performs no check.
  ModeSchedule(scalar_t duration, std::vector<double>& eventPhases,
               std::vector<size_t>& modeSequence);

  /// Length of the cycle [s].
  scalar_t duration() const { return duration_; }
  /// Phases at which the modes begin, ascending from 0 to 1.
  const std::vector<double>& eventPhases() const { return eventPhases_; }
  /// Mode numbers, one per interval between consecutive event phases.
  const std::vector<size_t>& modeSequence() const { return modeSequence_; }

  /// True when the schedule satisfies all invariants listed above. Never throws.
  bool isValidModeSequence() const;
  /// True when 0 <= phase <= 1 (false for NaN).
  bool isValidPhase(scalar_t phase) const;
  /// `phase` folded into [0, 1).
  scalar_t wrapPhase(scalar_t phase) const;

  /// Index into modeSequence() of the mode holding at `phase`. A phase equal to an event phase
  /// belongs to the mode starting there; phases below the first event give 0, phases at or beyond
  /// the last event give the last index. The phase is not wrapped.
  int getModeIndexFromPhase(scalar_t phase) const;
  /// The mode number holding at `phase`.
  /// @throws std::logic_error when the schedule has no mode for that phase (an invalid schedule).
  size_t getModeFromPhase(scalar_t phase) const;
  /// Seconds from `phase` to the end of the cycle: (1 - phase) * duration.
  scalar_t timeLeftInModeSequence(scalar_t phase) const;
  /// Seconds from `phase` until the mode holding there ends.
  scalar_t timeLeftInMode(scalar_t phase) const;
  /// Start phase of the last interval whose mode number equals `mode`; 0 when there is none.
  scalar_t getEventPhaseFromModeIndex(size_t mode) const;

  /// Writes duration, event phases and mode sequence to standard output, one line each.
  void print() const;

 private:
  scalar_t duration_;
  std::vector<double> eventPhases_;
  std::vector<size_t> modeSequence_;
};

}  // namespace velmora
