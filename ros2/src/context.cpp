#include "rclcpp/context.hpp"

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "rclcpp/detail/dds_participant.hpp"
#include "rclcpp/detail/topic_registry.hpp"
#include "rclcpp/detail/wake_signal.hpp"
#include "rclcpp/exceptions.hpp"

namespace rclcpp {
namespace {

// A command-line parameter value: bool, integer, double, else string.
ParameterValue parse_parameter_value(const std::string& text) {
  if (text == "true" || text == "True" || text == "TRUE") return ParameterValue(true);
  if (text == "false" || text == "False" || text == "FALSE") return ParameterValue(false);
  if (!text.empty()) {
    const char* begin = text.c_str();
    char* end = nullptr;
    const long long integer = std::strtoll(begin, &end, 10);
    if (*end == '\0') return ParameterValue(static_cast<int64_t>(integer));
    const double real = std::strtod(begin, &end);
    if (*end == '\0') return ParameterValue(real);
  }
  return ParameterValue(text);
}

// The "name:=value" argument of a -p flag.
Parameter parse_parameter_assignment(const std::string& flag, const std::string& argument) {
  const size_t separator = argument.find(":=");
  if (separator == std::string::npos || separator == 0) {
    throw std::invalid_argument("rclcpp::init: '" + flag +
                                "' must be followed by 'name:=value', got '" + argument + "'");
  }
  return Parameter(argument.substr(0, separator),
                   parse_parameter_value(argument.substr(separator + 2)));
}

// The parameter overrides given in the "--ros-args ... [--]" sections of the command line.
std::vector<Parameter> parse_ros_arguments(int argc, char const* const* argv) {
  std::vector<Parameter> overrides;
  std::vector<std::string> unknown;
  bool in_ros_args = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i] != nullptr ? argv[i] : "";
    if (arg == "--ros-args") {
      in_ros_args = true;
    } else if (!in_ros_args) {
      continue;
    } else if (arg == "--") {
      in_ros_args = false;
    } else if (arg == "-p" || arg == "--param") {
      if (i + 1 >= argc || argv[i + 1] == nullptr) {
        throw std::invalid_argument("rclcpp::init: '" + arg +
                                    "' must be followed by 'name:=value'");
      }
      overrides.push_back(parse_parameter_assignment(arg, argv[++i]));
    } else {
      unknown.push_back(arg);
    }
  }
  if (!unknown.empty()) throw exceptions::UnknownROSArgsError(std::move(unknown));
  return overrides;
}

}  // namespace

Context::Context() : topic_registry_(std::make_shared<detail::TopicRegistry>()) {}

Context::~Context() = default;

void Context::init(int argc, char const* const* argv, const InitOptions&) {
  std::vector<Parameter> overrides = parse_ros_arguments(argc, argv);
  const bool use_dds = detail::dds_transport_selected();
  const uint32_t domain_id = use_dds ? detail::ros_domain_id() : 0;
  std::lock_guard<std::mutex> lock(mutex_);
  if (valid_) throw ContextAlreadyInitialized();
  valid_ = true;
  if (use_dds != use_dds_ || domain_id != dds_domain_id_) dds_participant_.reset();
  use_dds_ = use_dds;
  dds_domain_id_ = domain_id;
  shutdown_reason_.clear();
  global_parameter_overrides_ = std::move(overrides);
}

std::shared_ptr<detail::DdsParticipant> Context::dds_participant() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (use_dds_ && !dds_participant_) {
    dds_participant_ = std::make_shared<detail::DdsParticipant>(dds_domain_id_);
  }
  return dds_participant_;
}

bool Context::is_valid() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return valid_;
}

std::string Context::shutdown_reason() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return shutdown_reason_;
}

bool Context::shutdown(const std::string& reason) {
  std::vector<OnShutdownCallback> callbacks;
  std::vector<std::weak_ptr<detail::WakeSignal>> wake_signals;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!valid_) return false;
    valid_ = false;
    shutdown_reason_ = reason;
    callbacks = on_shutdown_callbacks_;
    wake_signals = wake_signals_;
  }
  interrupt_all_sleep_for();
  for (const auto& weak_signal : wake_signals) {
    if (auto signal = weak_signal.lock()) signal->notify();
  }
  for (const auto& callback : callbacks) callback();
  return true;
}

Context::OnShutdownCallback Context::on_shutdown(OnShutdownCallback callback) {
  std::lock_guard<std::mutex> lock(mutex_);
  on_shutdown_callbacks_.push_back(callback);
  return callback;
}

bool Context::sleep_for(const std::chrono::nanoseconds& nanoseconds) {
  const auto deadline = std::chrono::steady_clock::now() + nanoseconds;
  {
    std::unique_lock<std::mutex> lock(sleep_mutex_);
    const uint64_t seen = sleep_interrupts_;
    sleep_condition_.wait_until(lock, deadline, [&] { return sleep_interrupts_ != seen; });
  }
  return is_valid();
}

void Context::interrupt_all_sleep_for() {
  {
    std::lock_guard<std::mutex> lock(sleep_mutex_);
    ++sleep_interrupts_;
  }
  sleep_condition_.notify_all();
}

std::vector<Parameter> Context::get_global_parameter_overrides() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return global_parameter_overrides_;
}

void Context::add_wake_signal(const std::weak_ptr<detail::WakeSignal>& signal) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::weak_ptr<detail::WakeSignal>> live;
  for (const auto& existing : wake_signals_) {
    if (!existing.expired()) live.push_back(existing);
  }
  live.push_back(signal);
  wake_signals_ = std::move(live);
}

namespace contexts {

DefaultContext::SharedPtr get_global_default_context() {
  static const DefaultContext::SharedPtr default_context = DefaultContext::make_shared();
  return default_context;
}

}  // namespace contexts
}  // namespace rclcpp
