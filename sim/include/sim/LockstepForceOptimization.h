#pragma once

// The contact force optimisation of a lockstep run, overlapped with the rest of the run on a
// worker thread. The cycle whose horizon starts at time T runs from the state and plan of the
// earlier time T - lead (its schedule advanced by the lead, its clock at T) while the run steps
// on, and its law is handed over at T, where its horizon begins. The hand-over step is fixed in
// advance, so a run repeats exactly on any machine and load.

#include <memory>
#include <string>

#include <rclcpp/rclcpp.hpp>

#include "common/ModeSchedule.h"
#include "common/TrajectoriesBuffer.h"
#include "control/ContactForceOptimization.h"
#include "rosgraph_msgs/msg/clock.hpp"
#include "sim/BackgroundJob.h"

namespace velmora {
namespace sim {

/// `schedule` seen `lead_s` seconds later: phase 0 is `lead_s` after the schedule's own phase 0,
/// the duration is the same, and the last mode holds on past the schedule's end (as it does
/// beyond phase 1). Precondition: a valid schedule and 0 <= lead_s < duration.
std::shared_ptr<ModeSchedule> advancedSchedule(const ModeSchedule& schedule, double lead_s);

/// One contact force optimisation cycle as the worker leaves it.
struct ForceOptimizationCycle {
  std::shared_ptr<CtrlData> law;  ///< the feedback law (null when the cycle gave none)
  bool threw = false;             ///< the cycle threw; `error` holds the message
  std::string error;
  double ms = 0.0;  ///< wall time of the cycle [ms]
};

/// A ContactForceOptimization with a node, a clock and a worker thread of its own. start() and
/// collect() alternate, both called from the run's thread.
class LockstepForceOptimization {
 public:
  /// Builds the optimiser on a node in a ROS context of its own (with simulated time) and reads
  /// its parameters from `params_file`.
  /// @throws what ContactForceOptimization::loadParamsSetting throws for a bad file.
  LockstepForceOptimization(std::shared_ptr<ModelInfo> info,
                            std::shared_ptr<PinocchioInterface> model,
                            const std::string& params_file);

  /// Horizon step and period of the optimisation [s].
  double dt() const { return optimizer_->dt(); }

  /// Starts the cycle whose horizon begins at `horizon_start_s` from the state (`qpos`, `qvel`)
  /// and the plan (`references`, `schedule`), whose phase 0 is `schedule_start_s`
  /// (<= horizon_start_s), and returns at once.
  /// @throws std::logic_error when the previous cycle was not collected.
  void start(double horizon_start_s, const vector_t& qpos, const vector_t& qvel,
             std::shared_ptr<const TrajectoriesBuffer> references, const ModeSchedule& schedule,
             double schedule_start_s);
  /// Waits for the cycle started last and returns it.
  ForceOptimizationCycle collect();

 private:
  std::shared_ptr<rclcpp::Context> context_;
  std::shared_ptr<rclcpp::Node> node_;
  rclcpp::Publisher<rosgraph_msgs::msg::Clock>::SharedPtr clock_pub_;
  std::unique_ptr<ContactForceOptimization> optimizer_;
  ForceOptimizationCycle cycle_;
  BackgroundJob worker_;  ///< last: destroyed (waiting for the cycle) before what it uses
};

}  // namespace sim
}  // namespace velmora
