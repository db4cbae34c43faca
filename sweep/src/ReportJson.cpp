#include "sweep/ReportJson.h"

#include <cctype>
#include <fstream>
#include <sstream>

namespace velmora::sweep {
namespace {

/// A recursive-descent reader that stores scalar leaves under their dotted key.
class JsonFlattener {
 public:
  explicit JsonFlattener(const std::string& text) : text_(text) {}

  bool run(std::map<std::string, std::string>& out) {
    out_ = &out;
    skipSpace();
    if (pos_ >= text_.size() || text_[pos_] != '{' || !value("", 0, true)) return false;
    skipSpace();
    return pos_ == text_.size();
  }

 private:
  void skipSpace() {
    while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
  }
  bool eat(char c) {
    skipSpace();
    if (pos_ >= text_.size() || text_[pos_] != c) return false;
    ++pos_;
    return true;
  }
  bool string(std::string& out) {
    if (!eat('"')) return false;
    for (; pos_ < text_.size() && text_[pos_] != '"'; ++pos_) {
      if (text_[pos_] == '\\' && ++pos_ >= text_.size()) return false;
      out += text_[pos_];
    }
    return eat('"');
  }
  bool value(const std::string& key, int depth, bool store) {
    skipSpace();
    if (pos_ >= text_.size() || depth > 32) return false;
    const char c = text_[pos_];
    if (c == '{' || c == '[') {
      const bool object = c == '{';
      ++pos_;
      if (eat(object ? '}' : ']')) return true;
      do {
        std::string name;
        if (object && (!string(name) || !eat(':'))) return false;
        const std::string inner = key.empty() ? name : key + "." + name;
        if (!value(inner, depth + 1, store && object)) return false;
      } while (eat(','));
      return eat(object ? '}' : ']');
    }
    std::string scalar;
    if (c == '"') {
      if (!string(scalar)) return false;
    } else {
      while (pos_ < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[pos_])) ||
                                     std::string("+-.").find(text_[pos_]) != std::string::npos))
        scalar += text_[pos_++];
      if (scalar.empty()) return false;
    }
    if (store && !key.empty()) (*out_)[key] = scalar;
    return true;
  }

  const std::string& text_;
  size_t pos_ = 0;
  std::map<std::string, std::string>* out_ = nullptr;
};

}  // namespace

std::optional<std::map<std::string, std::string>> flattenJson(const std::string& text) {
  std::map<std::string, std::string> out;
  if (!JsonFlattener(text).run(out)) return std::nullopt;
  return out;
}

std::optional<std::map<std::string, std::string>> readReportJson(const std::string& path) {
  std::ifstream in(path);
  if (!in) return std::nullopt;
  std::stringstream text;
  text << in.rdbuf();
  return flattenJson(text.str());
}

}  // namespace velmora::sweep
