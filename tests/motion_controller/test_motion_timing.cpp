// Report-only measurements (printed, never asserted on timing): the publishing period in the
// steady state, and what loop1's wait for the first commands costs other work on this machine.

#include <gtest/gtest.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <numeric>
#include <thread>
#include <vector>

#include "MotionTestSupport.h"
#include "control/ContactForceOptimization.h"
#include "control/WholeBodyController.h"

namespace velmora::motion_test {
namespace {

double percentile(std::vector<double> values, double p) {
  if (values.empty()) return std::nan("");
  std::sort(values.begin(), values.end());
  const size_t index = static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
  return values[index];
}

double mean(const std::vector<double>& values) {
  return std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(values.size());
}

double processCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

TEST_F(MotionTest, ReportPublishingPeriodInTheSteadyState) {
  CommandListener listener("actuators_cmds");
  auto controller = makeController();
  feedStanding(*controller);
  const auto host = pushStandingState(*controller);  // a host's state stream, as in operation
  ASSERT_TRUE(eventually([&] { return listener.count() >= 100; }));
  listener.clear();
  std::this_thread::sleep_for(3s);
  const auto messages = listener.messages();
  host->pause();
  controller.reset();
  ASSERT_GT(messages.size(), 10u);

  const double wbc_dt_ms = 2.0;
  std::vector<double> periods_ms;
  for (size_t i = 1; i < messages.size(); ++i) {
    periods_ms.push_back(
        1e-6 * static_cast<double>(rclcpp::Time(messages[i].header.stamp).nanoseconds() -
                                   rclcpp::Time(messages[i - 1].header.stamp).nanoseconds()));
  }
  const auto within = std::count_if(periods_ms.begin(), periods_ms.end(), [&](double p) {
    return std::abs(p - wbc_dt_ms) <= 0.1 * wbc_dt_ms;
  });
  std::printf(
      "[report] publishing period (stamps, %zu messages in 3 s, wbc_dt %.3f ms): mean %.4f ms, "
      "median %.4f ms, p5 %.4f ms, p95 %.4f ms, max %.4f ms, within 10%%: %.1f%%\n",
      messages.size(), wbc_dt_ms, mean(periods_ms), percentile(periods_ms, 0.5),
      percentile(periods_ms, 0.05), percentile(periods_ms, 0.95),
      *std::max_element(periods_ms.begin(), periods_ms.end()),
      100.0 * static_cast<double>(within) / static_cast<double>(periods_ms.size()));
}

// Stand-ins for loop2 and loop3 of another controller on the same machine: their own
// optimisers, paced at the configured periods; records every cycle's duration.
struct PacedWorkload {
  std::vector<double> wbc_ms, cfo_ms;
  size_t wbc_late = 0;  // cycles that ended after their period
};

PacedWorkload runPacedWorkload(
    const std::shared_ptr<rclcpp::Node>& node, const std::shared_ptr<ModelInfo>& info,
    const std::shared_ptr<PinocchioInterface>& model, const std::shared_ptr<vector_t>& qpos,
    const std::shared_ptr<vector_t>& qvel, const std::shared_ptr<ModeSchedule>& schedule,
    const std::shared_ptr<const TrajectoriesBuffer>& refs, std::chrono::milliseconds duration) {
  auto cfo = std::make_shared<ContactForceOptimization>(node, info, model);
  cfo->loadParamsSetting(kestrelFile("params.info"), false);
  auto wbc = std::make_shared<WholeBodyController>(node, info, model);
  wbc->loadParamsSetting(kestrelFile("params.info"), false);
  Buffer<std::shared_ptr<CtrlData>> law;
  PacedWorkload result;
  std::atomic<bool> stop{false};
  const auto elapsed_ms = [](auto start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
  };
  std::thread cfo_thread([&] {
    rclcpp::Rate rate(1.0 / cfo->dt());
    while (!stop.load()) {
      const auto start = std::chrono::steady_clock::now();
      cfo->update_state(qpos, qvel);
      cfo->update_trajectory_reference(refs);
      cfo->update_mode_schedule(schedule);
      law.push(cfo->optimize());
      result.cfo_ms.push_back(elapsed_ms(start));
      rate.sleep();
    }
  });
  std::thread wbc_thread([&] {
    rclcpp::Rate rate(1.0 / wbc->dt());
    while (!stop.load()) {
      const auto start = std::chrono::steady_clock::now();
      wbc->update_state(qpos, qvel);
      wbc->update_trajectory_reference(refs);
      wbc->update_mode(schedule->getModeFromPhase(0.0));
      wbc->update_control_data(law.get());
      wbc->optimize();
      result.wbc_ms.push_back(elapsed_ms(start));
      if (result.wbc_ms.back() > 1e3 * wbc->dt()) ++result.wbc_late;
      rate.sleep();
    }
  });
  std::this_thread::sleep_for(duration);
  stop = true;
  cfo_thread.join();
  wbc_thread.join();
  return result;
}

void printWorkload(const char* label, const PacedWorkload& w, double cpu_s, double wall_s) {
  std::printf(
      "[report] %s: process CPU %.2f s in %.2f s wall; WBC cycles %zu (mean %.3f ms, p99 %.3f "
      "ms, max %.3f ms, %zu longer than wbc_dt); CFO cycles %zu (mean %.3f ms, p99 %.3f ms, max "
      "%.3f ms)\n",
      label, cpu_s, wall_s, w.wbc_ms.size(), mean(w.wbc_ms), percentile(w.wbc_ms, 0.99),
      *std::max_element(w.wbc_ms.begin(), w.wbc_ms.end()), w.wbc_late, w.cfo_ms.size(),
      mean(w.cfo_ms), percentile(w.cfo_ms, 0.99),
      *std::max_element(w.cfo_ms.begin(), w.cfo_ms.end()));
}

TEST_F(MotionTest, ReportCostOfWaitingForTheFirstCommands) {
  const auto qpos = standingQpos();
  const auto qvel = zeroQvel();
  const auto schedule = standSchedule();
  const auto refs = holdReferences(0.5);
  const auto measure = [&](const char* label, bool with_waiting_controller) {
    std::unique_ptr<MotionController> controller;
    if (with_waiting_controller) {
      controller = makeController();
      controller->update_current_state(qpos, qvel);  // state, but no schedule: no commands
      std::this_thread::sleep_for(100ms);
    }
    const double cpu0 = processCpuSeconds();
    const auto wall0 = std::chrono::steady_clock::now();
    const auto workload = runPacedWorkload(node, info, model, qpos, qvel, schedule, refs, 3s);
    const double wall_s =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    printWorkload(label, workload, processCpuSeconds() - cpu0, wall_s);
    controller.reset();
  };
  measure("paced CFO + WBC, no controller", false);
  measure("paced CFO + WBC, controller with state and no schedule", true);

  // The waiting controller alone.
  auto controller = makeController();
  controller->update_current_state(qpos, qvel);
  std::this_thread::sleep_for(100ms);
  const double cpu0 = processCpuSeconds();
  std::this_thread::sleep_for(2s);
  std::printf("[report] controller with state and no schedule alone: %.2f CPU s per wall s\n",
              (processCpuSeconds() - cpu0) / 2.0);
}

}  // namespace
}  // namespace velmora::motion_test
