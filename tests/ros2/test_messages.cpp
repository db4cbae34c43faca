// Bounded sequences against std::vector plus an explicit bound, and the command message.

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <stdexcept>

#include "communication/msg/actuator_cmds.hpp"
#include "rosidl_runtime_cpp/bounded_vector.hpp"

namespace {

using Bounded = rosidl_runtime_cpp::BoundedVector<int, 5>;

// Random operations agree with std::vector, which has no bound: wherever the reference would
// exceed five elements the bounded vector must throw and stay as it was. Comparisons agree too.
TEST(BoundedVector, RandomOperationsMatchStdVectorWithinTheBound) {
  std::mt19937 rng(42);
  Bounded bounded, previous;
  std::vector<int> reference, previous_reference;
  for (int step = 0; step < 5000; ++step) {
    const int op = std::uniform_int_distribution<int>(0, 4)(rng);
    const int value = std::uniform_int_distribution<int>(-3, 3)(rng);
    const size_t pos = std::uniform_int_distribution<size_t>(0, reference.size())(rng);
    const size_t count = std::uniform_int_distribution<size_t>(0, 3)(rng);
    std::vector<int> candidate = reference;
    std::function<void()> apply;
    if (op == 0) {
      candidate.insert(candidate.begin() + pos, count, value);
      apply = [&] { bounded.insert(bounded.begin() + pos, count, value); };
    } else if (op == 1) {
      candidate.resize(pos + count, value);
      apply = [&] { bounded.resize(pos + count, value); };
    } else if (op == 2) {
      candidate.emplace(candidate.begin() + pos, value);
      apply = [&] { bounded.emplace(bounded.begin() + pos, value); };
    } else if (op == 3) {
      candidate.assign(count + pos, value);
      apply = [&] { bounded.assign(count + pos, value); };
    } else {
      candidate.push_back(value);
      apply = [&] { bounded.push_back(value); };
    }
    if (candidate.size() > 5) {
      try {
        apply();
        ADD_FAILURE() << "no exception at step " << step;
      } catch (const std::length_error& e) {
        EXPECT_STREQ(e.what(), "Exceeded upper bound");
      }
    } else {
      apply();
      reference = candidate;
    }
    ASSERT_EQ(std::vector<int>(bounded.begin(), bounded.end()), reference) << "step " << step;
    ASSERT_EQ(bounded < previous, reference < previous_reference) << "step " << step;
    ASSERT_EQ(bounded == previous, reference == previous_reference) << "step " << step;
    previous = bounded;
    previous_reference = reference;
  }
  EXPECT_THROW(Bounded({1, 2, 3, 4, 5, 6}), std::length_error);
}

TEST(Messages, ActuatorCmdsHoldsThirtyActuators) {
  communication::msg::ActuatorCmds msg;
  for (int i = 0; i < 30; ++i) {
    msg.actuators_name.push_back("joint_" + std::to_string(i));
    for (auto* sequence : {&msg.kp, &msg.pos, &msg.kd, &msg.vel, &msg.torque}) {
      sequence->push_back(static_cast<float>(i));
    }
  }
  for (auto* sequence : {&msg.kp, &msg.pos, &msg.kd, &msg.vel, &msg.torque}) {
    EXPECT_THROW(sequence->push_back(1.f), std::length_error);
  }
  EXPECT_THROW(msg.actuators_name.emplace_back("joint_30"), std::length_error);
  communication::msg::ActuatorCmds copy = msg;
  EXPECT_EQ(copy, msg);
  copy.torque[29] += 1.f;
  EXPECT_NE(copy, msg);
}

}  // namespace
