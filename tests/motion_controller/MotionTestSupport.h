#pragma once

// Shared set-up of the motion controller tests: the bundled robot, inputs that let the whole
// chain run (standing state, an all-stance schedule, references holding the standing pose),
// parameter files written on the fly, a subscriber on the command topic with its own executor
// thread, a host thread pushing the state, and helpers to count threads and log lines.

#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <rclcpp/rclcpp.hpp>

#include "BundledRobot.h"
#include "common/ModeSchedule.h"
#include "common/TrajectoriesBuffer.h"
#include "communication/msg/actuator_cmds.hpp"
#include "control/MotionController.h"
#include "core/trajectory/CubicSplineTrajectory.h"
#include "description/ModelInfoLoader.h"
#include "pinocchio/Orientation.h"
#include "pinocchio/PinocchioInterface.h"

namespace velmora::motion_test {

using ActuatorCmds = communication::msg::ActuatorCmds;
using namespace std::chrono_literals;

using test::kestrelFile;

/// A path in the test temporary directory for `stem`, private to this process: ctest runs the
/// tests of one program in parallel processes, which must not write each other's files.
inline std::string uniqueTempPath(const std::string& stem) {
  return ::testing::TempDir() + stem + "_" + std::to_string(::getpid()) + ".info";
}

/// The bundled parameter file with the line of each key of `replacements` replaced by
/// "key value" (the file is otherwise unchanged); returns the path of the copy.
inline std::string paramsWith(const std::vector<std::pair<std::string, std::string>>& replacements,
                              const std::string& tag) {
  std::ifstream in(kestrelFile("params.info"));
  std::ostringstream out;
  std::string line;
  std::vector<bool> replaced(replacements.size(), false);
  while (std::getline(in, line)) {
    bool written = false;
    for (size_t i = 0; i < replacements.size() && !written; ++i) {
      const auto& [key, value] = replacements[i];
      if (line.rfind(key + " ", 0) != 0) continue;
      out << key << " " << value << "\n";
      replaced[i] = written = true;
    }
    if (!written) out << line << "\n";
  }
  EXPECT_EQ(static_cast<size_t>(std::count(replaced.begin(), replaced.end(), true)),
            replacements.size());
  const std::string path = uniqueTempPath("motion_params_" + tag);
  std::ofstream(path) << out.str();
  return path;
}

/// Number of threads of this process (entries of /proc/self/task).
inline int threadCount() {
  DIR* dir = opendir("/proc/self/task");
  if (dir == nullptr) return -1;
  int count = 0;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  closedir(dir);
  return count;
}

/// Polls `condition` every millisecond until it holds or `timeout` passes.
inline bool eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds timeout = 10s) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

/// Number of lines of `log` at `severity` ("WARN", "INFO", ...) that contain `text`.
inline size_t countLines(const std::string& log, const std::string& severity,
                         const std::string& text) {
  std::istringstream in(log);
  size_t count = 0;
  for (std::string line; std::getline(in, line);) {
    count += line.find("[" + severity + "]") != std::string::npos &&
             line.find(text) != std::string::npos;
  }
  return count;
}

/// Subscribes to `topic` (sensor-data profile) on a node of its own and spins it on a thread.
class CommandListener {
 public:
  explicit CommandListener(const std::string& topic, const std::string& node_name = "listener")
      : node_(std::make_shared<rclcpp::Node>(node_name)) {
    subscription_ = node_->create_subscription<ActuatorCmds>(
        topic, rclcpp::SensorDataQoS(), [this](const ActuatorCmds& message) {
          std::lock_guard<std::mutex> lock(mutex_);
          messages_.push_back(message);
        });
    executor_.add_node(node_);
    spinner_ = std::thread([this] { executor_.spin(); });
  }
  ~CommandListener() {
    executor_.cancel();
    spinner_.join();
  }

  std::vector<ActuatorCmds> messages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.clear();
  }

 private:
  std::shared_ptr<rclcpp::Node> node_;
  rclcpp::Subscription<ActuatorCmds>::SharedPtr subscription_;
  rclcpp::executors::SingleThreadedExecutor executor_;
  mutable std::mutex mutex_;
  std::vector<ActuatorCmds> messages_;
  std::thread spinner_;
};

/// Pushes a state into a controller every millisecond from a thread of its own, as a host does
/// (the publication loop treats a state older than its timeout as stale). `pause()` stops the
/// pushes until `resume()`.
class StatePusher {
 public:
  StatePusher(MotionController& controller, std::function<std::shared_ptr<vector_t>()> qpos,
              std::function<std::shared_ptr<vector_t>()> qvel)
      : thread_([this, &controller, qpos, qvel] {
          auto next = std::chrono::steady_clock::now();
          while (!stop_.load()) {
            if (!paused_.load()) {
              controller.update_current_state(qpos(), qvel());
            }
            next += 1ms;
            std::this_thread::sleep_until(next);
          }
        }) {}
  ~StatePusher() {
    stop_ = true;
    thread_.join();
  }

  /// Stops pushing; returns once no push is under way any more.
  void pause() {
    paused_ = true;
    std::this_thread::sleep_for(5ms);
  }
  void resume() { paused_ = false; }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<bool> paused_{false};
  std::thread thread_;
};

/// A fresh ROS 2 context per test, the bundled robot and the inputs of a standing robot.
class MotionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rclcpp::init(0, nullptr, rclcpp::InitOptions(), rclcpp::SignalHandlerOptions::None);
    node = std::make_shared<rclcpp::Node>("host");
    model = std::make_shared<PinocchioInterface>(kestrelFile("robot.urdf"));
    info = std::make_shared<ModelInfo>(loadModelInfo(kestrelFile("description.info"), *model));
  }
  void TearDown() override { rclcpp::shutdown(); }

  std::unique_ptr<MotionController> makeController(
      const std::string& prefix = "", const std::string& params = kestrelFile("params.info")) {
    return std::make_unique<MotionController>(node, info, model, params, prefix);
  }

  /// The description's standing pose and zero velocity.
  std::shared_ptr<vector_t> standingQpos() const {
    auto qpos = std::make_shared<vector_t>(model->Nq());
    *qpos << info->base_init_pos, info->base_init_quat, info->joints_init_pos;
    return qpos;
  }
  std::shared_ptr<vector_t> zeroQvel() const {
    return std::make_shared<vector_t>(vector_t::Zero(model->Nv()));
  }

  /// All four feet in stance for the whole cycle (mode 15).
  static std::shared_ptr<ModeSchedule> standSchedule() {
    std::vector<double> phases{0.0, 1.0};
    std::vector<size_t> modes{15};
    return std::make_shared<ModeSchedule>(0.5, phases, modes);
  }

  /// References that hold the standing base pose and every foot where it stands, from shortly
  /// before now to `horizon_s` after it.
  std::shared_ptr<const TrajectoriesBuffer> holdReferences(double horizon_s = 0.5) const {
    PinocchioInterface standing(*model);
    standing.updateRobotState(*standingQpos(), *zeroQvel());
    const double now = node->now().seconds();
    const auto hold = [&](const vector3_t& value) {
      return std::make_shared<CubicSplineTrajectory>(
          CubicSplineTrajectory::constant(value, now - 0.05, now + horizon_s));
    };
    auto refs = std::make_shared<TrajectoriesBuffer>();
    const auto base = standing.getFramePose(info->base_name);
    refs->set_base_pos_traj(hold(base.translation()));
    refs->set_base_pos_ref_traj(hold(base.translation()));
    refs->set_base_rpy_traj(hold(toEulerAngles(base.rotation())));
    std::map<std::string, std::shared_ptr<CubicSplineTrajectory>> feet;
    for (const auto& foot : info->foot_name) {
      feet[foot] = hold(standing.getFramePose(foot).translation());
    }
    refs->set_foot_pos_traj(feet);
    return refs;
  }

  /// Pushes state, schedule and references so that the whole chain runs.
  void feedStanding(MotionController& controller) const {
    controller.update_current_state(standingQpos(), zeroQvel());
    controller.update_mode_schedule(standSchedule());
    controller.update_trajectory_reference(holdReferences());
  }

  std::shared_ptr<rclcpp::Node> node;
  std::shared_ptr<PinocchioInterface> model;
  std::shared_ptr<ModelInfo> info;
};

}  // namespace velmora::motion_test
