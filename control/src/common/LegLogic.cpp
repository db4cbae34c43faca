#include "common/LegLogic.h"

#include <cmath>
#include <stdexcept>
#include <string>

#include "common/MotionPhaseDefinition.h"

namespace velmora {
namespace quadruped {
namespace {

enum class FootEvent { kLiftOff, kTouchDown };

void checkSchedule(const ModeSchedule* mode_schedule, const char* caller) {
  if (mode_schedule == nullptr) {
    throw std::invalid_argument(std::string(caller) + ": the mode schedule is null");
  }
  if (mode_schedule->eventPhases().empty() || mode_schedule->modeSequence().empty()) {
    throw std::invalid_argument(std::string(caller) + ": the mode schedule has " +
                                std::to_string(mode_schedule->eventPhases().size()) +
                                " event phases and " +
                                std::to_string(mode_schedule->modeSequence().size()) +
                                " modes; at least one of each is " + "needed");
  }
}

/// One pass per foot over the event phases; the first matching transition wins.
std::vector<scalar_t> timeOfFirstEvent(scalar_t time_cur, const ModeSchedule& schedule,
                                       FootEvent event) {
  const std::vector<double>& phases = schedule.eventPhases();
  const scalar_t duration = schedule.duration();
  std::vector<scalar_t> event_times(4, 0.0);
  for (size_t foot = 0; foot < 4; ++foot) {
    event_times[foot] = time_cur + duration;
    contact_flag_t previous = modeNumber2StanceLeg(schedule.getModeFromPhase(phases.front()));
    for (const double phase : phases) {
      const contact_flag_t current = modeNumber2StanceLeg(schedule.getModeFromPhase(phase));
      const bool lift_off = previous[foot] && !current[foot];
      const bool touch_down = !previous[foot] && current[foot];
      if ((event == FootEvent::kLiftOff && lift_off) ||
          (event == FootEvent::kTouchDown && touch_down)) {
        event_times[foot] = std::fma(duration, phase, time_cur);
        break;
      }
      previous = current;
    }
  }
  return event_times;
}

}  // namespace

std::vector<scalar_t> getTimeOfNextLiftOff(scalar_t time_cur,
                                           std::shared_ptr<ModeSchedule> mode_schedule) {
  checkSchedule(mode_schedule.get(), "getTimeOfNextLiftOff");
  return timeOfFirstEvent(time_cur, *mode_schedule, FootEvent::kLiftOff);
}

std::vector<scalar_t> getTimeOfNextTouchDown(scalar_t time_cur,
                                             std::shared_ptr<ModeSchedule> mode_schedule) {
  checkSchedule(mode_schedule.get(), "getTimeOfNextTouchDown");
  return timeOfFirstEvent(time_cur, *mode_schedule, FootEvent::kTouchDown);
}

}  // namespace quadruped
}  // namespace velmora
