#include "sim/LockstepForceOptimization.h"

#include <chrono>
#include <cmath>
#include <exception>
#include <utility>
#include <vector>

namespace velmora {
namespace sim {

std::shared_ptr<ModeSchedule> advancedSchedule(const ModeSchedule& schedule, double lead_s) {
  const double duration = schedule.duration();
  const double lead = lead_s / duration;  // as a phase
  std::vector<double> phases{0.0};
  std::vector<size_t> modes{schedule.getModeFromPhase(lead)};
  const std::vector<double>& events = schedule.eventPhases();
  for (size_t i = 1; i + 1 < events.size(); ++i) {
    if (events[i] <= lead) continue;
    phases.push_back(events[i] - lead);
    modes.push_back(schedule.modeSequence()[i]);
  }
  phases.push_back(1.0);
  return std::make_shared<ModeSchedule>(duration, phases, modes);
}

LockstepForceOptimization::LockstepForceOptimization(std::shared_ptr<ModelInfo> info,
                                                     std::shared_ptr<PinocchioInterface> model,
                                                     const std::string& params_file)
    : context_(std::make_shared<rclcpp::Context>()) {
  // A context of its own: the run's thread sets this clock to the start of each horizon while
  // the run's own /clock moves on.
  const char* argv[] = {"velmora_sim"};
  context_->init(1, argv);
  node_ = std::make_shared<rclcpp::Node>("velmora_sim_lockstep_force",
                                         rclcpp::NodeOptions().context(context_));
  node_->set_parameter(rclcpp::Parameter("use_sim_time", true));
  clock_pub_ = node_->create_publisher<rosgraph_msgs::msg::Clock>("/clock", rclcpp::QoS(10));
  optimizer_ = std::make_unique<ContactForceOptimization>(node_, std::move(info), std::move(model));
  optimizer_->loadParamsSetting(params_file, false);
}

void LockstepForceOptimization::start(double horizon_start_s, const vector_t& qpos,
                                      const vector_t& qvel,
                                      std::shared_ptr<const TrajectoriesBuffer> references,
                                      const ModeSchedule& schedule, double schedule_start_s) {
  if (worker_.pending()) {
    throw std::logic_error(
        "LockstepForceOptimization::start: the previous cycle was not collected");
  }
  rosgraph_msgs::msg::Clock now;
  now.clock = rclcpp::Time(static_cast<int64_t>(std::llround(horizon_start_s * 1e9)));
  clock_pub_->publish(now);
  cycle_ = ForceOptimizationCycle{};
  worker_.start([this, qpos = std::make_shared<vector_t>(qpos),
                 qvel = std::make_shared<vector_t>(qvel), references = std::move(references),
                 schedule = advancedSchedule(schedule, horizon_start_s - schedule_start_s)] {
    const auto begin = std::chrono::steady_clock::now();
    try {
      optimizer_->update_state(qpos, qvel);
      optimizer_->update_trajectory_reference(references);
      optimizer_->update_mode_schedule(schedule);
      cycle_.law = optimizer_->optimize();
    } catch (const std::exception& error) {
      cycle_.threw = true;
      cycle_.error = error.what();
    }
    cycle_.ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin).count();
  });
}

ForceOptimizationCycle LockstepForceOptimization::collect() {
  worker_.wait();
  return std::move(cycle_);
}

}  // namespace sim
}  // namespace velmora
