#pragma once

// Encodes raw RGB frames into a video file through an ffmpeg child process.

#include <sys/types.h>
#include <cstdint>
#include <string>
#include <vector>

namespace velmora {
namespace sim {

/// Full path of `program` found in the directories of PATH, or an empty string.
std::string findOnPath(const std::string& program);

/// An ffmpeg process that reads rgb24 frames of a fixed size from a pipe and writes `path`
/// (H.264 in .mp4 with the fastest preset, or .gif; the format follows the extension). Frames are
/// given bottom row first (OpenGL's order) and flipped by ffmpeg. Not thread-safe.
class VideoEncoder {
 public:
  /// Starts ffmpeg (found on PATH, no shell) for `width` x `height` frames at `fps`.
  /// @throws std::runtime_error naming the program when ffmpeg cannot be started.
  VideoEncoder(const std::string& path, int width, int height, int fps);
  /// Closes the pipe and waits for ffmpeg (as finish()), ignoring its outcome.
  ~VideoEncoder();
  VideoEncoder(const VideoEncoder&) = delete;
  VideoEncoder& operator=(const VideoEncoder&) = delete;

  /// Sends one frame of width * height * 3 bytes. Returns false (and sends nothing more) once
  /// ffmpeg stopped reading; error() then says why.
  /// @throws std::invalid_argument when `rgb` has the wrong size.
  bool write(const std::vector<uint8_t>& rgb);
  /// Closes the pipe and waits for ffmpeg. Returns true when every frame was written and ffmpeg
  /// exited with status 0; otherwise error() says what failed. Later calls return the same.
  bool finish();
  /// What went wrong (empty while nothing did).
  const std::string& error() const { return error_; }
  /// Frames written so far.
  long frames() const { return frames_; }

 private:
  size_t frame_bytes_ = 0;
  int pipe_fd_ = -1;
  pid_t child_ = -1;
  long frames_ = 0;
  bool finished_ = false;
  bool ok_ = true;
  std::string error_;
};

}  // namespace sim
}  // namespace velmora
