// The plot read back from its SVG numbers (ticks, scales, paths against closed forms) and the
// report page's escaping, checked by a real shell.

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <regex>
#include <sstream>

#include <gtest/gtest.h>

#include "SyntheticRun.h"
#include "sim/PlotWriter.h"
#include "sim/ReportPage.h"

namespace velmora {
namespace sim {
namespace {

/// Tick labels of one axis: value and pixel position.
struct Ticks {
  std::vector<double> value, pixel;
  /// Pixels per unit, after checking that the ticks are evenly spaced, in a step of 1, 2 or
  /// 5 × 10^k, and on one straight line.
  double scale() const {
    EXPECT_GE(value.size(), 2u);
    if (value.size() < 2) return 0.0;
    const double step = value[1] - value[0];
    const double mantissa = step / std::pow(10.0, std::floor(std::log10(step) + 1e-9));
    EXPECT_TRUE(std::abs(mantissa - 1) < 1e-6 || std::abs(mantissa - 2) < 1e-6 ||
                std::abs(mantissa - 5) < 1e-6)
        << "step " << step;
    const double slope = (pixel.back() - pixel.front()) / (value.back() - value.front());
    for (size_t k = 0; k < value.size(); ++k) {
      if (k > 0) {
        EXPECT_NEAR(value[k] - value[k - 1], step, 1e-9 * step);
      }
      EXPECT_NEAR(pixel[k], pixel.front() + slope * (value[k] - value.front()), 0.11);
    }
    return slope;
  }
  double valueAt(double px) const { return value.front() + (px - pixel.front()) / scale(); }
};

/// One `<g class="panel">` of the plot: its ticks and its lines (dashed or not).
struct Panel {
  Ticks x, y;
  std::vector<std::pair<bool, std::vector<std::array<double, 2>>>> lines;
};

std::map<std::string, Panel> parsePanels(const std::string& svg) {
  std::map<std::string, Panel> panels;
  const std::regex tick(
      "<text class=\"([xy])tick\" x=\"([-0-9.]+)\" y=\"([-0-9.]+)\"[^>]*>([-0-9.]+)<");
  for (size_t at = svg.find("<g class=\"panel\" id=\""); at != std::string::npos;
       at = svg.find("<g class=\"panel\" id=\"", at + 1)) {
    const size_t id_end = svg.find('"', at + 21);
    const std::string body = svg.substr(id_end, svg.find("</g>", at) - id_end);
    Panel& panel = panels[svg.substr(at + 21, id_end - at - 21)];
    for (std::sregex_iterator m(body.begin(), body.end(), tick), end; m != end; ++m) {
      Ticks& axis = (*m)[1] == "x" ? panel.x : panel.y;
      axis.value.push_back(std::stod((*m)[4]));
      axis.pixel.push_back(std::stod((*m)[(*m)[1] == "x" ? 2 : 3]));
    }
    for (size_t line = body.find("<polyline"); line != std::string::npos;
         line = body.find("<polyline", line + 1)) {
      const std::string tag = body.substr(line, body.find("/>", line) - line);
      std::vector<std::array<double, 2>> points;
      std::istringstream text(tag.substr(tag.find("points=\"") + 8));
      for (double px, py; text >> px && text.ignore(1) && text >> py;) points.push_back({px, py});
      panel.lines.emplace_back(tag.find("stroke-dasharray") != std::string::npos, points);
    }
  }
  return panels;
}

TEST(PlotWriter, AxesAndPathsReadBackFromTheSvgNumbers) {
  // Circling off the command: measured 0.4 m/s at 0.2 rad/s, commanded 0.5 m/s at 0.3 rad/s.
  const auto run = test::syntheticRun(0.4, 0.0, 0.2, 0.01, 10.0, vector3_t(0.5, 0.0, 0.3));
  std::ostringstream svg;
  writePlotSvg(run, "walk <&>", svg);
  EXPECT_NE(svg.str().find("walk &lt;&amp;&gt;"), std::string::npos);
  const auto panels = parsePanels(svg.str());
  ASSERT_EQ(panels.size(), 7u);
  const Panel& velocity = panels.at("velocity");
  for (const auto& [id, panel] : panels) {
    SCOPED_TRACE(id);
    EXPECT_GE(panel.x.value.size(), 3u);
    EXPECT_GT(panel.x.scale(), 0.0);
    if (id == "top_view") continue;
    EXPECT_EQ(panel.x.value, velocity.x.value);  // one time axis, 0 to 10 s
    EXPECT_EQ(panel.x.pixel, velocity.x.pixel);
    EXPECT_GE(panel.x.value.front(), 0.0);
    EXPECT_LE(panel.x.value.back(), 10.0);
    if (id != "contact") {
      EXPECT_LT(panel.y.scale(), 0.0);  // values grow upwards
    }
  }
  // Measurements solid, commands dashed, at their values on the panel's own axis.
  std::array<std::vector<double>, 2> levels;  // solid, dashed
  for (const auto& [dashed, points] : velocity.lines) {
    levels[dashed].push_back(velocity.y.valueAt(points.front()[1]));
    for (const auto& p : points) EXPECT_NEAR(velocity.y.valueAt(p[1]), levels[dashed].back(), 1e-3);
  }
  for (auto& values : levels) std::sort(values.begin(), values.end());
  ASSERT_EQ(levels[0].size(), 2u);  // vx, vy
  ASSERT_EQ(levels[1].size(), 2u);  // their commands
  EXPECT_NEAR(levels[0][0], 0.0, 2e-3);
  EXPECT_NEAR(levels[0][1], 0.4, 2e-3);
  EXPECT_NEAR(levels[1][0], 0.0, 2e-3);
  EXPECT_NEAR(levels[1][1], 0.5, 2e-3);
  // Top view: equal scales; the measured path starts and ends where the run did, the commanded
  // one ends on the commanded circle's arc.
  const Panel& top = panels.at("top_view");
  EXPECT_NEAR(top.x.scale(), -top.y.scale(), 1e-3 * top.x.scale());
  ASSERT_EQ(top.lines.size(), 2u);
  for (const auto& [dashed, points] : top.lines) {
    const auto world = [&top](const std::array<double, 2>& p) {
      return vector3_t(top.x.valueAt(p[0]), top.y.valueAt(p[1]), 0.0);
    };
    const double tolerance = 1.0 / top.x.scale();  // a pixel
    const double yaw_rate = dashed ? 0.3 : 0.2, radius = (dashed ? 0.5 : 0.4) / yaw_rate;
    const vector3_t end(1.0 + radius * std::sin(10.0 * yaw_rate),
                        -2.0 + radius * (1.0 - std::cos(10.0 * yaw_rate)), 0.0);
    EXPECT_LT((world(points.front()) - vector3_t(1.0, -2.0, 0.0)).norm(), tolerance);
    EXPECT_LT((world(points.back()) - end).norm(), 0.01 + tolerance) << "dashed " << dashed;
  }
}

TEST(PlotWriter, TickStepsAndBadRanges) {
  for (const auto& [lo, hi] : std::vector<std::pair<double, double>>{
           {0.0, 1.0}, {-0.013, 0.0021}, {3.0, 1803.0}, {0.29, 0.31}, {-5e-7, 2e-6}}) {
    const std::vector<double> ticks = niceTicks(lo, hi, 5);
    ASSERT_GE(ticks.size(), 2u) << lo << ", " << hi;
    EXPECT_LE(ticks.size(), 11u);
    EXPECT_GE(ticks.front(), lo - 1e-12);
    EXPECT_LE(ticks.back(), hi + 1e-12);
    Ticks{ticks, ticks}.scale();  // evenly spaced in 1, 2 or 5 × 10^k
  }
  EXPECT_THROW(niceTicks(1.0, 1.0, 5), std::invalid_argument);
  EXPECT_THROW(niceTicks(0.0, std::nan(""), 5), std::invalid_argument);
  EXPECT_THROW(niceTicks(0.0, 1.0, 1), std::invalid_argument);
  EXPECT_THROW(writePlotSvg({}, "", std::cout), std::invalid_argument);
}

TEST(ReportPage, EscapesEveryInsertedTextAndQuotesTheCommandLine) {
  const std::vector<std::string> args = {"velmora_sim", "--out", "<b>a b</b>", "it's", "&x=\"1\""};
  // A shell reads the command line back into the same arguments.
  FILE* shell = popen(("printf '%s\\n' " + shellCommandLine(args)).c_str(), "r");
  ASSERT_NE(shell, nullptr);
  std::string echoed;
  for (int c; (c = std::fgetc(shell)) != EOF;) echoed += static_cast<char>(c);
  pclose(shell);
  std::string expected;
  for (const std::string& arg : args) expected += arg + "\n";
  EXPECT_EQ(echoed, expected);

  ReportPageContent page{"<i>title</i>", "<svg id=\"p\"></svg>",        "plot.svg", "",
                         args,           {{"URDF", "/robots/<b>.urdf"}}};
  RunReport report;
  report.faults = {FaultRecord{FaultSpec{FaultKind::kMpcFail, 2.5}, 10}};
  std::ostringstream html;
  writeReportHtml(report, page, html);
  const std::string text = html.str();
  EXPECT_EQ(text.find("<b>"), std::string::npos);
  EXPECT_EQ(text.find("<i>"), std::string::npos);
  EXPECT_NE(text.find("&lt;b&gt;.urdf"), std::string::npos);
  EXPECT_NE(text.find("&amp;x=&quot;1&quot;"), std::string::npos);
  EXPECT_NE(text.find("<svg id=\"p\"></svg>"), std::string::npos);
  for (const auto& row : summaryRows(report)) EXPECT_NE(text.find(row.second), std::string::npos);
  EXPECT_EQ(text.find("<video"), std::string::npos);
  page.video_file = "walk 1.mp4";
  html.str("");
  writeReportHtml(report, page, html);
  EXPECT_NE(
      html.str().find("<video id=\"video\" controls preload=\"metadata\" src=\"walk%201.mp4\""),
      std::string::npos);
  page.plot_svg = "<html>";
  EXPECT_THROW(writeReportHtml(report, page, html), std::invalid_argument);
}

}  // namespace
}  // namespace sim
}  // namespace velmora
