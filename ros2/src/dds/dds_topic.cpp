#include "dds_topic.hpp"

#include <dds/ddsi/ddsi_sertype.h>

#include <stdexcept>

#include "rclcpp/detail/dds_participant.hpp"
#include "serialized_type.hpp"

namespace rclcpp {
namespace detail {

dds_entity_t create_dds_topic(dds_entity_t participant, const std::string& topic_name,
                              const rosidl_typesupport_velmora::MessageTypeSupport& type_support,
                              const char* endpoint_kind) {
  struct ddsi_sertype* type = make_serialized_type(type_support);
  const dds_entity_t topic = dds_create_topic_sertype(
      participant, dds_topic_name(topic_name).c_str(), &type, nullptr, nullptr, nullptr);
  if (topic < 0) {
    ddsi_sertype_unref(type);
    throw std::runtime_error(std::string("cannot create a ") + endpoint_kind + " of type '" +
                             type_support.interface_name + "' on topic '" + topic_name + "': " +
                             dds_strretcode(topic) + " (does the topic carry another type?)");
  }
  return topic;
}

}  // namespace detail
}  // namespace rclcpp
