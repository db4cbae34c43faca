// TrajectoriesBuffer: the base-position fallback order and concurrent readers with a writer
// (also run under ThreadSanitizer).

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "common/TrajectoriesBuffer.h"

namespace velmora {
namespace {

using trajectory_ptr_t = TrajectoriesBuffer::trajectory_ptr_t;

trajectory_ptr_t constant(double value) {
  return std::make_shared<CubicSplineTrajectory>(
      CubicSplineTrajectory::constant(vector3_t::Constant(value), 0.0, 1.0));
}

TEST(TrajectoriesBuffer, BasePositionFallsBackFromOptimisedToPositionToReference) {
  TrajectoriesBuffer buffer;
  const auto reference = constant(1.0), position = constant(2.0), optimized = constant(3.0);
  buffer.set_base_pos_ref_traj(reference);
  buffer.set_optimized_base_pos_traj(optimized);
  EXPECT_EQ(buffer.get_base_pos_traj(), optimized);
  buffer.set_optimized_base_pos_traj(nullptr);
  EXPECT_EQ(buffer.get_base_pos_traj(), reference);
  buffer.set_base_pos_traj(position);
  EXPECT_EQ(buffer.get_base_pos_traj(), position);
}

// Readers while a writer swaps the base position slots and the foot map:
// every read returns a whole, evaluable trajectory (the reference slot is never emptied).
TEST(TrajectoriesBuffer, ConcurrentReadersAndAWriter) {
  TrajectoriesBuffer buffer;
  buffer.set_base_pos_ref_traj(constant(-1.0));
  std::atomic<bool> done{false};
  std::atomic<int> bad{0};
  std::vector<std::thread> readers;
  for (int r = 0; r < 3; ++r) {
    readers.emplace_back([&] {
      while (!done.load()) {
        const trajectory_ptr_t base = buffer.get_base_pos_traj();
        bad += base == nullptr || base->evaluate(0.5)(0) != base->evaluate(0.5)(2);
        for (const auto& [name, foot] : buffer.get_foot_pos_traj()) bad += foot == nullptr;
      }
    });
  }
  for (int i = 0; i < 2000; ++i) {
    buffer.set_optimized_base_pos_traj(i % 3 == 0 ? nullptr : constant(i));
    buffer.set_base_pos_traj(i % 2 == 0 ? nullptr : constant(-i));
    buffer.set_foot_pos_traj({{"FL_foot", constant(i)}, {"RR_foot", constant(i + 1)}});
  }
  done = true;
  for (auto& reader : readers) reader.join();
  EXPECT_EQ(bad.load(), 0);
}

}  // namespace
}  // namespace velmora
