#pragma once

/// The type support a middleware needs to carry a message type: its names, and functions to
/// create, serialise (XCDR1), deserialise and print type-erased instances. Every generated
/// message header specialises MessageTypeSupportOf for its type.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "rosidl_typesupport_velmora/cdr_reader.hpp"
#include "rosidl_typesupport_velmora/cdr_writer.hpp"

namespace rosidl_typesupport_velmora {

/// Type-erased operations on one message type.
struct MessageTypeSupport {
  /// The interface name, e.g. "communication/msg/ActuatorCmds".
  const char* interface_name;
  /// The DDS type name, e.g. "communication::msg::dds_::ActuatorCmds_".
  const char* dds_type_name;
  /// A default-initialised message.
  std::shared_ptr<void> (*create)();
  /// Writes the complete sample (header, members, padding) of `message` into `buffer`.
  void (*serialize)(const void* message, std::vector<uint8_t>& buffer);
  /// Decodes the sample of `size` bytes at `data` into `message`; throws CdrError.
  void (*deserialize)(const uint8_t* data, size_t size, void* message);
  /// The message as block-style YAML.
  std::string (*to_yaml)(const void* message);
};

/// The type support of `MessageT`; `get()` is null for types without one.
template <typename MessageT>
struct MessageTypeSupportOf {
  static const MessageTypeSupport* get() { return nullptr; }
};

/// The type support of a generated message type (used by the generated specialisations, which
/// also provide the cdr_serialize / cdr_deserialize overloads and to_yaml of `MessageT`).
template <typename MessageT>
MessageTypeSupport make_message_type_support(const char* interface_name,
                                             const char* dds_type_name) {
  MessageTypeSupport type_support{};
  type_support.interface_name = interface_name;
  type_support.dds_type_name = dds_type_name;
  type_support.create = []() -> std::shared_ptr<void> { return std::make_shared<MessageT>(); };
  type_support.serialize = [](const void* message, std::vector<uint8_t>& buffer) {
    CdrWriter out(buffer);
    cdr_serialize(out, *static_cast<const MessageT*>(message));
    out.finish();
  };
  type_support.deserialize = [](const uint8_t* data, size_t size, void* message) {
    CdrReader in(data, size);
    cdr_deserialize(in, *static_cast<MessageT*>(message));
  };
  type_support.to_yaml = [](const void* message) {
    return to_yaml(*static_cast<const MessageT*>(message));
  };
  return type_support;
}

}  // namespace rosidl_typesupport_velmora
