#pragma once

// Records a run as a video: frames drawn offscreen on threads of their own, encoded by ffmpeg.

#include <condition_variable>
#include <cstdint>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <mujoco/mujoco.h>

#include "sim/FrameRenderer.h"
#include "sim/PlantSnapshot.h"
#include "sim/VideoEncoder.h"

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
/// step and, when due, offers a snapshot; recorder threads, each with its own headless OpenGL
/// context (OffscreenGlContext), draw the offered snapshots in turn (two in lockstep, so that
/// one draws while the other's frame is rasterised and read back; one in real time) and hand
/// their frames to ffmpeg (VideoEncoder) in the order offered.
///
/// With `never_drop` (lockstep) offer() waits while the thread whose turn it is still holds an
/// undrawn snapshot, so every frame shows its own instant. Without it (real time) offer() never
/// waits: a snapshot that arrives while the thread holds one replaces the waiting one,
/// and the frame drawn last is repeated for the frames skipped, so the video keeps simulated
/// time.
class VideoRecorder {
 public:
  /// Starts the renderer threads and ffmpeg for `path` (.mp4 or .gif).
  /// @throws std::runtime_error naming what failed (EGL, OpenGL, ffmpeg) before any frame.
  VideoRecorder(const mjModel& model, const std::string& path, int fps,
                const FrameSettings& settings, bool never_drop);
  /// Stops the threads and ffmpeg (as finish()).
  ~VideoRecorder();
  VideoRecorder(const VideoRecorder&) = delete;
  VideoRecorder& operator=(const VideoRecorder&) = delete;

  /// True when the frame for simulation time `time_s` [s] is due.
  bool due(double time_s) const { return time_s + 1e-9 >= next_frame_time_; }
  /// Hands over the snapshot of the frame that is due (its storage is swapped out).
  void offer(PlantSnapshot& snapshot);
  /// Draws the frames offered, closes the video and waits for ffmpeg. Returns an empty string
  /// when the file is complete, else a warning naming what failed. Later calls return the same.
  std::string finish();
  /// Figures of the recording (complete after finish()).
  VideoStats stats() const;

 private:
  /// One drawing thread and the snapshot waiting for it.
  struct Renderer {
    std::thread thread;
    PlantSnapshot pending;
    long pending_turn = -1;   ///< turn of the waiting snapshot, -1 when none waits
    long pending_frame = -1;  ///< its frame index
  };

  void run(Renderer& self, const mjModel& model, const FrameSettings& settings,
           std::promise<void>& started);
  /// Writes `rgb` as every frame up to `frame` once all earlier turns are written.
  void writeInTurn(long turn, long frame, const std::vector<uint8_t>* rgb);
  void stopThreads();

  const int fps_;
  const bool never_drop_;
  long next_frame_ = 0;  ///< index of the next frame the plant offers
  double next_frame_time_ = 0.0;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Renderer> renderers_;
  long next_turn_ = 0;      ///< turn given to the next snapshot handed to a renderer
  long written_turns_ = 0;  ///< turns written to the encoder so far
  long written_frames_ = 0;
  std::unique_ptr<VideoEncoder> encoder_;
  std::string path_;
  bool stopping_ = false;
  bool finished_ = false;
  std::string warning_;
  VideoStats stats_;
  double render_ms_sum_ = 0.0, readback_ms_sum_ = 0.0, encode_ms_sum_ = 0.0;
  long drawn_ = 0;
};

}  // namespace sim
}  // namespace velmora
