#include "sim/VideoSupport.h"

#include <exception>

#include "sim/OffscreenGlContext.h"
#include "sim/VideoEncoder.h"

namespace velmora {
namespace sim {

std::string videoRecordingProblem() {
  if (findOnPath("ffmpeg").empty()) {
    return "the program 'ffmpeg' is not on PATH (install the Debian package ffmpeg)";
  }
  try {
    const OffscreenGlContext gl;
    gl.makeCurrent();
    gl.release();
  } catch (const std::exception& error) {
    return std::string("no headless OpenGL renderer: ") + error.what();
  }
  return {};
}

}  // namespace sim
}  // namespace velmora
