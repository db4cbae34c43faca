#include "sim/PlotWriter.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <iomanip>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "sim/MarkupEscape.h"

namespace velmora {
namespace sim {
namespace {

constexpr double kWidth = 1000.0;
constexpr double kLeft = 80.0;    ///< left edge of the panels [px]
constexpr double kRight = 970.0;  ///< right edge of the time panels [px]
constexpr double kTimePanelHeight = 100.0;
constexpr double kContactRowHeight = 18.0;
constexpr double kTopViewMaxHeight = 380.0;
constexpr double kFirstPanelTop = 62.0;  ///< below the plot's title and the first panel's title
constexpr double kPanelGap = 68.0;       ///< title line above a panel plus tick labels below it
/// Deviation [px] under which a point of a line is left out.
constexpr double kLineTolerance = 0.25;

const std::array<const char*, 4> kFootNames = {"FL", "FR", "RL", "RR"};
const std::array<const char*, 4> kFootColours = {"#1f77b4", "#ff7f0e", "#2ca02c", "#d62728"};

struct Point {
  double x, y;
};

/// One line of a panel: values over the samples, or points of the top view.
struct Series {
  Series() = default;
  Series(std::string label_, std::string colour_, bool dashed_ = false)
      : label(std::move(label_)), colour(std::move(colour_)), dashed(dashed_) {}
  std::string label;
  std::string colour;
  bool dashed = false;
  std::vector<double> values;
};

/// Linear map from data values to pixels.
struct Scale {
  double lo, hi, px_lo, px_hi;
  double operator()(double v) const { return px_lo + (v - lo) * (px_hi - px_lo) / (hi - lo); }
};

std::string fixed(double value, int decimals) {
  std::ostringstream text;
  text << std::fixed << std::setprecision(decimals) << value;
  return text.str();
}

std::string px(double value) { return fixed(value, 1); }

/// Decimals that show every multiple of `step` exactly.
int decimalsOf(double step) {
  return std::max(0, static_cast<int>(std::ceil(-std::log10(step) - 1e-9)));
}

double stepOf(const std::vector<double>& ticks) {
  return ticks.size() >= 2 ? ticks[1] - ticks[0] : 1.0;
}

/// The step of 1, 2 or 5 × 10^k closest to dividing `span` (> 0) into `target` parts.
double niceStep(double span, int target) {
  const double raw = span / target;
  const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  const double ratio = raw / magnitude;
  return magnitude * (ratio < 1.5 ? 1.0 : ratio < 3.5 ? 2.0 : ratio < 7.5 ? 5.0 : 10.0);
}

/// Every multiple of `step` in [lo, hi].
std::vector<double> ticksOf(double lo, double hi, double step) {
  std::vector<double> ticks;
  const long first = std::lround(std::ceil(lo / step - 1e-9));
  const long last = std::lround(std::floor(hi / step + 1e-9));
  for (long k = first; k <= last; ++k) ticks.push_back(static_cast<double>(k) * step);
  return ticks;
}

/// Ramer-Douglas-Peucker: the points of `line` needed to stay within kLineTolerance of it.
std::vector<Point> simplify(const std::vector<Point>& line) {
  if (line.size() < 3) return line;
  std::vector<bool> keep(line.size(), false);
  keep.front() = keep.back() = true;
  std::vector<std::pair<size_t, size_t>> stack = {{0, line.size() - 1}};
  while (!stack.empty()) {
    const auto [first, last] = stack.back();
    stack.pop_back();
    const double dx = line[last].x - line[first].x, dy = line[last].y - line[first].y;
    const double length = std::hypot(dx, dy);
    double worst = 0.0;
    size_t worst_index = first;
    for (size_t k = first + 1; k < last; ++k) {
      const double ex = line[k].x - line[first].x, ey = line[k].y - line[first].y;
      const double distance =
          length > 1e-12 ? std::abs(dx * ey - dy * ex) / length : std::hypot(ex, ey);
      if (distance > worst) {
        worst = distance;
        worst_index = k;
      }
    }
    if (worst > kLineTolerance) {
      keep[worst_index] = true;
      stack.emplace_back(first, worst_index);
      stack.emplace_back(worst_index, last);
    }
  }
  std::vector<Point> kept;
  for (size_t k = 0; k < line.size(); ++k) {
    if (keep[k]) kept.push_back(line[k]);
  }
  return kept;
}

/// Thins a line over time to the first, lowest, highest and last point of each pixel column,
/// so that a long run keeps its envelope at a size the width can show.
std::vector<Point> thinColumns(const std::vector<Point>& line) {
  std::vector<Point> thinned;
  size_t begin = 0;
  while (begin < line.size()) {
    size_t end = begin;
    size_t low = begin, high = begin;
    while (end < line.size() && std::floor(line[end].x) == std::floor(line[begin].x)) {
      if (line[end].y < line[low].y) low = end;
      if (line[end].y > line[high].y) high = end;
      ++end;
    }
    std::array<size_t, 4> picks = {begin, low, high, end - 1};
    std::sort(picks.begin(), picks.end());
    for (size_t k = 0; k < picks.size(); ++k) {
      if (k == 0 || picks[k] != picks[k - 1]) thinned.push_back(line[picks[k]]);
    }
    begin = end;
  }
  return thinned;
}

void writeLine(const std::vector<Point>& points, const Series& series, std::ostream& out) {
  if (points.empty()) return;
  out << "<polyline class=\"series\" fill=\"none\" stroke=\"" << series.colour
      << "\" stroke-width=\"1.3\"" << (series.dashed ? " stroke-dasharray=\"6 4\"" : "")
      << " points=\"";
  for (const Point& p : points) out << px(p.x) << ',' << px(p.y) << ' ';
  out << "\"/>\n";
}

/// Legend entries in a row ending at the right edge `right`, on the title line at `y`.
void writeLegend(const std::vector<Series>& series, double right, double y, std::ostream& out) {
  double width = 0.0;
  for (const Series& s : series) width += 40.0 + 6.8 * static_cast<double>(s.label.size());
  double x = right - width;
  for (const Series& s : series) {
    out << "<line x1=\"" << px(x) << "\" y1=\"" << px(y - 4) << "\" x2=\"" << px(x + 24)
        << "\" y2=\"" << px(y - 4) << "\" stroke=\"" << s.colour << "\" stroke-width=\"2\""
        << (s.dashed ? " stroke-dasharray=\"6 4\"" : "") << "/>\n";
    out << "<text x=\"" << px(x + 28) << "\" y=\"" << px(y) << "\">" << escapeMarkup(s.label)
        << "</text>\n";
    x += 40.0 + 6.8 * static_cast<double>(s.label.size());
  }
}

void writeTitle(const std::string& title, double x, double y, std::ostream& out) {
  out << "<text x=\"" << px(x) << "\" y=\"" << px(y) << "\" font-size=\"13\" font-weight=\"bold\">"
      << escapeMarkup(title) << "</text>\n";
}

/// Ticks, labels and grid of the horizontal axis of a panel spanning [top, bottom].
void writeXAxis(const std::vector<double>& ticks, const Scale& x, double top, double bottom,
                const std::string& unit, std::ostream& out) {
  const int decimals = decimalsOf(stepOf(ticks));
  for (const double t : ticks) {
    out << "<line x1=\"" << px(x(t)) << "\" y1=\"" << px(top) << "\" x2=\"" << px(x(t))
        << "\" y2=\"" << px(bottom + 4) << "\" stroke=\"#ddd\"/>\n";
    out << "<text class=\"xtick\" x=\"" << px(x(t)) << "\" y=\"" << px(bottom + 16)
        << "\" text-anchor=\"middle\">" << fixed(t, decimals) << "</text>\n";
  }
  out << "<text class=\"unit\" x=\"" << px(x.px_lo - 16) << "\" y=\"" << px(bottom + 16)
      << "\" text-anchor=\"end\">" << unit << "</text>\n";
}

/// Ticks, labels and grid of the vertical axis of a panel spanning [left, right].
void writeYAxis(const std::vector<double>& ticks, const Scale& y, double left, double right,
                const std::string& unit, std::ostream& out) {
  const int decimals = decimalsOf(stepOf(ticks));
  for (const double v : ticks) {
    out << "<line x1=\"" << px(left - 4) << "\" y1=\"" << px(y(v)) << "\" x2=\"" << px(right)
        << "\" y2=\"" << px(y(v)) << "\" stroke=\"#ddd\"/>\n";
    out << "<text class=\"ytick\" x=\"" << px(left - 7) << "\" y=\"" << px(y(v))
        << "\" dy=\"0.35em\" text-anchor=\"end\">" << fixed(v, decimals) << "</text>\n";
  }
  out << "<text class=\"unit\" x=\"" << px(left - 7) << "\" y=\"" << px(y.px_hi - 8)
      << "\" text-anchor=\"end\">" << unit << "</text>\n";
}

void writeFrame(double left, double top, double width, double height, std::ostream& out) {
  out << "<rect x=\"" << px(left) << "\" y=\"" << px(top) << "\" width=\"" << px(width)
      << "\" height=\"" << px(height) << "\" fill=\"none\" stroke=\"#888\"/>\n";
}

/// A value range [lo, hi] of the finite values of `series`, at least `min_span` wide, with a
/// margin and widened to whole ticks; `ticks` receives the ticks.
Scale valueScale(const std::vector<Series>& series, double min_span, double px_bottom,
                 double px_top, std::vector<double>& ticks) {
  double lo = std::numeric_limits<double>::infinity(), hi = -lo;
  for (const Series& s : series) {
    for (const double v : s.values) {
      if (std::isfinite(v)) {
        lo = std::min(lo, v);
        hi = std::max(hi, v);
      }
    }
  }
  if (!(lo <= hi)) lo = hi = 0.0;
  if (hi - lo < min_span) {
    const double middle = 0.5 * (lo + hi);
    lo = middle - 0.5 * min_span;
    hi = middle + 0.5 * min_span;
  }
  // A margin, so that a line at an extreme does not run along the frame; it does not cross
  // zero (a force never shows a negative axis).
  const double margin = 0.04 * (hi - lo);
  lo = lo >= 0.0 ? std::max(0.0, lo - margin) : lo - margin;
  hi = hi <= 0.0 ? std::min(0.0, hi + margin) : hi + margin;
  const double step = niceStep(hi - lo, 5);
  lo = std::floor(lo / step + 1e-9) * step;
  hi = std::ceil(hi / step - 1e-9) * step;
  ticks = ticksOf(lo, hi, step);
  return Scale{lo, hi, px_bottom, px_top};
}

/// The layout shared by the time panels.
struct TimeAxis {
  std::vector<double> time;
  std::vector<double> ticks;
  Scale x;
};

void writeTimePanel(const std::string& id, const std::string& title, const std::string& unit,
                    const std::vector<Series>& series, double min_span, const TimeAxis& axis,
                    double top, std::ostream& out) {
  const double bottom = top + kTimePanelHeight;
  std::vector<double> ticks;
  const Scale y = valueScale(series, min_span, bottom, top, ticks);
  out << "<g class=\"panel\" id=\"" << id << "\">\n";
  writeTitle(title, kLeft, top - 10, out);
  writeLegend(series, kRight, top - 10, out);
  writeYAxis(ticks, y, kLeft, kRight, unit, out);
  writeXAxis(axis.ticks, axis.x, top, bottom, "t [s]", out);
  writeFrame(kLeft, top, kRight - kLeft, kTimePanelHeight, out);
  for (const Series& s : series) {
    std::vector<Point> points;
    for (size_t k = 0; k < axis.time.size() && k < s.values.size(); ++k) {
      if (std::isfinite(s.values[k])) points.push_back({axis.x(axis.time[k]), y(s.values[k])});
    }
    writeLine(simplify(thinColumns(points)), s, out);
  }
  out << "</g>\n";
}

/// Bars along the time axis where `on(sample)` holds, in the row [y, y + height].
void writeBars(const std::vector<RunSample>& samples, const TimeAxis& axis,
               const std::function<bool(const RunSample&)>& on, double y, double height,
               const std::string& colour, std::ostream& out) {
  const auto writeBar = [&](double x0, double x1) {
    out << "<rect x=\"" << px(x0) << "\" y=\"" << px(y) << "\" width=\""
        << px(std::max(x1 - x0, 0.1)) << "\" height=\"" << px(height) << "\" fill=\"" << colour
        << "\"/>\n";
  };
  // Bars less than a pixel apart are drawn as one, which the width could not tell apart.
  double open_x0 = 0.0, open_x1 = -1.0;
  size_t k = 0;
  while (k + 1 < samples.size()) {
    if (!on(samples[k])) {
      ++k;
      continue;
    }
    size_t end = k;
    while (end + 1 < samples.size() && on(samples[end])) ++end;
    const double x0 = axis.x(axis.time[k]), x1 = axis.x(axis.time[end]);
    if (open_x1 >= open_x0 && x0 - open_x1 < 1.0) {
      open_x1 = x1;
    } else {
      if (open_x1 >= open_x0) writeBar(open_x0, open_x1);
      open_x0 = x0;
      open_x1 = x1;
    }
    k = end;
  }
  if (open_x1 >= open_x0) writeBar(open_x0, open_x1);
}

void writeContactPanel(const std::vector<RunSample>& samples, const TimeAxis& axis, double top,
                       std::ostream& out) {
  const double height = kContactRowHeight * 4.0;
  out << "<g class=\"panel\" id=\"contact\">\n";
  writeTitle("contact pattern", kLeft, top - 10, out);
  writeLegend({Series("planned stance", "#9ecae1"), Series("measured contact", "#333")}, kRight,
              top - 10, out);
  writeXAxis(axis.ticks, axis.x, top, top + height, "t [s]", out);
  for (size_t foot = 0; foot < 4; ++foot) {
    const double y = top + kContactRowHeight * static_cast<double>(foot);
    const double half = 0.5 * (kContactRowHeight - 4.0);
    out << "<text class=\"row\" x=\"" << px(kLeft - 7) << "\" y=\""
        << px(y + 0.5 * kContactRowHeight) << "\" dy=\"0.35em\" text-anchor=\"end\">"
        << kFootNames[foot] << "</text>\n";
    writeBars(
        samples, axis, [foot](const RunSample& s) { return s.planned_stance[foot]; }, y + 2.0, half,
        "#9ecae1", out);
    writeBars(
        samples, axis, [foot](const RunSample& s) { return s.foot_contact[foot]; }, y + 2.0 + half,
        half, "#333", out);
  }
  writeFrame(kLeft, top, kRight - kLeft, height, out);
  out << "</g>\n";
}

/// The commanded path: the commanded velocity integrated in the commanded heading (from the
/// first measured yaw, turning at the commanded yaw rate), from the first measured position.
std::vector<Point> commandedPath(const std::vector<RunSample>& samples) {
  std::vector<Point> path;
  double x = samples.front().base_pos(0), y = samples.front().base_pos(1);
  double yaw = samples.front().base_rpy(2);
  path.push_back({x, y});
  for (size_t k = 1; k < samples.size(); ++k) {
    const double dt = samples[k].time_s - samples[k - 1].time_s;
    const vector3_t& c = samples[k - 1].command;
    if (!(dt > 0.0) || !c.allFinite()) continue;
    const double mid_yaw = yaw + 0.5 * dt * c(2);
    x += dt * (std::cos(mid_yaw) * c(0) - std::sin(mid_yaw) * c(1));
    y += dt * (std::sin(mid_yaw) * c(0) + std::cos(mid_yaw) * c(1));
    yaw += dt * c(2);
    path.push_back({x, y});
  }
  return path;
}

/// Thins a path to points at least half a pixel (`min_step` in data units) apart.
std::vector<Point> thinPath(const std::vector<Point>& path, double min_step) {
  std::vector<Point> thinned;
  for (size_t k = 0; k < path.size(); ++k) {
    const bool last = k + 1 == path.size();
    if (thinned.empty() || last ||
        std::hypot(path[k].x - thinned.back().x, path[k].y - thinned.back().y) >= min_step) {
      thinned.push_back(path[k]);
    }
  }
  return thinned;
}

/// The top view: both paths and the axes that show them at one scale.
struct TopView {
  std::vector<Point> measured, commanded;  ///< world x-y [m]
  std::array<double, 2> lo{}, hi{};        ///< x and y range [m]
  double step = 1.0;                       ///< tick step of both axes [m]
  double scale = 1.0;                      ///< [px/m], on both axes
  double width() const { return scale * (hi[0] - lo[0]); }
  double height() const { return scale * (hi[1] - lo[1]); }
};

TopView planTopView(const std::vector<RunSample>& samples) {
  TopView view;
  for (const RunSample& s : samples) {
    if (std::isfinite(s.base_pos(0)) && std::isfinite(s.base_pos(1))) {
      view.measured.push_back({s.base_pos(0), s.base_pos(1)});
    }
  }
  view.commanded = commandedPath(samples);
  double x_lo = std::numeric_limits<double>::infinity(), x_hi = -x_lo, y_lo = x_lo, y_hi = x_hi;
  for (const std::vector<Point>* path : {&view.measured, &view.commanded}) {
    for (const Point& p : *path) {
      x_lo = std::min(x_lo, p.x);
      x_hi = std::max(x_hi, p.x);
      y_lo = std::min(y_lo, p.y);
      y_hi = std::max(y_hi, p.y);
    }
  }
  if (!(x_lo <= x_hi)) x_lo = x_hi = y_lo = y_hi = 0.0;
  // Each range spans the path with a margin, at least kMinSpan; the box takes the shape of the
  // ranges at the largest scale that fits, with one tick step on both axes about kTickSpacing
  // apart; a range is widened to two steps and kMinBox at least, so that it shows two ticks.
  constexpr double kMinSpan = 0.2, kTickSpacing = 80.0, kMinBox = 150.0;
  std::array<double, 2> span = {1.1 * std::max(x_hi - x_lo, kMinSpan),
                                1.1 * std::max(y_hi - y_lo, kMinSpan)};
  view.scale = std::min((kRight - kLeft) / span[0], kTopViewMaxHeight / span[1]);
  const double longest = std::max(span[0], span[1]);
  view.step = niceStep(longest, std::max(3, static_cast<int>(longest * view.scale / kTickSpacing)));
  const std::array<double, 2> middle = {0.5 * (x_lo + x_hi), 0.5 * (y_lo + y_hi)};
  for (size_t axis = 0; axis < 2; ++axis) {
    span[axis] = std::max({span[axis], 2.0 * view.step, kMinBox / view.scale});
    view.lo[axis] = middle[axis] - 0.5 * span[axis];
    view.hi[axis] = middle[axis] + 0.5 * span[axis];
  }
  return view;
}

void writeTopView(const TopView& view, double top, std::ostream& out) {
  const double bottom = top + view.height();
  const Scale x{view.lo[0], view.hi[0], kLeft, kLeft + view.width()};
  const Scale y{view.lo[1], view.hi[1], bottom, top};
  const std::vector<Series> legend = {Series("base path", "#1f77b4"),
                                      Series("commanded path", "#1f77b4", true)};
  out << "<g class=\"panel\" id=\"top_view\">\n";
  writeTitle("top view of the base (world x-y, equal scales)", kLeft, top - 10, out);
  writeLegend(legend, kRight, top - 10, out);
  writeYAxis(ticksOf(view.lo[1], view.hi[1], view.step), y, kLeft, kLeft + view.width(), "y [m]",
             out);
  writeXAxis(ticksOf(view.lo[0], view.hi[0], view.step), x, top, bottom, "x [m]", out);
  writeFrame(kLeft, top, view.width(), view.height(), out);
  const double half_pixel = 0.5 / view.scale;
  const auto toPixels = [&x, &y](const std::vector<Point>& path) {
    std::vector<Point> pixels;
    for (const Point& p : path) pixels.push_back({x(p.x), y(p.y)});
    return pixels;
  };
  writeLine(simplify(toPixels(thinPath(view.commanded, half_pixel))), legend[1], out);
  writeLine(simplify(toPixels(thinPath(view.measured, half_pixel))), legend[0], out);
  if (!view.measured.empty()) {
    const Point start{x(view.measured.front().x), y(view.measured.front().y)};
    out << "<circle cx=\"" << px(start.x) << "\" cy=\"" << px(start.y)
        << "\" r=\"4\" fill=\"#1f77b4\"/>\n<text x=\"" << px(start.x + 7) << "\" y=\""
        << px(start.y - 7) << "\">start</text>\n";
  }
  out << "</g>\n";
}

}  // namespace

std::vector<double> niceTicks(double lo, double hi, int target) {
  if (!std::isfinite(lo) || !std::isfinite(hi) || !(hi > lo) || target < 3) {
    throw std::invalid_argument("niceTicks: needs finite lo < hi and a target of at least 3 (lo " +
                                std::to_string(lo) + ", hi " + std::to_string(hi) + ", target " +
                                std::to_string(target) + ")");
  }
  return ticksOf(lo, hi, niceStep(hi - lo, target));
}

void writePlotSvg(const std::vector<RunSample>& samples, const std::string& title,
                  std::ostream& out) {
  if (samples.empty()) throw std::invalid_argument("writePlotSvg: no samples to plot");
  TimeAxis axis;
  std::array<Series, 2> velocity = {Series{"vx", "#1f77b4"}, Series{"vy", "#ff7f0e"}};
  std::array<Series, 2> velocity_cmd = {Series{"vx command", "#1f77b4", true},
                                        Series{"vy command", "#ff7f0e", true}};
  Series yaw_rate{"yaw rate", "#d62728"}, yaw_rate_cmd{"command", "#d62728", true};
  Series height{"height", "#1f77b4"}, height_ref{"reference", "#1f77b4", true};
  Series roll{"roll", "#1f77b4"}, pitch{"pitch", "#d62728"};
  std::array<Series, 4> force;
  for (size_t foot = 0; foot < 4; ++foot)
    force[foot] = Series{kFootNames[foot], kFootColours[foot]};
  for (const RunSample& s : samples) {
    axis.time.push_back(s.time_s);
    for (size_t k = 0; k < 2; ++k) {
      velocity[k].values.push_back(s.base_vel(static_cast<Eigen::Index>(k)));
      velocity_cmd[k].values.push_back(s.command(static_cast<Eigen::Index>(k)));
    }
    yaw_rate.values.push_back(s.yaw_rate);
    yaw_rate_cmd.values.push_back(s.command(2));
    height.values.push_back(s.base_pos(2));
    height_ref.values.push_back(s.height_ref);
    roll.values.push_back(s.base_rpy(0));
    pitch.values.push_back(s.base_rpy(1));
    for (size_t foot = 0; foot < 4; ++foot) force[foot].values.push_back(s.foot_force_z[foot]);
  }
  const double t0 = axis.time.front();
  const double t1 = axis.time.back() > t0 ? axis.time.back() : t0 + 1.0;
  axis.ticks = niceTicks(t0, t1, 10);
  axis.x = Scale{t0, t1, kLeft, kRight};

  const auto panelTop = [](int index) {
    return kFirstPanelTop + index * (kTimePanelHeight + kPanelGap);
  };
  const double contact_top = panelTop(5);
  const double top_view_top = contact_top + 4.0 * kContactRowHeight + kPanelGap;
  const TopView top_view = planTopView(samples);
  const double total_height = top_view_top + top_view.height() + 30.0;
  out << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << px(kWidth) << "\" height=\""
      << px(total_height) << "\" viewBox=\"0 0 " << px(kWidth) << ' ' << px(total_height)
      << "\" font-family=\"sans-serif\" font-size=\"11\">\n"
      << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  out << "<text x=\"" << px(kLeft) << "\" y=\"20\" font-size=\"15\" font-weight=\"bold\">"
      << escapeMarkup(title) << "</text>\n";
  writeTimePanel("velocity", "base velocity (heading frame)", "m/s",
                 {velocity[0], velocity[1], velocity_cmd[0], velocity_cmd[1]}, 0.2, axis,
                 panelTop(0), out);
  writeTimePanel("yaw_rate", "yaw rate", "rad/s", {yaw_rate, yaw_rate_cmd}, 0.2, axis, panelTop(1),
                 out);
  writeTimePanel("height", "base height", "m", {height, height_ref}, 0.02, axis, panelTop(2), out);
  writeTimePanel("attitude", "roll and pitch", "rad", {roll, pitch}, 0.02, axis, panelTop(3), out);
  writeTimePanel("foot_force", "vertical floor force on each foot", "N",
                 {force[0], force[1], force[2], force[3]}, 10.0, axis, panelTop(4), out);
  writeContactPanel(samples, axis, contact_top, out);
  writeTopView(top_view, top_view_top, out);
  out << "</svg>\n";
}

}  // namespace sim
}  // namespace velmora
