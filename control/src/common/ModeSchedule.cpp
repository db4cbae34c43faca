#include "common/ModeSchedule.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>

#include "core/misc/Numerics.h"

namespace velmora {

ModeSchedule::ModeSchedule(scalar_t duration, std::vector<double>& eventPhases,
                           std::vector<size_t>& modeSequence)
    : duration_(duration),
      eventPhases_(std::move(eventPhases)),
      modeSequence_(std::move(modeSequence)) {
  // A moved-from vector is only "valid but unspecified"; make the documented emptiness explicit.
  eventPhases.clear();
  modeSequence.clear();
}

bool ModeSchedule::isValidModeSequence() const {
  if (eventPhases_.empty()) {
    return false;
  }
  constexpr scalar_t kEpsilon = std::numeric_limits<scalar_t>::epsilon();
  const bool positive_duration = duration_ > 0.0;
  const bool starts_at_zero = numerics::almost_eq(eventPhases_.front(), 0.0, kEpsilon);
  const bool ends_at_one = numerics::almost_eq(eventPhases_.back(), 1.0, kEpsilon);
  const bool phases_in_range =
      std::all_of(eventPhases_.begin(), eventPhases_.end(),
                  [](double phase) { return phase > -1e-6 && phase < 1.000001; });
  const bool phases_sorted = std::is_sorted(eventPhases_.begin(), eventPhases_.end());
  const bool sizes_match = modeSequence_.size() + 1 == eventPhases_.size();
  return positive_duration && starts_at_zero && ends_at_one && phases_in_range && phases_sorted &&
         sizes_match;
}

bool ModeSchedule::isValidPhase(scalar_t phase) const { return phase >= 0.0 && phase <= 1.0; }

scalar_t ModeSchedule::wrapPhase(scalar_t phase) const {
  scalar_t wrapped = std::fmod(phase, 1.0);
  if (wrapped < 0.0) {
    wrapped += 1.0;
  }
  return wrapped;
}

int ModeSchedule::getModeIndexFromPhase(scalar_t phase) const {
  const auto first_later = std::upper_bound(eventPhases_.begin(), eventPhases_.end(), phase);
  if (first_later == eventPhases_.end()) {
    return static_cast<int>(modeSequence_.size()) - 1;
  }
  const int position = static_cast<int>(first_later - eventPhases_.begin());
  return std::max(position - 1, 0);
}

size_t ModeSchedule::getModeFromPhase(scalar_t phase) const {
  const int index = getModeIndexFromPhase(phase);
  if (index < 0 || static_cast<size_t>(index) >= modeSequence_.size()) {
    throw std::logic_error("ModeSchedule::getModeFromPhase: no mode at phase " +
                           std::to_string(phase) + " in a schedule with " +
                           std::to_string(eventPhases_.size()) + " event phases and " +
                           std::to_string(modeSequence_.size()) + " modes");
  }
  return modeSequence_[static_cast<size_t>(index)];
}

scalar_t ModeSchedule::timeLeftInModeSequence(scalar_t phase) const {
  return (1.0 - phase) * duration_;
}

scalar_t ModeSchedule::timeLeftInMode(scalar_t phase) const {
  const int index = getModeIndexFromPhase(phase);
  const size_t next = static_cast<size_t>(index + 1);
  if (index + 1 < 0 || next >= eventPhases_.size()) {
    return timeLeftInModeSequence(phase);
  }
  return (eventPhases_[next] - phase) * duration_;
}

scalar_t ModeSchedule::getEventPhaseFromModeIndex(size_t mode) const {
  scalar_t start_phase = 0.0;
  const size_t count = std::min(modeSequence_.size(), eventPhases_.size());
  for (size_t k = 0; k < count; ++k) {
    if (modeSequence_[k] == mode) {
      start_phase = eventPhases_[k];
    }
  }
  return start_phase;
}

void ModeSchedule::print() const {
  std::cout << "#### Duration:       " << duration_ << "\n";
  std::cout << "#### Event phases:  {";
  for (const double phase : eventPhases_) {
    std::cout << phase << ", ";
  }
  std::cout << "}\n";
  std::cout << "#### Mode sequence: {";
  for (const size_t mode : modeSequence_) {
    std::cout << mode << ", ";
  }
  std::cout << "}\n";
}

}  // namespace velmora
