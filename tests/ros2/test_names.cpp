// Topic name resolution and the naming rules, end to end through nodes and publishers.

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "ros_test_support.hpp"
#include "std_msgs/msg/header.hpp"

namespace {

using velmora_test::RosTest;
using Header = std_msgs::msg::Header;

struct Resolution {
  const char* node_namespace;
  const char* node_name;
  std::string topic;
  const char* expected;
};

class Names : public RosTest {};

TEST_F(Names, TopicsResolveAgainstTheNodeNamespaceAsInRos2) {
  const std::string base = "actuators_cmds";
  const std::vector<Resolution> cases = {
      // The controller's topic with the three kinds of prefix.
      {"", "ctrl", "" + base, "/actuators_cmds"},
      {"", "ctrl", "robot/" + base, "/robot/actuators_cmds"},
      {"", "ctrl", "robot" + base, "/robotactuators_cmds"},
      {"/", "ctrl", "/robot/" + base, "/robot/actuators_cmds"},
      // Relative names go below the namespace, absolute ones stay.
      {"/robot", "ctrl", base, "/robot/actuators_cmds"},
      {"robot", "ctrl", base, "/robot/actuators_cmds"},
      {"/a/b", "n", "x/y", "/a/b/x/y"},
      {"/robot", "ctrl", "/clock", "/clock"},
      // Private names.
      {"/robot", "ctrl", "~", "/robot/ctrl"},
      {"/robot", "ctrl", "~/state", "/robot/ctrl/state"},
      {"", "ctrl", "~/state", "/ctrl/state"},
      // Substitutions.
      {"/robot", "ctrl", "{node}/cmd", "/robot/ctrl/cmd"},
      {"/robot", "ctrl", "{ns}/cmd", "/robot/cmd"},
      {"/robot", "ctrl", "/x/{namespace}_cmd", "/x//robot_cmd"},  // invalid, checked below
      {"", "ctrl", "{ns}/cmd", "/cmd"},
      {"/", "leg_3", "~/{node}", "/leg_3/leg_3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.node_namespace) + " | " + c.node_name + " | " + c.topic);
    auto node = std::make_shared<rclcpp::Node>(c.node_name, c.node_namespace);
    if (std::string(c.expected).find("//") != std::string::npos) {
      EXPECT_THROW(node->create_publisher<Header>(c.topic, 1),
                   rclcpp::exceptions::InvalidTopicNameError);
      continue;
    }
    const auto publisher = node->create_publisher<Header>(c.topic, 1);
    EXPECT_STREQ(publisher->get_topic_name(), c.expected);
    EXPECT_EQ(node->count_publishers(c.expected), 1u);
  }
}

TEST_F(Names, APrefixedPublisherReachesOnlyTheMatchingResolvedTopic) {
  auto controller = std::make_shared<rclcpp::Node>("controller");
  auto listener = std::make_shared<rclcpp::Node>("listener", "/robot");
  int in_namespace = 0;
  int glued = 0;
  // Both relative to "/robot": "actuators_cmds" is the namespaced topic.
  auto namespaced = listener->create_subscription<Header>("actuators_cmds", 10,
                                                          [&](const Header&) { ++in_namespace; });
  auto other = listener->create_subscription<Header>("/robotactuators_cmds", 10,
                                                     [&](const Header&) { ++glued; });
  const auto with_slash =
      controller->create_publisher<Header>(std::string("robot/") + "actuators_cmds", 10);
  const auto without_slash =
      controller->create_publisher<Header>(std::string("robot") + "actuators_cmds", 10);
  with_slash->publish(Header());
  with_slash->publish(Header());
  without_slash->publish(Header());
  rclcpp::executors::SingleThreadedExecutor executor;
  executor.add_node(listener);
  executor.spin_all(std::chrono::seconds(1));
  EXPECT_EQ(in_namespace, 2);
  EXPECT_EQ(glued, 1);
}

struct InvalidTopic {
  std::string topic;
  const char* reason_fragment;
  size_t invalid_index;
};

TEST_F(Names, InvalidTopicNamesAreRejectedNamingTheTopicAndTheRule) {
  auto node = std::make_shared<rclcpp::Node>("ctrl", "/robot");
  const std::vector<InvalidTopic> cases = {
      {"", "must not be empty", 0},
      {"robot/", "must not end with a forward slash", 5},
      {"/", "must not end with a forward slash", 0},
      {"a//b", "repeated forward slashes", 2},
      {"1abc", "must not start with a numeric character", 0},
      {"a/1b", "token must not start with a number", 2},
      {"a b", "characters other than alphanumerics", 1},
      {"a-b", "characters other than alphanumerics", 1},
      {"a.b", "characters other than alphanumerics", 1},
      {"~a", "tilde '~' that is not followed by a '/'", 0},
      {"a~", "tilde '~' unless it is the first character", 1},
      {"{node", "unmatched (unbalanced) curly braces", 0},
      {"a}b", "unmatched (unbalanced) curly braces", 1},
      {"{}", "empty substitution", 1},
      {"{1x}", "substitution must not start with a number", 1},
      {"{a-b}", "within curly braces", 2},
      {"{unknown}/x", "unknown substitution '{unknown}'", 0},
      {std::string(250, 'a'), "must not exceed 247 characters", 247},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("topic '" + c.topic + "'");
    try {
      node->create_publisher<Header>(c.topic, 1);
      ADD_FAILURE() << "accepted";
    } catch (const rclcpp::exceptions::InvalidTopicNameError& e) {
      const std::string what = e.what();
      EXPECT_NE(what.find("Invalid topic name"), std::string::npos) << what;
      EXPECT_NE(what.find("'" + c.topic + "'"), std::string::npos) << what;
      EXPECT_NE(what.find(c.reason_fragment), std::string::npos) << what;
      EXPECT_EQ(e.invalid_index, c.invalid_index) << what;
      EXPECT_EQ(e.name, c.topic);
    }
    // Subscriptions obey the same rules, and the error is a std::invalid_argument.
    EXPECT_THROW(node->create_subscription<Header>(c.topic, 1, [](const Header&) {}),
                 std::invalid_argument);
  }
  EXPECT_EQ(node->count_publishers("/robot/a"), 0u);
}

TEST_F(Names, InvalidNodeNamesAndNamespacesAreRejected) {
  for (const char* name : {"", "1node", "my-node", "a/b", "a.b", "ünï"}) {
    SCOPED_TRACE(name);
    EXPECT_THROW(rclcpp::Node node(name), rclcpp::exceptions::InvalidNodeNameError);
  }
  for (const char* ns : {"/robot/", "//x", "/1x", "/a b", "/a-b", "a//b"}) {
    SCOPED_TRACE(ns);
    try {
      rclcpp::Node node("n", ns);
      ADD_FAILURE() << "accepted";
    } catch (const rclcpp::exceptions::InvalidNamespaceError& e) {
      EXPECT_NE(std::string(e.what()).find(std::string("'") + ns + "'"), std::string::npos)
          << e.what();
    }
  }
  const rclcpp::Node root("n", "");
  EXPECT_STREQ(root.get_namespace(), "/");
  EXPECT_STREQ(root.get_fully_qualified_name(), "/n");
  const rclcpp::Node relative("n", "a/b");
  EXPECT_STREQ(relative.get_namespace(), "/a/b");
  EXPECT_STREQ(relative.get_fully_qualified_name(), "/a/b/n");
  EXPECT_STREQ(relative.get_name(), "n");
}

}  // namespace
