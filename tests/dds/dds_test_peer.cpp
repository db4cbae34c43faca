// A second DDS participant for the transport tests: publishes numbered ActuatorCmds.
//   dds_test_peer <topic> <rate_hz> <count> <joints> <reliable|sensor>
// Waits (up to 10 s) for a subscription, publishes, waits for acknowledgements and prints
// "published <count>". Runs with the DDS transport selected by its environment.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "DdsTestSupport.h"
#include "rclcpp/rclcpp.hpp"

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: %s <topic> <rate_hz> <count> <joints> <reliable|sensor>\n",
                 argv[0]);
    return 2;
  }
  const std::string topic = argv[1];
  const double rate_hz = std::atof(argv[2]);
  const uint32_t count = static_cast<uint32_t>(std::atoi(argv[3]));
  const size_t joints = static_cast<size_t>(std::atoi(argv[4]));
  const bool reliable = std::string(argv[5]) == "reliable";

  rclcpp::init(argc, argv);
  auto node = std::make_shared<rclcpp::Node>("dds_test_peer");
  const rclcpp::QoS qos = reliable ? rclcpp::QoS(200).reliable() : rclcpp::SensorDataQoS();
  auto publisher = node->create_publisher<communication::msg::ActuatorCmds>(topic, qos);
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (publisher->get_subscription_count() == 0 && std::chrono::steady_clock::now() < give_up) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const auto period = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(1.0 / rate_hz));
  auto next = std::chrono::steady_clock::now();
  for (uint32_t i = 0; i < count; ++i) {
    publisher->publish(velmora::dds_test::numberedCommand(i, joints));
    next += period;
    std::this_thread::sleep_until(next);
  }
  publisher->wait_for_all_acked(std::chrono::seconds(5));
  std::printf("published %u\n", count);
  rclcpp::shutdown();
  return 0;
}
