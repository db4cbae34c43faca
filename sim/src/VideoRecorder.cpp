#include "sim/VideoRecorder.h"

#include <chrono>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

#include "sim/OffscreenGlContext.h"
#include "sim/VideoEncoder.h"

namespace velmora {
namespace sim {
namespace {

using Clock = std::chrono::steady_clock;

double millisecondsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

}  // namespace

VideoRecorder::VideoRecorder(const mjModel& model, const std::string& path, int fps,
                             const FrameSettings& settings, bool never_drop)
    : fps_(fps), never_drop_(never_drop) {
  if (fps <= 0) throw std::invalid_argument("VideoRecorder: fps must be positive");
  std::promise<void> started;
  std::future<void> ready = started.get_future();
  thread_ = std::thread(
      [this, &model, path, fps, settings, &started] { run(model, path, fps, settings, started); });
  try {
    ready.get();
  } catch (...) {
    thread_.join();
    finished_ = true;
    throw;
  }
}

VideoRecorder::~VideoRecorder() { finish(); }

void VideoRecorder::run(const mjModel& model, const std::string& path, int fps,
                        const FrameSettings& settings, std::promise<void>& started) {
  // Every OpenGL call of the recording happens on this thread, in this context.
  std::unique_ptr<OffscreenGlContext> gl;
  std::unique_ptr<FrameRenderer> renderer;
  std::unique_ptr<VideoEncoder> encoder;
  try {
    gl = std::make_unique<OffscreenGlContext>();
    gl->makeCurrent();
    renderer = std::make_unique<FrameRenderer>(model, settings);
    encoder = std::make_unique<VideoEncoder>(path, settings.width, settings.height, fps);
  } catch (const std::exception& error) {
    renderer.reset();
    started.set_exception(std::make_exception_ptr(
        std::runtime_error(std::string("cannot record a video: ") + error.what())));
    return;
  }
  started.set_value();

  PlantSnapshot snapshot;
  std::vector<uint8_t> rgb;
  long written = 0;  // frames in the file so far
  double render_ms = 0.0, readback_ms = 0.0, encode_ms = 0.0;
  long drawn = 0;
  std::string warning;
  for (;;) {
    long frame = -1;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [this] { return pending_frame_ >= 0 || stopping_; });
      if (pending_frame_ < 0) break;
      std::swap(snapshot, pending_);
      frame = pending_frame_;
      pending_frame_ = -1;
    }
    changed_.notify_all();
    try {
      const auto start = Clock::now();
      renderer->drawOffscreen(snapshot);
      const auto drawn_at = Clock::now();
      renderer->readPixels(rgb);
      const auto read_at = Clock::now();
      // Frames skipped while the renderer was busy show this one, so the video keeps time.
      for (; written <= frame && encoder->error().empty(); ++written) encoder->write(rgb);
      written = frame + 1;
      render_ms += millisecondsBetween(start, drawn_at);
      readback_ms += millisecondsBetween(drawn_at, read_at);
      encode_ms += millisecondsBetween(read_at, Clock::now());
      ++drawn;
    } catch (const std::exception& error) {
      if (warning.empty()) warning = std::string("a frame could not be drawn: ") + error.what();
    }
  }
  // The encoder's error names both a broken pipe and ffmpeg's exit status.
  if (!encoder->finish()) warning = encoder->error();
  renderer.reset();
  gl->release();
  std::lock_guard<std::mutex> lock(mutex_);
  stats_.frames = encoder->frames();
  if (drawn > 0) {
    stats_.render_ms = render_ms / static_cast<double>(drawn);
    stats_.readback_ms = readback_ms / static_cast<double>(drawn);
    stats_.encode_ms = encode_ms / static_cast<double>(drawn);
  }
  if (!warning.empty()) warning_ = "the video '" + path + "' is incomplete: " + warning;
}

void VideoRecorder::offer(PlantSnapshot& snapshot) {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    if (never_drop_) {
      changed_.wait(lock, [this] { return pending_frame_ < 0; });
    } else if (pending_frame_ >= 0) {
      ++stats_.dropped;
    }
    std::swap(pending_, snapshot);
    pending_frame_ = next_frame_;
  }
  changed_.notify_all();
  ++next_frame_;
  next_frame_time_ = static_cast<double>(next_frame_) / static_cast<double>(fps_);
}

std::string VideoRecorder::finish() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (finished_) return warning_;
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
  std::lock_guard<std::mutex> lock(mutex_);
  finished_ = true;
  return warning_;
}

VideoStats VideoRecorder::stats() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return stats_;
}

}  // namespace sim
}  // namespace velmora
