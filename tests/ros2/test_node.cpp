// Nodes: the naming rules and parameters.

#include <stdexcept>

#include "Ros2TestSupport.h"

namespace {

using namespace velmora_test;

class Node : public RosTest {};

TEST_F(Node, InvalidNamesAreRejectedNamingTheNameTheRuleAndThePosition) {
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

TEST_F(Node, ParametersKeepTheirDeclaredTypes) {
  auto node = std::make_shared<rclcpp::Node>(
      "node", rclcpp::NodeOptions().parameter_overrides({rclcpp::Parameter("gain", 2.5)}));
  EXPECT_DOUBLE_EQ(node->declare_parameter("gain", 1.0), 2.5);  // the override wins
  EXPECT_THROW(node->declare_parameter("gain", 1.0),
               rclcpp::exceptions::ParameterAlreadyDeclaredException);
  EXPECT_THROW(node->get_parameter("missing"), rclcpp::exceptions::ParameterNotDeclaredException);
  const auto wrong = node->set_parameter(rclcpp::Parameter("gain", "four"));
  EXPECT_FALSE(wrong.successful);
  EXPECT_EQ(wrong.reason,
            "Wrong parameter type, parameter {gain} is of type {double}, setting it to {string} "
            "is not allowed.");
  EXPECT_TRUE(node->set_parameter(rclcpp::Parameter("gain", 4.0)).successful);
  EXPECT_DOUBLE_EQ(node->get_parameter("gain").as_double(), 4.0);
}

}  // namespace
