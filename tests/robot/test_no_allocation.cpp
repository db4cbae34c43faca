// updateRobotState and the frame queries allocate nothing once the model is built. This program
// counts allocations, so it is a test program of its own. In a plain build it interposes the C
// allocation functions (which operator new and Eigen both end in; glibc provides the __libc_*
// entry points). Under AddressSanitizer or ThreadSanitizer the sanitizer owns malloc and free
// (memory from glibc freed through the sanitizer crashes the program), so there the count comes
// from the sanitizer's own allocation hook instead, which sees malloc and operator new alike.

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <random>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "pinocchio/PinocchioInterface.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VELMORA_SANITIZER_ALLOCATOR 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VELMORA_SANITIZER_ALLOCATOR 1
#endif

namespace {
std::atomic<long> allocation_count{0};
}  // namespace

#ifdef VELMORA_SANITIZER_ALLOCATOR

extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*,
                                                                             std::size_t),
                                                         void (*free_hook)(const volatile void*));

namespace {
void countAllocation(const volatile void*, std::size_t) { ++allocation_count; }
void ignoreRelease(const volatile void*) {}
// Installed before main(), so the counter sees every allocation of the tests.
const int hooks_installed =
    __sanitizer_install_malloc_and_free_hooks(countAllocation, ignoreRelease);
}  // namespace

#else

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
void* memalign(std::size_t alignment, std::size_t size) {
  ++allocation_count;
  return __libc_memalign(alignment, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size) {
  ++allocation_count;
  return __libc_memalign(alignment, size);
}
int posix_memalign(void** memory, std::size_t alignment, std::size_t size) {
  ++allocation_count;
  *memory = __libc_memalign(alignment, size);
  return *memory == nullptr ? ENOMEM : 0;
}
}  // extern "C"

#endif

namespace velmora {
namespace {

TEST(NoAllocation, TheCounterSeesEigenAndStandardAllocations) {
#ifdef VELMORA_SANITIZER_ALLOCATOR
  ASSERT_NE(hooks_installed, 0) << "the sanitizer refused the allocation hook";
#endif
  long before = allocation_count.load();
  vector_t dynamic = vector_t::Random(100);
  EXPECT_GT(allocation_count.load(), before);
  before = allocation_count.load();
  std::vector<scalar_t> standard(100, dynamic[3]);
  EXPECT_GT(allocation_count.load(), before);
  EXPECT_EQ(standard[99], dynamic[3]);
}

TEST(NoAllocation, UpdateRobotStateAndQueries) {
  PinocchioInterface robot(std::string(VELMORA_ROBOTS_DIR) + "/kestrel/robot.urdf");
  std::mt19937 rng(1);
  std::normal_distribution<scalar_t> normal(0.0, 1.0);
  std::vector<std::pair<vector_t, vector_t>> states;
  for (int k = 0; k < 50; ++k) {
    vector_t qpos(robot.Nq()), qvel(robot.Nv());
    for (Eigen::Index i = 0; i < qpos.size(); ++i) qpos[i] = normal(rng);
    for (Eigen::Index i = 0; i < qvel.size(); ++i) qvel[i] = normal(rng);
    states.emplace_back(std::move(qpos), std::move(qvel));
  }
  matrix6x_t J(6, robot.Nv());
  const int foot = robot.getFrameId("FL_foot");
  scalar_t sink = 0.0;

  const long before = allocation_count.load();
  for (auto& state : states) {
    // Moved in: the by-value parameters cost the caller nothing either.
    robot.updateRobotState(std::move(state.first), std::move(state.second));
    sink += robot.getFramePose(foot).translation().z();
    sink += robot.getFramePose("RR_foot").translation().z();
    sink += robot.getFrame6dVel_localWorldAligned("trunk").linear().x();
    sink += robot.getFrame6dAcc_localWorldAligned(foot).linear().x();
    sink += robot.getFrame6dAcc_local("FR_foot").angular().y();
    robot.getJacobia_localWorldAligned(foot, J);
    robot.getJacobia_local("RL_foot", J);
    sink += J(0, 0) + robot.nle()[0] + robot.getData().M(0, 0) + robot.getData().Ig.mass();
  }
  EXPECT_EQ(allocation_count.load(), before);
  EXPECT_TRUE(std::isfinite(sink));
}

}  // namespace
}  // namespace velmora
