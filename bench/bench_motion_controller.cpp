// Motion controller: the publishing period of the actuator commands in the steady state, as a
// host sees it. The bundled robot stands on four feet; the host pushes the measured state every
// iteration and fresh references every 10. One iteration is the wait for the next message, so
// the real time per iteration is the publishing period (the target is wbc_dt, 2 ms); the
// counters give the period between message stamps.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <rclcpp/rclcpp.hpp>

#include "../tests/BundledRobot.h"
#include "common/ModeSchedule.h"
#include "common/TrajectoriesBuffer.h"
#include "communication/msg/actuator_cmds.hpp"
#include "control/MotionController.h"
#include "core/trajectory/CubicSplineTrajectory.h"
#include "description/ModelInfoLoader.h"
#include "pinocchio/Orientation.h"
#include "pinocchio/PinocchioInterface.h"

namespace velmora {
namespace {

using test::kestrelFile;
using ActuatorCmds = communication::msg::ActuatorCmds;

/// References holding the standing pose of `standing` over the next half second.
std::shared_ptr<const TrajectoriesBuffer> holdStanding(const PinocchioInterface& standing,
                                                       const ModelInfo& info, double now) {
  const auto hold = [now](const vector3_t& value) {
    return std::make_shared<CubicSplineTrajectory>(
        CubicSplineTrajectory::constant(value, now - 0.05, now + 0.5));
  };
  auto refs = std::make_shared<TrajectoriesBuffer>();
  const auto base = standing.getFramePose(info.base_name);
  refs->set_base_pos_traj(hold(base.translation()));
  refs->set_base_pos_ref_traj(hold(base.translation()));
  refs->set_base_rpy_traj(hold(toEulerAngles(base.rotation())));
  std::map<std::string, std::shared_ptr<CubicSplineTrajectory>> feet;
  for (const auto& foot : info.foot_name)
    feet[foot] = hold(standing.getFramePose(foot).translation());
  refs->set_foot_pos_traj(feet);
  return refs;
}

void BM_MotionControllerPublishingPeriod(::benchmark::State& state) {
  if (!rclcpp::ok()) rclcpp::init(0, nullptr);
  auto host = std::make_shared<rclcpp::Node>("bench_motion_host");
  auto model = std::make_shared<PinocchioInterface>(kestrelFile("robot.urdf"));
  auto info = std::make_shared<ModelInfo>(loadModelInfo(kestrelFile("description.info"), *model));
  auto qpos = std::make_shared<vector_t>(model->Nq());
  *qpos << info->base_init_pos, info->base_init_quat, info->joints_init_pos;
  auto qvel = std::make_shared<vector_t>(vector_t::Zero(model->Nv()));
  PinocchioInterface standing(*model);
  standing.updateRobotState(*qpos, *qvel);

  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<int64_t> stamps_ns;
  auto listener = std::make_shared<rclcpp::Node>("bench_motion_listener");
  auto subscription = listener->create_subscription<ActuatorCmds>(
      "actuators_cmds", rclcpp::SensorDataQoS(), [&](const ActuatorCmds& message) {
        std::lock_guard<std::mutex> lock(mutex);
        stamps_ns.push_back(rclcpp::Time(message.header.stamp).nanoseconds());
        arrived.notify_all();
      });
  rclcpp::executors::SingleThreadedExecutor executor;
  executor.add_node(listener);
  std::thread spinner([&] { executor.spin(); });
  {
    MotionController controller(host, info, model, kestrelFile("params.info"), "");
    controller.update_current_state(qpos, qvel);
    std::vector<double> phases{0.0, 1.0};
    std::vector<size_t> stance{15};
    controller.update_mode_schedule(std::make_shared<ModeSchedule>(0.5, phases, stance));
    controller.update_trajectory_reference(holdStanding(standing, *info, host->now().seconds()));
    size_t iteration = 0;
    for (auto _ : state) {
      controller.update_current_state(qpos, qvel);
      if (++iteration % 10 == 0) {
        controller.update_trajectory_reference(
            holdStanding(standing, *info, host->now().seconds()));
      }
      std::unique_lock<std::mutex> lock(mutex);
      const size_t seen = stamps_ns.size();
      arrived.wait_for(lock, std::chrono::seconds(1), [&] { return stamps_ns.size() > seen; });
    }
  }
  executor.cancel();
  spinner.join();
  std::vector<double> periods_ms;
  for (size_t i = 1; i < stamps_ns.size(); ++i) {
    periods_ms.push_back(1e-6 * static_cast<double>(stamps_ns[i] - stamps_ns[i - 1]));
  }
  std::sort(periods_ms.begin(), periods_ms.end());
  if (!periods_ms.empty()) {
    state.counters["period_median_ms"] = periods_ms[periods_ms.size() / 2];
    state.counters["period_p99_ms"] = periods_ms[periods_ms.size() * 99 / 100];
    state.counters["period_max_ms"] = periods_ms.back();
  }
}

BENCHMARK(BM_MotionControllerPublishingPeriod)
    ->Unit(::benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1500);

}  // namespace
}  // namespace velmora
