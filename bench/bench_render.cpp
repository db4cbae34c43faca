// Cost of one video frame of the standing robot at the default size (960x540, follow camera):
// drawing with MuJoCo's renderer in a headless EGL context plus reading the pixels back.

#include <benchmark/benchmark.h>

#include <vector>

#include "../tests/BundledRobot.h"
#include "description/ModelInfoLoader.h"
#include "sim/FrameRenderer.h"
#include "sim/MujocoPlant.h"
#include "sim/OffscreenGlContext.h"

namespace {

void BM_RenderFrame(::benchmark::State& state) {
  using namespace velmora;
  using namespace velmora::sim;
  const std::string urdf = test::kestrelFile("robot.urdf");
  const PinocchioInterface pinocchio(urdf);
  const ModelInfo info = loadModelInfo(test::kestrelFile("description.info"), pinocchio);
  const MujocoPlant plant(urdf, info);
  PlantSnapshot snapshot;
  snapshot.copyFrom(plant, planner::VelocityCommand{0.5, 0.0, 0.0}, "trot");
  const OffscreenGlContext gl;
  gl.makeCurrent();
  FrameRenderer renderer(plant.model(), FrameSettings{});
  std::vector<uint8_t> rgb;
  for (auto _ : state) {
    renderer.drawOffscreen(snapshot);
    renderer.readPixels(rgb);
    ::benchmark::DoNotOptimize(rgb.data());
  }
}
BENCHMARK(BM_RenderFrame)->Unit(::benchmark::kMillisecond)->UseRealTime();

}  // namespace
