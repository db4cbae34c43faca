#include "nodes/NodeCommandLine.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "core/misc/DataDirectory.h"

namespace velmora {
namespace nodes {

NodeCommandLine parseNodeCommandLine(const std::string& program,
                                     const std::vector<std::string>& args,
                                     const std::vector<std::string>& accepted,
                                     const std::string& robots_dir) {
  NodeCommandLine line;
  const auto accepts = [&accepted](const std::string& flag) {
    return std::find(accepted.begin(), accepted.end(), flag) != accepted.end();
  };
  for (size_t k = 0; k < args.size(); ++k) {
    const std::string& flag = args[k];
    if (!accepts(flag)) throw std::invalid_argument(program + ": unknown flag '" + flag + "'");
    if (k + 1 >= args.size()) throw std::invalid_argument(program + ": " + flag + " needs a value");
    const std::string& value = args[++k];
    if (flag == "--robot-urdf") line.robot_urdf = value;
    if (flag == "--robot-description") line.robot_description = value;
    if (flag == "--params") line.params = value;
    if (flag == "--gait") line.gait = value;
    if (flag == "--terrain") line.terrain = value;
    if (flag == "--friction") line.friction = value;
  }
  const std::string kestrel = robots_dir + "/kestrel/";
  if (line.robot_urdf.empty()) line.robot_urdf = kestrel + "robot.urdf";
  if (line.robot_description.empty()) line.robot_description = kestrel + "description.info";
  if (line.params.empty()) line.params = kestrel + "params.info";
  const std::pair<const char*, const std::string*> files[] = {
      {"--robot-urdf", &line.robot_urdf},
      {"--robot-description", &line.robot_description},
      {"--params", &line.params}};
  for (const auto& [flag, path] : files) {
    if (accepts(flag) && !std::ifstream(*path)) {
      throw std::invalid_argument(program + ": " + flag + ": cannot read '" + *path + "'");
    }
  }
  return line;
}

std::string bundledRobotsDirectory() {
  const std::filesystem::path executable = currentExecutable();
  const auto data = dataDirectoryOf(executable);
  if (data) return (*data / "robots").string();
  return (executable.parent_path() / ".." / "share" / "velmora" / "robots")
      .lexically_normal()
      .string();
}

}  // namespace nodes
}  // namespace velmora
