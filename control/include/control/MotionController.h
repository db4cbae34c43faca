#pragma once

// The controller runtime that a ROS 2 host builds: input buffers, three worker loops and the
// publication of actuator commands.
//
// Threads: loop1 publishes commands (period wbc_dt), loop2 runs the whole-body controller
// (period wbc_dt), loop3 runs the contact force optimisation (period force_optimization_dt).
// Values cross threads only through Buffers; every optimiser is driven by one loop thread.

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include <rclcpp/rclcpp.hpp>

#include "common/ControlData.h"
#include "common/ModeSchedule.h"
#include "common/TrajectoriesBuffer.h"
#include "communication/msg/actuator_cmds.hpp"
#include "control/CommandWatchdog.h"
#include "control/ContactForceOptimization.h"
#include "control/SwingOptimization.h"
#include "control/WholeBodyController.h"
#include "core/Types.h"
#include "core/misc/Benchmark.h"
#include "core/misc/Buffer.h"
#include "description/ModelInfo.h"
#include "pinocchio/PinocchioInterface.h"

namespace velmora {

/// Runs the contact force optimisation and the whole-body controller on their own threads and
/// publishes one `communication::msg::ActuatorCmds` per whole-body period on the topic
/// `topic_prefix` + "actuators_cmds" (keep-last 1, sensor-data profile).
///
/// The host pushes the measured state, the gait schedule and the reference trajectories through
/// the three `update_*` operations, from any thread at any rate; they only store. A cycle that
/// throws is logged at ERROR severity (at most once per second per loop) and publishes nothing;
/// the loop keeps running. Not copyable or movable.
///
/// Stale inputs: the publishing loop checks every period, on the node clock, the age of the
/// newest commands and of the newest state (CommandWatchdog, limits from the "safety.*" keys of
/// the parameter file). While either is too old it publishes the safe damping command instead
/// (Kp 0, Kd "safety.damping_kd", the measured joint positions, zero velocity and torque),
/// logging once at WARN severity when it starts and once at INFO severity when both are fresh
/// again. Nothing is published before the first commands exist.
class MotionController {
 public:
  /// Copies the description and the robot model, creates the publisher, builds the contact
  /// force optimiser, the swing optimiser and the whole-body controller, reads `param_file`
  /// (INFO format) into the contact force optimiser and the whole-body controller, then starts
  /// the three loops. `topic_prefix` is prepended to "actuators_cmds" unchanged.
  /// @throws std::invalid_argument when a pointer is empty or the description lists more than
  ///         30 actuated joints (naming the count), or when a "safety.*" parameter is out of
  ///         range (naming the key); the optimisers' and the parameter loaders' exceptions for a
  ///         rejected model or a missing or malformed parameter file. No thread is left running
  ///         when the constructor throws.
  MotionController(std::shared_ptr<rclcpp::Node> nodeHandle,
                   std::shared_ptr<ModelInfo> modelInfoPtr,
                   std::shared_ptr<PinocchioInterface> pinocchioInterfacePtr,
                   std::string param_file, std::string topic_prefix);

  /// Stops the loops (each leaves at the start of its next cycle and logs its timing line) and
  /// joins loop1, loop3, loop2 in that order.
  ~MotionController();

  MotionController(const MotionController&) = delete;
  MotionController& operator=(const MotionController&) = delete;

  /// Stores the measured generalised position (7 + nJ, quaternion x, y, z, w) and velocity
  /// (6 + nJ), in that order, as two separate pushes, and the node-clock time of arrival, which
  /// the publishing loop uses to tell a stale state. Empty pointers mean "no state".
  void update_current_state(std::shared_ptr<vector_t> qpos_ptr, std::shared_ptr<vector_t> qvel_ptr);

  /// Stores the gait schedule (an empty pointer means "no schedule").
  void update_mode_schedule(std::shared_ptr<ModeSchedule> mode_schedule);

  /// Stores the reference trajectory set (may be empty).
  void update_trajectory_reference(
      std::shared_ptr<const TrajectoriesBuffer> referenceTrajectoriesPtr);

 private:
  /// Per-loop state of the throttled error log; touched only by that loop's thread.
  struct ErrorThrottle {
    std::chrono::steady_clock::time_point last_logged{};
    bool logged = false;
    size_t suppressed = 0;
  };

  /// Publication: refreshes the own model and publishes the latest commands.
  void loop1();
  /// Whole-body control: pushes new commands every period.
  void loop2();
  /// Contact force optimisation: pushes a new body feedback law every period.
  void loop3();

  /// One publication cycle: the newest commands, or the safe damping command when the watchdog
  /// finds them or the state stale; returns false when no commands exist yet (nothing timed).
  bool loop1Cycle(benchmark::RepeatedTimer& timer, CommandWatchdog& watchdog);
  /// Logs a change of the watchdog's verdict: WARN with the cause and ages when the safe
  /// command starts, INFO when normal publication resumes.
  void logWatchdogChange(const CommandWatchdog::Verdict& verdict,
                         const CommandWatchdogLimits& limits) const;
  /// One whole-body cycle; returns false when an input is missing.
  bool loop2Cycle(benchmark::RepeatedTimer& timer);
  /// One contact force cycle; returns false when an input is missing.
  bool loop3Cycle(benchmark::RepeatedTimer& timer);

  /// True while the loops are to keep running.
  bool keepRunning() const { return rclcpp::ok() && run_.get(); }
  /// Logs an exception that ended one cycle of `loop_name`, at most once per second.
  void logCycleFailure(ErrorThrottle& throttle, const char* loop_name, const char* what) const;
  /// Runs one cycle and returns its result; turns an exception into a throttled error line
  /// and returns `on_failure` instead.
  template <typename Result, typename Cycle>
  Result runGuarded(ErrorThrottle& throttle, const char* loop_name, Result on_failure,
                    Cycle&& cycle) const;
  /// Starts the three threads; on failure stops and joins those already started and rethrows.
  void startLoops();
  /// Pushes false into run_ and joins loop1, loop3, loop2.
  void stopLoops();

  std::shared_ptr<rclcpp::Node> nodeHandle_;
  const ModelInfo modelInfo_;
  PinocchioInterface pinocchioInterface_;
  std::shared_ptr<ContactForceOptimization> forceOptimizationPtr_;
  std::shared_ptr<WholeBodyController> wbcPtr_;
  std::shared_ptr<SwingOptimization> swingOptimizationPtr_;
  Buffer<std::shared_ptr<vector_t>> qpos_ptr_buffer;
  Buffer<std::shared_ptr<vector_t>> qvel_ptr_buffer;
  /// Node-clock time [s] at which the newest state arrived (pushed before the state itself).
  Buffer<scalar_t> state_stamp_buffer_;
  Buffer<std::shared_ptr<ModeSchedule>> mode_schedule_buffer;
  Buffer<std::shared_ptr<const TrajectoriesBuffer>> referenceTrajectoriesPtrBuffer_;
  rclcpp::Publisher<communication::msg::ActuatorCmds>::SharedPtr actuators_cmds_pub_ptr_;
  std::thread loop1_thread_, loop2_thread_, loop3_thread_;
  Buffer<bool> run_;
  Buffer<std::shared_ptr<CtrlData>> base_CtrlData_ptr_;
  Buffer<std::shared_ptr<ActuatorCommands>> actuatorCommands_buffer_;
  /// Limits of the stale-command rule of the publishing loop (read at construction).
  CommandWatchdogLimits watchdog_limits_;
};

}  // namespace velmora
