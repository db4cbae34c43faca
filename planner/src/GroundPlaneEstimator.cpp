#include "planner/GroundPlaneEstimator.h"

#include <cmath>
#include <stdexcept>
#include <string>

namespace velmora {
namespace planner {

std::optional<GroundPlane> GroundPlane::fit(const std::vector<vector3_t>& points,
                                            scalar_t min_spread_m) {
  if (points.size() < 3) return std::nullopt;
  vector3_t mean = vector3_t::Zero();
  for (const vector3_t& p : points) mean += p;
  mean /= static_cast<scalar_t>(points.size());
  // Normal equations of z - mean_z = b (x - mean_x) + c (y - mean_y).
  Eigen::Matrix2d spread = Eigen::Matrix2d::Zero();
  Eigen::Vector2d moment = Eigen::Vector2d::Zero();
  for (const vector3_t& p : points) {
    const Eigen::Vector2d d = (p - mean).head<2>();
    spread += d * d.transpose();
    moment += d * (p(2) - mean(2));
  }
  spread /= static_cast<scalar_t>(points.size());
  moment /= static_cast<scalar_t>(points.size());
  const Eigen::SelfAdjointEigenSolver<Eigen::Matrix2d> eigen(spread);
  if (eigen.eigenvalues()(0) < min_spread_m * min_spread_m) return std::nullopt;
  const Eigen::Vector2d slope = spread.ldlt().solve(moment);
  return GroundPlane{mean(2) - slope.dot(mean.head<2>()), slope(0), slope(1)};
}

GroundPlaneEstimator::GroundPlaneEstimator(size_t num_feet, GroundPlaneSettings settings)
    : settings_(settings), footholds_(num_feet) {
  if (num_feet < 3 || settings_.footholds_per_foot < 1 || !(settings_.smoothing > 0.0) ||
      settings_.smoothing > 1.0) {
    throw std::invalid_argument(
        "GroundPlaneEstimator: needs at least three feet, one foothold per foot and a "
        "smoothing in (0, 1]");
  }
}

void GroundPlaneEstimator::reset(const std::vector<vector3_t>& feet) {
  if (feet.size() != footholds_.size()) {
    throw std::invalid_argument("GroundPlaneEstimator::reset: " + std::to_string(feet.size()) +
                                " foot positions for " + std::to_string(footholds_.size()) +
                                " feet");
  }
  scalar_t mean_z = 0.0;
  for (size_t i = 0; i < feet.size(); ++i) {
    if (!feet[i].allFinite()) {
      throw std::invalid_argument("GroundPlaneEstimator::reset: foot " + std::to_string(i) +
                                  " has a non-finite position");
    }
    footholds_[i].assign(1, feet[i]);
    mean_z += feet[i](2) / static_cast<scalar_t>(feet.size());
  }
  plane_ = GroundPlane::fit(feet).value_or(GroundPlane{mean_z, 0.0, 0.0});
  roughness_ = 0.0;
}

void GroundPlaneEstimator::addFoothold(size_t foot, const vector3_t& position) {
  if (foot >= footholds_.size() || !position.allFinite()) {
    throw std::invalid_argument("GroundPlaneEstimator::addFoothold: foot " + std::to_string(foot) +
                                " is out of range or its position is not finite");
  }
  std::vector<vector3_t>& kept = footholds_[foot];
  kept.push_back(position);
  if (kept.size() > settings_.footholds_per_foot) kept.erase(kept.begin());
  refit();
}

void GroundPlaneEstimator::refit() {
  std::vector<vector3_t> points;
  for (const auto& foot : footholds_) points.insert(points.end(), foot.begin(), foot.end());
  std::optional<GroundPlane> fitted = GroundPlane::fit(points);
  if (!fitted) return;
  // The point furthest from its own fit is left out when the others place it beyond the limit.
  if (points.size() >= 5) {
    size_t worst = 0;
    scalar_t worst_residual = -1.0;
    for (size_t k = 0; k < points.size(); ++k) {
      const scalar_t r = std::abs(points[k](2) - fitted->heightAt(points[k](0), points[k](1)));
      if (r > worst_residual) {
        worst_residual = r;
        worst = k;
      }
    }
    std::vector<vector3_t> others = points;
    others.erase(others.begin() + static_cast<std::ptrdiff_t>(worst));
    const std::optional<GroundPlane> without = GroundPlane::fit(others);
    if (without &&
        std::abs(points[worst](2) - without->heightAt(points[worst](0), points[worst](1))) >
            settings_.outlier_m) {
      fitted = without;
      points = others;
    }
  }
  scalar_t sum_sq = 0.0;
  for (const vector3_t& p : points) sum_sq += std::pow(p(2) - fitted->heightAt(p(0), p(1)), 2);
  roughness_ = std::sqrt(sum_sq / static_cast<scalar_t>(points.size()));
  const scalar_t a = settings_.smoothing;
  plane_.height += a * (fitted->height - plane_.height);
  plane_.slope_x += a * (fitted->slope_x - plane_.slope_x);
  plane_.slope_y += a * (fitted->slope_y - plane_.slope_y);
}

}  // namespace planner
}  // namespace velmora
