#pragma once

// The optional pictures of a run: the video file and the live viewer with keyboard driving.

#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "planner/GaitPlanner.h"
#include "sim/DrivingCommand.h"
#include "sim/LiveViewer.h"
#include "sim/MujocoPlant.h"
#include "sim/PlantSnapshot.h"
#include "sim/SimOptions.h"
#include "sim/VideoRecorder.h"

namespace velmora {
namespace sim {

/// Starts what options.video_path and options.viewer ask for and feeds it from the plant's
/// loop. Without either every call is a cheap no-op.
class RunVisuals {
 public:
  /// `lockstep`: every video frame shows its own instant (the plant waits for the renderer);
  /// otherwise frames are dropped rather than delay the plant. `command` and `gait` are the
  /// run's starting command and gait name ("stand" or "trot").
  /// @throws UsageError naming --video or --viewer when recording or the window cannot start.
  RunVisuals(const SimOptions& options, const MujocoPlant& plant, bool lockstep,
             const planner::VelocityCommand& command, const std::string& gait);
  ~RunVisuals();
  RunVisuals(const RunVisuals&) = delete;
  RunVisuals& operator=(const RunVisuals&) = delete;

  /// Call after each plant step with the command and gait in effect: hands a snapshot to the
  /// video when a frame is due and to the viewer about 60 times per simulated second.
  void afterStep(const MujocoPlant& plant, const planner::VelocityCommand& command,
                 const std::string& gait);
  /// The command and gait typed in the viewer (nothing without a viewer).
  std::optional<DrivingCommand::State> driven() const;
  /// True once the viewer asked to end the run (Esc or the window closed).
  bool endRequested() const;
  /// Closes the video and the window; prints the recording's figures (unless `quiet`) and a
  /// warning when the video is incomplete to `progress`.
  void finish(std::ostream& progress, bool quiet);

 private:
  std::string video_path_;
  std::unique_ptr<VideoRecorder> video_;
  std::unique_ptr<DrivingCommand> driving_;
  std::unique_ptr<LiveViewer> viewer_;
  PlantSnapshot snapshot_;
  double next_view_time_ = 0.0;
};

}  // namespace sim
}  // namespace velmora
