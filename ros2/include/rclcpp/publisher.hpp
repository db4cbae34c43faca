#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <typeindex>

#include "rclcpp/detail/publisher_base.hpp"
#include "rclcpp/macros.hpp"
#include "rclcpp/qos.hpp"
#include "rosidl_runtime_cpp/traits.hpp"

namespace rclcpp {

/// Publishes messages of type `MessageT` on one topic. With the in-process transport every
/// published message reaches each subscription of the topic in this process whose QoS matches,
/// as one shared immutable copy; with the DDS transport it goes out on DDS topic "rt" + topic name
/// to every matching reader, in this process or another.
/// Created by Node::create_publisher. Thread-safe.
template <typename MessageT, typename AllocatorT = std::allocator<void>>
class Publisher : public PublisherBase {
 public:
  RCLCPP_SMART_PTR_DEFINITIONS(Publisher<MessageT, AllocatorT>)

  using MessageUniquePtr = std::unique_ptr<MessageT>;
  using MessageSharedPtr = std::shared_ptr<const MessageT>;

  Publisher(const std::shared_ptr<detail::NodeCore>& node, const std::string& topic_name,
            const QoS& qos)
      : PublisherBase(node, topic_name, qos, std::type_index(typeid(MessageT)),
                      rosidl_generator_traits::name<MessageT>()) {
    attach_dds(rosidl_typesupport_velmora::MessageTypeSupportOf<MessageT>::get());
  }

  /// Publishes a copy of `msg` (through DDS: its serialised form).
  void publish(const MessageT& msg) {
    if (uses_dds()) {
      write_dds(&msg);
    } else {
      deliver(std::make_shared<const MessageT>(msg));
    }
  }

  /// Publishes `msg` without copying; throws std::invalid_argument if it is null.
  void publish(std::unique_ptr<MessageT> msg) {
    if (!msg) {
      throw std::invalid_argument(std::string("cannot publish a null message on '") +
                                  get_topic_name() + "'");
    }
    deliver(std::shared_ptr<const MessageT>(std::move(msg)));
  }
};

}  // namespace rclcpp
