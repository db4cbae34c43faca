#pragma once

#include <chrono>
#include <string>

#include "rclcpp/context.hpp"

namespace rclcpp {

/// Which signals `init` turns into a shutdown of the default context.
enum class SignalHandlerOptions { All, SigInt, SigTerm, None };

/// Initialises the default context with the command line (see Context::init) and, per
/// `signal_handler_options`, installs handlers so that SIGINT / SIGTERM shut it down.
void init(int argc, char const* const* argv, const InitOptions& init_options = InitOptions(),
          SignalHandlerOptions signal_handler_options = SignalHandlerOptions::All);

/// Shuts `context` down (the default context if null); for the default context also removes
/// the signal handlers. False if it was not running.
bool shutdown(Context::SharedPtr context = nullptr,
              const std::string& reason = "user called rclcpp::shutdown()");

/// True while `context` (the default context if null) is initialised and not shut down.
bool ok(Context::SharedPtr context = nullptr);

/// Registers a callback to run when `context` (the default if null) shuts down.
void on_shutdown(std::function<void()> callback, Context::SharedPtr context = nullptr);

/// Sleeps for `nanoseconds`, ending early if `context` (the default if null) shuts down
/// meanwhile. True if the context is still running afterwards.
bool sleep_for(const std::chrono::nanoseconds& nanoseconds, Context::SharedPtr context = nullptr);

/// Removes the signal handlers installed by `init`. False if none were installed.
bool uninstall_signal_handlers();

}  // namespace rclcpp
