#include "sim/VideoRecorder.h"

#include <algorithm>
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

/// Drawing threads in lockstep: while one draws a frame, the other's is rasterised and read
/// back. In real time one thread, so that drawing leaves the plant and the controller a core.
constexpr size_t kLockstepRenderThreads = 2;

double millisecondsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

}  // namespace

VideoRecorder::VideoRecorder(const mjModel& model, const std::string& path, int fps,
                             const FrameSettings& settings, bool never_drop)
    : fps_(fps), never_drop_(never_drop), renderers_(never_drop ? kLockstepRenderThreads : 1) {
  if (fps <= 0) throw std::invalid_argument("VideoRecorder: fps must be positive");
  for (Renderer& renderer : renderers_) {
    std::promise<void> started;
    std::future<void> ready = started.get_future();
    renderer.thread = std::thread(
        [this, &renderer, &model, settings, &started] { run(renderer, model, settings, started); });
    try {
      ready.get();
    } catch (...) {
      stopThreads();
      finished_ = true;
      throw;
    }
  }
  try {
    encoder_ = std::make_unique<VideoEncoder>(path, settings.width, settings.height, fps);
  } catch (const std::exception& error) {
    stopThreads();
    finished_ = true;
    throw std::runtime_error(std::string("cannot record a video: ") + error.what());
  }
  path_ = path;
}

VideoRecorder::~VideoRecorder() { finish(); }

void VideoRecorder::run(Renderer& self, const mjModel& model, const FrameSettings& settings,
                        std::promise<void>& started) {
  // Every OpenGL call of this thread happens in its own context.
  std::unique_ptr<OffscreenGlContext> gl;
  std::unique_ptr<FrameRenderer> renderer;
  try {
    gl = std::make_unique<OffscreenGlContext>();
    gl->makeCurrent();
    renderer = std::make_unique<FrameRenderer>(model, settings);
  } catch (const std::exception& error) {
    renderer.reset();
    started.set_exception(std::make_exception_ptr(
        std::runtime_error(std::string("cannot record a video: ") + error.what())));
    return;
  }
  started.set_value();

  PlantSnapshot snapshot;
  std::vector<uint8_t> rgb;
  for (;;) {
    long turn = -1, frame = -1;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [this, &self] { return self.pending_turn >= 0 || stopping_; });
      if (self.pending_turn < 0) break;
      std::swap(snapshot, self.pending);
      turn = self.pending_turn;
      frame = self.pending_frame;
      self.pending_turn = -1;
    }
    changed_.notify_all();
    bool drawn = false;
    double render_ms = 0.0, readback_ms = 0.0;
    try {
      const auto start = Clock::now();
      renderer->drawOffscreen(snapshot);
      const auto drawn_at = Clock::now();
      renderer->readPixels(rgb);
      render_ms = millisecondsBetween(start, drawn_at);
      readback_ms = millisecondsBetween(drawn_at, Clock::now());
      drawn = true;
    } catch (const std::exception& error) {
      std::lock_guard<std::mutex> lock(mutex_);
      if (warning_.empty()) warning_ = std::string("a frame could not be drawn: ") + error.what();
    }
    const auto encode_start = Clock::now();
    writeInTurn(turn, frame, drawn ? &rgb : nullptr);
    if (drawn) {
      std::lock_guard<std::mutex> lock(mutex_);
      render_ms_sum_ += render_ms;
      readback_ms_sum_ += readback_ms;
      encode_ms_sum_ += millisecondsBetween(encode_start, Clock::now());
      ++drawn_;
    }
  }
  renderer.reset();
  gl->release();
}

void VideoRecorder::writeInTurn(long turn, long frame, const std::vector<uint8_t>* rgb) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this, turn] { return written_turns_ == turn; });
  // Only the thread whose turn it is writes, so the encoder is used by one thread at a time.
  lock.unlock();
  long written = written_frames_;
  if (rgb != nullptr) {
    // Frames skipped while the renderers were busy show this one, so the video keeps time.
    for (; written <= frame && encoder_->error().empty(); ++written) encoder_->write(*rgb);
    written = std::max(written, frame + 1);
  }
  lock.lock();
  written_frames_ = written;
  ++written_turns_;
  lock.unlock();
  changed_.notify_all();
}

void VideoRecorder::offer(PlantSnapshot& snapshot) {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    Renderer* target = &renderers_[static_cast<size_t>(next_turn_) % renderers_.size()];
    if (never_drop_) {
      changed_.wait(lock, [target] { return target->pending_turn < 0; });
    } else if (target->pending_turn >= 0) {
      // The renderer whose turn it is still holds a snapshot: this one replaces the newest
      // waiting one (the previous turn's), or is dropped while that one is being drawn.
      target = &renderers_[static_cast<size_t>(next_turn_ - 1) % renderers_.size()];
      if (target->pending_turn < 0) target = nullptr;
      ++stats_.dropped;
    }
    if (target != nullptr) {
      std::swap(target->pending, snapshot);
      if (target->pending_turn < 0) target->pending_turn = next_turn_++;
      target->pending_frame = next_frame_;
    }
  }
  changed_.notify_all();
  ++next_frame_;
  next_frame_time_ = static_cast<double>(next_frame_) / static_cast<double>(fps_);
}

void VideoRecorder::stopThreads() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  for (Renderer& renderer : renderers_) {
    if (renderer.thread.joinable()) renderer.thread.join();
  }
}

std::string VideoRecorder::finish() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (finished_) return warning_;
  }
  stopThreads();
  // The encoder's error names both a broken pipe and ffmpeg's exit status.
  const bool complete = encoder_->finish();
  std::lock_guard<std::mutex> lock(mutex_);
  finished_ = true;
  if (!complete) warning_ = encoder_->error();
  stats_.frames = encoder_->frames();
  if (drawn_ > 0) {
    const double drawn = static_cast<double>(drawn_);
    stats_.render_ms = render_ms_sum_ / drawn;
    stats_.readback_ms = readback_ms_sum_ / drawn;
    stats_.encode_ms = encode_ms_sum_ / drawn;
  }
  if (!warning_.empty()) warning_ = "the video '" + path_ + "' is incomplete: " + warning_;
  return warning_;
}

VideoStats VideoRecorder::stats() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return stats_;
}

}  // namespace sim
}  // namespace velmora
