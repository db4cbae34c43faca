#pragma once

// A program run as a child process that cannot outlive its parent.

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace velmora {
namespace nodes {

/// Starts `executable` with `args` (fork + exec, environment inherited, SIGINT and SIGTERM
/// unblocked). The child asks the kernel for SIGTERM when its parent thread ends
/// (PR_SET_PDEATHSIG) and exits at once if the parent is already gone. Start and stop it from
/// the same thread (the main thread: the death signal follows the thread that forked). The
/// destructor stops a child still running (see stop()). Not copyable.
class ChildProcess {
 public:
  /// @throws std::runtime_error naming `executable` when it is not an executable file or fork
  ///         fails.
  ChildProcess(const std::string& executable, const std::vector<std::string>& args);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  /// The program's file name, for messages.
  const std::string& name() const { return name_; }
  pid_t pid() const { return pid_; }
  /// The wait status once the child has ended (reaped here), empty while it runs.
  std::optional<int> poll();
  /// Sends `signal` to a running child.
  void signal(int signal) const;
  /// Sends SIGTERM, waits up to `grace` for the child to end, then SIGKILL and waits. Returns
  /// the wait status.
  int stop(std::chrono::milliseconds grace);

 private:
  std::string name_;
  pid_t pid_ = -1;
  std::optional<int> status_;
};

/// "exited with code N" or "was killed by signal N (NAME)" for a wait status.
std::string describeExit(int status);

}  // namespace nodes
}  // namespace velmora
