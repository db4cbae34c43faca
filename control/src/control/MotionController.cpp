#include "control/MotionController.h"

#include <cstdio>
#include <exception>
#include <stdexcept>
#include <utility>

#include "control/ActuatorCmdsBuilder.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;

constexpr auto kLoop1Delay = 10ms;
constexpr auto kLoop2Delay = 30ms;
constexpr auto kLoop3Delay = 20ms;
/// Idle sleep of loop1 and loop3 while an input is missing.
constexpr auto kMissingInputSleep = 5ms;
/// Idle of loop1 while a state exists but no commands do yet. Restarting the cycle at once
/// would turn loop1 into a busy loop for as long as no schedule arrives (a full core on an idle
/// machine), delaying the other loops' cycles and taking CPU time from the host; a short sleep
/// keeps the first publication within a fraction of a whole-body period.
constexpr auto kMissingCommandsSleep = 500us;
/// Shortest time between two error lines of one loop.
constexpr auto kErrorLogPeriod = 1s;

/// `*ptr`, or std::invalid_argument naming `what` when `ptr` is empty.
template <typename T>
const T& checkedDeref(const std::shared_ptr<T>& ptr, const char* what) {
  if (ptr == nullptr) {
    throw std::invalid_argument(std::string("MotionController: the ") + what + " pointer is empty");
  }
  return *ptr;
}

/// The description, after checking that its joints fit into one ActuatorCmds message.
const ModelInfo& checkedModelInfo(const std::shared_ptr<ModelInfo>& modelInfoPtr) {
  const ModelInfo& info = checkedDeref(modelInfoPtr, "robot description");
  if (info.joints_name.size() > kMaxActuatorCmdsJoints) {
    throw std::invalid_argument("MotionController: the robot description lists " +
                                std::to_string(info.joints_name.size()) +
                                " actuated joints, but an ActuatorCmds message carries at most " +
                                std::to_string(kMaxActuatorCmdsJoints));
  }
  return info;
}

}  // namespace

MotionController::MotionController(std::shared_ptr<rclcpp::Node> nodeHandle,
                                   std::shared_ptr<ModelInfo> modelInfoPtr,
                                   std::shared_ptr<PinocchioInterface> pinocchioInterfacePtr,
                                   std::string param_file, std::string topic_prefix)
    : nodeHandle_(std::move(nodeHandle)),
      modelInfo_(checkedModelInfo(modelInfoPtr)),
      pinocchioInterface_(checkedDeref(pinocchioInterfacePtr, "robot model")) {
  if (nodeHandle_ == nullptr) {
    throw std::invalid_argument("MotionController: the node pointer is empty");
  }
  actuators_cmds_pub_ptr_ = nodeHandle_->create_publisher<communication::msg::ActuatorCmds>(
      topic_prefix + "actuators_cmds",
      rclcpp::QoS(rclcpp::KeepLast(1), rmw_qos_profile_sensor_data));

  forceOptimizationPtr_ =
      std::make_shared<ContactForceOptimization>(nodeHandle_, modelInfoPtr, pinocchioInterfacePtr);
  forceOptimizationPtr_->loadParamsSetting(param_file, true);

  swingOptimizationPtr_ =
      std::make_shared<SwingOptimization>(nodeHandle_, modelInfo_, pinocchioInterface_);

  wbcPtr_ = std::make_shared<WholeBodyController>(nodeHandle_, modelInfoPtr, pinocchioInterfacePtr);
  wbcPtr_->loadParamsSetting(param_file, true);
  watchdog_limits_ = loadCommandWatchdogLimits(param_file, wbcPtr_->dt());

  // run_ must read true before any loop's first check.
  run_.push(true);
  startLoops();
}

MotionController::~MotionController() { stopLoops(); }

void MotionController::update_current_state(std::shared_ptr<vector_t> qpos_ptr,
                                            std::shared_ptr<vector_t> qvel_ptr) {
  // The stamp goes first: a loop that sees the new state never sees an older stamp with it.
  state_stamp_buffer_.push(nodeHandle_->now().seconds());
  qpos_ptr_buffer.push(std::move(qpos_ptr));
  qvel_ptr_buffer.push(std::move(qvel_ptr));
}

void MotionController::update_mode_schedule(std::shared_ptr<ModeSchedule> mode_schedule) {
  mode_schedule_buffer.push(std::move(mode_schedule));
}

void MotionController::update_trajectory_reference(
    std::shared_ptr<const TrajectoriesBuffer> referenceTrajectoriesPtr) {
  referenceTrajectoriesPtrBuffer_.push(std::move(referenceTrajectoriesPtr));
}

void MotionController::startLoops() {
  try {
    loop1_thread_ = std::thread(&MotionController::loop1, this);
    loop3_thread_ = std::thread(&MotionController::loop3, this);
    loop2_thread_ = std::thread(&MotionController::loop2, this);
  } catch (...) {
    stopLoops();
    throw;
  }
}

void MotionController::stopLoops() {
  run_.push(false);
  for (std::thread* thread : {&loop1_thread_, &loop3_thread_, &loop2_thread_}) {
    if (thread->joinable()) thread->join();
  }
}

void MotionController::logCycleFailure(ErrorThrottle& throttle, const char* loop_name,
                                       const char* what) const {
  const auto now = std::chrono::steady_clock::now();
  if (throttle.logged && now - throttle.last_logged < kErrorLogPeriod) {
    ++throttle.suppressed;
    return;
  }
  RCLCPP_ERROR(nodeHandle_->get_logger(),
               "%s: cycle failed, nothing published from it: %s (%zu similar failures since the "
               "last report)",
               loop_name, what, throttle.suppressed);
  throttle.logged = true;
  throttle.last_logged = now;
  throttle.suppressed = 0;
}

template <typename Result, typename Cycle>
Result MotionController::runGuarded(ErrorThrottle& throttle, const char* loop_name,
                                    Result on_failure, Cycle&& cycle) const {
  try {
    return cycle();
  } catch (const std::exception& error) {
    logCycleFailure(throttle, loop_name, error.what());
  } catch (...) {
    logCycleFailure(throttle, loop_name, "an exception not derived from std::exception");
  }
  return on_failure;
}

void MotionController::loop1() {
  rclcpp::Rate rate(1.0 / wbcPtr_->dt());  // period dt
  benchmark::RepeatedTimer timer;
  std::this_thread::sleep_for(kLoop1Delay);
  ErrorThrottle throttle;
  CommandWatchdog watchdog(watchdog_limits_);
  enum class Outcome { kPublished, kNoCommands, kFailed };
  while (keepRunning()) {
    if (qpos_ptr_buffer.get() == nullptr || qvel_ptr_buffer.get() == nullptr) {
      std::this_thread::sleep_for(kMissingInputSleep);
      continue;
    }
    const Outcome outcome = runGuarded(throttle, "motion control", Outcome::kFailed, [&] {
      return loop1Cycle(timer, watchdog) ? Outcome::kPublished : Outcome::kNoCommands;
    });
    if (outcome == Outcome::kNoCommands) {
      // No commands yet: try again shortly, without waiting for the next rate tick.
      std::this_thread::sleep_for(kMissingCommandsSleep);
      continue;
    }
    rate.sleep();
  }
  RCLCPP_INFO(nodeHandle_->get_logger(), "motion control: max time %f ms,  average time %f ms",
              timer.getMaxIntervalInMilliseconds(), timer.getAverageInMilliseconds());
}

bool MotionController::loop1Cycle(benchmark::RepeatedTimer& timer, CommandWatchdog& watchdog) {
  const scalar_t state_stamp_s = state_stamp_buffer_.get();
  const auto qpos = qpos_ptr_buffer.get();
  const auto qvel = qvel_ptr_buffer.get();
  // The host may have pushed empty pointers since the check: nothing to do then.
  if (qpos == nullptr || qvel == nullptr) return false;
  timer.startTimer();
  // A state with a non-finite entry cannot drive the model; the watchdog counts it as stale.
  if (qpos->allFinite() && qvel->allFinite()) pinocchioInterface_.updateRobotState(*qpos, *qvel);
  const rclcpp::Time now = nodeHandle_->now();
  const builtin_interfaces::msg::Time stamp = now;

  const auto commands = actuatorCommands_buffer_.get();
  if (commands == nullptr) return false;
  const CommandWatchdog::Verdict verdict =
      watchdog.check(now.seconds(), commands->stamp_s, state_stamp_s, *qpos, *qvel);
  if (verdict.changed) logWatchdogChange(verdict, watchdog.limits());

  const auto& joint_names = pinocchioInterface_.getModel().names;
  if (verdict.publish_commands) {
    actuators_cmds_pub_ptr_->publish(buildActuatorCmds(modelInfo_, joint_names, *commands, stamp));
  } else {
    actuators_cmds_pub_ptr_->publish(
        buildActuatorCmds(modelInfo_, joint_names, watchdog.safeCommand(), stamp));
  }
  timer.endTimer();
  return true;
}

void MotionController::logWatchdogChange(const CommandWatchdog::Verdict& verdict,
                                         const CommandWatchdogLimits& limits) const {
  if (verdict.publish_commands) {
    RCLCPP_INFO(nodeHandle_->get_logger(),
                "motion control: commands and state are fresh again, publishing the "
                "controller's commands");
    return;
  }
  std::string cause;
  char part[160];
  if (verdict.commands_stale) {
    std::snprintf(part, sizeof(part), "commands stale (age %.1f ms, limit %.1f ms)",
                  1e3 * verdict.command_age_s, 1e3 * limits.command_timeout_s);
    cause += part;
  }
  if (verdict.state_stale) {
    if (!verdict.state_finite) {
      std::snprintf(part, sizeof(part), "%sstate not finite", cause.empty() ? "" : ", ");
    } else {
      std::snprintf(part, sizeof(part), "%sstate stale (age %.1f ms, limit %.1f ms)",
                    cause.empty() ? "" : ", ", 1e3 * verdict.state_age_s,
                    1e3 * limits.state_timeout_s);
    }
    cause += part;
  }
  RCLCPP_WARN(nodeHandle_->get_logger(),
              "motion control: %s; publishing the safe damping command (kp 0, kd %g) until both "
              "are fresh",
              cause.c_str(), limits.damping_kd);
}

void MotionController::loop2() {
  std::this_thread::sleep_for(kLoop2Delay);
  benchmark::RepeatedTimer timer;
  rclcpp::Rate rate(1.0 / wbcPtr_->dt());  // period dt
  ErrorThrottle throttle;
  while (keepRunning()) {
    runGuarded(throttle, "WBC", false, [&] { return loop2Cycle(timer); });
    rate.sleep();
  }
  RCLCPP_INFO(nodeHandle_->get_logger(), "WBC::optimize: max time %f ms,  average time %f ms",
              timer.getMaxIntervalInMilliseconds(), timer.getAverageInMilliseconds());
}

bool MotionController::loop2Cycle(benchmark::RepeatedTimer& timer) {
  const scalar_t state_stamp_s = state_stamp_buffer_.get();  // read before the state: not newer
  const auto qpos = qpos_ptr_buffer.get();
  const auto qvel = qvel_ptr_buffer.get();
  const auto schedule = mode_schedule_buffer.get();
  if (qpos == nullptr || qvel == nullptr || schedule == nullptr) return false;
  timer.startTimer();
  wbcPtr_->update_state(qpos, qvel);
  wbcPtr_->update_trajectory_reference(referenceTrajectoriesPtrBuffer_.get());
  wbcPtr_->update_mode(schedule->getModeFromPhase(0.0));
  wbcPtr_->update_control_data(base_CtrlData_ptr_.get());
  const std::shared_ptr<ActuatorCommands> commands = wbcPtr_->optimize();
  // Not yet handed over: the record learns when its state reached the controller.
  commands->state_stamp_s = state_stamp_s;
  actuatorCommands_buffer_.push(commands);
  timer.endTimer();
  return true;
}

void MotionController::loop3() {
  rclcpp::Rate rate(1.0 / forceOptimizationPtr_->dt());  // period dt
  benchmark::RepeatedTimer timer;
  std::this_thread::sleep_for(kLoop3Delay);
  ErrorThrottle throttle;
  while (keepRunning()) {
    const bool ran =
        runGuarded(throttle, "ContactForceOptimization", true, [&] { return loop3Cycle(timer); });
    if (ran) {
      rate.sleep();
    } else {
      std::this_thread::sleep_for(kMissingInputSleep);
    }
  }
  RCLCPP_INFO(nodeHandle_->get_logger(),
              "ContactForceOptimization::optimize: max time %f ms,  average time %f ms",
              timer.getMaxIntervalInMilliseconds(), timer.getAverageInMilliseconds());
}

bool MotionController::loop3Cycle(benchmark::RepeatedTimer& timer) {
  const auto qpos = qpos_ptr_buffer.get();
  const auto qvel = qvel_ptr_buffer.get();
  const auto schedule = mode_schedule_buffer.get();
  if (qpos == nullptr || qvel == nullptr || schedule == nullptr) return false;
  timer.startTimer();
  forceOptimizationPtr_->update_state(qpos, qvel);
  forceOptimizationPtr_->update_trajectory_reference(referenceTrajectoriesPtrBuffer_.get());
  forceOptimizationPtr_->update_mode_schedule(schedule);
  base_CtrlData_ptr_.push(forceOptimizationPtr_->optimize());
  timer.endTimer();
  return true;
}

}  // namespace velmora
