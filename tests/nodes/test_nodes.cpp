// The plant and host nodes: their message checks, and the host's reaction to losing
// joint_states with both nodes in one process (in-process transport, wall-clock time).

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>

#include "BundledRobot.h"
#include "nodes/HostNode.h"
#include "nodes/PlantNode.h"
#include "nodes/StateMessages.h"

namespace velmora::nodes {
namespace {

using Clock = std::chrono::steady_clock;

const std::vector<std::string> kJoints{"a", "b", "c"};

sensor_msgs::msg::JointState threeJoints() {
  vector_t qpos(10), qvel(9), effort(3);
  qpos << 0, 0, 0.3, 0, 0, 0, 1, 0.1, 0.2, 0.3;
  qvel << 0, 0, 0, 0, 0, 0, 1.0, 2.0, 3.0;
  effort << 5, 6, 7;
  return toJointState(kJoints, qpos, qvel, effort, builtin_interfaces::msg::Time());
}

TEST(StateMessages, JointsAreMatchedByNameInAnyOrder) {
  sensor_msgs::msg::JointState message = threeJoints();
  std::reverse(message.name.begin(), message.name.end());
  std::reverse(message.position.begin(), message.position.end());
  std::reverse(message.velocity.begin(), message.velocity.end());
  const JointVectors joints = readJointState(message, kJoints);
  EXPECT_TRUE(joints.position.isApprox(Eigen::Vector3d(0.1, 0.2, 0.3)));
  EXPECT_TRUE(joints.velocity.isApprox(Eigen::Vector3d(1.0, 2.0, 3.0)));
}

struct BadJointState {
  const char* what;  ///< the case name
  void (*spoil)(sensor_msgs::msg::JointState&);
  const char* named;  ///< the error names this field or joint
};

void PrintTo(const BadJointState& state, std::ostream* out) { *out << state.what; }

class JointStateErrors : public ::testing::TestWithParam<BadJointState> {};

TEST_P(JointStateErrors, NameTheTopicAndTheField) {
  sensor_msgs::msg::JointState message = threeJoints();
  GetParam().spoil(message);
  try {
    readJointState(message, kJoints);
    FAIL() << GetParam().what << " accepted";
  } catch (const std::invalid_argument& error) {
    const std::string text = error.what();
    EXPECT_NE(text.find("joint_states"), std::string::npos) << text;
    EXPECT_NE(text.find(GetParam().named), std::string::npos) << text;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JointStateErrors,
    ::testing::Values(
        BadJointState{"UnknownJoint", [](auto& m) { m.name[1] = "z"; }, "'z'"},
        BadJointState{"MissingJoint",
                      [](auto& m) {
                        m.name.pop_back();
                        m.position.pop_back();
                        m.velocity.pop_back();
                      },
                      "'c'"},
        BadJointState{"JointTwice", [](auto& m) { m.name[2] = "a"; }, "twice"},
        BadJointState{"ShortPosition", [](auto& m) { m.position.pop_back(); }, "position"},
        BadJointState{"NaNVelocity", [](auto& m) { m.velocity[1] = NAN; }, "velocity of 'b'"}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(StateMessages, OdometryWithNaNOrNoRotationIsRefused) {
  for (const Eigen::Index spoiled : {-1, 6, 7 + 4}) {  // none, orientation.w, angular.y
    vector_t base(13), qpos, qvel;
    base << 0, 0, 0.3, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0;
    if (spoiled >= 0) base(spoiled) = spoiled == 6 ? 0.0 : NAN;
    const auto message = toOdometry(base.head(7), base.tail(6), builtin_interfaces::msg::Time());
    if (spoiled < 0) {
      EXPECT_NO_THROW(readOdometry(message, qpos, qvel));
    } else {
      EXPECT_THROW(readOdometry(message, qpos, qvel), std::invalid_argument);
    }
  }
}

/// True when `message` carries neither stiffness nor torque (the host's safe command).
bool torqueFree(const communication::msg::ActuatorCmds& message) {
  for (size_t j = 0; j < message.kp.size(); ++j) {
    if (message.kp[j] != 0.0f || message.torque[j] != 0.0f) return false;
  }
  return true;
}

/// A node of the process's ROS 2 context (initialised on first use).
std::shared_ptr<rclcpp::Node> makeNode(const char* name) {
  if (!rclcpp::ok()) {
    const char* argv[] = {"test_nodes"};
    rclcpp::init(1, argv);
  }
  return std::make_shared<rclcpp::Node>(name);
}

/// Both nodes and an observer in one process; the plant can be stopped and restarted.
class PlantAndHost : public ::testing::Test {
 protected:
  PlantAndHost() {
    PlantNodeConfig plant_config{
        test::kestrelFile("robot.urdf"), test::kestrelFile("description.info"), {}};
    HostNodeConfig host_config{plant_config.robot_urdf, plant_config.robot_description,
                               test::kestrelFile("params.info"), "trot"};
    plant_ = std::make_unique<PlantNode>(plant_node_, plant_config);
    host_ = std::make_unique<HostNode>(host_node_, host_config);
    const rclcpp::QoS qos = rclcpp::QoS(rclcpp::KeepLast(100)).best_effort();
    joint_state_sub_ = observer_->create_subscription<sensor_msgs::msg::JointState>(
        "joint_states", qos, [this](std::shared_ptr<const sensor_msgs::msg::JointState>) {
          std::lock_guard<std::mutex> lock(mutex_);
          last_joint_state_ = Clock::now();
        });
    command_sub_ = observer_->create_subscription<communication::msg::ActuatorCmds>(
        "actuators_cmds", qos,
        [this](std::shared_ptr<const communication::msg::ActuatorCmds> message) {
          std::lock_guard<std::mutex> lock(mutex_);
          commands_.emplace_back(Clock::now(), torqueFree(*message));
        });
    for (const auto& node : {plant_node_, host_node_, observer_}) executor_.add_node(node);
    spinner_ = std::thread([this] { executor_.spin(); });
    host_thread_ = std::thread([this] { host_->run(stop_host_); });
  }
  ~PlantAndHost() override {
    stop_host_ = true;
    host_thread_.join();
    host_.reset();
    executor_.cancel();
    spinner_.join();
  }
  /// Runs the plant for `seconds` of wall-clock time.
  void runPlant(double seconds) {
    std::atomic<bool> stop{false};
    std::thread plant([&] { plant_->run(stop); });
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    stop = true;
    plant.join();
  }

  std::shared_ptr<rclcpp::Node> plant_node_ = makeNode("plant");
  std::shared_ptr<rclcpp::Node> host_node_ = makeNode("host");
  std::shared_ptr<rclcpp::Node> observer_ = makeNode("observer");
  std::unique_ptr<PlantNode> plant_;
  std::unique_ptr<HostNode> host_;
  std::shared_ptr<rclcpp::Subscription<sensor_msgs::msg::JointState>> joint_state_sub_;
  std::shared_ptr<rclcpp::Subscription<communication::msg::ActuatorCmds>> command_sub_;
  rclcpp::executors::SingleThreadedExecutor executor_;
  std::thread spinner_, host_thread_;
  std::atomic<bool> stop_host_{false};
  std::mutex mutex_;
  Clock::time_point last_joint_state_;
  std::vector<std::pair<Clock::time_point, bool>> commands_;  ///< arrival, torque-free
};

TEST_F(PlantAndHost, TorquesStopWithin50msOfLosingJointStatesAndResume) {
  const auto live_after = [this](Clock::time_point from) {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::count_if(commands_.begin(), commands_.end(),
                         [from](const auto& c) { return c.first > from && !c.second; });
  };
  runPlant(1.5);
  Clock::time_point lost;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    lost = last_joint_state_;
  }
  ASSERT_GT(live_after(Clock::time_point()), 100) << "the host never sent torques";
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  // Nothing with stiffness or torque later than 50 ms after the last joint_states.
  EXPECT_EQ(live_after(lost + std::chrono::milliseconds(50)), 0);
  const auto resumed = Clock::now();
  runPlant(0.5);
  EXPECT_GT(live_after(resumed), 50) << "torques did not resume with joint_states";
}

TEST_F(PlantAndHost, PlantRefusesACommandNamingAnUnknownJointAndGoesOn) {
  auto publisher = observer_->create_publisher<communication::msg::ActuatorCmds>(
      "actuators_cmds", rclcpp::QoS(rclcpp::KeepLast(10)));
  std::atomic<bool> stop{false};
  std::thread plant([&] { plant_->run(stop); });
  communication::msg::ActuatorCmds bad;
  bad.actuators_name.push_back("no_such_joint");
  for (auto* field : {&bad.kp, &bad.pos, &bad.kd, &bad.vel, &bad.torque}) field->push_back(1.0f);
  publisher->publish(bad);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const auto after = Clock::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  stop = true;
  plant.join();
  EXPECT_GE(plant_->refusedCommands(), 1u);
  std::lock_guard<std::mutex> lock(mutex_);
  EXPECT_GT(last_joint_state_, after) << "the plant stopped after the refused command";
}

}  // namespace
}  // namespace velmora::nodes
