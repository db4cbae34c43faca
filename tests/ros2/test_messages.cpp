// Bounded sequences against std::vector plus an explicit bound, and the command message.

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>

#include "communication/msg/actuator_cmds.hpp"
#include "rosidl_runtime_cpp/bounded_vector.hpp"

namespace {

// Random operations agree with std::vector, which has no bound: wherever the reference would
// exceed five elements the bounded vector must throw and stay as it was. Comparisons agree too.
TEST(BoundedVector, RandomOperationsMatchStdVectorWithinTheBound) {
  using Bounded = rosidl_runtime_cpp::BoundedVector<int, 5>;
  std::mt19937 rng(42);
  Bounded bounded, previous;
  std::vector<int> reference, previous_reference;
  for (int step = 0; step < 5000; ++step) {
    const int op = std::uniform_int_distribution<int>(0, 2)(rng);
    const int value = std::uniform_int_distribution<int>(-3, 3)(rng);
    const size_t pos = std::uniform_int_distribution<size_t>(0, reference.size())(rng);
    const size_t count = std::uniform_int_distribution<size_t>(0, 3)(rng);
    // The same operation on either container.
    const auto apply = [&](auto& v) {
      if (op == 0) {
        v.insert(v.begin() + pos, count, value);
      } else if (op == 1) {
        v.resize(pos + count, value);
      } else {
        v.push_back(value);
      }
    };
    std::vector<int> candidate = reference;
    apply(candidate);
    if (candidate.size() > 5) {
      EXPECT_THROW(apply(bounded), std::length_error) << "step " << step;
    } else {
      apply(bounded);
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

TEST(Messages, ActuatorCmdsHoldsThirtyActuatorsAndComparesEveryField) {
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
  for (auto* field : {&copy.kp, &copy.pos, &copy.kd, &copy.vel, &copy.torque}) {
    (*field)[29] += 1.f;  // every field takes part in the comparison
    EXPECT_NE(copy, msg);
    (*field)[29] -= 1.f;
  }
}

}  // namespace
