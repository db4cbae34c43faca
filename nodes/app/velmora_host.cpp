// velmora_host: the gait planner and the motion controller as a ROS 2 node beside a robot's
// driver. Subscribes joint_states, odom and cmd_vel; the controller publishes actuators_cmds.
// Stops on SIGINT or SIGTERM (exit code 0); exit code 2 for bad flags, robot or parameter
// files, 1 for another error.

#include <iostream>
#include <memory>

#include <rclcpp/rclcpp.hpp>

#include "nodes/HostNode.h"
#include "nodes/NodeCommandLine.h"
#include "nodes/Spinner.h"
#include "nodes/StopRequest.h"
#include "planner/GaitTable.h"

int main(int argc, char** argv) {
  using namespace velmora::nodes;
  const std::vector<std::string> args(argv + 1, argv + argc);
  const StopRequest stop;
  HostNodeConfig config;
  try {
    const NodeCommandLine line = parseNodeCommandLine(
        "velmora_host", args, {"--robot-urdf", "--robot-description", "--params", "--gait"},
        bundledRobotsDirectory());
    config.robot_urdf = line.robot_urdf;
    config.robot_description = line.robot_description;
    config.params = line.params;
    config.gait = line.gait;
    velmora::planner::gaitNamed(config.gait);
  } catch (const std::exception& error) {
    std::cerr << error.what()
              << "\nusage: velmora_host [--robot-urdf FILE] [--robot-description FILE] "
                 "[--params FILE] [--gait NAME]\n";
    return 2;
  }
  rclcpp::init(argc, argv);
  auto node = std::make_shared<rclcpp::Node>("velmora_host");
  std::unique_ptr<HostNode> host;
  try {
    host = std::make_unique<HostNode>(node, config);
  } catch (const std::exception& error) {
    std::cerr << "velmora_host: cannot start the controller with '" << config.robot_urdf << "', '"
              << config.robot_description << "' and '" << config.params << "': " << error.what()
              << '\n';
    return 2;
  }
  try {
    {
      const Spinner spinner(node);
      host->run(stop.requested());
    }
    host.reset();
    rclcpp::shutdown();
  } catch (const std::exception& error) {
    std::cerr << "velmora_host: " << error.what() << '\n';
    return 1;
  }
  return 0;
}
