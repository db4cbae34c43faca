#include "planner/GaitTable.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>

#include "core/misc/DataDirectory.h"
#include "core/misc/InfoFileError.h"
#include "core/misc/InfoNode.h"
#include "core/misc/Numerics.h"

namespace velmora {
namespace planner {
namespace {

/// Throws the errors of one gait table as "gait table SOURCE:LINE: what".
class TableError {
 public:
  explicit TableError(std::string source) : source_(std::move(source)) {}
  [[noreturn]] void raise(int line, const std::string& what) const {
    throw std::invalid_argument("gait table " + source_ + ":" + std::to_string(line) + ": " + what);
  }

 private:
  std::string source_;
};

/// Reads "a b c ..." as `count` numbers.
std::vector<double> numbers(const InfoNode& key_node, size_t count, const std::string& key,
                            const TableError& error) {
  std::istringstream stream(key_node.value);
  std::vector<double> values;
  std::string word;
  while (stream >> word) {
    const auto value = numerics::parseFiniteNumber(word);
    if (!value) {
      error.raise(key_node.line, key + " expects " + std::to_string(count) +
                                     " finite numbers, got '" + key_node.value + "'");
    }
    values.push_back(*value);
  }
  if (values.size() != count) {
    error.raise(key_node.line, key + " expects " + std::to_string(count) + " numbers, got '" +
                                   key_node.value + "'");
  }
  return values;
}

/// The gait of the node `name` (its children are the gait's keys).
Gait parseGait(const InfoNode& name, const TableError& error) {
  std::optional<double> cycle, duty, height, shift;
  std::optional<std::vector<double>> offsets;
  for (const InfoNode& key : name.children) {
    if (!key.children.empty()) error.raise(key.line, "unexpected '{' in gait '" + name.key + "'");
    if (key.value.empty()) {
      error.raise(key.line, "key '" + key.key + "' of gait '" + name.key + "' needs a value");
    }
    const auto once = [&](auto& slot) {
      if (slot)
        error.raise(key.line, "key '" + key.key + "' given twice in gait '" + name.key + "'");
    };
    if (key.key == "cycle_s" || key.key == "duty" || key.key == "swing_height_m" ||
        key.key == "support_shift") {
      auto& slot = key.key == "cycle_s"          ? cycle
                   : key.key == "duty"           ? duty
                   : key.key == "swing_height_m" ? height
                                                 : shift;
      once(slot);
      slot = numbers(key, 1, key.key, error)[0];
      const double v = *slot;
      const bool ok = key.key == "cycle_s"          ? v > 0.0 && v <= 10.0
                      : key.key == "duty"           ? v > 0.0 && v <= 1.0
                      : key.key == "swing_height_m" ? v > 0.0 && v <= 0.3
                                                    : v >= 0.0 && v <= 1.0;
      if (!ok) {
        const char* range = key.key == "cycle_s"          ? "(0, 10] s"
                            : key.key == "duty"           ? "(0, 1]"
                            : key.key == "swing_height_m" ? "(0, 0.3] m"
                                                          : "[0, 1]";
        error.raise(key.line, key.key + " of gait '" + name.key + "' must lie in " + range +
                                  ", got " + key.value);
      }
    } else if (key.key == "offsets") {
      once(offsets);
      offsets = numbers(key, 4, key.key, error);
      for (const double o : *offsets) {
        if (o < 0.0 || o >= 1.0) {
          error.raise(key.line, "offsets of gait '" + name.key + "' must lie in [0, 1), got '" +
                                    key.value + "'");
        }
      }
    } else {
      error.raise(key.line, "unknown key '" + key.key + "' in gait '" + name.key +
                                "' (cycle_s, duty, offsets, swing_height_m, support_shift)");
    }
  }
  if (!duty) error.raise(name.line, "gait '" + name.key + "' lacks the key duty");
  Gait gait = Gait::standing();
  if (*duty == 1.0) return gait;
  if (!cycle) error.raise(name.line, "gait '" + name.key + "' lacks the key cycle_s");
  if (!offsets) error.raise(name.line, "gait '" + name.key + "' lacks the key offsets");
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
  InfoNode root;
  try {
    root = parseInfo(text, source);
  } catch (const InfoFileError& syntax) {
    error.raise(syntax.line(), syntax.problem());
  }
  GaitTable table;
  for (const InfoNode& name : root.children) {
    if (name.children.empty() || !name.value.empty()) {
      error.raise(name.line, "gait '" + name.key + "' must be followed by '{' and its keys");
    }
    for (const std::string& known : table.names_) {
      if (known == name.key) error.raise(name.line, "gait '" + name.key + "' defined twice");
    }
    table.gaits_.push_back(parseGait(name, error));
    table.names_.push_back(name.key);
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

}  // namespace planner
}  // namespace velmora
