#pragma once

// A headless OpenGL context through EGL (no window, no display server).

namespace velmora {
namespace sim {

/// An OpenGL context without a surface, from EGL's default display. Without a display server
/// (no DISPLAY or WAYLAND_DISPLAY) the process's EGL platform is set to "surfaceless" first, so
/// that Mesa's software renderer serves it. Rendering goes to framebuffer objects (MuJoCo's
/// offscreen buffer). A context is current on at most one thread at a time. Not copyable.
class OffscreenGlContext {
 public:
  /// Creates the context; it is not current on any thread yet.
  /// @throws std::runtime_error naming the EGL step that failed.
  OffscreenGlContext();
  ~OffscreenGlContext();
  OffscreenGlContext(const OffscreenGlContext&) = delete;
  OffscreenGlContext& operator=(const OffscreenGlContext&) = delete;

  /// Makes the context current on the calling thread.
  /// @throws std::runtime_error when EGL refuses.
  void makeCurrent() const;
  /// Detaches the context from the calling thread (so that another thread can take it).
  void release() const;

 private:
  void* display_ = nullptr;
  void* context_ = nullptr;
};

}  // namespace sim
}  // namespace velmora
