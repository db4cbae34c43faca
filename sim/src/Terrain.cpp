#include "sim/Terrain.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <sstream>
#include <stdexcept>

namespace velmora {
namespace sim {
namespace {

/// Extent of the boxes and of the rough field beyond the start [m].
constexpr scalar_t kFar = 50.0;
/// Rough field area: x in [kRoughXMin, kRoughXMax], |y| <= kRoughHalfWidth [m].
constexpr scalar_t kRoughXMin = -3.0;
constexpr scalar_t kRoughXMax = 12.0;
constexpr scalar_t kRoughHalfWidth = 4.0;
/// Cosine waves summed into the rough field.
constexpr int kRoughWaves = 24;

scalar_t radians(scalar_t degrees) { return degrees * M_PI / 180.0; }

std::string numbers(std::initializer_list<scalar_t> values) {
  std::ostringstream text;
  text.precision(10);
  bool first = true;
  for (const scalar_t v : values) {
    text << (first ? "" : " ") << v;
    first = false;
  }
  return text.str();
}

/// Uniform in [0, 1) from the generator's raw output (the same on every standard library).
scalar_t uniform01(std::mt19937& generator) {
  return static_cast<scalar_t>(generator()) / 4294967296.0;
}

/// A box geom of half sizes (hx, hy, hz) centred at (cx, cy, cz).
std::string box(const std::string& name, scalar_t cx, scalar_t cy, scalar_t cz, scalar_t hx,
                scalar_t hy, scalar_t hz, const std::string& attributes) {
  return "<geom name=\"" + name + "\" type=\"box\" pos=\"" + numbers({cx, cy, cz}) + "\" size=\"" +
         numbers({hx, hy, hz}) + "\" " + attributes + "/>\n";
}

}  // namespace

Terrain::Terrain(const TerrainSpec& spec) : spec_(spec) {
  validateTerrainSpec(spec_);
  if (spec_.type == TerrainSpec::Type::kRough && spec_.amplitude_m > 0.0) buildRoughField();
}

void Terrain::buildRoughField() {
  x0_ = kRoughXMin;
  y0_ = -kRoughHalfWidth;
  cols_ = static_cast<int>(std::lround((kRoughXMax - kRoughXMin) / kRoughCell)) + 1;
  rows_ = static_cast<int>(std::lround(2.0 * kRoughHalfWidth / kRoughCell)) + 1;
  // Plane waves of wavelengths 0.7..1.4 times the nominal one, random directions and phases.
  std::mt19937 generator(spec_.seed);
  std::array<std::array<scalar_t, 3>, kRoughWaves> waves{};
  for (auto& wave : waves) {
    const scalar_t k = 2.0 * M_PI / (spec_.wavelength_m * (0.7 + 0.7 * uniform01(generator)));
    const scalar_t direction = 2.0 * M_PI * uniform01(generator);
    wave = {k * std::cos(direction), k * std::sin(direction), 2.0 * M_PI * uniform01(generator)};
  }
  height_.assign(static_cast<size_t>(rows_ * cols_), 0.0);
  scalar_t peak = 0.0;
  for (int r = 0; r < rows_; ++r) {
    for (int c = 0; c < cols_; ++c) {
      const scalar_t x = x0_ + c * kRoughCell, y = y0_ + r * kRoughCell;
      scalar_t h = 0.0;
      for (const auto& wave : waves) h += std::cos(wave[0] * x + wave[1] * y + wave[2]);
      // Level at the start, full height from twice the flat radius on.
      const scalar_t u = std::clamp(std::hypot(x, y) / kRoughFlatRadius - 1.0, 0.0, 1.0);
      h *= u * u * (3.0 - 2.0 * u);
      height_[static_cast<size_t>(r * cols_ + c)] = h;
      peak = std::max(peak, std::abs(h));
    }
  }
  const scalar_t a = spec_.amplitude_m;
  elevation_.resize(height_.size());
  for (size_t k = 0; k < height_.size(); ++k) {
    // Rounded to the float MuJoCo stores, so that heightAt matches the simulated surface.
    elevation_[k] = static_cast<float>(0.5 + 0.5 * height_[k] / peak);
    height_[k] = -a + 2.0 * a * static_cast<scalar_t>(elevation_[k]);
  }
}

scalar_t Terrain::heightAt(scalar_t x, scalar_t y) const {
  switch (spec_.type) {
    case TerrainSpec::Type::kFlat:
      return 0.0;
    case TerrainSpec::Type::kSlope: {
      const scalar_t heading = radians(spec_.heading_deg);
      return std::tan(radians(spec_.angle_deg)) * (x * std::cos(heading) + y * std::sin(heading));
    }
    case TerrainSpec::Type::kSteps: {
      if (x < spec_.step_start_x_m) return 0.0;
      const scalar_t passed = std::floor((x - spec_.step_start_x_m) / spec_.step_depth_m) + 1.0;
      return spec_.step_height_m * std::min(passed, static_cast<scalar_t>(spec_.step_count));
    }
    case TerrainSpec::Type::kRough: {
      if (height_.empty()) return 0.0;
      const scalar_t u = (x - x0_) / kRoughCell, v = (y - y0_) / kRoughCell;
      if (u < 0.0 || v < 0.0 || u > cols_ - 1 || v > rows_ - 1) return -spec_.amplitude_m;
      const int c = std::min(static_cast<int>(u), cols_ - 2);
      const int r = std::min(static_cast<int>(v), rows_ - 2);
      const scalar_t fu = u - c, fv = v - r;
      const auto at = [this](int row, int col) {
        return height_[static_cast<size_t>(row * cols_ + col)];
      };
      // The cell's two triangles share the diagonal from (r, c) to (r + 1, c + 1).
      const scalar_t h00 = at(r, c), h11 = at(r + 1, c + 1);
      return fu >= fv ? h00 + fu * (at(r, c + 1) - h00) + fv * (h11 - at(r, c + 1))
                      : h00 + fv * (at(r + 1, c) - h00) + fu * (h11 - at(r + 1, c));
    }
  }
  return 0.0;
}

matrix3_t Terrain::startRotation() const {
  if (spec_.type != TerrainSpec::Type::kSlope) return matrix3_t::Identity();
  const scalar_t heading = radians(spec_.heading_deg);
  // Turning about the horizontal axis left of the uphill lifts the ground ahead of it.
  const vector3_t axis(std::sin(heading), -std::cos(heading), 0.0);
  return Eigen::AngleAxisd(radians(spec_.angle_deg), axis).toRotationMatrix();
}

std::string Terrain::mjcfAssets() const {
  if (height_.empty()) return {};
  const scalar_t a = spec_.amplitude_m;
  return "<hfield name=\"velmora_rough\" nrow=\"" + std::to_string(rows_) + "\" ncol=\"" +
         std::to_string(cols_) + "\" size=\"" +
         numbers({0.5 * (cols_ - 1) * kRoughCell, 0.5 * (rows_ - 1) * kRoughCell, 2.0 * a, 0.05}) +
         "\"/>\n";
}

std::string Terrain::mjcfGeoms(const std::string& material, const std::string& friction) const {
  const std::string prefix = groundGeomPrefix();
  // Priority: the ground's friction is every ground contact's (not the larger of the two).
  const std::string looks =
      "material=\"" + material + "\" friction=\"" + friction + "\" priority=\"1\"";
  const auto plane = [&](const std::string& attributes) {
    return "<geom name=\"" + prefix + "\" type=\"plane\" size=\"0 0 1\" " + attributes + " " +
           looks + "/>\n";
  };
  switch (spec_.type) {
    case TerrainSpec::Type::kFlat:
      return plane("");
    case TerrainSpec::Type::kSlope: {
      const Eigen::Quaterniond q(startRotation());
      return plane("quat=\"" + numbers({q.w(), q.x(), q.y(), q.z()}) + "\"");
    }
    case TerrainSpec::Type::kSteps: {
      const scalar_t h = spec_.step_height_m, d = spec_.step_depth_m, x0 = spec_.step_start_x_m;
      const int n = spec_.step_count;
      const scalar_t floor_z = std::min(0.0, n * h), bottom = floor_z - 0.1;
      std::string geoms = plane("pos=\"0 0 " + numbers({floor_z}) + "\"");
      // Every level above the floor plane as a box from below the floor up to its top.
      for (int k = 0; k <= n; ++k) {
        const scalar_t top = k * h;
        if (top <= floor_z) continue;
        const scalar_t begin = k == 0 ? x0 - kFar : x0 + (k - 1) * d;
        const scalar_t end = k == n ? x0 + (n - 1) * d + kFar : x0 + k * d;
        geoms += box(prefix + "_step" + std::to_string(k), 0.5 * (begin + end), 0.0,
                     0.5 * (top + bottom), 0.5 * (end - begin), kFar, 0.5 * (top - bottom), looks);
      }
      return geoms;
    }
    case TerrainSpec::Type::kRough: {
      if (height_.empty()) return plane("");
      const scalar_t a = spec_.amplitude_m;
      const scalar_t cx = x0_ + 0.5 * (cols_ - 1) * kRoughCell;
      const scalar_t cy = y0_ + 0.5 * (rows_ - 1) * kRoughCell;
      return plane("pos=\"0 0 " + numbers({-a}) + "\"") + "<geom name=\"" + prefix +
             "_rough\" type=\"hfield\" hfield=\"velmora_rough\" pos=\"" + numbers({cx, cy, -a}) +
             "\" " + looks + "/>\n";
    }
  }
  return {};
}

}  // namespace sim
}  // namespace velmora
