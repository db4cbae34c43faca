#pragma once

// Whether this machine can record videos, for scripts that want to know before a run.

#include <string>

namespace velmora {
namespace sim {

/// Empty when videos can be recorded here (ffmpeg on PATH, a headless OpenGL context through
/// EGL), else the reason, naming the missing program or the EGL step that failed.
std::string videoRecordingProblem();

}  // namespace sim
}  // namespace velmora
