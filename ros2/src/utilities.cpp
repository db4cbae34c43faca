// init / shutdown / ok and the SIGINT / SIGTERM handlers.
//
// A signal handler may only do async-signal-safe work, so it writes one byte into a pipe; a
// watcher thread reads it and shuts the default context down.

#include "rclcpp/utilities.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <mutex>
#include <thread>

namespace rclcpp {
namespace {

constexpr char kSignalByte = 's';
constexpr char kQuitByte = 'q';

// The write end of the watcher's pipe, read by the signal handler (-1 when not installed).
std::atomic<int> signal_pipe_write_fd{-1};

extern "C" void on_signal(int) {
  const int fd = signal_pipe_write_fd.load();
  if (fd >= 0) {
    const char byte = kSignalByte;
    [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
  }
}

class SignalHandlers {
 public:
  static SignalHandlers& instance() {
    static SignalHandlers handlers;
    return handlers;
  }

  ~SignalHandlers() { uninstall(); }

  bool install(SignalHandlerOptions options) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (installed_ || options == SignalHandlerOptions::None) return false;
    if (::pipe2(pipe_fds_, O_CLOEXEC) != 0) return false;
    signal_pipe_write_fd.store(pipe_fds_[1]);
    watcher_ = std::thread([read_fd = pipe_fds_[0]] { watch(read_fd); });
    handle_sigint_ =
        options == SignalHandlerOptions::All || options == SignalHandlerOptions::SigInt;
    handle_sigterm_ =
        options == SignalHandlerOptions::All || options == SignalHandlerOptions::SigTerm;
    struct sigaction action = {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (handle_sigint_) ::sigaction(SIGINT, &action, &old_sigint_);
    if (handle_sigterm_) ::sigaction(SIGTERM, &action, &old_sigterm_);
    installed_ = true;
    return true;
  }

  bool uninstall() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!installed_) return false;
    if (handle_sigint_) ::sigaction(SIGINT, &old_sigint_, nullptr);
    if (handle_sigterm_) ::sigaction(SIGTERM, &old_sigterm_, nullptr);
    signal_pipe_write_fd.store(-1);
    const char byte = kQuitByte;
    [[maybe_unused]] const ssize_t written = ::write(pipe_fds_[1], &byte, 1);
    if (watcher_.get_id() == std::this_thread::get_id()) {
      watcher_.detach();  // called from a shutdown callback on the watcher itself
    } else {
      watcher_.join();
    }
    ::close(pipe_fds_[1]);
    installed_ = false;
    return true;
  }

 private:
  SignalHandlers() = default;

  // Shuts the default context down for every signal byte; ends on the quit byte.
  static void watch(int read_fd) {
    char byte = 0;
    while (true) {
      const ssize_t got = ::read(read_fd, &byte, 1);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0 || byte == kQuitByte) break;
      contexts::get_global_default_context()->shutdown("signal handler");
    }
    ::close(read_fd);
  }

  std::mutex mutex_;
  bool installed_ = false;
  bool handle_sigint_ = false;
  bool handle_sigterm_ = false;
  int pipe_fds_[2] = {-1, -1};
  std::thread watcher_;
  struct sigaction old_sigint_ = {};
  struct sigaction old_sigterm_ = {};
};

Context::SharedPtr or_default(Context::SharedPtr context) {
  if (context) return context;
  return contexts::get_global_default_context();
}

}  // namespace

void init(int argc, char const* const* argv, const InitOptions& init_options,
          SignalHandlerOptions signal_handler_options) {
  contexts::get_global_default_context()->init(argc, argv, init_options);
  SignalHandlers::instance().install(signal_handler_options);
}

bool shutdown(Context::SharedPtr context, const std::string& reason) {
  const auto default_context = contexts::get_global_default_context();
  const Context::SharedPtr target = or_default(std::move(context));
  const bool was_running = target->shutdown(reason);
  if (target == default_context) SignalHandlers::instance().uninstall();
  return was_running;
}

bool ok(Context::SharedPtr context) { return or_default(std::move(context))->is_valid(); }

void on_shutdown(std::function<void()> callback, Context::SharedPtr context) {
  or_default(std::move(context))->on_shutdown(std::move(callback));
}

bool sleep_for(const std::chrono::nanoseconds& nanoseconds, Context::SharedPtr context) {
  return or_default(std::move(context))->sleep_for(nanoseconds);
}

bool uninstall_signal_handlers() { return SignalHandlers::instance().uninstall(); }

}  // namespace rclcpp
