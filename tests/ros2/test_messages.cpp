// Bounded sequences against std::vector plus an explicit bound, and the message types.

#include <gtest/gtest.h>

#include <functional>
#include <list>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "builtin_interfaces/msg/time.hpp"
#include "communication/msg/actuator_cmds.hpp"
#include "rosgraph_msgs/msg/clock.hpp"
#include "rosidl_runtime_cpp/bounded_vector.hpp"
#include "std_msgs/msg/header.hpp"

namespace {

using Bounded = rosidl_runtime_cpp::BoundedVector<int, 5>;

std::vector<int> contents(const Bounded& v) { return std::vector<int>(v.begin(), v.end()); }

// Every growing operation beyond the bound throws "Exceeded upper bound" and changes nothing.
TEST(BoundedVector, EveryGrowingOperationBeyondTheBoundThrowsAndLeavesTheContents) {
  const std::vector<int> two = {7, 8};
  const std::list<int> two_list = {7, 8};  // a non-random-access range
  struct Case {
    const char* name;
    size_t start_size;  // chosen so that the operation goes exactly one beyond the bound
    std::function<void(Bounded&)> operation;
  };
  const std::vector<Case> cases = {
      {"push_back", 5, [](Bounded& v) { v.push_back(9); }},
      {"push_back&&", 5, [](Bounded& v) { v.push_back(int{9}); }},
      {"emplace_back", 5, [](Bounded& v) { v.emplace_back(9); }},
      {"emplace", 5, [](Bounded& v) { v.emplace(v.begin(), 9); }},
      {"insert one", 5, [](Bounded& v) { v.insert(v.begin() + 1, 9); }},
      {"insert n", 4, [](Bounded& v) { v.insert(v.end(), 2, 9); }},
      {"insert list", 4,
       [](Bounded& v) {
         v.insert(v.begin(), {1, 2});
       }},
      {"insert range", 4, [&](Bounded& v) { v.insert(v.end(), two.begin(), two.end()); }},
      {"insert list range", 4,
       [&](Bounded& v) { v.insert(v.end(), two_list.begin(), two_list.end()); }},
      {"resize", 4, [](Bounded& v) { v.resize(6); }},
      {"resize value", 4, [](Bounded& v) { v.resize(6, 1); }},
      {"reserve", 4, [](Bounded& v) { v.reserve(6); }},
      {"assign n", 4, [](Bounded& v) { v.assign(6, 1); }},
      {"assign list", 4,
       [](Bounded& v) {
         v.assign({1, 2, 3, 4, 5, 6});
       }},
      {"assign range", 4,
       [](Bounded& v) {
         const std::vector<int> six(6, 3);
         v.assign(six.begin(), six.end());
       }},
      {"operator= list", 4, [](Bounded& v) { v = {1, 2, 3, 4, 5, 6}; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bounded v;
    for (size_t i = 0; i < c.start_size; ++i) v.push_back(static_cast<int>(i + 1));
    const std::vector<int> before = contents(v);
    try {
      c.operation(v);
      ADD_FAILURE() << "no exception";
    } catch (const std::length_error& e) {
      EXPECT_STREQ(e.what(), "Exceeded upper bound");
    }
    EXPECT_EQ(contents(v), before);
  }
  // Growing up to the bound is fine.
  Bounded v = {1, 2, 3};
  v.insert(v.begin(), two.begin(), two.end());
  EXPECT_EQ(contents(v), std::vector<int>({7, 8, 1, 2, 3}));
}

TEST(BoundedVector, ConstructorsBeyondTheBoundThrow) {
  const std::vector<int> six(6, 1);
  EXPECT_THROW(Bounded(6), std::length_error);
  EXPECT_THROW(Bounded(6, 1), std::length_error);
  EXPECT_THROW(Bounded({1, 2, 3, 4, 5, 6}), std::length_error);
  EXPECT_THROW(Bounded(six.begin(), six.end()), std::length_error);
  EXPECT_EQ(Bounded(5, 2).size(), 5u);
  EXPECT_EQ(Bounded(six.begin(), six.begin() + 5).size(), 5u);
  EXPECT_EQ(Bounded().max_size(), 5u);
}

// A random sequence of operations agrees with std::vector, which has no bound: wherever the
// reference would exceed five elements the bounded vector must throw and stay as it was.
TEST(BoundedVector, RandomOperationsMatchStdVectorWithinTheBound) {
  std::mt19937 rng(42);
  Bounded bounded;
  std::vector<int> reference;
  for (int step = 0; step < 5000; ++step) {
    const int op = std::uniform_int_distribution<int>(0, 6)(rng);
    const int value = std::uniform_int_distribution<int>(-50, 50)(rng);
    const size_t pos = std::uniform_int_distribution<size_t>(0, reference.size())(rng);
    const size_t count = std::uniform_int_distribution<size_t>(0, 3)(rng);
    std::vector<int> candidate = reference;
    std::function<void()> apply_bounded;
    switch (op) {
      case 0:
        candidate.push_back(value);
        apply_bounded = [&] { bounded.push_back(value); };
        break;
      case 1:
        candidate.insert(candidate.begin() + pos, count, value);
        apply_bounded = [&] { bounded.insert(bounded.begin() + pos, count, value); };
        break;
      case 2:
        if (!candidate.empty())
          candidate.erase(candidate.begin() + std::min(pos, candidate.size() - 1));
        apply_bounded = [&] {
          if (!bounded.empty()) bounded.erase(bounded.begin() + std::min(pos, bounded.size() - 1));
        };
        break;
      case 3:
        candidate.resize(pos + count, value);
        apply_bounded = [&] { bounded.resize(pos + count, value); };
        break;
      case 4:
        if (!candidate.empty()) candidate.pop_back();
        apply_bounded = [&] {
          if (!bounded.empty()) bounded.pop_back();
        };
        break;
      case 5:
        candidate.emplace(candidate.begin() + pos, value);
        apply_bounded = [&] { bounded.emplace(bounded.begin() + pos, value); };
        break;
      default:
        if (count == 0) candidate.clear();
        apply_bounded = [&] {
          if (count == 0) bounded.clear();
        };
    }
    if (candidate.size() > 5) {
      EXPECT_THROW(apply_bounded(), std::length_error) << "step " << step;
    } else {
      apply_bounded();
      reference = candidate;
    }
    ASSERT_EQ(contents(bounded), reference) << "step " << step;
  }
}

TEST(BoundedVector, ComparisonsFollowTheElementSequences) {
  const Bounded a = {1, 2, 3};
  const Bounded b = {1, 2, 4};
  const Bounded c = {1, 2};
  EXPECT_TRUE(a == Bounded({1, 2, 3}));
  EXPECT_TRUE(a != b);
  EXPECT_TRUE(a < b && b > a && a <= b && b >= a);
  EXPECT_TRUE(c < a);
  Bounded d = b;
  Bounded e = {9};
  swap(d, e);
  EXPECT_EQ(contents(d), std::vector<int>({9}));
  EXPECT_EQ(contents(e), std::vector<int>({1, 2, 4}));
}

TEST(Messages, ActuatorCmdsHasBoundedSequencesOfThirtyAndValueSemantics) {
  communication::msg::ActuatorCmds msg;
  EXPECT_EQ(msg.header.stamp.sec, 0);
  EXPECT_EQ(msg.header.stamp.nanosec, 0u);
  EXPECT_TRUE(msg.header.frame_id.empty());
  EXPECT_TRUE(msg.actuators_name.empty() && msg.kp.empty() && msg.pos.empty() && msg.kd.empty() &&
              msg.vel.empty() && msg.torque.empty());
  static_assert(std::is_same_v<decltype(msg.kp)::value_type, float>);
  static_assert(std::is_same_v<decltype(msg.actuators_name)::value_type, std::string>);
  static_assert(std::is_same_v<decltype(msg.header), std_msgs::msg::Header>);
  static_assert(std::is_same_v<communication::msg::ActuatorCmds::SharedPtr,
                               std::shared_ptr<communication::msg::ActuatorCmds>>);
  static_assert(std::is_same_v<communication::msg::ActuatorCmds::ConstSharedPtr,
                               std::shared_ptr<const communication::msg::ActuatorCmds>>);
  static_assert(std::is_same_v<communication::msg::ActuatorCmds::UniquePtr,
                               std::unique_ptr<communication::msg::ActuatorCmds>>);

  for (int i = 0; i < 30; ++i) {
    msg.actuators_name.push_back("joint_" + std::to_string(i));
    msg.kp.push_back(static_cast<float>(i));
    msg.pos.push_back(0.f);
    msg.kd.push_back(1.f);
    msg.vel.push_back(0.f);
    msg.torque.push_back(-static_cast<float>(i));
  }
  for (auto* sequence : {&msg.kp, &msg.pos, &msg.kd, &msg.vel, &msg.torque}) {
    EXPECT_THROW(sequence->push_back(1.f), std::length_error);
    EXPECT_EQ(sequence->size(), 30u);
  }
  try {
    msg.actuators_name.emplace_back("joint_30");
    FAIL() << "31st name accepted";
  } catch (const std::length_error& e) {
    EXPECT_STREQ(e.what(), "Exceeded upper bound");
  }

  communication::msg::ActuatorCmds copy = msg;
  EXPECT_EQ(copy, msg);
  copy.torque[29] += 1.f;
  EXPECT_NE(copy, msg);
  copy = msg;
  copy.header.frame_id = "other";
  EXPECT_NE(copy, msg);
}

TEST(Messages, DefaultsAreZeroAndTypesCarryTheirInterfaceNames) {
  const rosgraph_msgs::msg::Clock zeroed;
  EXPECT_EQ(zeroed.clock, builtin_interfaces::msg::Time());
  EXPECT_STREQ(rosidl_generator_traits::name<communication::msg::ActuatorCmds>(),
               "communication/msg/ActuatorCmds");
  EXPECT_STREQ(rosidl_generator_traits::name<std_msgs::msg::Header>(), "std_msgs/msg/Header");
  EXPECT_STREQ(rosidl_generator_traits::name<rosgraph_msgs::msg::Clock>(),
               "rosgraph_msgs/msg/Clock");
  EXPECT_TRUE(rosidl_generator_traits::is_message<communication::msg::ActuatorCmds>::value);
  EXPECT_FALSE(rosidl_generator_traits::is_message<int>::value);
}

}  // namespace
