// The plot read back from its SVG numbers (ticks, scales, paths against closed forms) and the
// report page's escaping, its command line read back by a real shell.

#include <array>
#include <cstdio>
#include <map>
#include <regex>
#include <sstream>

#include <gtest/gtest.h>

#include "SimTestSupport.h"
#include "sim/PlotWriter.h"
#include "sim/ReportPage.h"

namespace velmora {
namespace sim {
namespace {

/// Tick labels of one axis: values and pixel positions.
struct Ticks {
  std::vector<double> value, pixel;
  /// Pixels per unit, after checking that the ticks are evenly spaced in a step of 1, 2 or
  /// 5 × 10^k and lie on one straight line.
  double scale() const {
    if (value.size() < 2) return ADD_FAILURE() << "fewer than two ticks", 0.0;
    const double step = value[1] - value[0];
    const double mantissa = std::round(step / std::pow(10.0, std::floor(std::log10(step) + 1e-9)));
    EXPECT_TRUE(mantissa == 1 || mantissa == 2 || mantissa == 5) << "step " << step;
    const double slope = (pixel.back() - pixel.front()) / (value.back() - value.front());
    for (size_t k = 1; k < value.size(); ++k) {
      EXPECT_NEAR(value[k] - value[k - 1], step, 1e-9 * step);
      EXPECT_NEAR(pixel[k], pixel.front() + slope * (value[k] - value.front()), 0.11);
    }
    return slope;
  }
  double valueAt(double px) const { return value.front() + (px - pixel.front()) / scale(); }
};

/// One `<g class="panel">` of the plot: its ticks and its lines as (dashed, pixel points).
struct Panel {
  Ticks x, y;
  std::vector<std::pair<bool, std::vector<std::array<double, 2>>>> lines;
};

std::map<std::string, Panel> parsePanels(const std::string& svg) {
  std::map<std::string, Panel> panels;
  const std::regex tick(
      "<text class=\"([xy])tick\" x=\"([-0-9.]+)\" y=\"([-0-9.]+)\"[^>]*>([-0-9.]+)<");
  const std::string open = "<g class=\"panel\" id=\"";
  for (size_t at = svg.find(open); at != std::string::npos; at = svg.find(open, at + 1)) {
    const size_t id_end = svg.find('"', at + open.size());
    const std::string body = svg.substr(id_end, svg.find("</g>", at) - id_end);
    Panel& panel = panels[svg.substr(at + open.size(), id_end - at - open.size())];
    for (std::sregex_iterator m(body.begin(), body.end(), tick), end; m != end; ++m) {
      const bool x = (*m)[1] == "x";
      (x ? panel.x : panel.y).value.push_back(std::stod((*m)[4]));
      (x ? panel.x : panel.y).pixel.push_back(std::stod((*m)[x ? 2 : 3]));
    }
    for (size_t line = body.find("<polyline"); line != std::string::npos;
         line = body.find("<polyline", line + 1)) {
      const std::string tag = body.substr(line, body.find("/>", line) - line);
      std::istringstream text(tag.substr(tag.find("points=\"") + 8));
      std::vector<std::array<double, 2>> points;
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
    EXPECT_EQ(panel.x.pixel, velocity.x.pixel);  // one time axis within 0 to 10 s
    EXPECT_EQ(panel.x.value, velocity.x.value);
    EXPECT_TRUE(panel.x.value.front() >= 0.0 && panel.x.value.back() <= 10.0);
    if (id != "contact") {
      EXPECT_LT(panel.y.scale(), 0.0) << "values must grow upwards";
    }
  }
  // Measurements (vx, vy) solid, their commands dashed, at their values on the panel's axis.
  std::array<std::vector<double>, 2> levels;  // solid, dashed; in cm/s
  for (const auto& [dashed, points] : velocity.lines) {
    levels[dashed].push_back(std::round(100.0 * velocity.y.valueAt(points.front()[1])));
    for (const auto& p : points)
      EXPECT_NEAR(velocity.y.valueAt(p[1]), levels[dashed].back() / 100, 2e-3);
  }
  EXPECT_EQ(levels[0], (std::vector<double>{40.0, 0.0}));
  EXPECT_EQ(levels[1], (std::vector<double>{50.0, 0.0}));
  // Top view at equal scales: both paths start where the run did and end on their circle.
  const Panel& top = panels.at("top_view");
  EXPECT_NEAR(top.x.scale(), -top.y.scale(), 1e-3 * top.x.scale());
  ASSERT_EQ(top.lines.size(), 2u);
  for (const auto& [dashed, points] : top.lines) {
    const auto world = [&top](const std::array<double, 2>& p) {
      return Eigen::Vector2d(top.x.valueAt(p[0]), top.y.valueAt(p[1]));
    };
    const double pixel = 1.0 / top.x.scale(), yaw_rate = dashed ? 0.3 : 0.2;
    const double radius = (dashed ? 0.5 : 0.4) / yaw_rate, turned = 10.0 * yaw_rate;
    const Eigen::Vector2d end(1.0 + radius * std::sin(turned),
                              -2.0 + radius * (1.0 - std::cos(turned)));
    EXPECT_LT((world(points.front()) - Eigen::Vector2d(1.0, -2.0)).norm(), pixel);
    EXPECT_LT((world(points.back()) - end).norm(), 0.01 + pixel) << "dashed " << dashed;
  }
  EXPECT_THROW(writePlotSvg({}, "", svg), std::invalid_argument);
  EXPECT_THROW(niceTicks(1.0, 1.0, 5), std::invalid_argument);
  EXPECT_THROW(niceTicks(0.0, std::nan(""), 5), std::invalid_argument);
}

TEST(ReportPage, EscapesEveryInsertedTextAndQuotesTheCommandLine) {
  const std::vector<std::string> args = {"velmora_sim", "--out", "<b>a b</b>", "it's", "&x=\"1\""};
  std::string echoed, expected;  // a shell reads the quoted line back into the arguments
  FILE* shell = popen(("printf '%s\\n' " + shellCommandLine(args)).c_str(), "r");
  for (int c; shell != nullptr && (c = std::fgetc(shell)) != EOF;) echoed += static_cast<char>(c);
  if (shell != nullptr) pclose(shell);
  for (const std::string& arg : args) expected += arg + "\n";
  EXPECT_EQ(echoed, expected);
  ReportPageContent page{"<i>run</i>", "<svg id=\"p\"></svg>",        "plot.svg", "",
                         args,         {{"URDF", "/robots/<b>.urdf"}}};
  RunReport report;
  report.faults = {FaultRecord{FaultSpec{FaultKind::kMpcFail, 2.5}, 10}};
  for (const std::string video : {"", "walk 1.mp4"}) {
    page.video_file = video;
    std::ostringstream html;
    writeReportHtml(report, page, html);
    for (const char* raw : {"<b>", "<i>"}) EXPECT_EQ(html.str().find(raw), std::string::npos);
    for (const char* text : {"&lt;b&gt;.urdf", "&amp;x=&quot;1&quot;", "<svg id=\"p\"></svg>"}) {
      EXPECT_NE(html.str().find(text), std::string::npos) << text;
    }
    for (const auto& row : summaryRows(report))
      EXPECT_NE(html.str().find(row.second), std::string::npos);
    EXPECT_EQ(
        html.str().find("<video"),
        html.str().find("<video id=\"video\" controls preload=\"metadata\" src=\"walk%201.mp4\""))
        << video;
    EXPECT_EQ(video.empty(), html.str().find("<video") == std::string::npos);
  }
  page.plot_svg = "<html>";
  EXPECT_THROW(writeReportHtml(report, page, std::cout), std::invalid_argument);
}

}  // namespace
}  // namespace sim
}  // namespace velmora
