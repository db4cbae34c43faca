// Swing optimisation: one receding-horizon step (50 stage builds with a model update each, the
// interior-point solve, the policy) on the bundled robot.

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <rclcpp/rclcpp.hpp>
#include <rosgraph_msgs/msg/clock.hpp>

#include "../tests/BundledRobot.h"
#include "common/TrajectoriesBuffer.h"
#include "control/SwingOptimization.h"
#include "core/trajectory/CubicSplineTrajectory.h"
#include "description/ModelInfoLoader.h"
#include "pinocchio/PinocchioInterface.h"

namespace velmora {
namespace {

using test::kestrelFile;

/// The bundled robot, a node on simulation time and a swing optimiser tracking a 1 s joint
/// reference (every joint on a 0.2 rad, 1 Hz sine around the nominal pose).
class SwingBenchRig {
 public:
  explicit SwingBenchRig(double reference_duration_s)
      : node_((ensureInit(), std::make_shared<rclcpp::Node>("bench_swing"))),
        model_(kestrelFile("robot.urdf")),
        info_(loadModelInfo(kestrelFile("description.info"), model_)),
        swing_(node_, info_, model_) {
    node_->set_parameter(rclcpp::Parameter("use_sim_time", true));
    clock_publisher_ =
        node_->create_publisher<rosgraph_msgs::msg::Clock>("/clock", rclcpp::QoS(10));
    setTime(kStart_s);
    swing_.update_trajectory_reference(makeReferences(reference_duration_s));
  }

  /// One control cycle at time `t_s`: the measured state lags the reference by a small error.
  std::shared_ptr<CtrlData> cycle(double t_s) {
    setTime(t_s);
    const auto nj = static_cast<Eigen::Index>(info_.joints_name.size());
    auto qpos = std::make_shared<vector_t>(vector_t::Zero(7 + nj));
    auto qvel = std::make_shared<vector_t>(vector_t::Zero(6 + nj));
    (*qpos)(2) = 0.3;
    (*qpos)(6) = 1.0;
    qpos->tail(nj) = joints_->evaluate(t_s - 0.01);
    qvel->tail(nj) = joints_->derivative(t_s - 0.01, 1);
    swing_.update_state(qpos, qvel);
    return swing_.optimize();
  }

  void setReferenceDuration(double duration_s) {
    swing_.update_trajectory_reference(makeReferences(duration_s));
  }

  static constexpr double kStart_s = 50.0;

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

  std::shared_ptr<TrajectoriesBuffer> makeReferences(double duration_s) {
    std::vector<scalar_t> times;
    std::vector<vector_t> values;
    for (int j = 0; j <= 20; ++j) {
      const double s = duration_s * j / 20.0;
      vector_t q = info_.joints_nominal_pos;
      for (Eigen::Index i = 0; i < q.size(); ++i) {
        q(i) += 0.2 * std::sin(2.0 * M_PI * s + 0.4 * static_cast<double>(i));
      }
      times.push_back(kStart_s + s);
      values.push_back(q);
    }
    joints_ = std::make_shared<CubicSplineTrajectory>(times, values);
    auto references = std::make_shared<TrajectoriesBuffer>();
    references->set_base_pos_traj(std::make_shared<CubicSplineTrajectory>(
        CubicSplineTrajectory::constant(vector3_t(0, 0, 0.3), kStart_s, kStart_s + duration_s)));
    references->set_base_rpy_traj(std::make_shared<CubicSplineTrajectory>(
        CubicSplineTrajectory::constant(vector3_t::Zero(), kStart_s, kStart_s + duration_s)));
    references->set_joint_pos_traj(joints_);
    return references;
  }

  std::shared_ptr<rclcpp::Node> node_;
  rclcpp::Publisher<rosgraph_msgs::msg::Clock>::SharedPtr clock_publisher_;
  PinocchioInterface model_;
  ModelInfo info_;
  SwingOptimization swing_;
  std::shared_ptr<CubicSplineTrajectory> joints_;
};

// Steady state: N = 50, warm-started, the clock advancing 2 ms per call through the first half
// second of the reference.
void BM_SwingOptimize(::benchmark::State& state) {
  SwingBenchRig rig(1.0);
  double t = SwingBenchRig::kStart_s;
  rig.cycle(t);
  for (auto _ : state) {
    t += 0.002;
    if (t > SwingBenchRig::kStart_s + 0.5) t = SwingBenchRig::kStart_s;
    ::benchmark::DoNotOptimize(rig.cycle(t));
  }
}
BENCHMARK(BM_SwingOptimize)->Unit(::benchmark::kMillisecond);

// The same step when the horizon length changes every call (N = 50, 51, ...): no warm start.
void BM_SwingOptimizeColdStart(::benchmark::State& state) {
  SwingBenchRig rig(1.0);
  double t = SwingBenchRig::kStart_s;
  bool longer = false;
  for (auto _ : state) {
    state.PauseTiming();
    rig.setReferenceDuration(longer ? 1.02 : 1.0);
    longer = !longer;
    state.ResumeTiming();
    t += 0.002;
    if (t > SwingBenchRig::kStart_s + 0.5) t = SwingBenchRig::kStart_s;
    ::benchmark::DoNotOptimize(rig.cycle(t));
  }
}
BENCHMARK(BM_SwingOptimizeColdStart)->Unit(::benchmark::kMillisecond);

}  // namespace
}  // namespace velmora
