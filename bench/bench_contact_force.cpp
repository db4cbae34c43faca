// Contact force optimisation: one cycle of the body MPC on the bundled robot as the running
// controller calls it (trot, 1 s reference, dt 0.02 s, N = 50), and the cost of building the
// interior-point solver with fresh storage versus a reused workspace.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>
#include <rclcpp/rclcpp.hpp>
#include <rosgraph_msgs/msg/clock.hpp>

#include "../tests/BundledRobot.h"
#include "common/ModeSchedule.h"
#include "common/TrajectoriesBuffer.h"
#include "control/ContactForceOptimization.h"
#include "core/trajectory/CubicSplineTrajectory.h"
#include "description/ModelInfoLoader.h"
#include "ocp_qp/OcpQpIpmSolver.h"
#include "pinocchio/PinocchioInterface.h"

namespace velmora {
namespace {

using test::kestrelFile;

/// The bundled robot standing, a node on simulation time and a contact force optimiser. Each
/// `cycle(i)` is period i of the running controller: the clock advanced by i periods, a trot
/// schedule shifted by i periods (phase 0 = now), references starting now, and a measured state
/// perturbed randomly around the standing pose.
class ContactForceBenchRig {
 public:
  static constexpr double kStart_s = 50.0;
  static constexpr double kPeriod_s = 0.02;
  static constexpr double kHorizon_s = 1.01;  // N = 50 (the truncation drops the extra 0.01 s)
  static constexpr int kReferenceRing = 50;   // one second of references
  static constexpr int kStateRing = 97;       // coprime with the reference ring

  ContactForceBenchRig()
      : node_((ensureInit(), std::make_shared<rclcpp::Node>("bench_contact_force"))),
        model_(std::make_shared<PinocchioInterface>(kestrelFile("robot.urdf"))),
        info_(
            std::make_shared<ModelInfo>(loadModelInfo(kestrelFile("description.info"), *model_))) {
    node_->set_parameter(rclcpp::Parameter("use_sim_time", true));
    clock_publisher_ =
        node_->create_publisher<rosgraph_msgs::msg::Clock>("/clock", rclcpp::QoS(10));
    setTime(kStart_s);

    const auto nj = model_->Nq() - 7;
    vector_t qpos = vector_t::Zero(model_->Nq());
    qpos.head<3>() = info_->base_init_pos;
    qpos.segment<4>(3) = info_->base_init_quat;
    qpos.tail(nj) = info_->joints_init_pos;
    model_->updateRobotState(qpos, vector_t::Zero(model_->Nv()));
    base_pos_ = model_->getFramePose(info_->base_name).translation();
    for (const auto& foot : info_->foot_name) {
      foot_pos_.push_back(model_->getFramePose(foot).translation());
    }

    std::mt19937 rng(7);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    for (int i = 0; i < kStateRing; ++i) {
      auto q = std::make_shared<vector_t>(qpos);
      auto v = std::make_shared<vector_t>(vector_t::Zero(model_->Nv()));
      for (int j = 0; j < 3; ++j) (*q)(j) += 0.002 * unit(rng);
      const vector3_t rpy(0.01 * unit(rng), 0.01 * unit(rng), 0.01 * unit(rng));
      q->segment<4>(3) = (Eigen::AngleAxisd(rpy.z(), Eigen::Vector3d::UnitZ()) *
                          Eigen::AngleAxisd(rpy.y(), Eigen::Vector3d::UnitY()) *
                          Eigen::AngleAxisd(rpy.x(), Eigen::Vector3d::UnitX()))
                             .coeffs();
      for (int j = 0; j < 3; ++j) (*v)(j) = 0.05 * unit(rng);
      for (int j = 3; j < 6; ++j) (*v)(j) = 0.1 * unit(rng);
      states_.push_back({q, v});
    }
    for (int i = 0; i < kReferenceRing; ++i) {
      references_.push_back(makeReferences(kStart_s + kPeriod_s * i));
      schedules_.push_back(makeTrotSchedule(i));
    }

    optimizer_ = std::make_shared<ContactForceOptimization>(node_, info_, model_);
    std::ostringstream quiet;  // the bundled file lists only the weight's diagonal: a warning
    auto* old = std::cerr.rdbuf(quiet.rdbuf());
    optimizer_->loadParamsSetting(kestrelFile("params.info"), false);
    std::cerr.rdbuf(old);
  }

  /// Period i of the running controller: the worker loop's three updates and optimize().
  std::shared_ptr<CtrlData> cycle(int64_t i) {
    const int r = static_cast<int>(i % kReferenceRing);
    setTime(kStart_s + kPeriod_s * r);
    const auto& [qpos, qvel] = states_[static_cast<size_t>(i % kStateRing)];
    optimizer_->update_state(qpos, qvel);
    optimizer_->update_trajectory_reference(references_[static_cast<size_t>(r)]);
    optimizer_->update_mode_schedule(schedules_[static_cast<size_t>(r)]);
    return optimizer_->optimize();
  }

  const ContactForceOptimization& optimizer() const { return *optimizer_; }

 private:
  static int ensureInit() {
    if (!rclcpp::ok()) rclcpp::init(0, nullptr);
    return 0;
  }

  void setTime(double t_s) {
    rosgraph_msgs::msg::Clock msg;
    msg.clock = rclcpp::Time(static_cast<int64_t>(std::llround(t_s * 1e9)), RCL_ROS_TIME);
    clock_publisher_->publish(msg);
  }

  /// Constant references over kHorizon_s from `t0_s`: base standing, feet where they stand.
  std::shared_ptr<TrajectoriesBuffer> makeReferences(double t0_s) const {
    const auto constant = [&](const vector3_t& value) {
      return std::make_shared<CubicSplineTrajectory>(
          CubicSplineTrajectory::constant(vector_t(value), t0_s, t0_s + kHorizon_s));
    };
    auto references = std::make_shared<TrajectoriesBuffer>();
    references->set_base_pos_traj(constant(base_pos_));
    references->set_base_rpy_traj(constant(vector3_t::Zero()));
    std::map<std::string, std::shared_ptr<CubicSplineTrajectory>> feet;
    for (size_t i = 0; i < foot_pos_.size(); ++i)
      feet[info_->foot_name[i]] = constant(foot_pos_[i]);
    references->set_foot_pos_traj(feet);
    return references;
  }

  /// Trot of 0.5 s cycle (FL + RR, then FR + RL, 0.25 s each) over the 1 s horizon, started
  /// `period` controller periods into the gait. Times in units of 0.01 s to keep events exact.
  static std::shared_ptr<ModeSchedule> makeTrotSchedule(int period) {
    constexpr int kSegment = 25, kSpan = 100;
    const int offset = (2 * period) % (2 * kSegment);
    std::vector<double> phases{0.0};
    std::vector<size_t> modes;
    for (int t = 0; t < kSpan;) {
      const int segment = (t + offset) / kSegment;
      modes.push_back(segment % 2 == 0 ? 9 : 6);
      t = std::min(kSpan, (segment + 1) * kSegment - offset);
      phases.push_back(static_cast<double>(t) / kSpan);
    }
    return std::make_shared<ModeSchedule>(kSpan * 0.01, phases, modes);
  }

  std::shared_ptr<rclcpp::Node> node_;
  rclcpp::Publisher<rosgraph_msgs::msg::Clock>::SharedPtr clock_publisher_;
  std::shared_ptr<PinocchioInterface> model_;
  std::shared_ptr<ModelInfo> info_;
  vector3_t base_pos_;
  std::vector<vector3_t> foot_pos_;
  std::vector<std::pair<std::shared_ptr<vector_t>, std::shared_ptr<vector_t>>> states_;
  std::vector<std::shared_ptr<const TrajectoriesBuffer>> references_;
  std::vector<std::shared_ptr<ModeSchedule>> schedules_;
  std::shared_ptr<ContactForceOptimization> optimizer_;
};

/// Median of `samples` (copied).
double median(std::vector<double> samples) {
  std::nth_element(samples.begin(), samples.begin() + samples.size() / 2, samples.end());
  return samples[samples.size() / 2];
}

// One period of the running controller: update_state, update_trajectory_reference,
// update_mode_schedule and optimize (N = 50, warm-started while N stays 50). Counters: the
// per-call median and 99th percentile and the mean interior-point iterations.
void BM_ContactForceOptimize(::benchmark::State& state) {
  ContactForceBenchRig rig;
  int64_t period = 0;
  if (!rig.cycle(period++) || rig.optimizer().ocp().size() != 51) {
    state.SkipWithError("the first cycle did not solve a 50-step horizon");
    return;
  }
  std::vector<double> call_ms;
  double iterations = 0.0;
  int64_t failures = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const auto law = rig.cycle(period++);
    const auto stop = std::chrono::steady_clock::now();
    ::benchmark::DoNotOptimize(law);
    failures += law == nullptr;
    iterations += rig.optimizer().solver_iterations();
    call_ms.push_back(std::chrono::duration<double, std::milli>(stop - start).count());
  }
  const auto calls = static_cast<double>(call_ms.size());
  std::sort(call_ms.begin(), call_ms.end());
  state.counters["median_ms"] = median(call_ms);
  state.counters["p99_ms"] = call_ms[static_cast<size_t>(0.99 * (calls - 1))];
  state.counters["ipm_iter"] = iterations / calls;
  state.counters["failures"] = static_cast<double>(failures);
}
BENCHMARK(BM_ContactForceOptimize)->Unit(::benchmark::kMillisecond)->Repetitions(3);

// Building the interior-point solver for the N = 50 trot problem: state.range(0) = 0 gives it
// fresh storage every time, 1 reuses one workspace across builds (as optimize() does).
void BM_ContactForceSolverConstruction(::benchmark::State& state) {
  ContactForceBenchRig rig;
  rig.cycle(0);
  const auto& ocp = rig.optimizer().ocp();
  const auto& settings = rig.optimizer().settings();
  ocp_qp::OcpQpIpmWorkspace workspace;
  const bool reuse = state.range(0) == 1;
  for (auto _ : state) {
    if (reuse) {
      ocp_qp::OcpQpIpmSolver solver(ocp, settings, workspace);
      ::benchmark::DoNotOptimize(&solver);
    } else {
      ocp_qp::OcpQpIpmSolver solver(ocp, settings);
      ::benchmark::DoNotOptimize(&solver);
    }
  }
}
BENCHMARK(BM_ContactForceSolverConstruction)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("reuse_workspace")
    ->Unit(::benchmark::kMicrosecond);

}  // namespace
}  // namespace velmora
