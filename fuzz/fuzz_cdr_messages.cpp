// Fuzz target: the XCDR1 decoders of the messages a velmora node receives from other processes
// (ActuatorCmds, JointState, Odometry, Twist) on arbitrary bytes. The first byte picks the type,
// the rest is the sample. Each decode either succeeds or is refused with a CdrError; anything
// else (another exception, an overrun, a huge allocation) is a fault. A decoded sample must
// serialise again and decode to the same message.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "communication/msg/actuator_cmds.hpp"
#include "geometry_msgs/msg/twist.hpp"
#include "nav_msgs/msg/odometry.hpp"
#include "sensor_msgs/msg/joint_state.hpp"

namespace {

template <typename MessageT>
void decode(const uint8_t* data, size_t size) {
  const auto* type_support = rosidl_typesupport_velmora::MessageTypeSupportOf<MessageT>::get();
  MessageT message;
  try {
    type_support->deserialize(data, size, &message);
  } catch (const rosidl_typesupport_velmora::CdrError&) {
    return;
  }
  std::vector<uint8_t> again;
  type_support->serialize(&message, again);
  MessageT decoded_again;
  type_support->deserialize(again.data(), again.size(), &decoded_again);
  // NaN payloads compare unequal to themselves; compare the bytes instead.
  std::vector<uint8_t> third;
  type_support->serialize(&decoded_again, third);
  if (third != again) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  switch (data[0] % 4) {
    case 0:
      decode<communication::msg::ActuatorCmds>(data + 1, size - 1);
      break;
    case 1:
      decode<sensor_msgs::msg::JointState>(data + 1, size - 1);
      break;
    case 2:
      decode<nav_msgs::msg::Odometry>(data + 1, size - 1);
      break;
    default:
      decode<geometry_msgs::msg::Twist>(data + 1, size - 1);
      break;
  }
  return 0;
}
