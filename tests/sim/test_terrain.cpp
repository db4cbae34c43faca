// The simulated ground and the planner's estimate of it: the height function against MuJoCo's own
// ray cast on the compiled terrain, the start pose on it, and the plane fit against exact planes.

#include <random>

#include "SimTestSupport.h"
#include "planner/GroundPlaneEstimator.h"
#include "sim/MujocoPlant.h"

namespace velmora::sim {
namespace {

TerrainSpec terrainOf(const std::string& text) { return parseTerrainSpec(text); }

class TerrainTest : public test::BundledRobotTest,
                    public ::testing::WithParamInterface<std::string> {};

TEST_P(TerrainTest, HeightMatchesMujocoRayCastAndTheRobotStartsOnTheGround) {
  const MujocoPlant plant(test::kUrdf, info_, 0.001, terrainOf(GetParam()));
  const Terrain& terrain = plant.terrain();
  std::mt19937 generator(3);
  std::uniform_real_distribution<double> along(-2.5, 9.0), across(-3.5, 3.5);
  double highest = 0.0;
  for (int k = 0; k < 400; ++k) {
    const double x = along(generator), y = across(generator);
    if (std::abs(x) < 0.6 && std::abs(y) < 0.4) continue;  // the robot
    const mjtNum from[3] = {x, y, 5.0}, down[3] = {0.0, 0.0, -1.0};
    int geom = -1;
    const mjtNum distance =
        mj_ray(&plant.model(), &plant.data(), from, down, nullptr, 1, -1, &geom);
    ASSERT_GE(geom, 0) << "no ground under " << x << ", " << y;
    EXPECT_NEAR(5.0 - distance, terrain.heightAt(x, y), 1e-6)
        << GetParam() << " at " << x << ", " << y;
    highest = std::max(highest, std::abs(terrain.heightAt(x, y)));
  }
  // The terrain is there at all (a flat field would match the ray cast of a flat floor).
  const TerrainSpec& spec = terrain.spec();
  const double expected_relief = spec.type == TerrainSpec::Type::kFlat    ? 0.0
                                 : spec.type == TerrainSpec::Type::kRough ? 0.5 * spec.amplitude_m
                                                                          : 0.02;
  EXPECT_GE(highest, expected_relief);
  // Feet start on the ground: their centres a foot radius (0.02 m) above it along the normal.
  for (const std::string& foot : info_.foot_name) {
    const mjtNum* p = plant.data().xpos + 3 * mj_name2id(&plant.model(), mjOBJ_BODY, foot.c_str());
    const double cos_tilt = std::cos(spec.angle_deg * M_PI / 180.0);
    EXPECT_NEAR((p[2] - terrain.heightAt(p[0], p[1])) * cos_tilt, 0.02, 2e-3) << foot;
  }
}

INSTANTIATE_TEST_SUITE_P(Types, TerrainTest,
                         ::testing::Values("flat", "slope:12:30", "slope:15:200", "steps:0.04",
                                           "steps:-0.05:0.3:4", "rough:0.02:0.3:7"));

TEST(Terrain, RoughGroundIsDeterministicInItsSeedAndLevelAtTheStart) {
  const Terrain a(terrainOf("rough:0.02:0.3:7")), b(terrainOf("rough:0.02:0.3:7"));
  const Terrain other(terrainOf("rough:0.02:0.3:8"));
  double difference = 0.0;
  for (double x = 1.5; x < 4.0; x += 0.13) {
    EXPECT_EQ(a.heightAt(x, 0.7), b.heightAt(x, 0.7));
    difference = std::max(difference, std::abs(a.heightAt(x, 0.7) - other.heightAt(x, 0.7)));
    EXPECT_EQ(a.heightAt(0.3 * std::cos(x), 0.3 * std::sin(x)), 0.0);
  }
  EXPECT_GT(difference, 0.005);
}

// The compact form carries a terrain to a plant in another process: every field of every type
// survives formatting and parsing bit for bit, including values without an exact decimal form.
TEST(Terrain, CompactFormReadsBackToTheSameSpec) {
  std::mt19937 rng(5);
  const auto draw = [&rng](double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(rng);
  };
  std::vector<TerrainSpec> specs(1);  // flat
  for (int k = 0; k < 20; ++k) {
    TerrainSpec slope, steps, rough;
    slope.type = TerrainSpec::Type::kSlope;
    slope.angle_deg = draw(0.0, 15.0);
    slope.heading_deg = draw(-360.0, 360.0);
    steps.type = TerrainSpec::Type::kSteps;
    steps.step_height_m = draw(-0.05, 0.05);
    steps.step_depth_m = draw(0.05, 10.0);
    steps.step_count = 1 + k;
    steps.step_start_x_m = draw(-1000.0, 1000.0);
    rough.type = TerrainSpec::Type::kRough;
    rough.amplitude_m = draw(0.0, 0.02);
    rough.wavelength_m = draw(0.01, 100.0);
    rough.seed = static_cast<uint32_t>(rng());
    specs.insert(specs.end(), {slope, steps, rough});
  }
  for (const TerrainSpec& spec : specs) {
    const std::string text = formatTerrainSpec(spec);
    const TerrainSpec back = parseTerrainSpec(text);
    EXPECT_EQ(back.type, spec.type) << text;
    EXPECT_EQ(back.angle_deg, spec.angle_deg) << text;
    EXPECT_EQ(back.heading_deg, spec.heading_deg) << text;
    EXPECT_EQ(back.step_height_m, spec.step_height_m) << text;
    EXPECT_EQ(back.step_depth_m, spec.step_depth_m) << text;
    EXPECT_EQ(back.step_count, spec.step_count) << text;
    EXPECT_EQ(back.step_start_x_m, spec.step_start_x_m) << text;
    EXPECT_EQ(back.amplitude_m, spec.amplitude_m) << text;
    EXPECT_EQ(back.wavelength_m, spec.wavelength_m) << text;
    EXPECT_EQ(back.seed, spec.seed) << text;
  }
  // Short where the numbers are.
  EXPECT_EQ(formatTerrainSpec(parseTerrainSpec("steps:0.04:0.3:3:0.7")), "steps:0.04:0.3:3:0.7");
  EXPECT_EQ(formatTerrainSpec(parseTerrainSpec("slope:10")), "slope:10:0");
}

TEST(GroundPlane, FitsExactPlanesRejectsOneOutlierAndDegenerateSets) {
  const planner::GroundPlane truth{0.31, -0.17, 0.09};
  std::mt19937 generator(5);
  std::uniform_real_distribution<double> coordinate(-0.3, 0.3);
  const auto onPlane = [&](double x0) {
    const double x = x0 + coordinate(generator), y = coordinate(generator);
    return vector3_t(x, y, truth.heightAt(x, y));
  };
  std::vector<vector3_t> feet;
  for (int i = 0; i < 4; ++i) feet.push_back(onPlane(5.0));
  const auto expectPlane = [&truth](const planner::GroundPlane& plane) {
    EXPECT_NEAR(plane.height, truth.height, 1e-9);
    EXPECT_NEAR(plane.slope_x, truth.slope_x, 1e-9);
    EXPECT_NEAR(plane.slope_y, truth.slope_y, 1e-9);
  };
  expectPlane(planner::GroundPlane::fit(feet).value());
  planner::GroundPlaneEstimator estimator(4, planner::GroundPlaneSettings{});
  estimator.reset(feet);
  expectPlane(estimator.plane());
  // Footholds walking along the plane; then one 5 cm off it (a stone, a slip).
  for (size_t k = 0; k < 12; ++k) estimator.addFoothold(k % 4, onPlane(5.0 + 0.05 * k));
  expectPlane(estimator.plane());
  EXPECT_NEAR(estimator.roughness(), 0.0, 1e-9);
  estimator.addFoothold(2, onPlane(5.7) + vector3_t(0.0, 0.0, 0.05));
  expectPlane(estimator.plane());
  // Collinear points leave the slope open; bad input is refused.
  EXPECT_FALSE(planner::GroundPlane::fit({{0, 0, 0}, {1, 1, 0}, {2, 2, 1}, {3, 3, 0}}).has_value());
  EXPECT_FALSE(planner::GroundPlane::fit({{0, 0, 0}, {1, 0, 0}}).has_value());
  EXPECT_THROW(estimator.addFoothold(4, vector3_t::Zero()), std::invalid_argument);
  EXPECT_THROW(estimator.addFoothold(0, vector3_t(0, NAN, 0)), std::invalid_argument);
  EXPECT_THROW(estimator.reset({feet[0], feet[1]}), std::invalid_argument);
  EXPECT_THROW(planner::GroundPlaneEstimator(4, planner::GroundPlaneSettings{2, 0.0, 0.03}),
               std::invalid_argument);
}

}  // namespace
}  // namespace velmora::sim
