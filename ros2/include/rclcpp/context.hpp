#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "rclcpp/macros.hpp"
#include "rclcpp/parameter.hpp"

namespace rclcpp {

namespace detail {
class DdsParticipant;
class TopicRegistry;
class WakeSignal;
}  // namespace detail

/// `init` was called on a context that is already initialised.
class ContextAlreadyInitialized : public std::runtime_error {
 public:
  ContextAlreadyInitialized() : std::runtime_error("context is already initialized") {}
};

/// Options for `init`.
class InitOptions {
 public:
  InitOptions() = default;
};

/// The state shared by the nodes of one ROS 2 session: whether it is running, the parameter
/// overrides given on the command line, and the in-process topic registry that connects
/// publishers and subscriptions. A context may be initialised again after a shutdown.
/// Thread-safe.
class Context : public std::enable_shared_from_this<Context> {
 public:
  RCLCPP_SMART_PTR_DEFINITIONS_NOT_COPYABLE(Context)

  Context();
  virtual ~Context();
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;

  /// Starts the context and selects its transport from the environment, as ROS 2 selects its
  /// middleware: RMW_IMPLEMENTATION=rmw_cyclonedds_cpp for DDS (domain ROS_DOMAIN_ID, default
  /// 0), unset for the in-process transport. Reads `-p name:=value` / `--param name:=value` after
  /// `--ros-args` (up to a `--`) as parameter overrides for every node; other ROS arguments throw
  /// exceptions::UnknownROSArgsError. Throws ContextAlreadyInitialized if running.
  virtual void init(int argc, char const* const* argv,
                    const InitOptions& init_options = InitOptions());

  /// True between `init` and `shutdown`.
  bool is_valid() const;

  /// The reason given to the last `shutdown`, empty before.
  std::string shutdown_reason() const;

  /// Stops the context: `ok()` turns false, sleeping threads wake, spinning executors return
  /// and the on-shutdown callbacks run. False if it was not running.
  virtual bool shutdown(const std::string& reason);

  using OnShutdownCallback = std::function<void()>;
  /// Registers `callback` to run (once per shutdown) on the thread that shuts the context down.
  OnShutdownCallback on_shutdown(OnShutdownCallback callback);

  /// Sleeps for `nanoseconds`, or until a shutdown (or interrupt_all_sleep_for) during the
  /// sleep. True if the context is still running. After shutdown it still sleeps in full, so a
  /// loop that ignores `ok()` keeps its pace instead of spinning.
  bool sleep_for(const std::chrono::nanoseconds& nanoseconds);

  /// Wakes every thread in `sleep_for` without shutting down.
  void interrupt_all_sleep_for();

  /// The parameter overrides from the command line.
  std::vector<Parameter> get_global_parameter_overrides() const;

  /// The topic registry of this context (runtime internals).
  const std::shared_ptr<detail::TopicRegistry>& topic_registry() const { return topic_registry_; }

  /// The DDS participant of this context (created on first use), or null with the in-process
  /// transport (runtime internals).
  std::shared_ptr<detail::DdsParticipant> dds_participant();

  /// Registers an executor's wake signal to be triggered at shutdown (runtime internals).
  void add_wake_signal(const std::weak_ptr<detail::WakeSignal>& signal);

 private:
  mutable std::mutex mutex_;
  bool valid_ = false;
  std::string shutdown_reason_;
  std::vector<Parameter> global_parameter_overrides_;
  std::vector<OnShutdownCallback> on_shutdown_callbacks_;
  std::vector<std::weak_ptr<detail::WakeSignal>> wake_signals_;

  std::mutex sleep_mutex_;
  std::condition_variable sleep_condition_;
  uint64_t sleep_interrupts_ = 0;

  const std::shared_ptr<detail::TopicRegistry> topic_registry_;
  bool use_dds_ = false;
  uint32_t dds_domain_id_ = 0;
  std::shared_ptr<detail::DdsParticipant> dds_participant_;
};

namespace contexts {

/// The process-wide context used when none is given.
class DefaultContext : public Context {
 public:
  RCLCPP_SMART_PTR_DEFINITIONS_NOT_COPYABLE(DefaultContext)
  DefaultContext() = default;
};

/// The process-wide default context.
DefaultContext::SharedPtr get_global_default_context();

}  // namespace contexts
}  // namespace rclcpp
