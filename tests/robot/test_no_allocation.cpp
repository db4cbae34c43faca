// updateRobotState and the frame queries allocate nothing once the model is built, called the
// way the controllers call them (the state vectors are the caller's lvalues). The program counts
// allocations by interposing the C allocation functions, which operator new and Eigen both end
// in (glibc provides the __libc_* entry points), so it is a program of its own. Under a sanitizer,
// which owns malloc, it does not count and skips.

#include <atomic>
#include <cstddef>
#include <random>

#include <gtest/gtest.h>

#include "BundledRobot.h"
#include "pinocchio/PinocchioInterface.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VELMORA_SANITIZER_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VELMORA_SANITIZER_ALLOCATOR 1
#endif
#endif

namespace {
std::atomic<long> allocation_count{0};
}  // namespace

#ifndef VELMORA_SANITIZER_ALLOCATOR
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* memory, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);

void* malloc(std::size_t size) {
  ++allocation_count;
  return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) {
  ++allocation_count;
  return __libc_calloc(count, size);
}
void* realloc(void* memory, std::size_t size) {
  ++allocation_count;
  return __libc_realloc(memory, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size) {
  ++allocation_count;
  return __libc_memalign(alignment, size);
}
}  // extern "C"
#endif

namespace velmora {
namespace {

TEST(NoAllocation, UpdateRobotStateAndQueriesWithTheCallersVectors) {
#ifdef VELMORA_SANITIZER_ALLOCATOR
  GTEST_SKIP() << "the sanitizer owns the allocation functions";
#endif
  PinocchioInterface robot(test::kestrelFile("robot.urdf"));
  std::mt19937 rng(1);
  std::normal_distribution<scalar_t> normal(0.0, 1.0);
  std::vector<vector_t> qpos(20, vector_t(robot.Nq())), qvel(20, vector_t(robot.Nv()));
  for (std::size_t k = 0; k < qpos.size(); ++k) {
    for (Eigen::Index i = 0; i < robot.Nq(); ++i) qpos[k][i] = normal(rng);
    for (Eigen::Index i = 0; i < robot.Nv(); ++i) qvel[k][i] = normal(rng);
  }
  matrix6x_t J(6, robot.Nv());
  const int foot = robot.getFrameId("FL_foot");
  scalar_t sink = 0.0;

  long before = allocation_count.load();
  const vector_t copy = qpos[0];  // the counter sees Eigen's allocations
  EXPECT_GT(allocation_count.load(), before);

  before = allocation_count.load();
  for (std::size_t k = 0; k < qpos.size(); ++k) {
    robot.updateRobotState(qpos[k], qvel[k]);
    sink +=
        robot.getFramePose(foot).translation().z() + robot.getFramePose("RR_foot").rotation()(0, 0);
    sink += robot.getFrame6dVel_localWorldAligned("trunk").linear().x();
    sink += robot.getFrame6dAcc_localWorldAligned(foot).linear().x();
    sink += robot.getFrame6dAcc_local("FR_foot").angular().y();
    robot.getJacobia_localWorldAligned(foot, J);
    robot.getJacobia_local("RL_foot", J);
    sink += J(0, 0) + robot.nle()[0] + robot.getData().M(0, 0) + robot.getData().Ig.mass();
  }
  EXPECT_EQ(allocation_count.load(), before);
  EXPECT_TRUE(std::isfinite(sink + copy[0]));
}

}  // namespace
}  // namespace velmora
