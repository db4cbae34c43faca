// velmora_plant: the simulated robot (MuJoCo, real time) as a ROS 2 node. Publishes joint_states
// and odom at 1 kHz, applies actuators_cmds. Stops on SIGINT or SIGTERM (exit code 0); exit code
// 2 for bad flags or robot files, 1 for another error.

#include <iostream>

#include <rclcpp/rclcpp.hpp>

#include "core/misc/Numerics.h"
#include "nodes/NodeCommandLine.h"
#include "nodes/PlantNode.h"
#include "nodes/Spinner.h"
#include "nodes/StopRequest.h"
#include "sim/ScenarioFile.h"

int main(int argc, char** argv) {
  using namespace velmora::nodes;
  const std::vector<std::string> args(argv + 1, argv + argc);
  const StopRequest stop;
  PlantNodeConfig config;
  try {
    const NodeCommandLine line = parseNodeCommandLine(
        "velmora_plant", args, {"--robot-urdf", "--robot-description", "--terrain", "--friction"},
        bundledRobotsDirectory());
    config.robot_urdf = line.robot_urdf;
    config.robot_description = line.robot_description;
    try {
      config.terrain = velmora::sim::parseTerrainSpec(line.terrain);
    } catch (const std::invalid_argument& error) {
      throw std::invalid_argument("velmora_plant: --terrain '" + line.terrain +
                                  "': " + error.what());
    }
    using velmora::sim::kMaxFloorFriction, velmora::sim::kMinFloorFriction;
    const auto friction = velmora::numerics::parseFiniteNumber(line.friction);
    if (!friction || *friction < kMinFloorFriction || *friction > kMaxFloorFriction) {
      throw std::invalid_argument("velmora_plant: --friction expects a number in [" +
                                  velmora::numerics::exactText(kMinFloorFriction) + ", " +
                                  velmora::numerics::exactText(kMaxFloorFriction) + "], got '" +
                                  line.friction + "'");
    }
    config.floor_friction = *friction;
  } catch (const std::exception& error) {
    std::cerr << error.what()
              << "\nusage: velmora_plant [--robot-urdf FILE] [--robot-description FILE] "
                 "[--terrain SPEC] [--friction MU]\n";
    return 2;
  }
  try {
    rclcpp::init(argc, argv);
    auto node = std::make_shared<rclcpp::Node>("velmora_plant");
    PlantNode plant(node, config);
    {
      const Spinner spinner(node);
      plant.run(stop.requested());
    }
    rclcpp::shutdown();
  } catch (const std::exception& error) {
    std::cerr << "velmora_plant: " << error.what() << '\n';
    return 1;
  }
  return 0;
}
