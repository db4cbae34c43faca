#pragma once

// A child process, its output captured, for tests that need a second DDS participant in another
// process: started with extra environment variables, its standard output captured, killed if still
// running at the end.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace velmora::dds_test {

class CapturedProcess {
 public:
  /// Starts `argv[0]` with `argv` and this process's environment plus `environment`.
  CapturedProcess(const std::vector<std::string>& argv,
                  const std::map<std::string, std::string>& environment) {
    std::map<std::string, std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string text = *entry;
      const size_t equals = text.find('=');
      if (equals != std::string::npos) merged[text.substr(0, equals)] = text.substr(equals + 1);
    }
    for (const auto& [key, value] : environment) merged[key] = value;
    std::vector<std::string> env_strings;
    for (const auto& [key, value] : merged) env_strings.push_back(key + "=" + value);
    std::vector<char*> envp;
    for (auto& text : env_strings) envp.push_back(text.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = argv;
    std::vector<char*> argp;
    for (auto& text : args) argp.push_back(text.data());
    argp.push_back(nullptr);

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    const int error = posix_spawn(&pid_, argp[0], &actions, nullptr, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    stdout_fd_ = fds[0];
    if (error != 0) {
      close(stdout_fd_);
      throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(error));
    }
  }
  ~CapturedProcess() {
    if (!exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(stdout_fd_);
  }
  CapturedProcess(const CapturedProcess&) = delete;
  CapturedProcess& operator=(const CapturedProcess&) = delete;

  /// Waits up to `timeout` for the child to end, collecting its output; its exit code, or -1
  /// if it was killed by a signal or is still running (then it is killed).
  int wait(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      drain(20);
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        while (drain(0)) {
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    exited_ = true;
    return -1;
  }

  /// Everything the child wrote to its standard output so far.
  const std::string& output() const { return output_; }

 private:
  // Reads what is available within `timeout_ms`; false at end of file or if nothing came.
  bool drain(int timeout_ms) {
    pollfd fd{stdout_fd_, POLLIN, 0};
    if (poll(&fd, 1, timeout_ms) <= 0) return false;
    char buffer[4096];
    const ssize_t count = read(stdout_fd_, buffer, sizeof(buffer));
    if (count <= 0) return false;
    output_.append(buffer, static_cast<size_t>(count));
    return true;
  }

  pid_t pid_ = -1;
  int stdout_fd_ = -1;
  bool exited_ = false;
  std::string output_;
};

}  // namespace velmora::dds_test
