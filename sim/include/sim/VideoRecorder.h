#pragma once

// Records a run as a video: frames drawn offscreen on a thread of their own, encoded by ffmpeg.

#include <condition_variable>
#include <cstdint>
#include <future>
#include <mutex>
#include <string>
#include <thread>

#include <mujoco/mujoco.h>

#include "sim/FrameRenderer.h"
#include "sim/PlantSnapshot.h"

namespace velmora {
namespace sim {

/// What a recording cost and produced.
struct VideoStats {
  long frames = 0;           ///< frames in the file
  long dropped = 0;          ///< frames repeated because the renderer was busy (real time only)
  double render_ms = 0.0;    ///< mean time to draw a frame [ms]
  double readback_ms = 0.0;  ///< mean time to read a frame back from the GPU buffer [ms]
  double encode_ms = 0.0;    ///< mean time to hand a frame to ffmpeg [ms]
};

/// Records frame k of the video at simulation time k / fps. The plant's thread asks due(t) each
/// step and, when due, offers a snapshot; a thread of the recorder draws it in a headless
/// OpenGL context (OffscreenGlContext) and feeds ffmpeg (VideoEncoder).
///
/// With `never_drop` (lockstep) offer() waits while the previous frame is still being drawn, so
/// every frame shows its own instant. Without it (real time) offer() never waits: a snapshot
/// that arrives while the renderer is busy replaces the waiting one and the frame drawn last is
/// repeated for the frames skipped, so the video keeps simulated time.
class VideoRecorder {
 public:
  /// Starts the renderer thread and ffmpeg for `path` (.mp4 or .gif).
  /// @throws std::runtime_error naming what failed (EGL, OpenGL, ffmpeg) before any frame.
  VideoRecorder(const mjModel& model, const std::string& path, int fps,
                const FrameSettings& settings, bool never_drop);
  /// Stops the thread and ffmpeg (as finish()).
  ~VideoRecorder();
  VideoRecorder(const VideoRecorder&) = delete;
  VideoRecorder& operator=(const VideoRecorder&) = delete;

  /// True when the frame for simulation time `time_s` [s] is due.
  bool due(double time_s) const { return time_s + 1e-9 >= next_frame_time_; }
  /// Hands over the snapshot of the frame that is due (its storage is swapped out).
  void offer(PlantSnapshot& snapshot);
  /// Draws the last frame, closes the video and waits for ffmpeg. Returns an empty string when
  /// the file is complete, else a warning naming what failed. Later calls return the same.
  std::string finish();
  /// Figures of the recording (complete after finish()).
  VideoStats stats() const;

 private:
  void run(const mjModel& model, const std::string& path, int fps, const FrameSettings& settings,
           std::promise<void>& started);

  const int fps_;
  const bool never_drop_;
  long next_frame_ = 0;  ///< index of the next frame the plant offers
  double next_frame_time_ = 0.0;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  PlantSnapshot pending_;
  long pending_frame_ = -1;  ///< index of the waiting snapshot, -1 when none waits
  bool stopping_ = false;
  bool finished_ = false;
  std::string warning_;
  VideoStats stats_;
  std::thread thread_;
};

}  // namespace sim
}  // namespace velmora
