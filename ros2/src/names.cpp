// ROS 2 name rules.
//
// Node names: [A-Za-z_][A-Za-z0-9_]*. Namespaces: absolute, '/'-separated tokens of the same
// form, no trailing '/' except the root "/". Topic names as given by users may also be relative,
// start with "~" (the node's private namespace) and hold substitutions "{node}", "{ns}",
// "{namespace}"; after expansion they are absolute and obey the namespace rules.

#include "rclcpp/detail/names.hpp"

#include <cctype>
#include <cstddef>
#include <string>

#include "rclcpp/exceptions.hpp"

namespace rclcpp {
namespace detail {
namespace {

constexpr size_t kMaxNameLength = 255;
// Topic names are prefixed by the middleware ("rt" etc.), which leaves this many characters.
constexpr size_t kMaxTopicNameLength = 247;

bool is_word_char(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }
bool is_digit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

[[noreturn]] void topic_error(const std::string& topic, const char* reason, size_t index) {
  throw exceptions::InvalidTopicNameError(topic.c_str(), reason, index);
}

// The checks shared by namespaces and expanded topic names, reported through `fail`.
template <typename Fail>
void check_absolute_name(const std::string& name, const char* kind_chars, Fail fail) {
  if (name.empty()) fail("must not be empty", 0);
  if (name.front() != '/') fail("must be absolute, it must lead with a '/'", 0);
  for (size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    if (c == '/') {
      if (i > 0 && name[i - 1] == '/') fail("must not contain repeated '/'", i);
      continue;
    }
    if (!is_word_char(c)) fail(kind_chars, i);
    if (is_digit(c) && name[i - 1] == '/')
      fail("must not have a token that starts with a number", i);
  }
  if (name.size() > 1 && name.back() == '/') {
    fail("must not end with a '/', unless only a '/'", name.size() - 1);
  }
}

// The rules for topic names as users write them, before expansion.
void validate_topic_name(const std::string& topic) {
  if (topic.empty()) topic_error(topic, "topic name must not be empty", 0);
  if (topic.back() == '/') {
    topic_error(topic, "topic name must not end with a forward slash", topic.size() - 1);
  }
  if (is_digit(topic.front())) {
    topic_error(topic, "topic name must not start with a numeric character", 0);
  }
  bool in_substitution = false;
  size_t substitution_start = 0;
  for (size_t i = 0; i < topic.size(); ++i) {
    const char c = topic[i];
    if (in_substitution) {
      if (c == '}') {
        if (i == substitution_start + 1) {
          topic_error(topic, "topic name must not contain an empty substitution '{}'", i);
        }
        in_substitution = false;
      } else if (!is_word_char(c)) {
        topic_error(topic,
                    "topic name must not contain characters other than alphanumerics or '_' "
                    "within curly braces '{}'",
                    i);
      } else if (i == substitution_start + 1 && is_digit(c)) {
        topic_error(topic, "topic name substitution must not start with a number", i);
      }
      continue;
    }
    switch (c) {
      case '{':
        in_substitution = true;
        substitution_start = i;
        break;
      case '}':
        topic_error(topic, "topic name must not have unmatched (unbalanced) curly braces '{}'", i);
      case '~':
        if (i != 0) {
          topic_error(topic,
                      "topic name must not have a tilde '~' unless it is the first character", i);
        }
        if (topic.size() > 1 && topic[1] != '/') {
          topic_error(topic, "topic name must not have a tilde '~' that is not followed by a '/'",
                      i);
        }
        break;
      case '/':
        if (i > 0 && topic[i - 1] == '/') {
          topic_error(topic, "topic name must not contain repeated forward slashes", i);
        }
        if (i + 1 < topic.size() && is_digit(topic[i + 1])) {
          topic_error(topic, "topic name token must not start with a number", i + 1);
        }
        break;
      default:
        if (!is_word_char(c)) {
          topic_error(topic,
                      "topic name must not contain characters other than alphanumerics, '_', "
                      "'~', '{', or '}'",
                      i);
        }
    }
  }
  if (in_substitution) {
    topic_error(topic, "topic name must not have unmatched (unbalanced) curly braces '{}'",
                substitution_start);
  }
}

// Replaces "{node}", "{ns}" and "{namespace}" in `topic`.
std::string substitute(const std::string& topic, const std::string& node_name,
                       const std::string& node_namespace) {
  std::string result;
  size_t i = 0;
  while (i < topic.size()) {
    if (topic[i] != '{') {
      result += topic[i++];
      continue;
    }
    const size_t close = topic.find('}', i);
    const std::string key = topic.substr(i + 1, close - i - 1);
    if (key == "node") {
      result += node_name;
    } else if (key == "ns" || key == "namespace") {
      // The root namespace before a '/' contributes nothing, so "{ns}/x" is "/x" there.
      const bool root_before_slash =
          node_namespace == "/" && close + 1 < topic.size() && topic[close + 1] == '/';
      if (!root_before_slash) result += node_namespace;
    } else {
      topic_error(topic, ("topic name has an unknown substitution '{" + key + "}'").c_str(), i);
    }
    i = close + 1;
  }
  return result;
}

}  // namespace

void validate_node_name(const std::string& node_name) {
  auto fail = [&](const char* reason, size_t index) {
    throw exceptions::InvalidNodeNameError(node_name.c_str(), reason, index);
  };
  if (node_name.empty()) fail("node name must not be empty", 0);
  for (size_t i = 0; i < node_name.size(); ++i) {
    if (!is_word_char(node_name[i])) {
      fail("node name must not contain characters other than alphanumerics or '_'", i);
    }
  }
  if (is_digit(node_name.front())) fail("node name must not start with a number", 0);
  if (node_name.size() > kMaxNameLength) {
    fail("node name length should not exceed 255 characters", kMaxNameLength);
  }
}

std::string normalize_namespace(const std::string& node_namespace) {
  std::string absolute = node_namespace;
  if (absolute.empty()) absolute = "/";
  if (absolute.front() != '/') absolute.insert(absolute.begin(), '/');
  check_absolute_name(absolute, "must not contain characters other than alphanumerics, '_', or '/'",
                      [&](const char* reason, size_t index) {
                        const std::string message = std::string("namespace ") + reason;
                        const size_t added = absolute.size() - node_namespace.size();
                        throw exceptions::InvalidNamespaceError(node_namespace.c_str(),
                                                                message.c_str(),
                                                                index >= added ? index - added : 0);
                      });
  if (absolute.size() > kMaxNameLength) {
    throw exceptions::InvalidNamespaceError(
        node_namespace.c_str(), "namespace should not exceed 255 characters", kMaxNameLength);
  }
  return absolute;
}

std::string expand_topic_name(const std::string& topic_name, const std::string& node_name,
                              const std::string& node_namespace) {
  validate_topic_name(topic_name);
  std::string expanded = substitute(topic_name, node_name, node_namespace);
  const std::string private_namespace =
      (node_namespace == "/" ? "" : node_namespace) + "/" + node_name;
  if (expanded == "~") {
    expanded = private_namespace;
  } else if (expanded.rfind("~/", 0) == 0) {
    expanded = private_namespace + expanded.substr(1);
  } else if (expanded.front() != '/') {
    expanded = (node_namespace == "/" ? "" : node_namespace) + "/" + expanded;
  }
  check_absolute_name(expanded, "must not contain characters other than alphanumerics, '_', or '/'",
                      [&](const char* reason, size_t index) {
                        const std::string message =
                            "topic name '" + expanded + "' after expansion " + reason;
                        topic_error(topic_name, message.c_str(), index);
                      });
  if (expanded.size() > kMaxTopicNameLength) {
    topic_error(topic_name, "topic name must not exceed 247 characters after expansion",
                kMaxTopicNameLength);
  }
  return expanded;
}

}  // namespace detail
}  // namespace rclcpp
