// Nodes: the naming rules, parameters, and the context's init / shutdown with command-line
// arguments and signals.

#include <csignal>
#include <stdexcept>

#include "Ros2TestSupport.h"

namespace {

using namespace velmora_test;

class Node : public RosTest {};

TEST_F(Node, InvalidNamesAreRejectedNamingTheNameTheRuleAndThePosition) {
  struct InvalidTopic {
    std::string topic;
    const char* rule;
    size_t invalid_index;
  };
  const std::vector<InvalidTopic> cases = {
      {"", "must not be empty", 0},
      {"robot/", "must not end with a forward slash", 5},
      {"a//b", "repeated forward slashes", 2},
      {"a/1b", "token must not start with a number", 2},
      {"a-b", "characters other than alphanumerics", 1},
      {"~a", "tilde '~' that is not followed by a '/'", 0},
      {"a}b", "unmatched (unbalanced) curly braces", 1},
      {"{unknown}/x", "unknown substitution '{unknown}'", 0},
      {std::string(250, 'a'), "must not exceed 247 characters", 247},
  };
  auto node = std::make_shared<rclcpp::Node>("ctrl", "/robot");
  for (const auto& c : cases) {
    try {
      node->create_publisher<Header>(c.topic, 1);
      ADD_FAILURE() << "accepted '" << c.topic << "'";
    } catch (const rclcpp::exceptions::InvalidTopicNameError& e) {
      EXPECT_NE(std::string(e.what()).find("'" + c.topic + "'"), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(c.rule), std::string::npos) << e.what();
      EXPECT_EQ(e.invalid_index, c.invalid_index) << e.what();
    }
    EXPECT_THROW(node->create_subscription<Header>(c.topic, 1, [](const Header&) {}),
                 std::invalid_argument);
  }
  for (const char* name : {"", "1node", "my-node", "a/b"}) {
    EXPECT_THROW(rclcpp::Node bad(name), rclcpp::exceptions::InvalidNodeNameError) << name;
  }
  for (const char* ns : {"/robot/", "//x", "/1x"}) {
    EXPECT_THROW(rclcpp::Node bad("n", ns), rclcpp::exceptions::InvalidNamespaceError) << ns;
  }
}

TEST_F(Node, ParametersFollowTheirDeclaredTypesAndDescriptors) {
  auto node = std::make_shared<rclcpp::Node>(
      "node", rclcpp::NodeOptions().parameter_overrides({rclcpp::Parameter("gain", 2.5)}));
  EXPECT_DOUBLE_EQ(node->declare_parameter("gain", 1.0), 2.5);  // the override wins
  EXPECT_EQ(node->declare_parameter("count", 3), 3);
  EXPECT_THROW(node->declare_parameter("gain", 1.0),
               rclcpp::exceptions::ParameterAlreadyDeclaredException);
  EXPECT_THROW(node->get_parameter("missing"), rclcpp::exceptions::ParameterNotDeclaredException);
  EXPECT_THROW(node->get_parameter("gain").as_string(), rclcpp::ParameterTypeException);
  EXPECT_TRUE(node->set_parameter(rclcpp::Parameter("gain", 4.0)).successful);
  const auto wrong = node->set_parameter(rclcpp::Parameter("gain", "four"));
  EXPECT_FALSE(wrong.successful);
  EXPECT_EQ(wrong.reason,
            "Wrong parameter type, parameter {gain} is of type {double}, setting it to {string} "
            "is not allowed.");
  EXPECT_DOUBLE_EQ(node->get_parameter("gain").as_double(), 4.0);
  EXPECT_FALSE(node->set_parameter(rclcpp::Parameter("other", 1.0)).successful);
  rcl_interfaces::msg::ParameterDescriptor read_only;
  read_only.read_only = true;
  node->declare_parameter("fixed", 1.5, read_only);
  EXPECT_FALSE(node->set_parameter(rclcpp::Parameter("fixed", 2.0)).successful);
  EXPECT_DOUBLE_EQ(node->get_parameter("fixed").as_double(), 1.5);
}

void initWith(std::vector<const char*> args,
              rclcpp::SignalHandlerOptions signals = rclcpp::SignalHandlerOptions::None) {
  args.insert(args.begin(), "program");
  rclcpp::init(static_cast<int>(args.size()), args.data(), rclcpp::InitOptions(), signals);
}

TEST(Context, InitShutdownAndRestartWithCommandLineParameters) {
  EXPECT_FALSE(rclcpp::ok());
  EXPECT_THROW(rclcpp::Node("early"), rclcpp::exceptions::RCLError);
  initWith({"--ros-args", "-p", "gain:=2.5", "--param", "label:=left leg", "--", "-p", "x:=1"});
  EXPECT_TRUE(rclcpp::ok());
  EXPECT_THROW(initWith({}), rclcpp::ContextAlreadyInitialized);
  rclcpp::Node node("node");
  EXPECT_DOUBLE_EQ(node.declare_parameter("gain", 0.0), 2.5);
  EXPECT_EQ(node.declare_parameter("label", ""), "left leg");
  EXPECT_EQ(node.declare_parameter("x", 0), 0);  // after "--": not a ROS argument
  auto shutdown_callbacks = std::make_shared<std::atomic<int>>(0);
  rclcpp::on_shutdown([shutdown_callbacks] { ++*shutdown_callbacks; });
  EXPECT_TRUE(rclcpp::shutdown());
  EXPECT_FALSE(rclcpp::ok());
  EXPECT_FALSE(rclcpp::shutdown());
  EXPECT_EQ(shutdown_callbacks->load(), 1);
  EXPECT_THROW(initWith({"--ros-args", "-r", "a:=b"}), rclcpp::exceptions::UnknownROSArgsError);
  EXPECT_THROW(initWith({"--ros-args", "-p", "no_assignment"}), std::invalid_argument);
  EXPECT_FALSE(rclcpp::ok());
  for (const auto& [signal_number, option] :
       {std::pair{SIGINT, rclcpp::SignalHandlerOptions::SigInt},
        std::pair{SIGTERM, rclcpp::SignalHandlerOptions::All}}) {
    initWith({}, option);
    std::raise(signal_number);
    EXPECT_TRUE(eventually([] { return !rclcpp::ok(); })) << signal_number;
    rclcpp::shutdown();
  }
}

}  // namespace
