// The DDS transport between processes and within one: delivery guarantees of the QoS profiles,
// refusal of malformed samples, incompatible QoS, the choice of middleware and the network
// confinement of the built-in configuration.

#include <dds/dds.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "CapturedProcess.h"
#include "DdsTestSupport.h"
#include "rclcpp/detail/dds_participant.hpp"
#include "rclcpp/detail/dds_writer.hpp"
#include "rclcpp/rclcpp.hpp"
#include "rosgraph_msgs/msg/clock.hpp"

namespace velmora::dds_test {
namespace {

using namespace std::chrono_literals;

using CommandCollector = MessageCollector<ActuatorCmds>;

bool sameBits(const ActuatorCmds& a, const ActuatorCmds& b) {
  const auto same = [](const auto& x, const auto& y) {
    return x.size() == y.size() && std::memcmp(x.data(), y.data(), x.size() * sizeof(float)) == 0;
  };
  return a.header == b.header && a.actuators_name == b.actuators_name && same(a.kp, b.kp) &&
         same(a.pos, b.pos) && same(a.kd, b.kd) && same(a.vel, b.vel) && same(a.torque, b.torque);
}

struct PeerRun {
  const char* qos_name;
  uint32_t count;
};

void PrintTo(const PeerRun& run, std::ostream* out) { *out << run.qos_name; }

class TwoProcesses : public ::testing::TestWithParam<PeerRun> {};

// 500 Hz of 30-joint commands from a peer process: reliable delivers each once, in order and bit
// for bit; the sensor-data profile may lose some (counted) but never damages or reorders one.
TEST_P(TwoProcesses, CommandsArriveInOrderAndBitForBit) {
  const PeerRun run = GetParam();
  const bool reliable = std::string(run.qos_name) == "reliable";
  const uint32_t domain = testDomainId();
  DdsEnvironment environment(domain);
  CommandCollector collector("/peer_cmds",
                             reliable ? rclcpp::QoS(200).reliable() : rclcpp::SensorDataQoS());
  CapturedProcess peer(
      {DDS_TEST_PEER, "/peer_cmds", "500", std::to_string(run.count), "30", run.qos_name}, {});
  ASSERT_EQ(peer.wait(std::chrono::seconds(run.count / 500 + 20)), 0) << peer.output();
  std::this_thread::sleep_for(200ms);  // the last deliveries reach the executor

  const auto received = collector.received();
  uint32_t previous = 0;
  for (size_t i = 0; i < received.size(); ++i) {
    const uint32_t index = commandIndex(received[i]);
    ASSERT_LT(index, run.count);
    if (i > 0) {
      ASSERT_GT(index, previous) << "reordered or duplicated at sample " << i;
    }
    previous = index;
    ASSERT_TRUE(sameBits(received[i], numberedCommand(index, 30))) << "sample " << index;
  }
  const uint32_t lost = run.count - static_cast<uint32_t>(received.size());
  RecordProperty("lost", static_cast<int>(lost));
  RecordProperty("reported_lost", static_cast<int>(collector.subscription().lost_sample_count()));
  EXPECT_EQ(collector.subscription().refused_sample_count(), 0u);
  if (reliable) {
    EXPECT_EQ(lost, 0u);
  } else {
    EXPECT_GT(received.size(), run.count / 2) << "the sensor-data profile lost most samples";
  }
}

INSTANTIATE_TEST_SUITE_P(DdsTransport, TwoProcesses,
                         ::testing::Values(PeerRun{"reliable", 5000}, PeerRun{"sensor", 1500}),
                         [](const auto& info) { return std::string(info.param.qos_name); });

// A peer sending raw samples of the commands' DDS type: whatever bytes `sample` holds.
struct RawSample {
  std::vector<uint8_t> bytes;
};

rosidl_typesupport_velmora::MessageTypeSupport rawCommandTypeSupport() {
  rosidl_typesupport_velmora::MessageTypeSupport type_support{};
  type_support.interface_name = "communication/msg/ActuatorCmds";
  type_support.dds_type_name = "communication::msg::dds_::ActuatorCmds_";
  type_support.serialize = [](const void* message, std::vector<uint8_t>& buffer) {
    buffer = static_cast<const RawSample*>(message)->bytes;
  };
  return type_support;
}

// The wire form of a command with the given sequence lengths (names and floats).
RawSample commandBytes(size_t names, size_t floats) {
  RawSample sample;
  rosidl_typesupport_velmora::CdrWriter out(sample.bytes);
  out.write(int32_t{1});
  out.write(uint32_t{2});
  out.write_string(std::string("bad"));
  out.write_length(names);
  for (size_t i = 0; i < names; ++i) out.write_string("j" + std::to_string(i));
  const std::vector<float> values(floats, 1.5f);
  for (int field = 0; field < 5; ++field) {
    out.write_length(values.size());
    out.write_array(values.data(), values.size());
  }
  out.finish();
  return sample;
}

TEST(DdsTransport, MalformedSamplesAreRefusedAndTheSubscriptionGoesOn) {
  DdsEnvironment environment(testDomainId());
  CommandCollector collector("/raw_cmds", rclcpp::QoS(10).reliable());
  const auto raw_type = rawCommandTypeSupport();
  rclcpp::detail::DdsWriter writer(std::make_shared<rclcpp::detail::DdsParticipant>(testDomainId()),
                                   "/raw_cmds", rclcpp::QoS(10).reliable(), raw_type);
  const auto give_up = std::chrono::steady_clock::now() + 5s;
  while (writer.matched_subscriptions() == 0 && std::chrono::steady_clock::now() < give_up) {
    std::this_thread::sleep_for(5ms);
  }
  const RawSample too_many = commandBytes(31, 31);
  const RawSample unequal = commandBytes(3, 2);
  const RawSample good = commandBytes(3, 3);
  writer.write(&too_many);
  writer.write(&unequal);
  writer.write(&good);
  ASSERT_TRUE(writer.wait_for_acks(5'000'000'000));
  collector.await(1);
  const auto received = collector.received();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].actuators_name.size(), 3u);
  EXPECT_EQ(received[0].header.frame_id, "bad");
  EXPECT_EQ(collector.subscription().refused_sample_count(), 2u);
}

TEST(DdsTransport, IncompatibleQosIsReportedOnBothSidesAndNothingIsDelivered) {
  DdsEnvironment environment(testDomainId());
  testing::internal::CaptureStderr();
  {
    CommandCollector collector("/qos_cmds", rclcpp::QoS(10).reliable());
    auto node = std::make_shared<rclcpp::Node>("best_effort_talker");
    auto publisher = node->create_publisher<ActuatorCmds>("/qos_cmds", rclcpp::SensorDataQoS());
    for (uint32_t i = 0; i < 20; ++i) {
      publisher->publish(numberedCommand(i, 2));
      std::this_thread::sleep_for(5ms);
    }
    EXPECT_TRUE(collector.received().empty());
    EXPECT_EQ(publisher->get_subscription_count(), 0u);
  }
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find("New subscription discovered on topic '/qos_cmds', requesting incompatible "
                     "QoS. No messages will be sent to it. Last incompatible policy: "
                     "RELIABILITY_QOS_POLICY"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("New publisher discovered on topic '/qos_cmds', offering incompatible QoS. "
                     "No messages will be received from it. Last incompatible policy: "
                     "RELIABILITY_QOS_POLICY"),
            std::string::npos)
      << log;
}

// /clock from another participant drives a use_sim_time node's clock, as in-process.
TEST(DdsTransport, SimulatedTimeFollowsClockFromAnotherParticipant) {
  DdsEnvironment environment(testDomainId());
  rclcpp::init(0, nullptr);
  auto node = std::make_shared<rclcpp::Node>(
      "sim_time_user",
      rclcpp::NodeOptions().parameter_overrides({rclcpp::Parameter("use_sim_time", true)}));
  rclcpp::detail::DdsWriter simulator(
      std::make_shared<rclcpp::detail::DdsParticipant>(testDomainId()), "/clock",
      rclcpp::ClockQoS(),
      *rosidl_typesupport_velmora::MessageTypeSupportOf<rosgraph_msgs::msg::Clock>::get());
  const auto give_up = std::chrono::steady_clock::now() + 5s;
  while (simulator.matched_subscriptions() == 0 && std::chrono::steady_clock::now() < give_up) {
    std::this_thread::sleep_for(5ms);
  }
  rosgraph_msgs::msg::Clock clock;
  for (const int64_t ns : {12'000'000'005LL, 13'500'000'000LL}) {
    clock.clock = rclcpp::Time(ns, RCL_ROS_TIME);
    simulator.write(&clock);
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (node->now().nanoseconds() != ns && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(node->now().nanoseconds(), ns);
  }
  node.reset();
  rclcpp::shutdown();
}

TEST(DdsTransport, UnknownMiddlewareOrDomainIsNamed) {
  const auto init_error = [](const char* variable, const char* value) {
    DdsEnvironment environment(7);
    setenv(variable, value, 1);
    try {
      rclcpp::init(0, nullptr);
    } catch (const std::runtime_error& error) {
      return std::string(error.what());
    }
    rclcpp::shutdown();
    return std::string("no error");
  };
  EXPECT_NE(init_error("RMW_IMPLEMENTATION", "rmw_fastrtps_cpp").find("RMW_IMPLEMENTATION"),
            std::string::npos);
  for (const char* bad_domain : {"abc", "-1", "233", "7x"}) {
    EXPECT_NE(init_error("ROS_DOMAIN_ID", bad_domain).find("ROS_DOMAIN_ID"), std::string::npos)
        << bad_domain;
  }
}

// Cyclone's own address selection, traced under the built-in configuration, picks the loopback
// address and no other, and discovery reaches out to loopback addresses only.
TEST(DdsTransport, BuiltInConfigurationKeepsTrafficOnLoopback) {
  const std::string trace_path =
      ::testing::TempDir() + "/dds_trace_" + std::to_string(getpid()) + ".log";
  const std::string config = std::string(rclcpp::detail::dds_loopback_config()) +
                             ",<Tracing><Category>config,discovery</Category><OutputFile>" +
                             trace_path + "</OutputFile></Tracing>";
  const uint32_t domain = testDomainId();
  const dds_entity_t domain_handle = dds_create_domain(domain, config.c_str());
  ASSERT_GE(domain_handle, 0) << dds_strretcode(domain_handle);
  const dds_entity_t participant = dds_create_participant(domain, nullptr, nullptr);
  ASSERT_GE(participant, 0);
  dds_delete(domain_handle);

  std::ifstream trace(trace_path);
  ASSERT_TRUE(trace.good()) << trace_path;
  // "ownip: udp/127.0.0.1", "selected interfaces: lo (...)", "add_peer_addresses: add udp/..."
  size_t own_addresses = 0;
  for (std::string line; std::getline(trace, line);) {
    const bool own = line.find("ownip:") != std::string::npos;
    if (!own && line.find("add_peer_addresses:") == std::string::npos) continue;
    own_addresses += own;
    std::istringstream words(line);
    for (std::string word; words >> word;) {
      if (word.rfind("udp/", 0) == 0) {
        EXPECT_EQ(word.rfind("udp/127.0.0.1", 0), 0u) << line;
      }
    }
  }
  EXPECT_EQ(own_addresses, 1u) << "no address selection in the trace " << trace_path;
  if (!HasFailure()) std::remove(trace_path.c_str());
}

}  // namespace
}  // namespace velmora::dds_test
