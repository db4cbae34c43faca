// The receiving side of BM_DdsActuatorCmdsRoundTrip, a process of its own: subscribes to
// ActuatorCmds on <topic> (reliable), measures for each the time from its stamp (the publisher's
// CLOCK_MONOTONIC, shared by all processes of the host) to its delivery into the callback, and
// on the message with frame_id "end" prints
//   received <n> median_us <m> p99_us <p> cpu_us <c>
// where c is this process's CPU time (user + system) while receiving. Usage:
//   dds_latency_peer <topic>      (DDS selected by the environment)

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <vector>

#include "ProcessCpuTime.h"
#include "communication/msg/actuator_cmds.hpp"
#include "rclcpp/rclcpp.hpp"

namespace {

double monotonicSeconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <topic>\n", argv[0]);
    return 2;
  }
  rclcpp::init(argc, argv);
  auto node = std::make_shared<rclcpp::Node>("dds_latency_peer");
  std::vector<double> latencies_us;
  latencies_us.reserve(100000);
  double cpu_start = -1.0;
  auto subscription = node->create_subscription<communication::msg::ActuatorCmds>(
      argv[1], rclcpp::QoS(100).reliable(), [&](const communication::msg::ActuatorCmds& message) {
        const double sent = message.header.stamp.sec + 1e-9 * message.header.stamp.nanosec;
        if (message.header.frame_id == "end") {
          std::sort(latencies_us.begin(), latencies_us.end());
          const size_t n = latencies_us.size();
          std::printf("received %zu median_us %.1f p99_us %.1f cpu_us %.0f\n", n,
                      n ? latencies_us[n / 2] : 0.0, n ? latencies_us[n * 99 / 100] : 0.0,
                      1e6 * (velmora::bench::processCpuSeconds() - cpu_start));
          std::fflush(stdout);
          rclcpp::shutdown();
          return;
        }
        if (cpu_start < 0) cpu_start = velmora::bench::processCpuSeconds();
        latencies_us.push_back(1e6 * (monotonicSeconds() - sent));
      });
  rclcpp::spin(node);
  return 0;
}
