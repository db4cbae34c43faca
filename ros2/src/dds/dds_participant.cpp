#include "rclcpp/detail/dds_participant.hpp"

#include <dds/dds.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "dds_loopback_config.hpp"

namespace rclcpp {
namespace detail {
namespace {

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// True if the user asked for traffic beyond this host.
bool user_opted_out_of_loopback() {
  return !environment("CYCLONEDDS_URI").empty() || environment("ROS_LOCALHOST_ONLY") == "0";
}

}  // namespace

bool dds_transport_selected() {
  const std::string rmw = environment("RMW_IMPLEMENTATION");
  if (rmw.empty()) return false;
  if (rmw == "rmw_cyclonedds_cpp") return true;
  throw std::runtime_error("RMW_IMPLEMENTATION='" + rmw +
                           "' is not available: use 'rmw_cyclonedds_cpp' (DDS between processes) "
                           "or leave it unset (in-process)");
}

uint32_t ros_domain_id() {
  const std::string text = environment("ROS_DOMAIN_ID");
  if (text.empty()) return 0;
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || value < 0 || value > 232) {
    throw std::runtime_error("ROS_DOMAIN_ID='" + text + "' is not a domain id (an integer 0..232)");
  }
  return static_cast<uint32_t>(value);
}

const char* dds_loopback_config() {
  // Without the XML declaration: Cyclone takes the configuration as an inline XML fragment.
  static const std::string config = [] {
    const std::string text = dds_loopback_config_text();
    const size_t root = text.find("<CycloneDDS>");
    return root == std::string::npos ? text : text.substr(root);
  }();
  return config.c_str();
}

std::string dds_topic_name(const std::string& ros_topic_name) { return "rt" + ros_topic_name; }

DdsParticipant::DdsParticipant(uint32_t domain_id) : domain_id_(domain_id) {
  if (!user_opted_out_of_loopback()) {
    // The domain lives until the process ends; another context may already have created it.
    const dds_entity_t domain = dds_create_domain(domain_id, dds_loopback_config());
    if (domain < 0 && domain != DDS_RETCODE_PRECONDITION_NOT_MET) {
      throw std::runtime_error("cannot create DDS domain " + std::to_string(domain_id) + ": " +
                               dds_strretcode(domain));
    }
  }
  handle_ = dds_create_participant(domain_id, nullptr, nullptr);
  if (handle_ < 0) {
    throw std::runtime_error("cannot join DDS domain " + std::to_string(domain_id) + ": " +
                             dds_strretcode(handle_));
  }
}

DdsParticipant::~DdsParticipant() { dds_delete(handle_); }

}  // namespace detail
}  // namespace rclcpp
