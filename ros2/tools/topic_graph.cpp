#include "topic_graph.hpp"

#include <dds/dds.h>

#include <thread>
#include <utility>

namespace velmora_topic {

TopicGraph::TopicGraph(std::shared_ptr<rclcpp::detail::DdsParticipant> participant)
    : participant_(std::move(participant)) {}

std::map<std::string, std::set<std::string>> TopicGraph::discover(
    std::chrono::milliseconds duration) {
  std::map<std::string, std::set<std::string>> topics;
  const dds_entity_t readers[] = {
      dds_create_reader(participant_->handle(), DDS_BUILTIN_TOPIC_DCPSPUBLICATION, nullptr,
                        nullptr),
      dds_create_reader(participant_->handle(), DDS_BUILTIN_TOPIC_DCPSSUBSCRIPTION, nullptr,
                        nullptr)};
  const auto end = std::chrono::steady_clock::now() + duration;
  do {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    for (const dds_entity_t reader : readers) {
      void* samples[32] = {};
      dds_sample_info_t infos[32];
      const dds_return_t count = dds_read(reader, samples, infos, 32, 32);
      for (dds_return_t i = 0; i < count; ++i) {
        if (!infos[i].valid_data) continue;
        const auto* endpoint = static_cast<const dds_builtintopic_endpoint_t*>(samples[i]);
        const std::string dds_topic = endpoint->topic_name;
        if (dds_topic.rfind("rt/", 0) != 0) continue;
        topics[dds_topic.substr(2)].insert(endpoint->type_name);
      }
      if (count > 0) dds_return_loan(reader, samples, count);
    }
  } while (std::chrono::steady_clock::now() < end);
  for (const dds_entity_t reader : readers) dds_delete(reader);
  return topics;
}

std::string interface_name(const std::string& dds_type_name) {
  const std::string marker = "::msg::dds_::";
  const size_t at = dds_type_name.find(marker);
  if (at == std::string::npos || dds_type_name.empty() || dds_type_name.back() != '_') {
    return dds_type_name;
  }
  const std::string message = dds_type_name.substr(at + marker.size());
  return dds_type_name.substr(0, at) + "/msg/" + message.substr(0, message.size() - 1);
}

}  // namespace velmora_topic
