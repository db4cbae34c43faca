#include "sim/OffscreenGlContext.h"

#include <EGL/egl.h>

#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <string>

namespace velmora {
namespace sim {
namespace {

[[noreturn]] void fail(const char* step) {
  std::ostringstream message;
  message << "EGL: " << step << " failed (error 0x" << std::hex << eglGetError() << ")";
  throw std::runtime_error(message.str());
}

bool hasDisplayServer() {
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
}

}  // namespace

OffscreenGlContext::OffscreenGlContext() {
  // Without a display server Mesa's EGL would try X11 and fail; the surfaceless platform renders
  // without one. An EGL_PLATFORM the user set is kept.
  if (!hasDisplayServer()) setenv("EGL_PLATFORM", "surfaceless", 0);
  EGLDisplay display = eglGetDisplay(EGL_DEFAULT_DISPLAY);
  if (display == EGL_NO_DISPLAY) fail("eglGetDisplay");
  EGLint major = 0, minor = 0;
  if (eglInitialize(display, &major, &minor) != EGL_TRUE) fail("eglInitialize");
  const EGLint attributes[] = {EGL_SURFACE_TYPE,
                               EGL_PBUFFER_BIT,
                               EGL_RED_SIZE,
                               8,
                               EGL_GREEN_SIZE,
                               8,
                               EGL_BLUE_SIZE,
                               8,
                               EGL_DEPTH_SIZE,
                               24,
                               EGL_RENDERABLE_TYPE,
                               EGL_OPENGL_BIT,
                               EGL_NONE};
  EGLConfig config = nullptr;
  EGLint count = 0;
  if (eglChooseConfig(display, attributes, &config, 1, &count) != EGL_TRUE || count < 1) {
    eglTerminate(display);
    fail("eglChooseConfig (8-bit RGB, 24-bit depth, desktop OpenGL)");
  }
  if (eglBindAPI(EGL_OPENGL_API) != EGL_TRUE) {
    eglTerminate(display);
    fail("eglBindAPI(OpenGL)");
  }
  EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, nullptr);
  if (context == EGL_NO_CONTEXT) {
    eglTerminate(display);
    fail("eglCreateContext");
  }
  display_ = display;
  context_ = context;
}

OffscreenGlContext::~OffscreenGlContext() {
  if (eglGetCurrentContext() == context_) {
    eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  }
  eglDestroyContext(display_, context_);
  // The display is shared by every context of the process; EGL reference-counts nothing, so it
  // stays initialised (eglTerminate would break other live contexts).
}

void OffscreenGlContext::makeCurrent() const {
  if (eglGetCurrentContext() == context_) return;
  if (eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, context_) != EGL_TRUE) {
    fail("eglMakeCurrent (surfaceless)");
  }
}

void OffscreenGlContext::release() const {
  if (eglGetCurrentContext() == context_) {
    eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  }
}

}  // namespace sim
}  // namespace velmora
