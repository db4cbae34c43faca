#include "sim/FrameRenderer.h"

#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace velmora {
namespace sim {
namespace {

/// Distance [m] from the camera to the trunk and the camera's elevation [deg] (negative: from
/// above) per view.
constexpr double kCameraDistance = 1.8;
constexpr double kFollowElevation = -20.0;
constexpr double kSideElevation = -10.0;
constexpr double kTopElevation = -89.0;
/// The follow camera looks 45 degrees to the left of the trunk's heading, from behind-right.
constexpr double kFollowAzimuthOffset = 45.0;

constexpr float kTrunkColour[4] = {0.93f, 0.47f, 0.12f, 1.0f};
constexpr float kLegColour[4] = {0.22f, 0.24f, 0.28f, 1.0f};

/// A software renderer spends most of a frame on pixels, and a textured plane and a skybox are
/// its dearest ones. So the checkered floor is drawn as tiles around the trunk that fade into
/// the haze of the horizon, and in video frames the sky is painted into the background pixels
/// after read-back (measured at 960x540: 26 -> 16 ms of CPU a frame).
constexpr float kLightTileColour[4] = {0.82f, 0.84f, 0.86f, 1.0f};
constexpr float kDarkTileColour[4] = {0.55f, 0.58f, 0.62f, 1.0f};
constexpr double kTileSize = 1.0;        ///< edge of a tile [m]
constexpr int kTileRange = 8;            ///< tiles drawn on each side of the trunk
constexpr double kTileThickness = 1e-3;  ///< [m], the top face on the floor plane
constexpr double kHazeStart = 4.0;       ///< distance from the camera where the haze begins [m]
constexpr double kHazeEnd = 9.0;         ///< distance beyond which only haze is seen [m]
constexpr int kHiddenGroup = 5;          ///< geom group of the floor plane replaced by tiles
/// Sky colours at the top of the picture and at the horizon (the haze colour).
constexpr float kSkyTop[3] = {0.55f, 0.70f, 0.88f};
constexpr float kHaze[3] = {0.86f, 0.90f, 0.95f};

/// The first plane of the world body drawn with a textured material, or -1.
int texturedFloorGeom(const mjModel& model) {
  for (int g = 0; g < model.ngeom; ++g) {
    const int material = model.geom_matid[g];
    if (model.geom_bodyid[g] == 0 && model.geom_type[g] == mjGEOM_PLANE && material >= 0 &&
        model.mat_texid[material] >= 0) {
      return g;
    }
  }
  return -1;
}

}  // namespace

CameraView cameraViewOf(const std::string& name) {
  if (name == "follow") return CameraView::kFollow;
  if (name == "side") return CameraView::kSide;
  if (name == "top") return CameraView::kTop;
  throw std::invalid_argument("unknown camera '" + name + "' (follow, side or top)");
}

FrameRenderer::FrameRenderer(const mjModel& model, const FrameSettings& settings)
    : settings_(settings) {
  if (settings.width <= 0 || settings.height <= 0) {
    throw std::invalid_argument("FrameRenderer: the picture size must be positive, got " +
                                std::to_string(settings.width) + "x" +
                                std::to_string(settings.height));
  }
  int free_joint = -1;
  for (int j = 0; j < model.njnt && free_joint < 0; ++j) {
    if (model.jnt_type[j] == mjJNT_FREE) free_joint = j;
  }
  if (free_joint < 0) throw std::invalid_argument("FrameRenderer: the model has no floating base");
  model_ = mj_copyModel(nullptr, &model);
  data_ = mj_makeData(model_);
  trunk_body_ = model_->jnt_bodyid[free_joint];
  // The robot's geoms have no material of their own: the trunk orange, the legs dark grey.
  for (int g = 0; g < model_->ngeom; ++g) {
    if (model_->geom_bodyid[g] == 0 || model_->geom_matid[g] >= 0) continue;
    const float* colour = model_->geom_bodyid[g] == trunk_body_ ? kTrunkColour : kLegColour;
    for (int k = 0; k < 4; ++k) model_->geom_rgba[4 * g + k] = colour[k];
  }
  floor_geom_ = texturedFloorGeom(*model_);
  if (floor_geom_ >= 0) model_->geom_group[floor_geom_] = kHiddenGroup;
  model_->vis.global.offwidth = settings.width;
  model_->vis.global.offheight = settings.height;
  model_->vis.quality.offsamples = 0;  // multisampling triples the cost of a software renderer
  // Coarser spheres and capsules: the feet and legs stay round at video size, and the software
  // renderer handles fewer vertices (measured: 18.7 -> 17.2 ms a frame at 960x540).
  model_->vis.quality.numslices = 12;
  model_->vis.quality.numstacks = 8;
  model_->vis.quality.numquads = 1;
  model_->vis.map.force = 0.01f;         // contact force arrows, scaled by the mean body mass
  model_->vis.scale.forcewidth = 0.15f;  // arrow width relative to the mean body size

  model_->vis.map.fogstart = static_cast<float>(kHazeStart / model_->stat.extent);
  model_->vis.map.fogend = static_cast<float>(kHazeEnd / model_->stat.extent);
  for (int k = 0; k < 3; ++k) model_->vis.rgba.fog[k] = kHaze[k];

  mjv_defaultOption(&option_);
  option_.geomgroup[kHiddenGroup] = 0;
  option_.flags[mjVIS_CONTACTFORCE] = settings.show_forces ? 1 : 0;
  mjv_defaultCamera(&camera_);
  camera_.type = mjCAMERA_FREE;
  camera_.distance = kCameraDistance;
  mjv_defaultScene(&scene_);
  mjv_makeScene(model_, &scene_, 2000);
  scene_.flags[mjRND_SHADOW] = 0;  // a shadow pass doubles the cost of a software renderer
  scene_.flags[mjRND_FOG] = 1;
  mjr_defaultContext(&context_);
  mjr_makeContext(model_, &context_, mjFONTSCALE_150);
}

FrameRenderer::~FrameRenderer() {
  mjr_freeContext(&context_);
  mjv_freeScene(&scene_);
  mj_deleteData(data_);
  mj_deleteModel(model_);
}

void FrameRenderer::update(const PlantSnapshot& snapshot, mjvCamera& camera) {
  if (snapshot.qpos.size() != static_cast<size_t>(model_->nq) ||
      snapshot.qvel.size() != static_cast<size_t>(model_->nv) ||
      snapshot.qfrc_applied.size() != static_cast<size_t>(model_->nv) ||
      snapshot.xfrc_applied.size() != static_cast<size_t>(6 * model_->nbody)) {
    throw std::invalid_argument("FrameRenderer: the snapshot does not belong to this model");
  }
  data_->time = snapshot.time_s;
  std::copy(snapshot.qpos.begin(), snapshot.qpos.end(), data_->qpos);
  std::copy(snapshot.qvel.begin(), snapshot.qvel.end(), data_->qvel);
  std::copy(snapshot.qfrc_applied.begin(), snapshot.qfrc_applied.end(), data_->qfrc_applied);
  std::copy(snapshot.xfrc_applied.begin(), snapshot.xfrc_applied.end(), data_->xfrc_applied);
  mj_forward(model_, data_);  // poses, contacts and contact forces of this state
  for (int k = 0; k < 3; ++k) camera.lookat[k] = data_->xpos[3 * trunk_body_ + k];
  mjv_updateScene(model_, data_, &option_, nullptr, &camera, mjCAT_ALL, &scene_);
  addFloorTiles();
}

void FrameRenderer::addFloorTiles() {
  if (floor_geom_ < 0) return;
  // Tiles lie in the floor plane's frame, on the grid of its origin, around the trunk.
  const mjtNum* plane_pos = data_->geom_xpos + 3 * floor_geom_;
  const mjtNum* plane_rot = data_->geom_xmat + 9 * floor_geom_;
  mjtNum trunk_offset[3], trunk_in_plane[3];
  mju_sub3(trunk_offset, data_->xpos + 3 * trunk_body_, plane_pos);
  mju_mulMatTVec(trunk_in_plane, plane_rot, trunk_offset, 3, 3);
  const long centre_i = std::lround(trunk_in_plane[0] / kTileSize);
  const long centre_j = std::lround(trunk_in_plane[1] / kTileSize);
  const mjtNum size[3] = {kTileSize / 2, kTileSize / 2, kTileThickness / 2};
  for (long i = centre_i - kTileRange; i < centre_i + kTileRange; ++i) {
    for (long j = centre_j - kTileRange; j < centre_j + kTileRange; ++j) {
      if (scene_.ngeom >= scene_.maxgeom) return;
      const mjtNum centre_in_plane[3] = {(i + 0.5) * kTileSize, (j + 0.5) * kTileSize,
                                         -kTileThickness / 2};
      mjtNum centre[3];
      mju_rotVecMat(centre, centre_in_plane, plane_rot);
      mju_addTo3(centre, plane_pos);
      mjvGeom* tile = scene_.geoms + scene_.ngeom++;
      const bool dark = ((i + j) & 1) == 0;
      mjv_initGeom(tile, mjGEOM_BOX, size, centre, plane_rot,
                   dark ? kDarkTileColour : kLightTileColour);
      tile->category = mjCAT_STATIC;
    }
  }
}

void FrameRenderer::draw(const PlantSnapshot& snapshot, const mjrRect& viewport) {
  mjr_render(viewport, &scene_, &context_);
  char values[160];
  std::snprintf(values, sizeof(values), "%.2f s\n%+.2f m/s\n%+.2f m/s\n%+.2f rad/s\n%s",
                snapshot.time_s, snapshot.command.vx, snapshot.command.vy,
                snapshot.command.yaw_rate, snapshot.gait.c_str());
  mjr_overlay(mjFONT_NORMAL, mjGRID_BOTTOMLEFT, viewport,
              "time\ncommand vx\ncommand vy\nyaw rate\ngait", values, &context_);
}

void FrameRenderer::drawOffscreen(const PlantSnapshot& snapshot) {
  camera_.elevation = settings_.view == CameraView::kFollow ? kFollowElevation
                      : settings_.view == CameraView::kSide ? kSideElevation
                                                            : kTopElevation;
  update(snapshot, camera_);
  if (settings_.view == CameraView::kFollow) {
    const double* R = data_->xmat + 9 * trunk_body_;
    camera_.azimuth = std::atan2(R[3], R[0]) * 180.0 / M_PI + kFollowAzimuthOffset;
  } else {
    camera_.azimuth = 90.0;
  }
  mjv_updateCamera(model_, data_, &camera_, &scene_);
  const mjrRect viewport{0, 0, settings_.width, settings_.height};
  mjr_setBuffer(mjFB_OFFSCREEN, &context_);
  scene_.flags[mjRND_SKYBOX] = 0;  // readPixels paints the sky
  draw(snapshot, viewport);
}

void FrameRenderer::readPixels(std::vector<uint8_t>& rgb) {
  const mjrRect viewport{0, 0, settings_.width, settings_.height};
  rgb.resize(static_cast<size_t>(settings_.width) * static_cast<size_t>(settings_.height) * 3);
  mjr_readPixels(rgb.data(), nullptr, viewport, &context_);
  paintSky(rgb);
}

void FrameRenderer::paintSky(std::vector<uint8_t>& rgb) const {
  // Nothing in the scene is drawn pure black, so black pixels are background. In each column
  // the sky shades from the top of the picture into the haze at the lowest background pixel
  // (the horizon). Rows are stored bottom first.
  const size_t width = static_cast<size_t>(settings_.width);
  const size_t height = static_cast<size_t>(settings_.height);
  const auto isBackground = [&rgb, width](size_t row_from_bottom, size_t column) {
    const uint8_t* pixel = &rgb[3 * (row_from_bottom * width + column)];
    return pixel[0] == 0 && pixel[1] == 0 && pixel[2] == 0;
  };
  for (size_t column = 0; column < width; ++column) {
    size_t horizon = 0;  // rows from the bottom up to the lowest background pixel
    while (horizon < height && !isBackground(horizon, column)) ++horizon;
    if (horizon == height) continue;
    const float sky_rows = static_cast<float>(height - horizon);
    for (size_t row = horizon; row < height; ++row) {
      if (!isBackground(row, column)) continue;
      const float blend = static_cast<float>(height - row) / sky_rows;  // 1 at the horizon
      uint8_t* pixel = &rgb[3 * (row * width + column)];
      for (int k = 0; k < 3; ++k) {
        pixel[k] = static_cast<uint8_t>(255.0f * (kSkyTop[k] + blend * (kHaze[k] - kSkyTop[k])));
      }
    }
  }
}

void FrameRenderer::renderToWindow(const PlantSnapshot& snapshot, int width, int height,
                                   mjvCamera& camera) {
  update(snapshot, camera);
  mjr_setBuffer(mjFB_WINDOW, &context_);
  scene_.flags[mjRND_SKYBOX] = 1;
  draw(snapshot, mjrRect{0, 0, width, height});
}

}  // namespace sim
}  // namespace velmora
