// The naming rules for topics, nodes and namespaces.

#include <stdexcept>

#include "Ros2TestSupport.h"

namespace {

using namespace velmora_test;

class Names : public RosTest {};

TEST_F(Names, InvalidNamesAreRejectedNamingTheNameTheRuleAndThePosition) {
  const std::vector<std::tuple<std::string, std::string, size_t>> cases = {
      {"", "must not be empty", 0},
      {"robot/", "must not end with a forward slash", 5},
      {"a//b", "repeated forward slashes", 2},
      {"a-b", "characters other than alphanumerics", 1},
      {"{unknown}/x", "unknown substitution '{unknown}'", 0},
      {std::string(250, 'a'), "must not exceed 247 characters", 247},
  };
  auto node = std::make_shared<rclcpp::Node>("ctrl", "/robot");
  for (const auto& [topic, rule, invalid_index] : cases) {
    try {
      node->create_publisher<Header>(topic, 1);
      ADD_FAILURE() << "accepted '" << topic << "'";
    } catch (const rclcpp::exceptions::InvalidTopicNameError& e) {
      EXPECT_NE(std::string(e.what()).find("'" + topic + "'"), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(rule), std::string::npos) << e.what();
      EXPECT_EQ(e.invalid_index, invalid_index) << e.what();
    }
    EXPECT_THROW(node->create_subscription<Header>(topic, 1, [](const Header&) {}),
                 std::invalid_argument);
  }
  EXPECT_THROW(rclcpp::Node("my-node"), rclcpp::exceptions::InvalidNodeNameError);
  EXPECT_THROW(rclcpp::Node("n", "/robot/"), rclcpp::exceptions::InvalidNamespaceError);
}

}  // namespace
