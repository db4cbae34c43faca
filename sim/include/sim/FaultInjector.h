#pragma once

// Faults a closed-loop run can inject between the plant, the host and the controller, and the
// injector that applies them at their times.
//
// Times are seconds of simulation time. State vectors are the controller's (qpos 7 + nJ with an
// x, y, z, w quaternion; qvel 6 + nJ).

#include <cstddef>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "common/ModeSchedule.h"
#include "common/TrajectoriesBuffer.h"
#include "core/Types.h"

namespace velmora {
namespace sim {

/// The faults a run can inject.
enum class FaultKind {
  kNanState,       ///< one state sample handed to the controller carries a NaN
  kFrozenState,    ///< the host stops handing over state for 100 ms
  kMissingRefs,    ///< the host hands over no reference trajectories for 0.5 s
  kBadMode,        ///< one planning cycle's schedule holds mode 16 now
  kShortBaseTraj,  ///< the base position trajectories are 2-dimensional for 0.1 s
  kMpcFail,        ///< the contact force optimisation returns no policy 10 cycles in a row
  kDropCmds,       ///< from then on 10 % of the command messages are lost (seeded)
  kCmdLatency,     ///< from then on command messages arrive 5 ms late
  kEncoderNoise,   ///< from then on joint positions carry Gaussian noise, sigma 0.005 rad (seeded)
};

/// One fault and the simulation time it starts at [s].
struct FaultSpec {
  FaultKind kind = FaultKind::kNanState;
  double start_s = 0.0;
};

/// The fault's name as the command line spells it (e.g. "nan_state").
std::string faultName(FaultKind kind);

/// All fault names, in declaration order, separated by ", ".
std::string faultNames();

/// Parses "NAME@T" (T a finite number of seconds >= 0).
/// @throws UsageError naming `flag`, the text and what is wrong with it.
FaultSpec parseFaultSpec(const std::string& flag, const std::string& text);

/// How often a fault acted during a run.
struct FaultRecord {
  FaultSpec spec;
  size_t events = 0;  ///< samples, cycles or messages the fault altered
};

/// Applies a list of faults at their times. The run calls each hook at the matching point of its
/// cycle, with non-decreasing times; a hook without a fault of its kind due leaves its input
/// unchanged. Random faults draw from one generator seeded with `seed`, so a run repeats
/// exactly. Not thread-safe.
class FaultInjector {
 public:
  /// Length of the frozen-state fault [s].
  static constexpr double kFrozenStateDuration = 0.1;
  /// Length of the missing-references fault [s].
  static constexpr double kMissingRefsDuration = 0.5;
  /// Length of the short-base-trajectory fault [s].
  static constexpr double kShortBaseTrajDuration = 0.1;
  /// Contact force cycles the optimiser fails in a row.
  static constexpr size_t kMpcFailCycles = 10;
  /// Share of command messages lost.
  static constexpr double kDropProbability = 0.1;
  /// Delay of command messages [s].
  static constexpr double kCommandLatency = 0.005;
  /// Standard deviation of the joint encoder noise [rad].
  static constexpr double kEncoderNoiseSigma = 0.005;
  /// The mode number the bad-schedule fault writes (one past the last valid mode, 15).
  static constexpr size_t kBadMode = 16;

  FaultInjector(std::vector<FaultSpec> faults, unsigned seed);

  /// The state the host measures at `t`: joint positions get encoder noise when due.
  void measure(double t, vector_t& qpos);
  /// False while the host hands over no state at `t` (frozen state).
  bool statePushed(double t);
  /// The state sample the controller consumes at `t`: the first one at or after a nan_state
  /// fault's time gets a NaN as its first joint position.
  void corruptConsumedState(double t, vector_t& qpos);
  /// The planning cycle's schedule and references as handed to the controller at `t`: may become
  /// empty (missing refs), get mode 16 at phase 0 (bad mode) or a 2-dimensional base position
  /// (short base trajectory).
  void alterPlan(double t, std::shared_ptr<ModeSchedule>& schedule,
                 std::shared_ptr<const TrajectoriesBuffer>& references);
  /// True when the contact force optimisation of the cycle at `t` is to fail.
  bool failOptimisation(double t);
  /// True when the command message sent at `t` is lost.
  bool dropCommand(double t);
  /// Delay [s] of the command message sent at `t`.
  double commandDelay(double t);

  /// The faults and how often each acted so far.
  const std::vector<FaultRecord>& records() const { return records_; }

 private:
  std::vector<FaultRecord> records_;
  std::vector<bool> spent_;  ///< one-shot faults already applied
  std::mt19937_64 random_;
};

}  // namespace sim
}  // namespace velmora
