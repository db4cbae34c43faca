#include "sweep/ParallelLauncher.h"

#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

extern char** environ;

namespace velmora::sweep {

std::optional<std::string> findProgram(const std::string& program) {
  if (program.find('/') != std::string::npos)
    return ::access(program.c_str(), X_OK) == 0 ? std::optional<std::string>(program)
                                                : std::nullopt;
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path != nullptr ? path : "");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    const std::string candidate = (dir.empty() ? "." : dir) + "/" + program;
    if (::access(candidate.c_str(), X_OK) == 0 && !std::filesystem::is_directory(candidate))
      return candidate;
  }
  return std::nullopt;
}

bool isGnuParallel(const std::string& program) {
  const std::string command = shellQuote(program) + " --version 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return false;
  char line[256] = {};
  const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
  const std::string first(line);
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
  }  // drain, so that the program is not stopped by a closed pipe
  const bool exited = ::pclose(pipe) == 0;
  return read && exited && first.rfind("GNU parallel", 0) == 0;
}

std::string shellQuote(const std::string& text) {
  std::string out = "'";
  for (const char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

namespace {

/// Reaps every child of this process (the jobs parallel left behind come to it as their
/// subreaper); after `grace` those still running get SIGKILL.
void reapDescendants(std::chrono::milliseconds grace) {
  const auto deadline = std::chrono::steady_clock::now() + grace;
  for (;;) {
    const pid_t reaped = ::waitpid(-1, nullptr, WNOHANG);
    if (reaped > 0) continue;
    if (reaped < 0 && errno != EINTR) return;  // no child left
    if (std::chrono::steady_clock::now() > deadline) {
      for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line) || line.rfind(')') == std::string::npos) continue;
        std::istringstream fields(line.substr(line.rfind(')') + 2));
        char state = 0;
        pid_t parent = 0;
        if (fields >> state >> parent && parent == ::getpid())
          ::kill(static_cast<pid_t>(std::stoi(entry.path().filename().string())), SIGKILL);
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace

ParallelOutcome runParallel(const ParallelOptions& options) {
  std::vector<std::string> args = {options.program, "--will-cite",
                                   "--jobs",        std::to_string(options.jobs),
                                   "--joblog",      options.joblog.string()};
  if (!options.sshloginfile.empty()) {
    args.push_back("--sshloginfile");
    args.push_back(options.sshloginfile);
  }
  args.push_back("--arg-file");
  args.push_back(options.command_file.string());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  // Signals to stop are taken synchronously while parallel runs; the child starts with the
  // default handlers and an empty mask.
  sigset_t stop_signals, previous, empty;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  sigemptyset(&empty);
  pthread_sigmask(SIG_BLOCK, &stop_signals, &previous);
  // A program started in the background by a shell ignores SIGINT; taking it needs the default.
  struct sigaction default_action {
  }, previous_int{}, previous_term{};
  default_action.sa_handler = SIG_DFL;
  sigaction(SIGINT, &default_action, &previous_int);
  sigaction(SIGTERM, &default_action, &previous_term);
  const auto restore = [&] {
    sigaction(SIGINT, &previous_int, nullptr);
    sigaction(SIGTERM, &previous_term, nullptr);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  };
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setsigmask(&attributes, &empty);
  posix_spawnattr_setsigdefault(&attributes, &stop_signals);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  // Jobs that outlive parallel (it stops them after a Ctrl-C without waiting) come back here.
  ::prctl(PR_SET_CHILD_SUBREAPER, 1);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], nullptr, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) {
    restore();
    throw std::runtime_error("cannot start " + options.program + ": " + std::strerror(spawned));
  }

  ParallelOutcome outcome;
  int signals_received = 0;
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      outcome.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      break;
    }
    if (done < 0 && errno != EINTR) {
      outcome.exit_status = -1;
      break;
    }
    const timespec poll{0, 100'000'000};
    if (sigtimedwait(&stop_signals, nullptr, &poll) > 0) {
      // First stop request: parallel kills its running jobs; a second one insists.
      outcome.interrupted = true;
      ::kill(pid, ++signals_received == 1 ? SIGINT : SIGKILL);
    }
  }
  reapDescendants(std::chrono::seconds(5));
  restore();
  return outcome;
}

std::map<int, JobResult> readJoblog(const std::filesystem::path& joblog) {
  // Columns: Seq Host Starttime JobRuntime Send Receive Exitval Signal Command (tab-separated).
  std::map<int, JobResult> results;
  std::ifstream in(joblog);
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    std::stringstream columns(line);
    for (std::string field; fields.size() < 8 && std::getline(columns, field, '\t');)
      fields.push_back(field);
    if (fields.size() < 8) continue;
    try {
      results[std::stoi(fields[0])] = {std::stoi(fields[6]), std::stoi(fields[7])};
    } catch (const std::exception&) {
    }
  }
  return results;
}

}  // namespace velmora::sweep
