// BM_DdsActuatorCmdsRoundTrip: one ActuatorCmds of 30 joints published (reliable) on this
// process's DDS participant and delivered to a subscription of another process's participant
// over loopback, at 500 Hz. The peer (dds_latency_peer) measures each delivery against the
// publication stamp. Counters: latency median and p99 [us], CPU time per message of the
// publisher (this process) and of the subscriber [us]. Time: the publish call itself.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>

#include "ProcessCpuTime.h"
#include "communication/msg/actuator_cmds.hpp"
#include "dds/CapturedProcess.h"
#include "rclcpp/rclcpp.hpp"

namespace {

using communication::msg::ActuatorCmds;

ActuatorCmds thirtyJointCommand() {
  ActuatorCmds command;
  for (int j = 0; j < 30; ++j) {
    command.actuators_name.push_back("joint_" + std::to_string(j));
    command.kp.push_back(20.0f + j);
    command.pos.push_back(0.1f * j);
    command.kd.push_back(0.5f);
    command.vel.push_back(0.0f);
    command.torque.push_back(-0.2f * j);
  }
  return command;
}

void stampNow(ActuatorCmds& command) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  command.header.stamp.sec = static_cast<int32_t>(now.tv_sec);
  command.header.stamp.nanosec = static_cast<uint32_t>(now.tv_nsec);
}

void BM_DdsActuatorCmdsRoundTrip(::benchmark::State& state) {
  const std::map<std::string, std::string> dds{{"RMW_IMPLEMENTATION", "rmw_cyclonedds_cpp"},
                                               {"ROS_DOMAIN_ID", "231"}};
  for (const auto& [key, value] : dds) setenv(key.c_str(), value.c_str(), 1);
  velmora::dds_test::CapturedProcess peer({DDS_LATENCY_PEER, "/bench_cmds"}, dds);
  rclcpp::init(0, nullptr);
  {
    auto node = std::make_shared<rclcpp::Node>("bench_publisher");
    auto publisher =
        node->create_publisher<ActuatorCmds>("/bench_cmds", rclcpp::QoS(100).reliable());
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (publisher->get_subscription_count() == 0 && std::chrono::steady_clock::now() < give_up) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (publisher->get_subscription_count() == 0) {
      state.SkipWithError("the peer process did not appear");
    }
    ActuatorCmds command = thirtyJointCommand();
    const double cpu_start = velmora::bench::processCpuSeconds();
    auto next = std::chrono::steady_clock::now();
    for (auto _ : state) {
      const auto start = std::chrono::steady_clock::now();
      stampNow(command);
      publisher->publish(command);
      state.SetIterationTime(
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
      next += std::chrono::microseconds(2000);  // 500 Hz
      std::this_thread::sleep_until(next);
    }
    const double publisher_cpu_s = velmora::bench::processCpuSeconds() - cpu_start;
    publisher->wait_for_all_acked(std::chrono::seconds(5));
    command.header.frame_id = "end";
    publisher->publish(command);
    publisher->wait_for_all_acked(std::chrono::seconds(5));
    peer.wait(std::chrono::seconds(10));
    size_t received = 0;
    double median_us = 0, p99_us = 0, peer_cpu_us = 0;
    if (std::sscanf(peer.output().c_str(), "received %zu median_us %lf p99_us %lf cpu_us %lf",
                    &received, &median_us, &p99_us, &peer_cpu_us) != 4) {
      state.SkipWithError(("no figures from the peer: " + peer.output()).c_str());
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["received"] = static_cast<double>(received);
    state.counters["latency_median_us"] = median_us;
    state.counters["latency_p99_us"] = p99_us;
    state.counters["publisher_cpu_us_per_msg"] = 1e6 * publisher_cpu_s / n;
    state.counters["subscriber_cpu_us_per_msg"] = received ? peer_cpu_us / received : 0.0;
  }
  rclcpp::shutdown();
  for (const auto& entry : dds) unsetenv(entry.first.c_str());
}
BENCHMARK(BM_DdsActuatorCmdsRoundTrip)
    ->Iterations(2500)
    ->UseManualTime()
    ->Unit(::benchmark::kMicrosecond);

}  // namespace
