#include "sim/RunVisuals.h"

#include <cstdio>
#include <fstream>
#include <iomanip>

namespace velmora {
namespace sim {
namespace {

/// Simulated time between two snapshots for the viewer [s].
constexpr double kViewPeriod = 1.0 / 60.0;

}  // namespace

RunVisuals::RunVisuals(const SimOptions& options, const MujocoPlant& plant, bool lockstep,
                       const planner::VelocityCommand& command, const std::string& gait)
    : video_path_(options.video_path) {
  if (!options.video_path.empty()) {
    FrameSettings settings;
    settings.width = options.video_width;
    settings.height = options.video_height;
    settings.show_forces = options.show_forces;
    if (!std::ofstream(options.video_path, std::ios::binary | std::ios::trunc).good()) {
      throw UsageError("velmora_sim: --video cannot write the file '" + options.video_path + "'");
    }
    try {
      settings.view = cameraViewOf(options.camera);
      video_ = std::make_unique<VideoRecorder>(plant.model(), options.video_path, options.video_fps,
                                               settings, lockstep);
    } catch (const std::exception& error) {
      std::remove(options.video_path.c_str());  // the empty file made by the check above
      throw UsageError("velmora_sim: --video " + options.video_path + ": " + error.what());
    }
  }
  if (options.viewer) {
    driving_ = std::make_unique<DrivingCommand>(command, gait);
    try {
      viewer_ = std::make_unique<LiveViewer>(plant.model(), *driving_, options.show_forces);
    } catch (const std::exception& error) {
      throw UsageError(std::string("velmora_sim: --viewer ") + error.what());
    }
  }
}

RunVisuals::~RunVisuals() = default;

void RunVisuals::afterStep(const MujocoPlant& plant, const planner::VelocityCommand& command,
                           const std::string& gait) {
  const double t = plant.time();
  if (video_ && video_->due(t)) {
    snapshot_.copyFrom(plant, command, gait);
    video_->offer(snapshot_);
  }
  if (viewer_ && t + 1e-9 >= next_view_time_) {
    next_view_time_ = t + kViewPeriod;
    snapshot_.copyFrom(plant, command, gait);
    viewer_->offer(snapshot_);
  }
}

std::optional<DrivingCommand::State> RunVisuals::driven() const {
  if (!driving_) return std::nullopt;
  return driving_->state();
}

bool RunVisuals::endRequested() const { return driving_ && driving_->state().end_requested; }

void RunVisuals::finish(std::ostream& progress, bool quiet) {
  viewer_.reset();
  if (!video_) return;
  const std::string warning = video_->finish();
  const VideoStats stats = video_->stats();
  if (!quiet) {
    progress << std::fixed << std::setprecision(2) << "video: " << video_path_ << ", "
             << stats.frames << " frames (" << stats.dropped
             << " repeated for a busy renderer); per frame: draw " << stats.render_ms
             << " ms, read back " << stats.readback_ms << " ms, encode " << stats.encode_ms << " ms"
             << std::endl;
    progress.unsetf(std::ios::floatfield);
  }
  if (!warning.empty()) progress << "velmora_sim: warning: " << warning << std::endl;
  video_.reset();
}

}  // namespace sim
}  // namespace velmora
