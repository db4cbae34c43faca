// Core building blocks: guarded buffer hand-over and reference-trajectory evaluation.

#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

#include "core/Types.h"
#include "core/misc/Buffer.h"
#include "core/trajectory/CubicSplineTrajectory.h"

namespace {

// One push and one get of a shared pointer, as a control loop hands over a result: a short mutex
// section and a reference-count change each, no allocation.
void BM_BufferPushGetSharedPtr(::benchmark::State& state) {
  velmora::Buffer<std::shared_ptr<const velmora::vector_t>> buffer;
  const auto payload = std::make_shared<const velmora::vector_t>(velmora::vector_t::Zero(37));
  for (auto _ : state) {
    buffer.push(payload);
    auto received = buffer.get();
    ::benchmark::DoNotOptimize(received);
  }
}
BENCHMARK(BM_BufferPushGetSharedPtr);

// evaluate() of a 3-dimensional, 50-knot clamped spline at times spread over (and slightly
// beyond) its range, visited in a scrambled order so that the knot search is not predictable.
void BM_CubicSplineEvaluate(::benchmark::State& state) {
  std::mt19937 rng(1);
  std::uniform_real_distribution<double> spacing(0.01, 0.05);
  std::uniform_real_distribution<double> value(-0.5, 0.5);
  std::vector<velmora::scalar_t> knot_times{100.0};
  std::vector<velmora::vector_t> knot_values;
  for (int k = 0; k < 50; ++k) {
    if (k > 0) knot_times.push_back(knot_times.back() + spacing(rng));
    knot_values.push_back(velmora::vector3_t(value(rng), value(rng), 0.3 + value(rng)));
  }
  const velmora::CubicSplineTrajectory spline(knot_times, knot_values);
  std::uniform_real_distribution<double> time(knot_times.front() - 0.01, knot_times.back() + 0.01);
  std::vector<velmora::scalar_t> query_times(1024);
  for (auto& t : query_times) t = time(rng);

  size_t i = 0;
  for (auto _ : state) {
    velmora::vector_t result = spline.evaluate(query_times[i]);
    ::benchmark::DoNotOptimize(result.data());
    i = (i + 1) & 1023;
  }
}
BENCHMARK(BM_CubicSplineEvaluate);

}  // namespace
