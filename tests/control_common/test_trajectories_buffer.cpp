// TrajectoriesBuffer: empty slots, base-position fallback order, map copies in and out,
// lifetimes of handed-out references, clear, and concurrent readers with a writer.

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "common/TrajectoriesBuffer.h"

namespace velmora {
namespace {

using trajectory_ptr_t = TrajectoriesBuffer::trajectory_ptr_t;
using trajectory_map_t = TrajectoriesBuffer::trajectory_map_t;

trajectory_ptr_t constant(double value) {
  return std::make_shared<CubicSplineTrajectory>(
      CubicSplineTrajectory::constant(vector3_t::Constant(value), 0.0, 1.0));
}

/// Every getter of a single-trajectory slot, paired with its setter.
struct Slot {
  trajectory_ptr_t (TrajectoriesBuffer::*get)() const;
  void (TrajectoriesBuffer::*set)(trajectory_ptr_t);
};
const std::vector<Slot> kPointerSlots = {
    {&TrajectoriesBuffer::get_base_rpy_traj, &TrajectoriesBuffer::set_base_rpy_traj},
    {&TrajectoriesBuffer::get_base_pos_ref_traj, &TrajectoriesBuffer::set_base_pos_ref_traj},
    {&TrajectoriesBuffer::get_gripper_rpy_traj, &TrajectoriesBuffer::set_gripper_rpy_traj},
    {&TrajectoriesBuffer::get_gripper_pos_traj, &TrajectoriesBuffer::set_gripper_pos_traj},
    {&TrajectoriesBuffer::get_com_pos_traj, &TrajectoriesBuffer::set_com_pos_traj},
    {&TrajectoriesBuffer::get_angular_momentum_traj,
     &TrajectoriesBuffer::set_angular_momentum_traj},
    {&TrajectoriesBuffer::get_joint_pos_traj, &TrajectoriesBuffer::set_joint_pos_traj},
};

void expectAllEmpty(const TrajectoriesBuffer& buffer) {
  for (const Slot& slot : kPointerSlots) EXPECT_EQ((buffer.*slot.get)(), nullptr);
  EXPECT_EQ(buffer.get_base_pos_traj(), nullptr);
  EXPECT_TRUE(buffer.get_foot_pos_traj().empty());
  EXPECT_TRUE(buffer.get_foot_rpy_traj().empty());
}

TEST(TrajectoriesBuffer, NewBufferIsEmpty) { expectAllEmpty(TrajectoriesBuffer()); }

TEST(TrajectoriesBuffer, EachSlotIsIndependent) {
  TrajectoriesBuffer buffer;
  std::vector<trajectory_ptr_t> stored;
  for (size_t i = 0; i < kPointerSlots.size(); ++i) {
    stored.push_back(constant(static_cast<double>(i)));
    (buffer.*kPointerSlots[i].set)(stored.back());
  }
  for (size_t i = 0; i < kPointerSlots.size(); ++i) {
    EXPECT_EQ((buffer.*kPointerSlots[i].get)(), stored[i]) << "slot " << i;
  }
  // Emptying one slot touches no other.
  (buffer.*kPointerSlots[2].set)(nullptr);
  for (size_t i = 0; i < kPointerSlots.size(); ++i) {
    EXPECT_EQ((buffer.*kPointerSlots[i].get)(), i == 2 ? nullptr : stored[i]) << "slot " << i;
  }
}

TEST(TrajectoriesBuffer, BasePositionFallbackOrder) {
  TrajectoriesBuffer buffer;
  const auto reference = constant(1.0);
  const auto position = constant(2.0);
  const auto optimized = constant(3.0);
  buffer.set_base_pos_ref_traj(reference);
  EXPECT_EQ(buffer.get_base_pos_traj(), reference);
  buffer.set_base_pos_traj(position);
  EXPECT_EQ(buffer.get_base_pos_traj(), position);
  buffer.set_optimized_base_pos_traj(optimized);
  EXPECT_EQ(buffer.get_base_pos_traj(), optimized);
  EXPECT_EQ(buffer.get_base_pos_ref_traj(), reference) << "the reference slot is always itself";
  buffer.set_optimized_base_pos_traj(nullptr);
  EXPECT_EQ(buffer.get_base_pos_traj(), position);
  buffer.set_base_pos_traj(nullptr);
  EXPECT_EQ(buffer.get_base_pos_traj(), reference);
  buffer.set_base_pos_ref_traj(nullptr);
  EXPECT_EQ(buffer.get_base_pos_traj(), nullptr);
  // The optimised slot alone is also found.
  buffer.set_optimized_base_pos_traj(optimized);
  EXPECT_EQ(buffer.get_base_pos_traj(), optimized);
  EXPECT_EQ(buffer.get_base_pos_ref_traj(), nullptr);
}

TEST(TrajectoriesBuffer, MapsAreCopiedInAndOut) {
  TrajectoriesBuffer buffer;
  const auto front_left = constant(0.1);
  const auto front_right = constant(0.2);
  trajectory_map_t feet{{"FL_foot", front_left}, {"FR_foot", front_right}};
  buffer.set_foot_pos_traj(feet);
  feet.erase("FL_foot");
  feet["RL_foot"] = constant(0.3);
  trajectory_map_t read = buffer.get_foot_pos_traj();
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read.at("FL_foot"), front_left) << "same trajectory object, not a copy";
  EXPECT_EQ(read.at("FR_foot"), front_right);

  // A lookup that inserts a missing key changes only the caller's copy.
  EXPECT_EQ(read["RR_foot"], nullptr);
  read.erase("FR_foot");
  const trajectory_map_t again = buffer.get_foot_pos_traj();
  EXPECT_EQ(again.size(), 2u);
  EXPECT_EQ(again.count("RR_foot"), 0u);
  EXPECT_EQ(again.at("FR_foot"), front_right);

  EXPECT_TRUE(buffer.get_foot_rpy_traj().empty()) << "the two maps are separate slots";
  buffer.set_foot_rpy_traj({{"FL_foot", front_right}});
  EXPECT_EQ(buffer.get_foot_rpy_traj().at("FL_foot"), front_right);
  EXPECT_EQ(buffer.get_foot_pos_traj().at("FL_foot"), front_left);
}

TEST(TrajectoriesBuffer, HandedOutReferencesOutliveOverwriteAndDestruction) {
  auto buffer = std::make_unique<TrajectoriesBuffer>();
  std::weak_ptr<CubicSplineTrajectory> watch;
  trajectory_ptr_t held;
  {
    auto rpy = constant(0.5);
    watch = rpy;
    buffer->set_base_rpy_traj(rpy);
    buffer->set_foot_pos_traj({{"FL_foot", rpy}});
  }
  held = buffer->get_base_rpy_traj();
  buffer->set_base_rpy_traj(constant(0.7));
  EXPECT_FALSE(watch.expired()) << "still held by the map slot and by `held`";
  buffer.reset();
  ASSERT_FALSE(watch.expired());
  EXPECT_TRUE(held->evaluate(0.5).isApprox(vector3_t::Constant(0.5)));
  held.reset();
  EXPECT_TRUE(watch.expired()) << "the destroyed buffer released its references";
}

TEST(TrajectoriesBuffer, ClearEmptiesEverySlot) {
  TrajectoriesBuffer buffer;
  const auto trajectory = constant(1.0);
  for (const Slot& slot : kPointerSlots) (buffer.*slot.set)(trajectory);
  buffer.set_base_pos_traj(trajectory);
  buffer.set_optimized_base_pos_traj(trajectory);
  buffer.set_foot_pos_traj({{"FL_foot", trajectory}});
  buffer.set_foot_rpy_traj({{"FL_foot", trajectory}});
  const trajectory_ptr_t held = buffer.get_base_rpy_traj();
  buffer.clear();
  expectAllEmpty(buffer);
  EXPECT_EQ(held.use_count(), 2) << "only `held` and `trajectory` remain";
}

// Readers on the const interface while a writer swaps the base position slots and the foot map:
// every read returns either null or a whole, evaluable trajectory (run under ThreadSanitizer).
TEST(TrajectoriesBuffer, ConcurrentReadersAndAWriter) {
  auto buffer = std::make_shared<TrajectoriesBuffer>();
  const std::shared_ptr<const TrajectoriesBuffer> readonly = buffer;
  buffer->set_base_pos_ref_traj(constant(-1.0));
  std::atomic<bool> done{false};
  std::atomic<int> bad{0};
  std::vector<std::thread> readers;
  for (int r = 0; r < 3; ++r) {
    readers.emplace_back([&] {
      while (!done.load()) {
        const trajectory_ptr_t base = readonly->get_base_pos_traj();
        if (base == nullptr) {
          ++bad;  // the reference slot is never emptied, so the fallback always finds something
        } else {
          const vector_t value = base->evaluate(0.5);
          if (value.size() != 3 || value(0) != value(2)) ++bad;
        }
        for (const auto& [name, foot] : readonly->get_foot_pos_traj()) {
          if (foot == nullptr || name.empty()) ++bad;
        }
      }
    });
  }
  for (int i = 0; i < 2000; ++i) {
    buffer->set_optimized_base_pos_traj(i % 3 == 0 ? nullptr : constant(i));
    buffer->set_base_pos_traj(i % 2 == 0 ? nullptr : constant(-i));
    buffer->set_foot_pos_traj({{"FL_foot", constant(i)}, {"RR_foot", constant(i + 1)}});
  }
  done = true;
  for (auto& reader : readers) reader.join();
  EXPECT_EQ(bad.load(), 0);
}

}  // namespace
}  // namespace velmora
