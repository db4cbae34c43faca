// Videos of velmora_sim: what ffprobe and the pixels say about a recorded run, where the robot
// sits in a frame, and the flags that must be refused before a run starts.

#include <sys/wait.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "BundledRobot.h"
#include "description/ModelInfoLoader.h"
#include "sim/FrameRenderer.h"
#include "sim/OffscreenGlContext.h"
#include "sim/VideoEncoder.h"

namespace velmora {
namespace sim {

/// Prints `view` as --camera names it; outside the unnamed namespace, where gtest's
/// argument-dependent lookup for CameraView looks.
void PrintTo(CameraView view, std::ostream* out) {
  switch (view) {
    case CameraView::kFollow:
      *out << "follow";
      return;
    case CameraView::kSide:
      *out << "side";
      return;
    case CameraView::kTop:
      *out << "top";
      return;
  }
  *out << "view_" << static_cast<int>(view);
}

namespace {

namespace fs = std::filesystem;

struct Outcome {
  int exit_code = -1;
  std::string output;  ///< stdout and stderr
};

/// Runs `command` through the shell, capturing its output.
Outcome run(const std::string& command) {
  Outcome outcome;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen((command + " 2>&1").c_str(), "r"), pclose);
  std::array<char, 4096> buffer{};
  while (fgets(buffer.data(), buffer.size(), pipe.get()) != nullptr)
    outcome.output += buffer.data();
  const int status = pclose(pipe.release());
  outcome.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return outcome;
}

/// A fresh directory for one test's files.
fs::path scratch(const std::string& name) {
  const fs::path dir =
      fs::temp_directory_path() / ("velmora_video_" + name + "_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

void requireTools() {
  if (findOnPath("ffmpeg").empty() || findOnPath("ffprobe").empty()) {
    GTEST_SKIP() << "ffmpeg/ffprobe missing: install the Debian package ffmpeg";
  }
}

/// Frame at `seconds` of `video` as rgb24 bytes.
std::vector<unsigned char> frameAt(const fs::path& video, double seconds) {
  const fs::path raw = video.string() + "." + std::to_string(seconds) + ".rgb";
  const Outcome decoded =
      run("ffmpeg -v error -y -ss " + std::to_string(seconds) + " -i " + video.string() +
          " -frames:v 1 -f rawvideo -pix_fmt rgb24 " + raw.string());
  EXPECT_EQ(decoded.exit_code, 0) << decoded.output;
  std::ifstream in(raw, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Recording {
  const char* format;  ///< file extension
  const char* args;
  int width, height, fps;
  double seconds;
};

void PrintTo(const Recording& recording, std::ostream* out) { *out << recording.format; }

class VideoRecording : public ::testing::TestWithParam<Recording> {};

TEST_P(VideoRecording, CoversSimulatedTimeAtTheRequestedSizeWithChangingPictures) {
  requireTools();
  const Recording& r = GetParam();
  const fs::path dir = scratch(r.format);
  const fs::path video = dir / (std::string("run.") + r.format);
  const Outcome sim =
      run(std::string(VELMORA_SIM_APP) + " --lockstep " + r.args + " --duration " +
          std::to_string(r.seconds) + " --video-fps " + std::to_string(r.fps) + " --video-size " +
          std::to_string(r.width) + "x" + std::to_string(r.height) + " --video " + video.string() +
          " --out " + (dir / "out").string());
  ASSERT_EQ(sim.exit_code, 0) << sim.output;
  EXPECT_EQ(run(VELMORA_SIM_APP " --check-video").exit_code, 0);
  EXPECT_TRUE(fs::exists(dir / "out" / "report.json"));
  const Outcome probe =
      run("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
          "stream=nb_read_frames,width,height -of csv=p=0 " +
          video.string());
  ASSERT_EQ(probe.exit_code, 0) << probe.output;
  int width = 0, height = 0, frames = 0;
  ASSERT_EQ(std::sscanf(probe.output.c_str(), "%d,%d,%d", &width, &height, &frames), 3)
      << probe.output;
  EXPECT_EQ(width, r.width);
  EXPECT_EQ(height, r.height);
  EXPECT_NEAR(frames, r.seconds * r.fps, 1.0);

  const std::vector<unsigned char> early = frameAt(video, 0.1 * r.seconds);
  const std::vector<unsigned char> late = frameAt(video, 0.9 * r.seconds);
  ASSERT_EQ(early.size(), static_cast<size_t>(r.width * r.height * 3));
  ASSERT_EQ(late.size(), early.size());
  size_t varied = 0, changed = 0;
  for (size_t k = 0; k < early.size(); ++k) {
    varied += std::abs(early[k] - early[0]) > 24 ? 1 : 0;
    changed += std::abs(early[k] - late[k]) > 24 ? 1 : 0;
  }
  EXPECT_GT(varied, early.size() / 10) << "the frame is nearly uniform";
  EXPECT_GT(changed, early.size() / 100) << "frames at different times look the same";
  fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Formats, VideoRecording,
                         ::testing::Values(Recording{"mp4", "--scenario walk", 480, 270, 20, 2.0},
                                           Recording{"gif",
                                                     "--scenario turn --show-forces --camera top",
                                                     160, 90, 10, 1.0}),
                         [](const auto& info) { return std::string(info.param.format); });

/// A frame of the standing robot, drawn once as it is and once with the trunk's geoms in a
/// hidden group: the pixels that differ are the trunk's.
class TrunkInFrame : public ::testing::TestWithParam<CameraView> {};

TEST_P(TrunkInFrame, SitsInTheMiddleOfThePicture) {
  const std::string urdf = test::kestrelFile("robot.urdf");
  const PinocchioInterface pinocchio(urdf);
  const ModelInfo info = loadModelInfo(test::kestrelFile("description.info"), pinocchio);
  const MujocoPlant plant(urdf, info);
  PlantSnapshot snapshot;
  snapshot.copyFrom(plant, planner::VelocityCommand{}, "stand");

  mjModel* hidden = mj_copyModel(nullptr, &plant.model());
  const int trunk = hidden->jnt_bodyid[0];
  ASSERT_EQ(hidden->jnt_type[0], mjJNT_FREE);
  for (int g = 0; g < hidden->ngeom; ++g) {
    if (hidden->geom_bodyid[g] == trunk) hidden->geom_group[g] = 5;  // not drawn by default
  }
  FrameSettings settings;
  settings.width = 320;
  settings.height = 180;
  settings.view = GetParam();
  const OffscreenGlContext gl;
  gl.makeCurrent();
  const auto draw = [&](const mjModel& model) {
    FrameRenderer renderer(model, settings);
    std::vector<uint8_t> rgb;
    renderer.drawOffscreen(snapshot);
    renderer.readPixels(rgb);
    return rgb;
  };
  const std::vector<uint8_t> with_trunk = draw(plant.model()), without_trunk = draw(*hidden);
  mj_deleteModel(hidden);
  double sum_x = 0.0, sum_y = 0.0, count = 0.0;
  size_t black = 0;  // background the sky should have covered
  for (size_t p = 0; p < with_trunk.size() / 3; ++p) {
    black += with_trunk[3 * p] == 0 && with_trunk[3 * p + 1] == 0 && with_trunk[3 * p + 2] == 0;
    int difference = 0;
    for (size_t k = 3 * p; k < 3 * p + 3; ++k)
      difference += std::abs(with_trunk[k] - without_trunk[k]);
    if (difference <= 30) continue;
    sum_x += static_cast<double>(p % settings.width);
    sum_y += static_cast<double>(p / settings.width);
    count += 1.0;
  }
  EXPECT_EQ(black, 0u) << "background pixels without sky";
  // The trunk covers a good part of the picture, centred within a tenth of its size.
  ASSERT_GT(count, 0.01 * settings.width * settings.height);
  EXPECT_NEAR(sum_x / count, settings.width / 2.0, 0.1 * settings.width);
  EXPECT_NEAR(sum_y / count, settings.height / 2.0, 0.1 * settings.height);
}

INSTANTIATE_TEST_SUITE_P(Views, TrunkInFrame,
                         ::testing::Values(CameraView::kFollow, CameraView::kSide,
                                           CameraView::kTop));

/// A command line refused before the run starts: exit code 2 and a message naming the culprit.
struct BadCommand {
  const char* name;
  const char* environment;  ///< prefix for the shell, e.g. "PATH=/nowhere"
  const char* args;
  const char* named;  ///< what the message must name
};

void PrintTo(const BadCommand& command, std::ostream* out) { *out << command.name; }

class RefusedFlags : public ::testing::TestWithParam<BadCommand> {};

TEST_P(RefusedFlags, ExitWithCodeTwoNamingTheCulprit) {
  const BadCommand& bad = GetParam();
  const fs::path dir = scratch(bad.name);
  const Outcome outcome =
      run(std::string(bad.environment) + " " + VELMORA_SIM_APP +
          " --scenario stand --duration 1 --out " + (dir / "out").string() + " " + bad.args);
  EXPECT_EQ(outcome.exit_code, 2) << outcome.output;
  EXPECT_NE(outcome.output.find(bad.named), std::string::npos) << outcome.output;
  EXPECT_FALSE(fs::exists(dir / "out")) << "the run started";
  fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedFlags,
    ::testing::Values(
        BadCommand{"camera", "", "--video /tmp/v.mp4 --camera orbit", "--camera"},
        BadCommand{"size_zero", "", "--video /tmp/v.mp4 --video-size 0x0", "--video-size"},
        BadCommand{"size_wide", "", "--video /tmp/v.mp4 --video-size 99999x1", "--video-size"},
        BadCommand{"size_text", "", "--video /tmp/v.mp4 --video-size large", "--video-size"},
        BadCommand{"fps", "", "--video /tmp/v.mp4 --video-fps 0", "--video-fps"},
        BadCommand{"extension", "", "--video /tmp/v.avi", "--video"},
        BadCommand{"unwritable", "", "--video /nonexistent/dir/v.mp4", "--video"},
        BadCommand{"no_ffmpeg", "PATH=/nonexistent", "--video /tmp/v.mp4", "ffmpeg"},
        BadCommand{"check_no_ffmpeg", "PATH=/nonexistent", "--check-video", "ffmpeg"},
        BadCommand{"viewer_lockstep", "DISPLAY=:0", "--viewer --lockstep", "--viewer"},
        BadCommand{"viewer_no_display", "env -u DISPLAY", "--viewer", "DISPLAY"},
        BadCommand{"viewer_dead_display", "DISPLAY=:987", "--viewer", "--viewer"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(VideoRecording, FfmpegDyingMidRunLeavesACompleteRunAndAWarning) {
  requireTools();
  const fs::path dir = scratch("dying");
  // An "ffmpeg" that reads a few frames and fails.
  const fs::path fake = dir / "ffmpeg";
  std::ofstream(fake) << "#!/bin/sh\nhead -c 300000 > /dev/null\nexit 1\n";
  fs::permissions(fake, fs::perms::owner_all);
  const Outcome outcome =
      run("PATH=" + dir.string() + ":/usr/bin:/bin " + VELMORA_SIM_APP +
          " --lockstep --scenario stand --duration 1 " + "--video-size 160x90 --video " +
          (dir / "v.mp4").string() + " --out " + (dir / "out").string());
  EXPECT_EQ(outcome.exit_code, 0) << outcome.output;
  EXPECT_TRUE(fs::exists(dir / "out" / "report.json"));
  EXPECT_NE(outcome.output.find("warning"), std::string::npos) << outcome.output;
  EXPECT_NE(outcome.output.find("ffmpeg exited with status 1"), std::string::npos)
      << outcome.output;
  fs::remove_all(dir);
}

}  // namespace
}  // namespace sim
}  // namespace velmora
