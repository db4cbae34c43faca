// velmora_topic against a peer process publishing numbered commands at 100 Hz: it lists the
// topic with its type, prints a sample whose values read back exactly, measures the rate, and
// names a topic it cannot find.

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "CapturedProcess.h"
#include "DdsTestSupport.h"

namespace velmora::dds_test {
namespace {

using namespace std::chrono_literals;

// The block-style YAML list under `key:` in `yaml`, as text.
std::vector<std::string> yamlList(const std::string& yaml, const std::string& key) {
  std::istringstream lines(yaml);
  std::vector<std::string> items;
  bool inside = false;
  for (std::string line; std::getline(lines, line);) {
    if (line == key + ":") {
      inside = true;
    } else if (inside && line.rfind("- ", 0) == 0) {
      items.push_back(line.substr(2));
    } else if (inside) {
      break;
    }
  }
  return items;
}

TEST(VelmoraTopic, ListsEchoesAndMeasuresAPeersTopic) {
  const std::map<std::string, std::string> dds{{"RMW_IMPLEMENTATION", "rmw_cyclonedds_cpp"},
                                               {"ROS_DOMAIN_ID", std::to_string(testDomainId())}};
  CapturedProcess peer({DDS_TEST_PEER, "/topic_cmds", "100", "700", "2", "reliable"}, dds);

  // echo subscribes, which starts the peer's publications.
  CapturedProcess echo({VELMORA_TOPIC, "echo", "topic_cmds", "--once", "--wait", "1"}, dds);
  ASSERT_EQ(echo.wait(20s), 0) << echo.output();
  const std::string yaml = echo.output();
  EXPECT_EQ(yaml.substr(yaml.size() - 4), "---\n");
  EXPECT_EQ(yamlList(yaml, "actuators_name"),
            (std::vector<std::string>{"\"joint_0\"", "\"joint_1\""}));
  const auto nanosec = yaml.find("nanosec: ");
  ASSERT_NE(nanosec, std::string::npos) << yaml;
  const uint32_t index = std::strtoul(yaml.c_str() + nanosec + 9, nullptr, 10) % 1000000u;
  const ActuatorCmds expected = numberedCommand(index, 2);
  const auto torque = yamlList(yaml, "torque");
  ASSERT_EQ(torque.size(), 2u) << yaml;
  for (size_t j = 0; j < 2; ++j) {
    EXPECT_EQ(std::strtof(torque[j].c_str(), nullptr), expected.torque[j]) << torque[j];
  }

  CapturedProcess list({VELMORA_TOPIC, "list", "-t", "--wait", "1"}, dds);
  ASSERT_EQ(list.wait(10s), 0);
  EXPECT_NE(list.output().find("/topic_cmds [communication/msg/ActuatorCmds]\n"), std::string::npos)
      << list.output();

  CapturedProcess hz({VELMORA_TOPIC, "hz", "/topic_cmds", "--duration", "2", "--wait", "1"}, dds);
  ASSERT_EQ(hz.wait(10s), 0) << hz.output();
  const auto rate_at = hz.output().rfind("average rate: ");
  ASSERT_NE(rate_at, std::string::npos) << hz.output();
  EXPECT_NEAR(std::atof(hz.output().c_str() + rate_at + 14), 100.0, 10.0) << hz.output();

  CapturedProcess missing({VELMORA_TOPIC, "echo", "/no_such_topic", "--wait", "0.5"}, dds);
  EXPECT_EQ(missing.wait(10s), 1);
}

}  // namespace
}  // namespace velmora::dds_test
