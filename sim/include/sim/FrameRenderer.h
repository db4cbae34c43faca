#pragma once

// Draws pictures of the simulated robot with MuJoCo's renderer.

#include <cstdint>
#include <string>
#include <vector>

#include <mujoco/mujoco.h>

#include "sim/PlantSnapshot.h"

namespace velmora {
namespace sim {

/// Where the camera looks from; every view keeps the trunk in the middle of the picture.
enum class CameraView {
  kFollow,  ///< behind and to the right of the trunk's heading, turning with it
  kSide,    ///< from the right side of the world x axis (the direction of a forward walk)
  kTop,     ///< from straight above
};

/// Parses "follow", "side" or "top".
/// @throws std::invalid_argument naming the unknown camera.
CameraView cameraViewOf(const std::string& name);

/// What a FrameRenderer draws.
struct FrameSettings {
  int width = 960;   ///< [pixels]
  int height = 540;  ///< [pixels]
  CameraView view = CameraView::kFollow;
  bool show_forces = false;  ///< contact forces as arrows
};

/// MuJoCo's scene and GPU resources for one model, drawing PlantSnapshots with the time and the
/// velocity command written in the bottom-left corner. Keeps its own copy of the model, so that the
/// plant's model may be used elsewhere. Must be created, used and destroyed with the same OpenGL
/// context current. Not thread-safe; not copyable.
class FrameRenderer {
 public:
  /// @throws std::invalid_argument when the model has no floating base or the size is not
  ///         positive.
  FrameRenderer(const mjModel& model, const FrameSettings& settings);
  ~FrameRenderer();
  FrameRenderer(const FrameRenderer&) = delete;
  FrameRenderer& operator=(const FrameRenderer&) = delete;

  /// Draws `snapshot` into MuJoCo's offscreen buffer with the settings' camera view.
  void drawOffscreen(const PlantSnapshot& snapshot);
  /// Reads the offscreen buffer into `rgb` (width * height * 3 bytes, bottom row first).
  void readPixels(std::vector<uint8_t>& rgb);
  /// Draws `snapshot` into the window's buffer over `width` x `height` pixels with `camera`
  /// (whose look-at point this call moves to the trunk).
  void renderToWindow(const PlantSnapshot& snapshot, int width, int height, mjvCamera& camera);

  /// The model copy being drawn (e.g. for mjv_moveCamera).
  const mjModel& model() const { return *model_; }
  const mjvScene& scene() const { return scene_; }
  const FrameSettings& settings() const { return settings_; }

 private:
  void update(const PlantSnapshot& snapshot, mjvCamera& camera);
  /// Paints the background pixels of a read-back frame with the sky.
  void paintSky(std::vector<uint8_t>& rgb) const;
  /// Adds the tiles of the checkered floor around the trunk to the scene.
  void addFloorTiles();
  void draw(const PlantSnapshot& snapshot, const mjrRect& viewport);

  FrameSettings settings_;
  mjModel* model_ = nullptr;
  mjData* data_ = nullptr;
  int trunk_body_ = 0;
  int floor_geom_ = -1;  ///< the floor plane drawn as tiles, -1 when there is none
  mjvScene scene_{};
  mjvOption option_{};
  mjvCamera camera_{};
  mjrContext context_{};
};

}  // namespace sim
}  // namespace velmora
