// velmora_topic: the ROS 2 topics of a DDS domain on the command line, in the spirit of
// `ros2 topic`. Works with any node that follows ROS 2's DDS conventions. The domain is
// ROS_DOMAIN_ID; the network configuration that of velmora's DDS transport.
//   velmora_topic list [-t] [--wait S]
//   velmora_topic echo TOPIC [--once] [--count N] [--wait S]
//   velmora_topic hz TOPIC [--duration S] [--wait S]

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <deque>
#include <iostream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "rclcpp/detail/dds_participant.hpp"
#include "rclcpp/detail/dds_reader.hpp"
#include "rclcpp/qos.hpp"
#include "rosidl_typesupport_velmora/all_messages.hpp"
#include "topic_graph.hpp"

namespace {

using Clock = std::chrono::steady_clock;
using rosidl_typesupport_velmora::MessageTypeSupport;

constexpr const char* kUsage =
    "usage: velmora_topic list [-t] [--wait S]\n"
    "       velmora_topic echo TOPIC [--once] [--count N] [--wait S]\n"
    "       velmora_topic hz TOPIC [--duration S] [--wait S]\n"
    "Lists, prints (YAML) or measures the rate of ROS 2 topics on DDS domain ROS_DOMAIN_ID.\n";

std::atomic<bool> g_interrupted{false};  // set by SIGINT; read by the waiting loops

struct Options {
  std::string command;
  std::string topic;
  bool show_types = false;
  long count = -1;           // echo: messages to print (-1: until interrupted)
  double duration_s = -1.0;  // hz: measuring time (-1: until interrupted)
  double wait_s = 2.0;       // discovery time
};

double parsePositive(const std::string& flag, const std::string& text) {
  size_t used = 0;
  double value = 0.0;
  try {
    value = std::stod(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used != text.size() || !(value > 0.0) || !std::isfinite(value)) {
    throw std::invalid_argument(flag + " needs a positive number, got '" + text + "'");
  }
  return value;
}

Options parseOptions(int argc, char** argv) {
  if (argc < 2) throw std::invalid_argument("no command given");
  Options options;
  options.command = argv[1];
  if (options.command != "list" && options.command != "echo" && options.command != "hz") {
    throw std::invalid_argument("unknown command '" + options.command + "'");
  }
  int i = 2;
  if (options.command != "list") {
    if (argc < 3 || argv[2][0] == '-')
      throw std::invalid_argument(options.command + " needs a TOPIC");
    options.topic = argv[2][0] == '/' ? argv[2] : std::string("/") + argv[2];
    i = 3;
  }
  for (; i < argc; ++i) {
    const std::string flag = argv[i];
    const auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw std::invalid_argument(flag + " needs a value");
      return argv[++i];
    };
    if (flag == "-t" && options.command == "list") {
      options.show_types = true;
    } else if (flag == "--once" && options.command == "echo") {
      options.count = 1;
    } else if (flag == "--count" && options.command == "echo") {
      options.count = std::lround(parsePositive(flag, value()));
    } else if (flag == "--duration" && options.command == "hz") {
      options.duration_s = parsePositive(flag, value());
    } else if (flag == "--wait") {
      options.wait_s = parsePositive(flag, value());
    } else {
      throw std::invalid_argument("unknown option '" + flag + "' for " + options.command);
    }
  }
  return options;
}

std::chrono::milliseconds seconds(double s) {
  return std::chrono::milliseconds(static_cast<long>(s * 1000.0));
}

int list(const std::shared_ptr<rclcpp::detail::DdsParticipant>& participant,
         const Options& options) {
  velmora_topic::TopicGraph graph(participant);
  for (const auto& [topic, types] : graph.discover(seconds(options.wait_s))) {
    std::cout << topic;
    if (options.show_types) {
      std::cout << " [";
      bool first = true;
      for (const auto& type : types) {
        std::cout << (first ? "" : ", ") << velmora_topic::interface_name(type);
        first = false;
      }
      std::cout << "]";
    }
    std::cout << "\n";
  }
  return 0;
}

// The type support of the one known type announced for `topic`; throws if none.
const MessageTypeSupport& typeOf(const std::shared_ptr<rclcpp::detail::DdsParticipant>& participant,
                                 const Options& options) {
  velmora_topic::TopicGraph graph(participant);
  const auto topics = graph.discover(seconds(options.wait_s));
  const auto found = topics.find(options.topic);
  if (found == topics.end()) {
    std::ostringstream message;
    message << "topic '" << options.topic << "' not found (nothing announced it within "
            << options.wait_s << " s on domain " << participant->domain_id() << ")";
    throw std::runtime_error(message.str());
  }
  for (const auto* type_support : rosidl_typesupport_velmora::all_message_type_supports()) {
    if (found->second.count(type_support->dds_type_name)) return *type_support;
  }
  throw std::runtime_error("topic '" + options.topic + "' carries type '" +
                           velmora_topic::interface_name(*found->second.begin()) +
                           "', which velmora_topic does not know");
}

// Best effort and volatile: matches every publisher, as `ros2 topic` does by default.
rclcpp::QoS listeningQos() { return rclcpp::QoS(100).best_effort().durability_volatile(); }

int echo(const std::shared_ptr<rclcpp::detail::DdsParticipant>& participant,
         const Options& options) {
  const MessageTypeSupport& type_support = typeOf(participant, options);
  std::mutex mutex;
  long printed = 0;
  rclcpp::detail::DdsReader reader(participant, options.topic, listeningQos(), type_support,
                                   [&](const std::shared_ptr<const void>& message) {
                                     std::lock_guard<std::mutex> lock(mutex);
                                     if (options.count >= 0 && printed >= options.count) return;
                                     std::cout << type_support.to_yaml(message.get()) << "---"
                                               << std::endl;
                                     ++printed;
                                   });
  while (!g_interrupted.load()) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (options.count >= 0 && printed >= options.count) break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return 0;
}

int hz(const std::shared_ptr<rclcpp::detail::DdsParticipant>& participant, const Options& options) {
  const MessageTypeSupport& type_support = typeOf(participant, options);
  std::mutex mutex;
  std::deque<Clock::time_point> arrivals;  // the last 10000 arrivals
  rclcpp::detail::DdsReader reader(participant, options.topic, listeningQos(), type_support,
                                   [&](const std::shared_ptr<const void>&) {
                                     std::lock_guard<std::mutex> lock(mutex);
                                     arrivals.push_back(Clock::now());
                                     if (arrivals.size() > 10000) arrivals.pop_front();
                                   });
  const auto start = Clock::now();
  bool printed = false;
  while (!g_interrupted.load()) {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    std::vector<double> gaps_s;
    {
      std::lock_guard<std::mutex> lock(mutex);
      for (size_t i = 1; i < arrivals.size(); ++i) {
        gaps_s.push_back(std::chrono::duration<double>(arrivals[i] - arrivals[i - 1]).count());
      }
    }
    if (gaps_s.empty()) {
      std::cout << "no new messages" << std::endl;
    } else {
      double sum = 0, min = gaps_s[0], max = gaps_s[0];
      for (const double gap : gaps_s) {
        sum += gap;
        min = std::min(min, gap);
        max = std::max(max, gap);
      }
      const double mean = sum / gaps_s.size();
      double variance = 0;
      for (const double gap : gaps_s) variance += (gap - mean) * (gap - mean);
      std::printf("average rate: %.3f\n\tmin: %.3fs max: %.3fs std dev: %.5fs window: %zu\n",
                  1.0 / mean, min, max, std::sqrt(variance / gaps_s.size()), gaps_s.size() + 1);
      std::fflush(stdout);
      printed = true;
    }
    if (options.duration_s > 0 &&
        std::chrono::duration<double>(Clock::now() - start).count() >= options.duration_s) {
      break;
    }
  }
  return printed ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  try {
    options = parseOptions(argc, argv);
  } catch (const std::invalid_argument& error) {
    std::cerr << "velmora_topic: " << error.what() << "\n" << kUsage;
    return 2;
  }
  std::signal(SIGINT, [](int) { g_interrupted.store(true); });
  try {
    auto participant =
        std::make_shared<rclcpp::detail::DdsParticipant>(rclcpp::detail::ros_domain_id());
    if (options.command == "list") return list(participant, options);
    if (options.command == "echo") return echo(participant, options);
    return hz(participant, options);
  } catch (const std::exception& error) {
    std::cerr << "velmora_topic: " << error.what() << "\n";
    return 1;
  }
}
