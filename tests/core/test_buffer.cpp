// Buffer<T>: default values, replacement, clear, lifetime of handed-out pointers, and concurrent
// push/get (run under ThreadSanitizer with -DVELMORA_TSAN=ON).

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/Types.h"
#include "core/misc/Buffer.h"

namespace velmora {
namespace {

TEST(Buffer, NeverPushedBufferHoldsTheDefaultValue) {
  EXPECT_EQ(Buffer<std::shared_ptr<vector_t>>().get(), nullptr);
  EXPECT_TRUE((Buffer<std::map<std::string, std::shared_ptr<vector_t>>>().get().empty()));
  EXPECT_FALSE(Buffer<bool>().get());
  EXPECT_EQ(Buffer<size_t>().get(), 0u);
}

TEST(Buffer, SecondPushReplacesTheFirstAndReleasesIt) {
  Buffer<std::shared_ptr<vector_t>> buffer;
  auto first = std::make_shared<vector_t>(vector_t::Constant(3, 1.0));
  std::weak_ptr<vector_t> first_watch = first;
  buffer.push(first);
  first.reset();
  EXPECT_FALSE(first_watch.expired()) << "the buffer must keep its value alive";
  auto second = std::make_shared<vector_t>(vector_t::Constant(3, 2.0));
  buffer.push(second);
  EXPECT_TRUE(first_watch.expired()) << "the replaced value must be released";
  EXPECT_EQ(buffer.get(), second) << "get returns another reference to the same object";
}

TEST(Buffer, ValuePayloadIsCopiedInAndOut) {
  Buffer<std::vector<int>> buffer;
  std::vector<int> values{1, 2, 3};
  buffer.push(values);
  values.push_back(4);
  std::vector<int> copy = buffer.get();
  EXPECT_EQ(copy, (std::vector<int>{1, 2, 3}));
  copy.clear();
  EXPECT_EQ(buffer.get().size(), 3u);
}

TEST(Buffer, ClearRestoresTheDefaultAndKeepsOutstandingReferencesValid) {
  Buffer<std::shared_ptr<vector_t>> buffer;
  buffer.push(std::make_shared<vector_t>(vector_t::Constant(2, 7.0)));
  const std::shared_ptr<vector_t> held = buffer.get();
  const std::shared_ptr<vector_t> previous = buffer.clear();
  EXPECT_EQ(previous, held);
  EXPECT_EQ(buffer.get(), nullptr);
  ASSERT_NE(held, nullptr);
  EXPECT_EQ((*held)(1), 7.0);

  Buffer<size_t> counter;
  counter.push(42);
  counter.clear();
  EXPECT_EQ(counter.get(), 0u);
}

// Writers push immutable vectors whose entries all equal one stamp; readers check that every
// vector they get is whole (all entries equal) and that stamps per writer never go backwards.
TEST(Buffer, ConcurrentPushAndGetSeeWholeValuesInOrder) {
  Buffer<std::shared_ptr<const vector_t>> pointer_buffer;
  Buffer<std::vector<long>> value_buffer;
  constexpr int kWriters = 3;
  constexpr int kReaders = 3;
  constexpr long kPushesPerWriter = 4000;
  std::atomic<int> torn{0};
  std::atomic<int> backwards{0};
  std::atomic<int> writers_left{kWriters};

  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; ++w) {
    threads.emplace_back([&, w] {
      for (long i = 1; i <= kPushesPerWriter; ++i) {
        const long stamp = w * 1000000 + i;
        pointer_buffer.push(
            std::make_shared<const vector_t>(vector_t::Constant(16, static_cast<double>(stamp))));
        value_buffer.push(std::vector<long>(16, stamp));
      }
      --writers_left;
    });
  }
  for (int r = 0; r < kReaders; ++r) {
    threads.emplace_back([&] {
      std::vector<long> last_stamp(kWriters, 0);
      while (writers_left.load() > 0) {
        const auto vector = pointer_buffer.get();
        if (vector && (vector->array() != (*vector)(0)).any()) ++torn;
        const std::vector<long> values = value_buffer.get();
        for (const long v : values) {
          if (v != values.front()) ++torn;
        }
        if (!values.empty()) {
          const long writer = values.front() / 1000000;
          if (values.front() < last_stamp[writer]) ++backwards;
          last_stamp[writer] = values.front();
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(torn.load(), 0);
  EXPECT_EQ(backwards.load(), 0);
  const auto final_vector = pointer_buffer.get();
  ASSERT_NE(final_vector, nullptr);
  EXPECT_EQ(static_cast<long>((*final_vector)(0)) % 1000000, kPushesPerWriter)
      << "the last value pushed by some writer must remain";
}

}  // namespace
}  // namespace velmora
