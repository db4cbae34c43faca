#include "sim/LiveViewer.h"

#include <GLFW/glfw3.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>

#include "sim/FrameRenderer.h"

namespace velmora {
namespace sim {
namespace {

constexpr int kWindowWidth = 1280;
constexpr int kWindowHeight = 720;
constexpr auto kFramePeriod = std::chrono::milliseconds(33);

std::string glfwReason() {
  const char* description = nullptr;
  glfwGetError(&description);
  return description != nullptr ? description : "no reason given";
}

/// What the window's callbacks act on.
struct WindowState {
  DrivingCommand* driving = nullptr;
  FrameRenderer* renderer = nullptr;
  mjvCamera camera{};
  double last_x = 0.0, last_y = 0.0;
};

WindowState& stateOf(GLFWwindow* window) {
  return *static_cast<WindowState*>(glfwGetWindowUserPointer(window));
}

void onKey(GLFWwindow* window, int key, int /*scancode*/, int action, int /*mods*/) {
  if (action != GLFW_PRESS && action != GLFW_REPEAT) return;
  DrivingCommand& driving = *stateOf(window).driving;
  switch (key) {
    case GLFW_KEY_UP:
      driving.press(DrivingKey::kUp);
      break;
    case GLFW_KEY_DOWN:
      driving.press(DrivingKey::kDown);
      break;
    case GLFW_KEY_LEFT:
      driving.press(DrivingKey::kLeft);
      break;
    case GLFW_KEY_RIGHT:
      driving.press(DrivingKey::kRight);
      break;
    case GLFW_KEY_SPACE:
      driving.press(DrivingKey::kSpace);
      break;
    case GLFW_KEY_G:
      if (action == GLFW_PRESS) driving.press(DrivingKey::kG);
      break;
    case GLFW_KEY_ESCAPE:
      driving.press(DrivingKey::kEscape);
      break;
    default:
      break;
  }
}

void onCursor(GLFWwindow* window, double x, double y) {
  WindowState& state = stateOf(window);
  const double dx = x - state.last_x, dy = y - state.last_y;
  state.last_x = x;
  state.last_y = y;
  const bool left = glfwGetMouseButton(window, GLFW_MOUSE_BUTTON_LEFT) == GLFW_PRESS;
  const bool right = glfwGetMouseButton(window, GLFW_MOUSE_BUTTON_RIGHT) == GLFW_PRESS;
  if ((!left && !right) || state.renderer == nullptr) return;
  int width = 0, height = 0;
  glfwGetWindowSize(window, &width, &height);
  if (height <= 0) return;
  const int action = left ? mjMOUSE_ROTATE_V : mjMOUSE_MOVE_V;
  mjv_moveCamera(&state.renderer->model(), action, dx / height, dy / height,
                 &state.renderer->scene(), &state.camera);
}

void onScroll(GLFWwindow* window, double /*x_offset*/, double y_offset) {
  WindowState& state = stateOf(window);
  if (state.renderer == nullptr) return;
  mjv_moveCamera(&state.renderer->model(), mjMOUSE_ZOOM, 0.0, -0.05 * y_offset,
                 &state.renderer->scene(), &state.camera);
}

/// Ends GLFW when the viewer thread leaves, whatever way it leaves.
struct GlfwSession {
  GlfwSession() : ok(glfwInit() == GLFW_TRUE) {}
  ~GlfwSession() {
    if (ok) glfwTerminate();
  }
  const bool ok;
};

}  // namespace

LiveViewer::LiveViewer(const mjModel& model, DrivingCommand& driving, bool show_forces)
    : driving_(driving) {
  std::promise<void> started;
  std::future<void> ready = started.get_future();
  thread_ =
      std::thread([this, &model, show_forces, &started] { run(model, show_forces, started); });
  try {
    ready.get();
  } catch (...) {
    thread_.join();
    throw;
  }
}

LiveViewer::~LiveViewer() {
  stopping_.store(true);
  thread_.join();
}

void LiveViewer::offer(PlantSnapshot& snapshot) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::swap(newest_, snapshot);
  fresh_ = true;
}

void LiveViewer::run(const mjModel& model, bool show_forces, std::promise<void>& started) {
  const GlfwSession session;
  if (!session.ok) {
    started.set_exception(
        std::make_exception_ptr(std::runtime_error("cannot open a window: " + glfwReason())));
    return;
  }
  glfwWindowHint(GLFW_SAMPLES, 4);
  GLFWwindow* window =
      glfwCreateWindow(kWindowWidth, kWindowHeight, "velmora_sim", nullptr, nullptr);
  if (window == nullptr) {
    started.set_exception(
        std::make_exception_ptr(std::runtime_error("cannot open a window: " + glfwReason())));
    return;
  }
  glfwMakeContextCurrent(window);
  glfwSwapInterval(0);
  WindowState state;
  state.driving = &driving_;
  std::unique_ptr<FrameRenderer> renderer;
  try {
    FrameSettings settings;
    settings.width = 640;  // the offscreen buffer is not used; the window is drawn directly
    settings.height = 360;
    settings.show_forces = show_forces;
    renderer = std::make_unique<FrameRenderer>(model, settings);
  } catch (const std::exception& error) {
    glfwDestroyWindow(window);
    started.set_exception(std::make_exception_ptr(
        std::runtime_error(std::string("cannot draw in the window: ") + error.what())));
    return;
  }
  state.renderer = renderer.get();
  mjv_defaultCamera(&state.camera);
  state.camera.distance = 2.0;
  state.camera.azimuth = 135.0;
  state.camera.elevation = -20.0;
  glfwSetWindowUserPointer(window, &state);
  glfwSetKeyCallback(window, onKey);
  glfwSetCursorPosCallback(window, onCursor);
  glfwSetScrollCallback(window, onScroll);
  started.set_value();

  PlantSnapshot snapshot;
  bool have_snapshot = false;
  auto next = std::chrono::steady_clock::now();
  while (!stopping_.load()) {
    glfwPollEvents();
    if (glfwWindowShouldClose(window)) {
      driving_.press(DrivingKey::kEscape);
      glfwSetWindowShouldClose(window, GLFW_FALSE);
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (fresh_) {
        std::swap(snapshot, newest_);
        fresh_ = false;
        have_snapshot = true;
      }
    }
    if (have_snapshot) {
      int width = 0, height = 0;
      glfwGetFramebufferSize(window, &width, &height);
      try {
        renderer->renderToWindow(snapshot, width, height, state.camera);
        glfwSwapBuffers(window);
        frames_drawn_.fetch_add(1);
      } catch (const std::exception&) {
        // A snapshot of another model cannot come from the run; nothing to draw then.
      }
    }
    // A slow frame delays the next one instead of making the loop catch up without pause.
    next = std::max(next + kFramePeriod, std::chrono::steady_clock::now());
    std::this_thread::sleep_until(next);
  }
  renderer.reset();
  glfwDestroyWindow(window);
}

}  // namespace sim
}  // namespace velmora
