#include "sweep/SweepSpec.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <set>
#include <sstream>

#include "core/misc/InfoNode.h"
#include "core/misc/Numerics.h"
#include "sweep/SweepError.h"

namespace velmora::sweep {
namespace {

double parseNumber(const std::string& text, const std::string& file, const InfoNode& node) {
  const auto value = numerics::parseFiniteNumber(text);
  if (!value) {
    throw SweepFileError(file, node.line, "'" + node.key + "': '" + text + "' is not a number");
  }
  return *value;
}

long long parseInteger(const InfoNode& node, const std::string& file) {
  const double value = parseNumber(node.value, file, node);
  if (value != std::floor(value))
    throw SweepFileError(file, node.line, "'" + node.key + "' must be a whole number");
  return static_cast<long long>(value);
}

Distribution parseDistribution(const InfoNode& node, const std::string& file) {
  if (node.children.size() != 1)
    throw SweepFileError(file, node.line,
                         "'" + node.key +
                             "' needs one distribution: { uniform \"low high\" } or "
                             "{ choice \"a b ...\" }");
  const InfoNode& d = node.children.front();
  const std::vector<std::string> words = splitWords(d.value);
  Distribution out;
  if (d.key == "uniform") {
    if (words.size() != 2)
      throw SweepFileError(file, d.line, "'" + node.key + "': uniform needs \"low high\"");
    out.low = parseNumber(words[0], file, d);
    out.high = parseNumber(words[1], file, d);
    if (out.low > out.high)
      throw SweepFileError(file, d.line, "'" + node.key + "': uniform low exceeds high");
  } else if (d.key == "choice") {
    out.kind = Distribution::Kind::kChoice;
    out.choices = words;
    if (words.empty()) throw SweepFileError(file, d.line, "'" + node.key + "': empty choice");
  } else {
    throw SweepFileError(
        file, d.line, "'" + node.key + "': unknown distribution '" + d.key + "' (uniform, choice)");
  }
  return out;
}

}  // namespace

SweepSpec parseSweepSpec(const std::string& text, const std::string& file) {
  const InfoNode root = parseInfo(text, file);
  SweepSpec spec;
  spec.file = file;
  std::set<std::string> seen;
  int family_line = 0;
  const auto leaf = [&file](const InfoNode& node) {
    if (!node.children.empty())
      throw SweepFileError(file, node.line, "'" + node.key + "' takes a value, not a block");
  };
  for (const InfoNode& node : root.children) {
    if (!seen.insert(node.key).second)
      throw SweepFileError(file, node.line, "'" + node.key + "' is given twice");
    if (node.key == "scenario") {
      leaf(node);
      if (node.value.empty()) throw SweepFileError(file, node.line, "'scenario' needs a value");
      spec.scenario = node.value;
      spec.scenario_line = node.line;
    } else if (node.key == "lockstep") {
      leaf(node);
      if (node.value != "true" && node.value != "false")
        throw SweepFileError(file, node.line, "'lockstep' must be true or false");
      spec.lockstep = node.value == "true";
    } else if (node.key == "duration_s") {
      leaf(node);
      spec.duration_s = parseNumber(node.value, file, node);
      if (*spec.duration_s <= 0.0)
        throw SweepFileError(file, node.line, "'duration_s' must be positive");
    } else if (node.key == "seed") {
      leaf(node);
      const long long seed = parseInteger(node, file);
      if (seed < 0) throw SweepFileError(file, node.line, "'seed' must not be negative");
      spec.seed = static_cast<uint64_t>(seed);
    } else if (node.key == "family") {
      leaf(node);
      spec.family = splitWords(node.value);
      family_line = node.line;
    } else if (node.key == "grid") {
      if (node.children.empty()) throw SweepFileError(file, node.line, "'grid' is empty");
      for (const InfoNode& p : node.children) {
        leaf(p);
        SweepParameter parameter{p.key, p.line, splitWords(p.value), std::nullopt};
        if (parameter.grid_values.empty())
          throw SweepFileError(file, p.line, "grid parameter '" + p.key + "' has no values");
        spec.grid.push_back(std::move(parameter));
      }
    } else if (node.key == "min_success_rate") {
      leaf(node);
      const double rate = parseNumber(node.value, file, node);
      if (rate < 0.0 || rate > 1.0)
        throw SweepFileError(file, node.line, "'min_success_rate' must be between 0 and 1");
      spec.min_success_rate = rate;
      spec.min_success_rate_line = node.line;
    } else if (node.key == "random") {
      for (const InfoNode& p : node.children) {
        if (p.key == "draws") {
          leaf(p);
          const long long draws = parseInteger(p, file);
          if (draws < 1 || draws > 1000000)
            throw SweepFileError(file, p.line, "'draws' must be between 1 and 1000000");
          spec.draws = static_cast<int>(draws);
        } else {
          spec.random.push_back({p.key, p.line, {}, parseDistribution(p, file)});
        }
      }
    } else {
      throw SweepFileError(
          file, node.line,
          "unknown key '" + node.key +
              "' (scenario, lockstep, duration_s, seed, family, grid, random, min_success_rate)");
    }
  }
  if (spec.scenario.empty())
    throw SweepFileError(file, 0, "'scenario' (the base scenario) is missing");
  std::set<std::string> paths;
  for (const auto* list : {&spec.grid, &spec.random})
    for (const SweepParameter& p : *list)
      if (!paths.insert(p.path).second)
        throw SweepFileError(file, p.line, "parameter '" + p.path + "' is given twice");
  for (const std::string& path : spec.family)
    if (paths.count(path) == 0)
      throw SweepFileError(file, family_line,
                           "'family': '" + path + "' is not a grid or random parameter");
  if (!seen.count("family"))
    for (const SweepParameter& p : spec.grid) spec.family.push_back(p.path);
  return spec;
}

SweepSpec readSweepSpec(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw SweepFileError(path, 0, "cannot be read");
  std::stringstream text;
  text << in.rdbuf();
  return parseSweepSpec(text.str(), path);
}

}  // namespace velmora::sweep
