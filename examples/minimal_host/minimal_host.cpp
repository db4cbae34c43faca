// minimal_host: builds a MotionController for a robot (URDF, description.info, params.info in one
// directory), pushes a standing state, an all-stance schedule and references that hold the
// standing pose, listens to "actuators_cmds" for 2 s and checks that commands arrive at the
// whole-body rate (at least 90 % of 1 / wbc_dt), each with one entry per joint.
// Usage: minimal_host [ROBOT_DIR]. Exit code 0 on success, 1 otherwise.

#include <atomic>
#include <chrono>
#include <cmath>
#include <exception>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <rclcpp/rclcpp.hpp>

#include "common/ModeSchedule.h"
#include "common/TrajectoriesBuffer.h"
#include "communication/msg/actuator_cmds.hpp"
#include "control/MotionController.h"
#include "core/misc/LoadData.h"
#include "core/trajectory/CubicSplineTrajectory.h"
#include "description/ModelInfoLoader.h"
#include "pinocchio/Orientation.h"
#include "pinocchio/PinocchioInterface.h"

#ifndef DEFAULT_ROBOT_DIR
#define DEFAULT_ROBOT_DIR "robots/kestrel"
#endif

namespace {

using velmora::CubicSplineTrajectory;
using velmora::ModelInfo;
using velmora::ModeSchedule;
using velmora::PinocchioInterface;
using velmora::TrajectoriesBuffer;
using velmora::vector3_t;
using velmora::vector_t;
using ActuatorCmds = communication::msg::ActuatorCmds;

constexpr double kListenSeconds = 2.0;
constexpr double kMinRateFraction = 0.9;

/// References that hold the base and every foot where they are in the standing pose, from
/// shortly before `now` to 1 s after it (node clock, seconds).
std::shared_ptr<const TrajectoriesBuffer> holdStandingPose(const PinocchioInterface& model,
                                                           const ModelInfo& info,
                                                           const vector_t& qpos,
                                                           const vector_t& qvel, double now) {
  PinocchioInterface standing(model);
  standing.updateRobotState(qpos, qvel);
  const auto hold = [now](const vector3_t& value) {
    return std::make_shared<CubicSplineTrajectory>(
        CubicSplineTrajectory::constant(value, now - 0.05, now + 1.0));
  };
  auto references = std::make_shared<TrajectoriesBuffer>();
  const auto base = standing.getFramePose(info.base_name);
  references->set_base_pos_traj(hold(base.translation()));
  references->set_base_pos_ref_traj(hold(base.translation()));
  references->set_base_rpy_traj(hold(velmora::toEulerAngles(base.rotation())));
  std::map<std::string, std::shared_ptr<CubicSplineTrajectory>> feet;
  for (const auto& foot : info.foot_name) {
    feet[foot] = hold(standing.getFramePose(foot).translation());
  }
  references->set_foot_pos_traj(feet);
  return references;
}

int run(const std::string& robot_dir) {
  const std::string params = robot_dir + "/params.info";
  auto node = std::make_shared<rclcpp::Node>("minimal_host");
  auto model = std::make_shared<PinocchioInterface>(robot_dir + "/robot.urdf");
  auto info =
      std::make_shared<ModelInfo>(velmora::loadModelInfo(robot_dir + "/description.info", *model));
  double wbc_dt = 0.0;
  velmora::loadData::loadCppDataType(params, "wbc_dt", wbc_dt);

  // The listener: its own node, spun on its own thread, sensor-data profile like the publisher.
  const size_t joint_count = info->joints_init_pos.size();
  std::atomic<size_t> received{0};
  std::atomic<size_t> malformed{0};
  auto listener = std::make_shared<rclcpp::Node>("minimal_listener");
  auto subscription = listener->create_subscription<ActuatorCmds>(
      "actuators_cmds", rclcpp::SensorDataQoS(), [&](const ActuatorCmds& message) {
        const bool complete = message.actuators_name.size() == joint_count &&
                              message.pos.size() == joint_count &&
                              message.torque.size() == joint_count;
        (complete ? received : malformed).fetch_add(1);
      });
  rclcpp::executors::SingleThreadedExecutor executor;
  executor.add_node(listener);
  std::thread spinner([&executor] { executor.spin(); });

  size_t count = 0;
  {
    velmora::MotionController controller(node, info, model, params, "");
    auto qpos = std::make_shared<vector_t>(model->Nq());
    *qpos << info->base_init_pos, info->base_init_quat, info->joints_init_pos;
    auto qvel = std::make_shared<vector_t>(vector_t::Zero(model->Nv()));
    const auto references = holdStandingPose(*model, *info, *qpos, *qvel, node->now().seconds());
    controller.update_current_state(qpos, qvel);
    // All four feet in stance (mode 15) over the whole 0.5 s cycle.
    std::vector<double> phases{0.0, 1.0};
    std::vector<size_t> modes{15};
    controller.update_mode_schedule(std::make_shared<ModeSchedule>(0.5, phases, modes));
    controller.update_trajectory_reference(references);

    // Let the chain start (the first feedback law takes one contact-force period), then count.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const size_t before = received.load();
    std::this_thread::sleep_for(std::chrono::duration<double>(kListenSeconds));
    count = received.load() - before;
  }
  executor.cancel();
  spinner.join();

  const double expected = kListenSeconds / wbc_dt;
  std::cout << "minimal_host: " << count << " commands in " << kListenSeconds << " s (expected "
            << expected << " at wbc_dt " << wbc_dt << " s), " << malformed.load() << " malformed"
            << std::endl;
  if (malformed.load() != 0 || count < kMinRateFraction * expected) {
    std::cerr << "minimal_host: FAILED: commands arrive below " << kMinRateFraction * 100
              << " % of the whole-body rate or without one entry per joint" << std::endl;
    return 1;
  }
  std::cout << "minimal_host: OK" << std::endl;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2) {
    std::cerr << "usage: minimal_host [ROBOT_DIR]\n";
    return 1;
  }
  const std::string robot_dir = argc == 2 ? argv[1] : DEFAULT_ROBOT_DIR;
  rclcpp::init(argc, argv, rclcpp::InitOptions(), rclcpp::SignalHandlerOptions::None);
  int status = 1;
  try {
    status = run(robot_dir);
  } catch (const std::exception& error) {
    std::cerr << "minimal_host: " << error.what() << std::endl;
  }
  rclcpp::shutdown();
  return status;
}
