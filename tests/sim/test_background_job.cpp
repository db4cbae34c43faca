// The worker thread of the lockstep run: jobs run one at a time off the caller's thread, their
// results and exceptions reach the caller at wait(), and misuse is refused.

#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include "sim/BackgroundJob.h"

namespace velmora::sim {
namespace {

TEST(BackgroundJob, RunsEachJobOffTheCallersThreadAndHandsOverResultsAndErrors) {
  BackgroundJob job;
  EXPECT_FALSE(job.pending());
  job.wait();  // nothing started: returns at once
  long sum = 0;
  std::thread::id worker;
  for (long k = 1; k <= 100; ++k) {
    job.start([&sum, &worker, k] {
      sum += k;
      worker = std::this_thread::get_id();
    });
    EXPECT_TRUE(job.pending());
    job.wait();
    EXPECT_EQ(sum, k * (k + 1) / 2);  // every job ran, in order, before wait() returned
  }
  EXPECT_NE(worker, std::this_thread::get_id());
  job.start([] { throw std::runtime_error("solver diverged"); });
  EXPECT_THROW(job.start([] {}), std::logic_error);  // the running job was not waited for
  EXPECT_THROW(job.wait(), std::runtime_error);
  EXPECT_FALSE(job.pending());
  job.start([&sum] { sum = -1; });  // usable again after an error
  job.wait();
  EXPECT_EQ(sum, -1);
}

}  // namespace
}  // namespace velmora::sim
