#include "planner/GaitTable.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>

#include "core/misc/DataDirectory.h"

namespace velmora {
namespace sim {
namespace {

/// A word, a quoted string or a brace of the file, with its line.
struct Token {
  std::string text;
  int line = 0;
  bool quoted = false;
  bool isBrace(char brace) const { return !quoted && text.size() == 1 && text[0] == brace; }
};

class TableError {
 public:
  explicit TableError(std::string source) : source_(std::move(source)) {}
  [[noreturn]] void raise(int line, const std::string& what) const {
    throw std::invalid_argument("gait table " + source_ + ":" + std::to_string(line) + ": " + what);
  }

 private:
  std::string source_;
};

std::vector<Token> tokenize(const std::string& text, const TableError& error) {
  std::vector<Token> tokens;
  int line = 1;
  for (size_t k = 0; k < text.size();) {
    const char c = text[k];
    if (c == '\n') {
      ++line;
      ++k;
    } else if (std::isspace(static_cast<unsigned char>(c))) {
      ++k;
    } else if (c == ';') {
      while (k < text.size() && text[k] != '\n') ++k;
    } else if (c == '{' || c == '}') {
      tokens.push_back({std::string(1, c), line, false});
      ++k;
    } else if (c == '"') {
      const size_t end = text.find_first_of("\"\n", k + 1);
      if (end == std::string::npos || text[end] != '"') error.raise(line, "unterminated string");
      tokens.push_back({text.substr(k + 1, end - k - 1), line, true});
      k = end + 1;
    } else {
      size_t end = k;
      while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end])) &&
             text[end] != '{' && text[end] != '}' && text[end] != ';' && text[end] != '"') {
        ++end;
      }
      tokens.push_back({text.substr(k, end - k), line, false});
      k = end;
    }
  }
  return tokens;
}

/// Reads "a b c ..." as `count` numbers.
std::vector<double> numbers(const Token& token, size_t count, const std::string& key,
                            const TableError& error) {
  std::istringstream stream(token.text);
  std::vector<double> values;
  std::string word;
  while (stream >> word) {
    size_t used = 0;
    double value = 0.0;
    try {
      value = std::stod(word, &used);
    } catch (const std::exception&) {
      used = 0;
    }
    if (used != word.size() || !std::isfinite(value)) {
      error.raise(token.line, key + " expects " + std::to_string(count) + " finite numbers, got '" +
                                  token.text + "'");
    }
    values.push_back(value);
  }
  if (values.size() != count) {
    error.raise(token.line,
                key + " expects " + std::to_string(count) + " numbers, got '" + token.text + "'");
  }
  return values;
}

/// Parses the body of one gait node (the tokens after its '{' up to the matching '}').
Gait parseGait(const std::vector<Token>& tokens, size_t& k, const Token& name,
               const TableError& error) {
  std::optional<double> cycle, duty, height, shift;
  std::optional<std::vector<double>> offsets;
  while (true) {
    if (k >= tokens.size()) error.raise(name.line, "gait '" + name.text + "' has no closing '}'");
    const Token& key = tokens[k++];
    if (key.isBrace('}')) break;
    if (key.isBrace('{')) error.raise(key.line, "unexpected '{' in gait '" + name.text + "'");
    if (k >= tokens.size() || tokens[k].line != key.line || tokens[k].isBrace('{') ||
        tokens[k].isBrace('}')) {
      error.raise(key.line, "key '" + key.text + "' of gait '" + name.text + "' needs a value");
    }
    const Token& value = tokens[k++];
    const auto once = [&](auto& slot) {
      if (slot)
        error.raise(key.line, "key '" + key.text + "' given twice in gait '" + name.text + "'");
    };
    if (key.text == "cycle_s" || key.text == "duty" || key.text == "swing_height_m" ||
        key.text == "support_shift") {
      auto& slot = key.text == "cycle_s"          ? cycle
                   : key.text == "duty"           ? duty
                   : key.text == "swing_height_m" ? height
                                                  : shift;
      once(slot);
      slot = numbers(value, 1, key.text, error)[0];
      const double v = *slot;
      const bool ok = key.text == "cycle_s"          ? v > 0.0 && v <= 10.0
                      : key.text == "duty"           ? v > 0.0 && v <= 1.0
                      : key.text == "swing_height_m" ? v > 0.0 && v <= 0.3
                                                     : v >= 0.0 && v <= 1.0;
      if (!ok) {
        const char* range = key.text == "cycle_s"          ? "(0, 10] s"
                            : key.text == "duty"           ? "(0, 1]"
                            : key.text == "swing_height_m" ? "(0, 0.3] m"
                                                           : "[0, 1]";
        error.raise(key.line, key.text + " of gait '" + name.text + "' must lie in " + range +
                                  ", got " + value.text);
      }
    } else if (key.text == "offsets") {
      once(offsets);
      offsets = numbers(value, 4, key.text, error);
      for (const double o : *offsets) {
        if (o < 0.0 || o >= 1.0) {
          error.raise(key.line, "offsets of gait '" + name.text + "' must lie in [0, 1), got '" +
                                    value.text + "'");
        }
      }
    } else {
      error.raise(key.line, "unknown key '" + key.text + "' in gait '" + name.text +
                                "' (cycle_s, duty, offsets, swing_height_m, support_shift)");
    }
  }
  if (!duty) error.raise(name.line, "gait '" + name.text + "' lacks the key duty");
  Gait gait = Gait::standing();
  if (*duty == 1.0) return gait;
  if (!cycle) error.raise(name.line, "gait '" + name.text + "' lacks the key cycle_s");
  if (!offsets) error.raise(name.line, "gait '" + name.text + "' lacks the key offsets");
  gait.stand = false;
  gait.period_s = *cycle;
  gait.swing_fraction = 1.0 - *duty;
  for (size_t i = 0; i < 4; ++i) gait.swing_offset[i] = (*offsets)[i];
  gait.swing_apex_m = height.value_or(0.0);
  gait.support_shift = shift.value_or(0.0);
  return gait;
}

}  // namespace

GaitTable GaitTable::parse(const std::string& text, const std::string& source) {
  const TableError error(source);
  const std::vector<Token> tokens = tokenize(text, error);
  GaitTable table;
  for (size_t k = 0; k < tokens.size();) {
    const Token& name = tokens[k++];
    if (name.isBrace('{') || name.isBrace('}'))
      error.raise(name.line, "unexpected '" + name.text + "'");
    if (k >= tokens.size() || !tokens[k].isBrace('{')) {
      error.raise(name.line, "gait '" + name.text + "' must be followed by '{'");
    }
    ++k;
    for (const std::string& known : table.names_) {
      if (known == name.text) error.raise(name.line, "gait '" + name.text + "' defined twice");
    }
    table.gaits_.push_back(parseGait(tokens, k, name, error));
    table.names_.push_back(name.text);
  }
  if (table.names_.empty()) error.raise(1, "no gait defined");
  return table;
}

GaitTable GaitTable::read(const std::string& path) {
  std::ifstream file(path);
  if (!file) throw std::invalid_argument("gait table " + path + ": cannot read the file");
  std::ostringstream text;
  text << file.rdbuf();
  return parse(text.str(), path);
}

const Gait& GaitTable::gait(const std::string& name) const {
  for (size_t k = 0; k < names_.size(); ++k) {
    if (names_[k] == name) return gaits_[k];
  }
  std::string known;
  for (const std::string& n : names_) known += (known.empty() ? "" : ", ") + n;
  throw std::invalid_argument("unknown gait '" + name + "' (the gait table has " + known + ")");
}

std::string gaitTablePath() {
  const char* user = std::getenv("VELMORA_GAIT_TABLE");
  if (user != nullptr && *user != '\0') return user;
  const auto data = dataDirectoryOf(currentExecutable());
  const std::filesystem::path dir =
      data ? *data : currentExecutable().parent_path() / ".." / "share" / "velmora";
  return (dir / "robots" / "gaits.info").lexically_normal().string();
}

const GaitTable& gaitTable() {
  static const GaitTable table = GaitTable::read(gaitTablePath());
  return table;
}

const std::vector<std::string>& gaitNames() { return gaitTable().names(); }

Gait gaitNamed(const std::string& name) { return gaitTable().gait(name); }

}  // namespace sim
}  // namespace velmora
