#pragma once

// A window showing the running simulation, driven from the keyboard.

#include <atomic>
#include <future>
#include <mutex>
#include <thread>

#include <mujoco/mujoco.h>

#include "sim/DrivingCommand.h"
#include "sim/PlantSnapshot.h"

namespace velmora {
namespace sim {

/// A GLFW window (thread of its own) that draws the newest snapshot about 30 times a second.
/// The left mouse button rotates the camera, the right one moves it, the wheel zooms; the camera
/// keeps following the trunk. Keys go to a DrivingCommand: arrows, space, G, Esc (DrivingKey).
/// Closing the window counts as Esc.
class LiveViewer {
 public:
  /// Opens the window; `driving` must outlive the viewer.
  /// @throws std::runtime_error with GLFW's reason when no window can be opened (no display).
  LiveViewer(const mjModel& model, DrivingCommand& driving, bool show_forces);
  /// Closes the window.
  ~LiveViewer();
  LiveViewer(const LiveViewer&) = delete;
  LiveViewer& operator=(const LiveViewer&) = delete;

  /// Hands over the newest snapshot (its storage is swapped out); never waits for drawing.
  void offer(PlantSnapshot& snapshot);
  /// Frames drawn so far.
  long framesDrawn() const { return frames_drawn_.load(); }

 private:
  void run(const mjModel& model, bool show_forces, std::promise<void>& started);

  DrivingCommand& driving_;
  std::mutex mutex_;
  PlantSnapshot newest_;
  bool fresh_ = false;
  std::atomic<bool> stopping_{false};
  std::atomic<long> frames_drawn_{0};
  std::thread thread_;
};

}  // namespace sim
}  // namespace velmora
