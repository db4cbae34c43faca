#pragma once

/// ROS 2 name rules: validation of node names and namespaces, and expansion of topic names.

#include <string>

namespace rclcpp {
namespace detail {

/// Throws exceptions::InvalidNodeNameError unless `node_name` is a valid node name (non-empty,
/// alphanumerics and '_', not starting with a digit, at most 255 characters).
void validate_node_name(const std::string& node_name);

/// The absolute form of `node_namespace` ("" -> "/", "robot" -> "/robot"); throws
/// exceptions::InvalidNamespaceError if it breaks the rules (repeated or trailing '/', other
/// characters than alphanumerics, '_' and '/', a token starting with a digit).
std::string normalize_namespace(const std::string& node_namespace);

/// The fully qualified name of `topic_name` used by a node `node_name` in `node_namespace`
/// (absolute, validated): relative names go below the namespace, "~" stands for the node's
/// private namespace "<namespace>/<node>", and "{node}", "{ns}", "{namespace}" are substituted.
/// Throws exceptions::InvalidTopicNameError naming the topic and the rule it breaks.
std::string expand_topic_name(const std::string& topic_name, const std::string& node_name,
                              const std::string& node_namespace);

}  // namespace detail
}  // namespace rclcpp
