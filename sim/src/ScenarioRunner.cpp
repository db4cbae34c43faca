#include "sim/ScenarioRunner.h"

#include <array>
#include <chrono>
#include <cmath>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

#include <rclcpp/rclcpp.hpp>

#include "common/MotionPhaseDefinition.h"
#include "control/ActuatorCmdsBuilder.h"
#include "control/CommandWatchdog.h"
#include "control/ContactForceOptimization.h"
#include "control/MotionController.h"
#include "control/WholeBodyController.h"
#include "description/ModelInfoLoader.h"
#include "pinocchio/Orientation.h"
#include "planner/GaitPlanner.h"
#include "rosgraph_msgs/msg/clock.hpp"
#include "sim/FaultInjector.h"
#include "sim/LockstepForceOptimization.h"
#include "sim/MujocoPlant.h"
#include "sim/PlotWriter.h"
#include "sim/ReportPage.h"
#include "sim/RunVisuals.h"
#include "sim/ScenarioTimeline.h"

namespace velmora {
namespace sim {
namespace {

using Clock = std::chrono::steady_clock;

constexpr double kPlantTimestep = 0.001;
constexpr double kPlannerPeriod = 0.01;
constexpr double kSamplePeriod = 0.01;
/// Optimiser exceptions printed in a run (the rest are only counted).
constexpr size_t kReportedExceptions = 5;
/// Value of a figure the run cannot measure (written as null).
constexpr double kNotMeasured = std::numeric_limits<double>::quiet_NaN();

/// Robot model, description and the periods from the parameter file.
struct Robot {
  std::shared_ptr<PinocchioInterface> model;
  std::shared_ptr<ModelInfo> info;
};

Robot loadRobot(const SimOptions& options) {
  Robot robot;
  try {
    robot.model = std::make_shared<PinocchioInterface>(options.robot_urdf);
    robot.info =
        std::make_shared<ModelInfo>(loadModelInfo(options.robot_description, *robot.model));
  } catch (const std::exception& error) {
    throw UsageError(std::string("velmora_sim: cannot load the robot: ") + error.what());
  }
  return robot;
}

/// Initialises the ROS 2 context once for the process.
void ensureRosContext() {
  if (!rclcpp::ok()) {
    const char* argv[] = {"velmora_sim"};
    rclcpp::init(1, argv);
  }
}

builtin_interfaces::msg::Time toStamp(double t) {
  builtin_interfaces::msg::Time stamp;
  const auto ns = static_cast<int64_t>(std::llround(t * 1e9));
  stamp.sec = static_cast<int32_t>(ns / 1000000000);
  stamp.nanosec = static_cast<uint32_t>(ns % 1000000000);
  return stamp;
}

/// The run's command, gait and disturbances over time (a trot when options name no gait).
ScenarioTimeline timelineOf(const SimOptions& options) {
  return ScenarioTimeline(planner::VelocityCommand{options.vx, options.vy, options.yaw_rate},
                          options.gait.empty() ? "trot" : options.gait, options.command_cycle,
                          options.timeline);
}

/// Applies the timeline's push and plant events at simulation time `t`, before the step.
void disturbPlant(ScenarioTimeline& timeline, double t, MujocoPlant& plant) {
  const TrunkPush push = timeline.pushAt(t);
  plant.setBasePush(push.force_n, push.point_m);
  timeline.applyPlantEvents(t, plant);
}

/// Records samples, detects falls and prints progress; shared by both modes.
class Recorder {
 public:
  /// Allocates and fills the log for the whole run at once, so that the resident memory of a
  /// run stays flat from the start and a leak elsewhere shows (scripts/soak.sh checks it).
  Recorder(const SimOptions& options, std::ostream& progress)
      : options_(options),
        progress_(progress),
        samples_(static_cast<size_t>(std::ceil(options.duration_s / kSamplePeriod)) + 2) {}

  /// Takes a sample at simulation time `t` when due; the planner's command and gait are read at
  /// `node_time` (its clock). Returns true once the robot fell.
  bool observe(const MujocoPlant& plant, const planner::GaitPlanner& planner, double t,
               double node_time, double mpc_ms, double wbc_ms) {
    if (!body_touched_ && plant.released()) {
      const std::string body = plant.nonFootContactBody();
      if (!body.empty()) {
        body_touched_ = true;
        if (!options_.quiet) {
          progress_ << "t " << t << " s: the body '" << body << "' touches the floor" << std::endl;
        }
      }
    }
    if (t + 1e-9 < next_sample_) return fallen_;
    next_sample_ += kSamplePeriod;
    const vector_t q = plant.controllerQpos();
    const vector_t v = plant.controllerQvel();
    const Eigen::Quaterniond quat(q(6), q(3), q(4), q(5));
    const matrix3_t R = quat.toRotationMatrix();
    RunSample s;
    s.time_s = t;
    s.base_pos = q.head<3>();
    s.ground_z = plant.terrainHeightAt(s.base_pos(0), s.base_pos(1));
    s.base_rpy = toEulerAngles(R);
    const matrix3_t heading =
        Eigen::AngleAxisd(s.base_rpy(2), vector3_t::UnitZ()).toRotationMatrix();
    s.base_vel = heading.transpose() * (R * v.head<3>());
    s.yaw_rate = (R * v.segment<3>(3))(2);
    const planner::VelocityCommand c = planner.commandAt(node_time);
    s.command = vector3_t(c.vx, c.vy, c.yaw_rate);
    for (size_t i = 0; i < 4; ++i) s.planned_stance[i] = planner.stanceAt(i, node_time);
    const std::vector<bool> contact = plant.footContacts();
    for (size_t i = 0; i < 4 && i < contact.size(); ++i) s.foot_contact[i] = contact[i];
    const std::vector<double> force_z = plant.footVerticalForces();
    for (size_t i = 0; i < 4 && i < force_z.size(); ++i) s.foot_force_z[i] = force_z[i];
    s.height_ref = planner.baseRefAt(node_time)(2);
    s.mpc_ms = mpc_ms;
    s.wbc_ms = wbc_ms;
    if (num_samples_ < samples_.size()) {
      samples_[num_samples_] = s;
    } else {
      samples_.push_back(s);
    }
    ++num_samples_;
    fallen_ = plant.released() && (body_touched_ || isFallen(s));
    if (!options_.quiet && t + 1e-9 >= next_progress_) {
      next_progress_ += 1.0;
      progress_ << std::fixed << std::setprecision(2) << "t " << std::setw(6) << t << " s  vx "
                << std::setw(6) << s.base_vel(0) << "  vy " << std::setw(6) << s.base_vel(1)
                << "  yaw rate " << std::setw(6) << s.yaw_rate << "  height "
                << std::setprecision(3) << s.base_pos(2) << " m" << std::endl;
      progress_.unsetf(std::ios::floatfield);
    }
    return fallen_;
  }

  RunResult finish(const CycleTimings& timings, size_t messages, size_t mpc_failures,
                   size_t wbc_failures, double wall_s) {
    RunResult result;
    samples_.resize(num_samples_);
    result.samples = std::move(samples_);
    result.report = summarizeMotion(result.samples, body_touched_);
    result.report.timing_ms = timings;
    result.report.messages = messages;
    result.report.mpc_failures = mpc_failures;
    result.report.wbc_failures = wbc_failures;
    result.report.wall_s = wall_s;
    return result;
  }

 private:
  const SimOptions& options_;
  std::ostream& progress_;
  std::vector<RunSample> samples_;
  size_t num_samples_ = 0;  ///< samples taken (the first entries of samples_)
  double next_sample_ = 0.0;
  double next_progress_ = 0.0;
  bool body_touched_ = false;
  bool fallen_ = false;
};

double millisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

/// Cycle times [ms] of one part of the control cycle, collected over a run.
class CycleTimes {
 public:
  /// Room for `expected` cycles, so that recording allocates nothing during the run.
  explicit CycleTimes(size_t expected) { values_.reserve(expected); }
  /// Records the cycle that started at `start`; returns its duration [ms].
  double endCycle(Clock::time_point start) { return add(millisecondsSince(start)); }
  /// Records a cycle of `ms` milliseconds; returns it.
  double add(double ms) {
    values_.push_back(ms);
    return ms;
  }
  /// The last cycle time [ms] (0 before the first).
  double last() const { return values_.empty() ? 0.0 : values_.back(); }
  TimingSummary summary() const { return TimingSummary::of(values_); }

 private:
  std::vector<double> values_;
};

/// Figures of a part of the cycle the run cannot see.
constexpr TimingSummary kUnseen{kNotMeasured, kNotMeasured};

/// Number of plant steps in one period (at least one).
long stepsPer(double period_s) { return std::max(1L, std::lround(period_s / kPlantTimestep)); }

/// The stale-command limits of the parameter file (defaults for absent keys).
CommandWatchdogLimits loadWatchdogLimits(const SimOptions& options, scalar_t wbc_dt) {
  try {
    return loadCommandWatchdogLimits(options.params, wbc_dt);
  } catch (const std::exception& error) {
    throw UsageError(std::string("velmora_sim: cannot use the parameter file '") + options.params +
                     "': " + error.what());
  }
}

/// True when every value of `message` is finite.
bool allFinite(const communication::msg::ActuatorCmds& message) {
  for (const auto* values :
       {&message.kp, &message.pos, &message.kd, &message.vel, &message.torque}) {
    for (const float value : *values) {
      if (!std::isfinite(value)) return false;
    }
  }
  return true;
}

/// True when `message` is a damping command: no stiffness, velocity or torque, one positive
/// damping gain on every joint.
bool isDampingCommand(const communication::msg::ActuatorCmds& message) {
  if (message.kd.empty() || !(message.kd[0] > 0.0f)) return false;
  for (size_t j = 0; j < message.kd.size(); ++j) {
    if (message.kp[j] != 0.0f || message.vel[j] != 0.0f || message.torque[j] != 0.0f ||
        message.kd[j] != message.kd[0]) {
      return false;
    }
  }
  return true;
}

RunResult runLockstep(const SimOptions& options, std::ostream& progress,
                      const CommandObserver& observer) {
  const auto wall_start = Clock::now();
  const Robot robot = loadRobot(options);
  ensureRosContext();
  auto node = std::make_shared<rclcpp::Node>("velmora_sim_lockstep");
  node->set_parameter(rclcpp::Parameter("use_sim_time", true));
  auto clock_pub = node->create_publisher<rosgraph_msgs::msg::Clock>("/clock", rclcpp::QoS(10));
  const auto publishClock = [&clock_pub](double t) {
    rosgraph_msgs::msg::Clock message;
    message.clock = toStamp(t);
    clock_pub->publish(message);
  };
  publishClock(0.0);

  std::optional<LockstepForceOptimization> cfo;
  WholeBodyController wbc(node, robot.info, robot.model);
  try {
    cfo.emplace(robot.info, robot.model, options.params);
    wbc.loadParamsSetting(options.params, false);
  } catch (const std::exception& error) {
    throw UsageError(std::string("velmora_sim: cannot use the parameter file '") + options.params +
                     "': " + error.what());
  }
  MujocoPlant plant(options.robot_urdf, *robot.info, kPlantTimestep, options.terrain);
  plant.setFloorFriction(options.friction);
  planner::GaitPlanner planner(*robot.info, *robot.model, planner::PlannerSettings{});
  ScenarioTimeline timeline = timelineOf(options);
  planner::VelocityCommand command = timeline.commandAt(0.0);
  std::string gait_name = timeline.gaitAt(0.0);
  planner.setCommand(planner::gaitNamed(gait_name), command);
  const std::vector<std::string>& joint_names = robot.model->getModel().names;
  RunVisuals visuals(options, plant, true, command, gait_name);
  FaultInjector faults(options.faults, options.fault_seed);
  CommandWatchdog watchdog(loadWatchdogLimits(options, wbc.dt()));

  const long planner_steps = stepsPer(kPlannerPeriod);
  const long mpc_steps = stepsPer(cfo->dt());
  // The force optimisation cycle whose horizon starts at step k * mpc_steps runs on its worker
  // from the state and plan of a quarter period earlier (5 ms at 0.02 s: the whole-body cycles
  // and plant steps in between cover most of its cost) and hands its law over at that step.
  const long mpc_lead_steps = mpc_steps / 4;
  long mpc_handover_step = -1;
  const long wbc_steps = stepsPer(wbc.dt());
  const long total_steps = std::lround(options.duration_s / kPlantTimestep);
  const auto cycles = [total_steps](long every) {
    return static_cast<size_t>(total_steps / every) + 2;
  };

  Recorder recorder(options, progress);
  CycleTimes planner_ms(cycles(planner_steps)), mpc_ms(cycles(mpc_steps)),
      wbc_ms(cycles(wbc_steps)), plant_ms(cycles(1));
  size_t messages = 0, mpc_failures = 0, optimiser_exceptions = 0, safe_command_cycles = 0;
  size_t non_finite_messages = 0;
  std::shared_ptr<ModeSchedule> schedule;
  double plan_time = 0.0;  ///< when the planner made `schedule` (its phase 0) [s]
  std::shared_ptr<const TrajectoriesBuffer> references;
  // What the controller holds: the newest state the host pushed (and when), the newest body
  // feedback law, the newest joint commands (and when they were computed).
  vector_t state_qpos, state_qvel;
  double state_time = -std::numeric_limits<double>::infinity();
  std::shared_ptr<CtrlData> policy;
  bool policy_seen = false;
  std::shared_ptr<const ActuatorCommands> commands;
  double commands_time = -std::numeric_limits<double>::infinity();
  // Messages on their way to the motor drivers: (arrival time, message), in sending order.
  std::deque<std::pair<double, communication::msg::ActuatorCmds>> in_flight;
  const auto countException = [&optimiser_exceptions, &progress, &options](const char* who,
                                                                           const char* what) {
    if (!options.quiet && optimiser_exceptions < kReportedExceptions) {
      progress << "velmora_sim: " << who << " threw: " << what << std::endl;
    }
    ++optimiser_exceptions;
  };
  for (long step = 0; step <= total_steps; ++step) {
    const double t = static_cast<double>(step) * kPlantTimestep;
    publishClock(t);
    const vector_t plant_qpos = plant.controllerQpos();
    const vector_t plant_qvel = plant.controllerQvel();
    if (step % planner_steps == 0) {
      const auto start = Clock::now();
      const planner::VelocityCommand wanted = timeline.commandAt(t);
      const std::string& wanted_gait = timeline.gaitAt(t);
      if (wanted.vx != command.vx || wanted.vy != command.vy ||
          wanted.yaw_rate != command.yaw_rate || wanted_gait != gait_name) {
        command = wanted;
        gait_name = wanted_gait;
        planner.setCommand(planner::gaitNamed(gait_name), command);
      }
      const planner::PlannerOutput plan = planner.plan(t, plant_qpos, plant_qvel);
      plan_time = t;
      planner_ms.endCycle(start);
      schedule = plan.mode_schedule;
      references = plan.trajectories;
      faults.alterPlan(t, schedule, references);
    }
    const bool wbc_cycle = step % wbc_steps == 0;
    if (faults.statePushed(t)) {
      state_qpos = plant_qpos;
      state_qvel = plant_qvel;
      faults.measure(t, state_qpos);
      if (wbc_cycle) faults.corruptConsumedState(t, state_qpos);
      state_time = t;
    }
    if ((step + mpc_lead_steps) % mpc_steps == 0 && schedule) {
      cfo->start(t + static_cast<double>(mpc_lead_steps) * kPlantTimestep, state_qpos, state_qvel,
                 references, *schedule, plan_time);
      mpc_handover_step = step + mpc_lead_steps;
    }
    if (step == mpc_handover_step) {
      ForceOptimizationCycle cycle = cfo->collect();
      mpc_ms.add(cycle.ms);
      if (cycle.threw) countException("the contact force optimisation", cycle.error.c_str());
      if (faults.failOptimisation(t)) cycle.law.reset();
      // As the controller's loop: a cycle that throws leaves the last law in place; one that
      // returns no law hands that on to the whole-body controller.
      if (!cycle.threw) {
        policy = cycle.law;
        policy_seen = policy_seen || policy != nullptr;
        if (!policy) ++mpc_failures;
      }
    }
    if (wbc_cycle && policy_seen) {
      const auto start = Clock::now();
      try {
        wbc.update_state(std::make_shared<vector_t>(state_qpos),
                         std::make_shared<vector_t>(state_qvel));
        wbc.update_trajectory_reference(references);
        wbc.update_mode(schedule->getModeFromPhase(0.0));
        wbc.update_control_data(policy);
        commands = wbc.optimize();
        commands_time = t;
      } catch (const std::exception& error) {
        countException("the whole-body controller", error.what());
      }
      wbc_ms.endCycle(start);
      // The publication: the newest commands while they and the state are fresh, otherwise
      // the damping command on the measured joint positions.
      communication::msg::ActuatorCmds message;
      const bool fresh =
          watchdog.check(t, commands_time, state_time, state_qpos, state_qvel).publish_commands;
      if (commands && fresh) {
        message = buildActuatorCmds(*robot.info, joint_names, *commands, node->now());
      } else if (commands) {
        message = buildActuatorCmds(*robot.info, joint_names, watchdog.safeCommand(), node->now());
        ++safe_command_cycles;
      }
      if (commands && !faults.dropCommand(t)) {
        in_flight.emplace_back(t + faults.commandDelay(t), std::move(message));
      }
    }
    while (!in_flight.empty() && in_flight.front().first <= t + 1e-9) {
      const communication::msg::ActuatorCmds& message = in_flight.front().second;
      if (!allFinite(message)) ++non_finite_messages;
      if (observer) observer(t, message);
      plant.applyCommand(message);
      ++messages;
      in_flight.pop_front();
    }
    if (recorder.observe(plant, planner, t, t, mpc_ms.last(), wbc_ms.last())) break;
    visuals.afterStep(plant, command, gait_name);
    if (step == total_steps) break;
    const auto start = Clock::now();
    disturbPlant(timeline, t, plant);
    plant.step();
    plant_ms.endCycle(start);
  }
  visuals.finish(progress, options.quiet);
  const double wall_s = millisecondsSince(wall_start) / 1000.0;
  const CycleTimings timings{planner_ms.summary(), mpc_ms.summary(), wbc_ms.summary(),
                             plant_ms.summary()};
  RunResult result =
      recorder.finish(timings, messages, mpc_failures, wbc.numFailedSolves(), wall_s);
  result.report.faults = faults.records();
  result.report.safe_command_cycles = safe_command_cycles;
  result.report.optimiser_exceptions = optimiser_exceptions;
  result.report.non_finite_messages = non_finite_messages;
  return result;
}

RunResult runRealtime(const SimOptions& options, std::ostream& progress,
                      const CommandObserver& observer) {
  const auto wall_start = Clock::now();
  const Robot robot = loadRobot(options);
  ensureRosContext();
  auto node = std::make_shared<rclcpp::Node>("velmora_sim");
  MujocoPlant plant(options.robot_urdf, *robot.info, kPlantTimestep, options.terrain);
  plant.setFloorFriction(options.friction);
  planner::GaitPlanner planner(*robot.info, *robot.model, planner::PlannerSettings{});
  // The host thread reads the command and gait (const queries); this thread applies the plant
  // events.
  ScenarioTimeline timeline = timelineOf(options);
  planner::VelocityCommand command = timeline.commandAt(0.0);
  std::string gait_name = timeline.gaitAt(0.0);
  planner.setCommand(planner::gaitNamed(gait_name), command);
  // The video and the viewer; the viewer's keys replace the scenario's command.
  RunVisuals visuals(options, plant, false, command, gait_name);

  // Faults act from the plant's thread (state, commands) and the host's (plans), on the
  // simulation time the plant thread publishes.
  std::mutex fault_mutex;
  FaultInjector faults(options.faults, options.fault_seed);
  std::atomic<double> sim_time{0.0};

  // Commands arrive through the topic, as a motor driver host would receive them; a message
  // the drop fault takes is lost on the way, a late one waits in `in_flight` until it is due.
  std::mutex command_mutex;
  std::deque<std::pair<double, std::shared_ptr<const communication::msg::ActuatorCmds>>> in_flight;
  size_t messages = 0;
  auto subscription = node->create_subscription<communication::msg::ActuatorCmds>(
      "actuators_cmds", rclcpp::QoS(rclcpp::KeepLast(1), rmw_qos_profile_sensor_data),
      [&](std::shared_ptr<const communication::msg::ActuatorCmds> message) {
        const double now = sim_time.load();
        double due = now;
        {
          std::lock_guard<std::mutex> lock(fault_mutex);
          if (faults.dropCommand(now)) return;
          due += faults.commandDelay(now);
        }
        std::lock_guard<std::mutex> lock(command_mutex);
        in_flight.emplace_back(due, std::move(message));
        ++messages;
      });
  std::unique_ptr<MotionController> controller;
  try {
    controller =
        std::make_unique<MotionController>(node, robot.info, robot.model, options.params, "");
  } catch (const std::exception& error) {
    throw UsageError(std::string("velmora_sim: cannot start the controller with '") +
                     options.params + "': " + error.what());
  }
  // Spinning starts once the controller stands: a cancel() issued before spin() begins would be
  // lost and leave the spinning thread waiting for ever.
  rclcpp::executors::SingleThreadedExecutor executor;
  executor.add_node(node);
  std::thread spin_thread([&executor] { executor.spin(); });

  // State shared between the plant (this thread) and the host thread.
  std::mutex state_mutex;
  vector_t shared_qpos = plant.controllerQpos();
  vector_t shared_qvel = plant.controllerQvel();
  std::atomic<bool> host_running{true};
  std::mutex planner_mutex;
  const double host_start = node->now().seconds();
  const long total_steps = std::lround(options.duration_s / kPlantTimestep);
  // Written by the host thread only, read once it has stopped.
  CycleTimes planner_ms(static_cast<size_t>(options.duration_s / kPlannerPeriod) + 2);
  std::thread host([&] {
    auto next = Clock::now();
    while (host_running.load()) {
      vector_t q, v;
      {
        std::lock_guard<std::mutex> lock(state_mutex);
        q = shared_qpos;
        v = shared_qvel;
      }
      {
        std::lock_guard<std::mutex> lock(planner_mutex);
        const double now = node->now().seconds();
        planner::VelocityCommand wanted = timeline.commandAt(now - host_start);
        std::string wanted_gait = timeline.gaitAt(now - host_start);
        if (const auto driven = visuals.driven()) {
          wanted = driven->command;
          wanted_gait = driven->gait;
        }
        if (wanted.vx != command.vx || wanted.vy != command.vy ||
            wanted.yaw_rate != command.yaw_rate || wanted_gait != gait_name) {
          command = wanted;
          gait_name = wanted_gait;
          planner.setCommand(planner::gaitNamed(gait_name), command);
        }
        const auto plan_start = Clock::now();
        const planner::PlannerOutput plan = planner.plan(now, q, v);
        planner_ms.endCycle(plan_start);
        std::shared_ptr<ModeSchedule> schedule = plan.mode_schedule;
        std::shared_ptr<const TrajectoriesBuffer> references = plan.trajectories;
        {
          std::lock_guard<std::mutex> lock(fault_mutex);
          faults.alterPlan(sim_time.load(), schedule, references);
        }
        controller->update_mode_schedule(schedule);
        controller->update_trajectory_reference(references);
      }
      next += std::chrono::microseconds(static_cast<long>(kPlannerPeriod * 1e6));
      std::this_thread::sleep_until(next);
    }
  });

  Recorder recorder(options, progress);
  CycleTimes plant_ms(static_cast<size_t>(total_steps) + 1);
  std::shared_ptr<const communication::msg::ActuatorCmds> applied;
  bool fell = false;
  size_t safe_command_cycles = 0, non_finite_messages = 0;
  // Wait for the first plan before the controller sees any state.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const auto start = Clock::now();
  // The host's command and gait (guarded by planner_mutex), as the pictures show them.
  const planner::VelocityCommand& host_command = command;
  planner::VelocityCommand shown_command;
  std::string shown_gait;
  for (long step = 0; step <= total_steps && !fell && !visuals.endRequested(); ++step) {
    const double t = static_cast<double>(step) * kPlantTimestep;
    std::this_thread::sleep_until(start + std::chrono::microseconds(step * 1000));
    sim_time.store(t);
    auto qpos = std::make_shared<vector_t>(plant.controllerQpos());
    auto qvel = std::make_shared<vector_t>(plant.controllerQvel());
    {
      std::lock_guard<std::mutex> lock(state_mutex);
      shared_qpos = *qpos;
      shared_qvel = *qvel;
    }
    bool push_state = true;
    {
      std::lock_guard<std::mutex> lock(fault_mutex);
      push_state = faults.statePushed(t);
      if (push_state) {
        faults.measure(t, *qpos);
        faults.corruptConsumedState(t, *qpos);
      }
    }
    if (push_state) controller->update_current_state(qpos, qvel);
    std::shared_ptr<const communication::msg::ActuatorCmds> command = applied;
    {
      std::lock_guard<std::mutex> lock(command_mutex);
      while (!in_flight.empty() && in_flight.front().first <= t + 1e-9) {
        command = std::move(in_flight.front().second);
        in_flight.pop_front();
      }
    }
    if (command && command != applied) {
      // The robot stays held until the controller sends a command with gains or torques.
      bool live = plant.released();
      for (size_t i = 0; i < command->torque.size() && !live; ++i) {
        live = command->kp[i] != 0.0f || command->kd[i] != 0.0f || command->torque[i] != 0.0f;
      }
      if (live) {
        if (observer) observer(t, *command);
        if (!allFinite(*command)) ++non_finite_messages;
        if (isDampingCommand(*command)) ++safe_command_cycles;
        plant.applyCommand(*command);
      }
      applied = command;
    }
    {
      std::lock_guard<std::mutex> lock(planner_mutex);
      // The optimisers run inside the controller's threads, which time themselves (their timing
      // lines are logged when the controller stops); the run does not see their cycle times.
      fell = recorder.observe(plant, planner, t, node->now().seconds(), kNotMeasured, kNotMeasured);
      shown_command = host_command;
      shown_gait = gait_name;
    }
    visuals.afterStep(plant, shown_command, shown_gait);
    const auto step_start = Clock::now();
    disturbPlant(timeline, t, plant);
    plant.step();
    plant_ms.endCycle(step_start);
  }
  visuals.finish(progress, options.quiet);
  host_running.store(false);
  host.join();
  controller.reset();
  executor.cancel();
  spin_thread.join();
  size_t total_messages = 0;
  {
    std::lock_guard<std::mutex> lock(command_mutex);
    total_messages = messages;
  }
  const double wall_s = millisecondsSince(wall_start) / 1000.0;
  // The optimisers run inside the controller's threads, which log their own timing lines.
  const CycleTimings timings{planner_ms.summary(), kUnseen, kUnseen, plant_ms.summary()};
  RunResult result = recorder.finish(timings, total_messages, 0, 0, wall_s);
  result.report.optimisers_observed = false;
  result.report.faults = faults.records();
  result.report.safe_command_cycles = safe_command_cycles;
  result.report.non_finite_messages = non_finite_messages;
  return result;
}

}  // namespace

RunResult runScenario(const SimOptions& options, std::ostream& progress,
                      const CommandObserver& observer) {
  return options.lockstep ? runLockstep(options, progress, observer)
                          : runRealtime(options, progress, observer);
}

void writeRunFiles(const RunResult& result, const SimOptions& options, const std::string& out_dir,
                   const std::vector<std::string>& command_line) {
  std::error_code error;
  std::filesystem::create_directories(out_dir, error);
  const auto open = [&out_dir](const std::string& name) {
    std::ofstream file(out_dir + "/" + name);
    if (!file) throw std::runtime_error("velmora_sim: cannot write '" + out_dir + "/" + name + "'");
    return file;
  };
  {
    auto file = open("report.json");
    writeReportJson(result.report, file);
  }
  {
    auto file = open("log.csv");
    writeLogCsv(result.samples, file);
  }
  const std::string title =
      "velmora_sim " + options.scenario + (options.lockstep ? " (lockstep)" : " (real time)");
  std::ostringstream plot;
  writePlotSvg(result.samples, title, plot);
  {
    auto file = open("plot.svg");
    file << plot.str();
  }
  {
    ReportPageContent page;
    page.title = title;
    page.plot_svg = plot.str();
    page.plot_file = "plot.svg";
    // The page links the video relative to itself, so the output folder can be moved whole.
    if (!options.video_path.empty() && std::filesystem::exists(options.video_path, error)) {
      page.video_file = std::filesystem::proximate(options.video_path, out_dir, error).string();
    }
    page.command_line = command_line;
    page.robot_files = {{"URDF", options.robot_urdf},
                        {"description", options.robot_description},
                        {"parameters", options.params}};
    auto file = open("report.html");
    writeReportHtml(result.report, page, file);
  }
}

}  // namespace sim
}  // namespace velmora
