#include "core/misc/InfoNode.h"

#include <cctype>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string_view>

#include "core/misc/InfoFileError.h"

namespace velmora {
namespace {

struct Token {
  enum class Kind { kWord, kOpen, kClose } kind;
  std::string text;
  int line;
};

/// The control characters a quoted string writes as `\` and a letter, and their letters.
constexpr std::string_view kEscapedChars("\0\a\b\f\n\r\t\v", 8);
constexpr std::string_view kEscapeLetters = "0abfnrtv";

/// The quoted string opening at text[i], unescaped; leaves `i` after its closing quote.
std::string quotedString(const std::string& text, size_t& i, int line, const std::string& file) {
  std::string word;
  for (++i;; ++i) {
    if (i >= text.size() || text[i] == '\n')
      throw InfoFileError(file, line, "unterminated quoted string");
    if (text[i] == '"') break;
    if (text[i] == '\\' && i + 1 < text.size()) {
      const size_t known = kEscapeLetters.find(text[++i]);
      word += known == std::string::npos ? text[i] : kEscapedChars[known];
    } else {
      word += text[i];
    }
  }
  ++i;
  return word;
}

std::vector<Token> tokenize(const std::string& text, const std::string& file) {
  std::vector<Token> tokens;
  int line = 1;
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '\n') {
      ++line;
      ++i;
    } else if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
    } else if (c == ';') {
      while (i < text.size() && text[i] != '\n') ++i;
    } else if (c == '{' || c == '}') {
      tokens.push_back({c == '{' ? Token::Kind::kOpen : Token::Kind::kClose, {}, line});
      ++i;
    } else if (c == '"') {
      const int start = line;
      std::string word;
      while (true) {
        word += quotedString(text, i, line, file);
        // `"..." \` at the end of a line continues with the quoted string of the next line.
        size_t k = text.find_first_not_of(" \t\r", i);
        if (k == std::string::npos || text[k] != '\\') break;
        k = text.find_first_not_of(" \t\r", k + 1);
        if (k == std::string::npos || text[k] != '\n')
          throw InfoFileError(file, line, "'\\' after a quoted string must end the line");
        ++line;
        k = text.find_first_not_of(" \t\r", k + 1);
        if (k == std::string::npos || text[k] != '"')
          throw InfoFileError(file, line, "a line continued with '\\' needs a quoted string");
        i = k;
      }
      tokens.push_back({Token::Kind::kWord, word, start});
    } else {
      const size_t start = i;
      while (i < text.size() && !std::isspace(static_cast<unsigned char>(text[i])) &&
             text[i] != '{' && text[i] != '}' && text[i] != ';' && text[i] != '"')
        ++i;
      tokens.push_back({Token::Kind::kWord, text.substr(start, i - start), line});
    }
  }
  return tokens;
}

/// Deepest nesting of blocks a document may have (the reader and the tree recurse per level).
constexpr int kMaxDepth = 100;

/// Reads the keys of `parent` from tokens[i]: up to its '}' at `depth` > 0, to the end at 0.
void parseChildren(const std::vector<Token>& tokens, size_t& i, InfoNode& parent, int depth,
                   const std::string& file) {
  while (i < tokens.size()) {
    const Token& token = tokens[i];
    if (token.kind == Token::Kind::kClose) {
      if (depth == 0) throw InfoFileError(file, token.line, "'}' without a matching '{'");
      ++i;
      return;
    }
    if (token.kind == Token::Kind::kOpen)
      throw InfoFileError(file, token.line, "'{' without a key before it");
    InfoNode node;
    node.key = token.text;
    node.line = token.line;
    ++i;
    if (i < tokens.size() && tokens[i].kind == Token::Kind::kWord && tokens[i].line == node.line) {
      node.value = tokens[i].text;
      ++i;
    }
    if (i < tokens.size() && tokens[i].kind == Token::Kind::kOpen) {
      ++i;
      if (depth == kMaxDepth) throw InfoFileError(file, node.line, "blocks nested too deeply");
      parseChildren(tokens, i, node, depth + 1, file);
    }
    parent.children.push_back(std::move(node));
  }
  if (depth > 0) throw InfoFileError(file, parent.line, "'" + parent.key + "' has no closing '}'");
}

std::string quoted(const std::string& value) {
  const bool bare = !value.empty() && value.find_first_of(" \"{};\\") == std::string::npos &&
                    value.find_first_of(kEscapedChars) == std::string::npos;
  if (bare) return value;
  std::string out = "\"";
  for (const char c : value) {
    const size_t control = kEscapedChars.find(c);
    if (control != std::string::npos) {
      out += std::string("\\") + kEscapeLetters[control];
    } else {
      if (c == '"' || c == '\\') out += '\\';
      out += c;
    }
  }
  return out + "\"";
}

void writeNode(const InfoNode& node, int depth, std::ostream& out) {
  const std::string indent(2 * depth, ' ');
  out << indent << quoted(node.key);
  if (!node.value.empty()) out << ' ' << quoted(node.value);
  out << '\n';
  if (node.children.empty()) return;
  out << indent << "{\n";
  for (const InfoNode& child : node.children) writeNode(child, depth + 1, out);
  out << indent << "}\n";
}

}  // namespace

const InfoNode* InfoNode::child(const std::string& name) const {
  for (const InfoNode& c : children)
    if (c.key == name) return &c;
  return nullptr;
}

InfoNode* InfoNode::child(const std::string& name) {
  return const_cast<InfoNode*>(static_cast<const InfoNode*>(this)->child(name));
}

const InfoNode* InfoNode::find(const std::string& dotted_path) const {
  const InfoNode* node = this;
  std::stringstream parts(dotted_path);
  std::string part;
  while (node != nullptr && std::getline(parts, part, '.')) node = node->child(part);
  return node;
}

InfoNode* InfoNode::find(const std::string& dotted_path) {
  return const_cast<InfoNode*>(static_cast<const InfoNode*>(this)->find(dotted_path));
}

InfoNode parseInfo(const std::string& text, const std::string& file_name) {
  const std::vector<Token> tokens = tokenize(text, file_name);
  InfoNode root;
  size_t i = 0;
  parseChildren(tokens, i, root, 0, file_name);
  return root;
}

InfoNode readInfoFile(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw InfoFileError(path, 0, "cannot be read");
  std::stringstream text;
  text << in.rdbuf();
  return parseInfo(text.str(), path);
}

void writeInfo(const InfoNode& root, std::ostream& out) {
  for (const InfoNode& child : root.children) writeNode(child, 0, out);
}

std::vector<std::string> splitWords(const std::string& value) {
  std::vector<std::string> words;
  std::istringstream in(value);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

}  // namespace velmora
