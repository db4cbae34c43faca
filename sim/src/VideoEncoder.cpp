#include "sim/VideoEncoder.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace velmora {
namespace sim {
namespace {

/// Writes all of `size` bytes to `fd` with SIGPIPE held back for the calling thread, so that a
/// reader that went away shows as EPIPE instead of ending the process. Returns 0 or an errno.
int writeAll(int fd, const uint8_t* data, size_t size) {
  sigset_t pipe_signal, previous;
  sigemptyset(&pipe_signal);
  sigaddset(&pipe_signal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_signal, &previous);
  int result = 0;
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      result = errno;
      break;
    }
    data += written;
    size -= static_cast<size_t>(written);
  }
  if (result == EPIPE) {
    // Consume the SIGPIPE raised for this thread before unblocking it.
    const timespec no_wait{0, 0};
    sigtimedwait(&pipe_signal, nullptr, &no_wait);
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return result;
}

}  // namespace

std::string findOnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return {};
  std::stringstream directories(path);
  std::string directory;
  while (std::getline(directories, directory, ':')) {
    if (directory.empty()) directory = ".";
    const std::string candidate = directory + "/" + program;
    struct stat info {};
    if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        ::access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
  }
  return {};
}

VideoEncoder::VideoEncoder(const std::string& path, int width, int height, int fps)
    : frame_bytes_(static_cast<size_t>(width) * static_cast<size_t>(height) * 3) {
  const std::string ffmpeg = findOnPath("ffmpeg");
  if (ffmpeg.empty()) throw std::runtime_error("the program 'ffmpeg' is not on PATH");
  const bool gif = path.size() >= 4 && path.compare(path.size() - 4, 4, ".gif") == 0;
  std::vector<std::string> args = {
      "ffmpeg",       "-nostdin",
      "-hide_banner", "-loglevel",
      "error",        "-y",
      "-f",           "rawvideo",
      "-pix_fmt",     "rgb24",
      "-s",           std::to_string(width) + "x" + std::to_string(height),
      "-r",           std::to_string(fps),
      "-i",           "-",
      "-vf",          "vflip"};
  if (!gif) {
    for (const char* arg :
         {"-c:v", "libx264", "-preset", "ultrafast", "-crf", "23", "-pix_fmt", "yuv420p"}) {
      args.emplace_back(arg);
    }
  }
  args.push_back(path);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    throw std::runtime_error(std::string("cannot create a pipe to ffmpeg: ") +
                             std::strerror(errno));
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[0], STDIN_FILENO);
  const int spawned = posix_spawn(&child_, ffmpeg.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[0]);
  if (spawned != 0) {
    ::close(fds[1]);
    throw std::runtime_error("cannot start '" + ffmpeg + "': " + std::strerror(spawned));
  }
  pipe_fd_ = fds[1];
}

VideoEncoder::~VideoEncoder() { finish(); }

bool VideoEncoder::write(const std::vector<uint8_t>& rgb) {
  if (rgb.size() != frame_bytes_) {
    throw std::invalid_argument("VideoEncoder: a frame has " + std::to_string(rgb.size()) +
                                " bytes instead of " + std::to_string(frame_bytes_));
  }
  if (!ok_ || pipe_fd_ < 0) return false;
  const int error = writeAll(pipe_fd_, rgb.data(), rgb.size());
  if (error != 0) {
    ok_ = false;
    error_ = std::string("ffmpeg stopped reading frames (") + std::strerror(error) + ") after " +
             std::to_string(frames_) + " frames";
    ::close(pipe_fd_);
    pipe_fd_ = -1;
    return false;
  }
  ++frames_;
  return true;
}

bool VideoEncoder::finish() {
  if (finished_) return ok_;
  finished_ = true;
  if (pipe_fd_ >= 0) {
    ::close(pipe_fd_);
    pipe_fd_ = -1;
  }
  int status = 0;
  pid_t waited = -1;
  do {
    waited = ::waitpid(child_, &status, 0);
  } while (waited < 0 && errno == EINTR);
  if (waited < 0) {
    ok_ = false;
    if (error_.empty()) error_ = std::string("cannot wait for ffmpeg: ") + std::strerror(errno);
  } else if (WIFSIGNALED(status)) {
    ok_ = false;
    const std::string why = "ffmpeg was ended by signal " + std::to_string(WTERMSIG(status));
    error_ = error_.empty() ? why : error_ + "; " + why;
  } else if (WEXITSTATUS(status) != 0) {
    ok_ = false;
    const std::string why = "ffmpeg exited with status " + std::to_string(WEXITSTATUS(status));
    error_ = error_.empty() ? why : error_ + "; " + why;
  }
  return ok_;
}

}  // namespace sim
}  // namespace velmora
