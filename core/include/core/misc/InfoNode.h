#pragma once

// A Boost INFO document as a tree that keeps the line of every key, so that errors can point
// at it, and that writes back as INFO. Syntax: `key [value]` (the value on the key's line), keys
// and values bare or "quoted" (escapes \0 \a \b \f \n \r \t \v, and \x for any other x; a `\`
// after a quoted string at the end of a line joins the quoted string of the next line to it),
// `{ ... }` after a key (on its line or the next) opens its children, `;` starts a comment;
// several pairs may share a line (`command { vx 0.5  vy 0 }`). Every file reader of the project
// (scenarios, gait tables, sweeps) reads through it.

#include <iosfwd>
#include <string>
#include <vector>

namespace velmora {

/// One key of an INFO document, its value (empty when none) and its children, in file order.
struct InfoNode {
  std::string key;
  std::string value;
  int line = 0;  ///< 1-based line of the key in its file; 0 for nodes made in memory.
  std::vector<InfoNode> children;

  /// The first child named `key`, or nullptr.
  const InfoNode* child(const std::string& key) const;
  InfoNode* child(const std::string& key);
  /// The node at a dot-separated path below this one ("command.vx"), or nullptr.
  const InfoNode* find(const std::string& dotted_path) const;
  InfoNode* find(const std::string& dotted_path);
};

/// Parses INFO text; the root node has key "" and the top-level keys as children.
/// @throws InfoFileError naming `file_name` and the line on a syntax error.
InfoNode parseInfo(const std::string& text, const std::string& file_name);

/// Reads and parses the INFO file `path`.
/// @throws InfoFileError when it cannot be read or breaks the syntax.
InfoNode readInfoFile(const std::string& path);

/// Writes the children of `root` as INFO text (one key per line, values quoted when needed).
void writeInfo(const InfoNode& root, std::ostream& out);

/// Splits a value on whitespace ("0.5 1.0 1.5" -> three words).
std::vector<std::string> splitWords(const std::string& value);

}  // namespace velmora
