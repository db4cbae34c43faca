#include "nodes/ChildProcess.h"

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <thread>

namespace velmora {
namespace nodes {

ChildProcess::ChildProcess(const std::string& executable, const std::vector<std::string>& args)
    : name_(std::filesystem::path(executable).filename().string()) {
  if (access(executable.c_str(), X_OK) != 0) {
    throw std::runtime_error("cannot run '" + executable + "': " + std::strerror(errno));
  }
  // Everything the child needs is prepared before fork: after it only exec-safe calls.
  std::vector<std::string> strings{executable};
  strings.insert(strings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& s : strings) argv.push_back(s.data());
  argv.push_back(nullptr);
  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("cannot start '" + executable + "': fork failed");
  if (pid_ == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    // The parent may have ended before prctl: then nobody would send the signal.
    if (getppid() != parent) _exit(1);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !status_) stop(std::chrono::milliseconds(500));
}

std::optional<int> ChildProcess::poll() {
  if (status_ || pid_ <= 0) return status_;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) == pid_) status_ = status;
  return status_;
}

void ChildProcess::signal(int signal) const {
  if (!status_ && pid_ > 0) kill(pid_, signal);
}

int ChildProcess::stop(std::chrono::milliseconds grace) {
  if (poll()) return *status_;
  signal(SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + grace;
  while (!poll() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (!status_) {
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    status_ = status;
  }
  return *status_;
}

std::string describeExit(int status) {
  if (WIFEXITED(status)) return "exited with code " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) {
    const int signal = WTERMSIG(status);
    const char* name = strsignal(signal);
    return "was killed by signal " + std::to_string(signal) + " (" + (name ? name : "?") + ")";
  }
  return "ended with wait status " + std::to_string(status);
}

}  // namespace nodes
}  // namespace velmora
