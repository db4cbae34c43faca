#include "nodes/SeparateProcessRun.h"

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <iomanip>
#include <limits>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>

#include <rclcpp/rclcpp.hpp>

#include "communication/msg/actuator_cmds.hpp"
#include "core/misc/Numerics.h"
#include "geometry_msgs/msg/twist.hpp"
#include "nav_msgs/msg/odometry.hpp"
#include "nodes/ChildProcess.h"
#include "nodes/Spinner.h"
#include "nodes/StateMessages.h"
#include "pinocchio/Orientation.h"
#include "sim/ScenarioTimeline.h"
#include "sim/Terrain.h"
#include "sim/TerrainSpec.h"

namespace velmora {
namespace nodes {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kTick = std::chrono::milliseconds(10);
constexpr auto kStartupTimeout = std::chrono::seconds(60);
constexpr auto kStopGrace = std::chrono::milliseconds(500);

/// The run's sample at time `t` [s] from the odometry `base_qpos`, `base_qvel`, over `terrain`.
sim::RunSample sampleOf(double t, const vector_t& base_qpos, const vector_t& base_qvel,
                        const planner::VelocityCommand& command, const sim::Terrain& terrain) {
  const Eigen::Quaterniond quat(base_qpos(6), base_qpos(3), base_qpos(4), base_qpos(5));
  const matrix3_t R = quat.toRotationMatrix();
  sim::RunSample s;
  s.time_s = t;
  s.base_pos = base_qpos.head<3>();
  s.ground_z = terrain.heightAt(s.base_pos(0), s.base_pos(1));
  s.base_rpy = toEulerAngles(R);
  const matrix3_t heading = Eigen::AngleAxisd(s.base_rpy(2), vector3_t::UnitZ()).toRotationMatrix();
  s.base_vel = heading.transpose() * (R * base_qvel.head<3>());
  s.yaw_rate = (R * base_qvel.tail<3>())(2);
  s.command = vector3_t(command.vx, command.vy, command.yaw_rate);
  s.height_ref = std::numeric_limits<double>::quiet_NaN();
  s.mpc_ms = s.wbc_ms = std::numeric_limits<double>::quiet_NaN();
  return s;
}

}  // namespace

sim::RunResult runScenarioAsProcesses(const sim::SimOptions& options, std::ostream& progress,
                                      const std::atomic<bool>& stop, const std::string& node_dir) {
  const auto wall_start = Clock::now();
  // This process and both children (which inherit the environment) talk over DDS.
  setenv("RMW_IMPLEMENTATION", "rmw_cyclonedds_cpp", 1);
  if (!rclcpp::ok()) {
    const char* argv[] = {"velmora_sim"};
    rclcpp::init(1, argv);
  }
  auto node = std::make_shared<rclcpp::Node>("velmora_sim");
  std::mutex odom_mutex;
  std::optional<nav_msgs::msg::Odometry> odom;
  std::atomic<size_t> messages{0};
  const rclcpp::QoS sensor_qos(rclcpp::KeepLast(1), rmw_qos_profile_sensor_data);
  auto odom_sub = node->create_subscription<nav_msgs::msg::Odometry>(
      "odom", sensor_qos, [&](std::shared_ptr<const nav_msgs::msg::Odometry> message) {
        std::lock_guard<std::mutex> lock(odom_mutex);
        odom = *message;
      });
  auto command_sub = node->create_subscription<communication::msg::ActuatorCmds>(
      "actuators_cmds", sensor_qos,
      [&messages](std::shared_ptr<const communication::msg::ActuatorCmds>) { ++messages; });
  auto cmd_vel_pub = node->create_publisher<geometry_msgs::msg::Twist>(
      "cmd_vel", rclcpp::QoS(rclcpp::KeepLast(1)));
  const Spinner spinner(node);

  sim::ScenarioTimeline timeline(planner::VelocityCommand{options.vx, options.vy, options.yaw_rate},
                                 options.gait.empty() ? "trot" : options.gait,
                                 options.command_cycle, options.timeline);
  ChildProcess plant(
      node_dir + "/velmora_plant",
      {"--robot-urdf", options.robot_urdf, "--robot-description", options.robot_description,
       "--terrain", sim::formatTerrainSpec(options.terrain), "--friction",
       numerics::exactText(options.friction)});
  ChildProcess host(
      node_dir + "/velmora_host",
      {"--robot-urdf", options.robot_urdf, "--robot-description", options.robot_description,
       "--params", options.params, "--gait", timeline.gaitAt(0.0)});
  const auto checkRunning = [&] {
    for (ChildProcess* child : {&plant, &host}) {
      if (const auto status = child->poll()) {
        throw std::runtime_error(child->name() + " " + describeExit(*status));
      }
    }
    if (stop.load()) throw std::runtime_error("stopped by a signal");
  };
  const auto startup_deadline = Clock::now() + kStartupTimeout;
  while (messages.load() == 0) {
    checkRunning();
    if (Clock::now() > startup_deadline) {
      throw std::runtime_error(
          "no actuators_cmds from velmora_host within 60 s (do the nodes reach each other over "
          "DDS on ROS_DOMAIN_ID " +
          std::string(std::getenv("ROS_DOMAIN_ID") ? std::getenv("ROS_DOMAIN_ID") : "0") + "?)");
    }
    std::this_thread::sleep_for(kTick);
  }

  // The plant's ground, for the trunk's height above it (the fall check).
  const sim::Terrain terrain(options.terrain);
  std::vector<sim::RunSample> samples;
  samples.reserve(static_cast<size_t>(options.duration_s / 0.01) + 2);
  const size_t first_message = messages.load();
  const auto start = Clock::now();
  double next_progress = 1.0, t = 0.0;
  for (long tick = 0; t < options.duration_s; ++tick) {
    std::this_thread::sleep_until(start + tick * kTick);
    checkRunning();
    t = std::chrono::duration<double>(Clock::now() - start).count();
    const planner::VelocityCommand command = timeline.commandAt(t);
    geometry_msgs::msg::Twist twist;
    twist.linear.x = command.vx;
    twist.linear.y = command.vy;
    twist.angular.z = command.yaw_rate;
    cmd_vel_pub->publish(twist);
    std::optional<nav_msgs::msg::Odometry> latest;
    {
      std::lock_guard<std::mutex> lock(odom_mutex);
      latest = odom;
    }
    if (!latest) continue;
    vector_t base_qpos, base_qvel;
    readOdometry(*latest, base_qpos, base_qvel);
    samples.push_back(sampleOf(t, base_qpos, base_qvel, command, terrain));
    const sim::RunSample& s = samples.back();
    if (!options.quiet && t >= next_progress) {
      next_progress += 1.0;
      progress << std::fixed << std::setprecision(2) << "t " << std::setw(6) << t << " s  vx "
               << std::setw(6) << s.base_vel(0) << "  vy " << std::setw(6) << s.base_vel(1)
               << "  yaw rate " << std::setw(6) << s.yaw_rate << "  height " << std::setprecision(3)
               << s.base_pos(2) << " m" << std::endl;
      progress.unsetf(std::ios::floatfield);
    }
    if (sim::isFallen(s)) break;
  }
  const size_t run_messages = messages.load() - first_message;
  host.stop(kStopGrace);
  plant.stop(kStopGrace);

  sim::RunResult result;
  result.samples = std::move(samples);
  result.report = sim::summarizeMotion(result.samples, false);
  const sim::TimingSummary unseen{std::numeric_limits<double>::quiet_NaN(),
                                  std::numeric_limits<double>::quiet_NaN()};
  result.report.timing_ms = sim::CycleTimings{unseen, unseen, unseen, unseen};
  // The host ramps the command in after its standing start; this process sees only cmd_vel,
  // so the displacement the host commanded (and with it the drift) is unknown here.
  result.report.drift_m = std::numeric_limits<double>::quiet_NaN();
  result.report.messages = run_messages;
  result.report.optimisers_observed = false;
  result.report.wall_s = std::chrono::duration<double>(Clock::now() - wall_start).count();
  return result;
}

}  // namespace nodes
}  // namespace velmora
