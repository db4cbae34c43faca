// Buffer<T>: default value, replacement, clear, lifetime of the held value, and concurrent
// push/get (also run under ThreadSanitizer with -DVELMORA_TSAN=ON).

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <memory>
#include <thread>

#include "core/Types.h"
#include "core/misc/Buffer.h"

namespace velmora {
namespace {

TEST(Buffer, ReplacesReleasesAndClearsToTheDefault) {
  Buffer<std::shared_ptr<vector_t>> buffer;
  auto first = std::make_shared<vector_t>(vector_t::Constant(3, 1.0));
  const std::weak_ptr<vector_t> first_watch = first;
  buffer.push(std::move(first));
  EXPECT_FALSE(first_watch.expired()) << "the buffer keeps its value alive";
  const auto second = std::make_shared<vector_t>(vector_t::Constant(3, 2.0));
  buffer.push(second);
  EXPECT_TRUE(first_watch.expired()) << "the replaced value is released";
  EXPECT_EQ(buffer.get(), second);
  EXPECT_EQ(buffer.clear(), second);
  EXPECT_EQ(buffer.get(), nullptr);
}

// Writers push values whose entries all equal one stamp; readers check that every value they
// get is whole and that the stamps of each writer never go backwards.
TEST(Buffer, ConcurrentPushAndGetSeeWholeValuesInOrder) {
  Buffer<std::array<long, 4096>> values;  // large: an unguarded copy is seen half done
  constexpr int kWriters = 3;
  constexpr long kPushes = 4000;
  std::atomic<int> torn{0}, backwards{0}, writers_left{kWriters};
  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; ++w) {
    threads.emplace_back([&, w] {
      for (long stamp = w * 1000000 + 1; stamp <= w * 1000000 + kPushes; ++stamp) {
        std::array<long, 4096> value;
        value.fill(stamp);
        values.push(value);
      }
      --writers_left;
    });
  }
  for (int r = 0; r < 3; ++r) {
    threads.emplace_back([&] {
      std::vector<long> last(kWriters, 0);
      while (writers_left.load() > 0) {
        const std::array<long, 4096> copy = values.get();
        if (copy.front() == 0) continue;
        torn += std::count(copy.begin(), copy.end(), copy.front()) != 4096;
        backwards += copy.front() < last[copy.front() / 1000000];
        last[copy.front() / 1000000] = copy.front();
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(torn.load(), 0);
  EXPECT_EQ(backwards.load(), 0);
}

}  // namespace
}  // namespace velmora
