#include "sweep/ScenarioVariant.h"

#include <cmath>
#include <cstdio>
#include <sstream>

namespace velmora::sweep {
namespace {

std::string number(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%.6g", std::abs(value) < 1e-12 ? 0.0 : value);
  return text;
}

std::string derived(const RunSpec& run, const std::string& path, const std::string& fallback) {
  const std::string* value = run.value(path);
  if (value == nullptr) return fallback;
  std::string spaced = *value;
  for (char& c : spaced) c = c == ',' ? ' ' : c;
  return spaced;
}

InfoNode leaf(const std::string& key, const std::string& value) {
  InfoNode node;
  node.key = key;
  node.value = value;
  return node;
}

double eventTime(const InfoNode& event) {
  const InfoNode* at = event.child("at_s");
  try {
    return at != nullptr ? std::stod(at->value) : 0.0;
  } catch (const std::exception&) {
    return 0.0;
  }
}

/// Adds `event` to the timeline of `scenario` (made when missing), in time order.
void addEvent(InfoNode& scenario, InfoNode event) {
  InfoNode* timeline = scenario.child("timeline");
  if (timeline == nullptr) {
    scenario.children.push_back(leaf("timeline", ""));
    timeline = &scenario.children.back();
  }
  auto it = timeline->children.begin();
  while (it != timeline->children.end() && eventTime(*it) <= eventTime(event)) ++it;
  timeline->children.insert(it, std::move(event));
}

void makeRobotPathsAbsolute(InfoNode& scenario, const ScenarioContext& context) {
  InfoNode* robot = scenario.child("robot");
  if (robot == nullptr) return;
  for (InfoNode& file : robot->children) {
    const std::filesystem::path path(file.value);
    if (file.value.empty() || path.is_absolute() ||
        std::filesystem::exists(context.robots_dir / path))
      continue;
    if (std::filesystem::exists(context.base_dir / path))
      file.value = std::filesystem::absolute(context.base_dir / path).lexically_normal().string();
  }
}

}  // namespace

InfoNode makeRunScenario(const InfoNode& base, const RunSpec& run,
                         const std::optional<double>& duration_s, const ScenarioContext& context) {
  InfoNode scenario = base;
  if (duration_s) {
    if (scenario.child("duration_s") == nullptr)
      scenario.children.push_back(leaf("duration_s", ""));
    scenario.child("duration_s")->value = number(*duration_s);
  }
  for (const auto& [path, value] : run.values) {
    if (isDerivedParameter(path)) continue;
    InfoNode* node = &scenario;  // made where the base leaves the key at its default
    std::stringstream parts(path);
    for (std::string part; std::getline(parts, part, '.');) {
      InfoNode* next = node->child(part);
      if (next == nullptr) {
        node->children.push_back(leaf(part, ""));
        next = &node->children.back();
      }
      node = next;
    }
    node->value = value;
  }
  makeRobotPathsAbsolute(scenario, context);

  if (run.value("push.force_n") != nullptr) {
    const double force = std::stod(*run.value("push.force_n"));
    const double direction = std::stod(derived(run, "push.direction_deg", "0")) * M_PI / 180.0;
    InfoNode event = leaf("event", "");
    event.children = {leaf("at_s", derived(run, "push.at_s", "3")), leaf("type", "push"),
                      leaf("force_n", number(force * std::cos(direction)) + " " +
                                          number(force * std::sin(direction)) + " 0"),
                      leaf("point_m", derived(run, "push.point_m", "0 0 0")),
                      leaf("duration_s", derived(run, "push.duration_s", "0.1"))};
    addEvent(scenario, std::move(event));
  }
  if (run.value("payload.mass_kg") != nullptr) {
    InfoNode event = leaf("event", "");
    event.children = {leaf("at_s", derived(run, "payload.at_s", "3")), leaf("type", "payload"),
                      leaf("mass_kg", *run.value("payload.mass_kg")),
                      leaf("point_m", derived(run, "payload.point_m", "0 0 0"))};
    addEvent(scenario, std::move(event));
  }
  return scenario;
}

}  // namespace velmora::sweep
