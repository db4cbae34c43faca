// The solver allocates nothing in solve() (and nothing when built on a reused workspace of
// unchanged sizes). Counts heap allocations by interposing the C allocation functions, so this
// program is built without sanitizers, which interpose them too.

#include <cstddef>
#include <random>

#include <gtest/gtest.h>

#include "ContactForceProblem.h"
#include "ocp_qp/OcpQpIpmSolver.h"

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* ptr, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* ptr);
}

namespace {
thread_local bool g_counting = false;
thread_local long g_allocations = 0;
void count() {
  if (g_counting) ++g_allocations;
}
}  // namespace

extern "C" {
void* malloc(size_t size) {
  count();
  return __libc_malloc(size);
}
void* calloc(size_t n, size_t size) {
  count();
  return __libc_calloc(n, size);
}
void* realloc(void* ptr, size_t size) {
  count();
  return __libc_realloc(ptr, size);
}
void* aligned_alloc(size_t alignment, size_t size) {
  count();
  return __libc_memalign(alignment, size);
}
int posix_memalign(void** ptr, size_t alignment, size_t size) {
  count();
  *ptr = __libc_memalign(alignment, size);
  return *ptr ? 0 : 12;  // ENOMEM
}
void free(void* ptr) { __libc_free(ptr); }
}

namespace velmora::ocp_qp::test {
namespace {

struct AllocationCounter {
  AllocationCounter() {
    g_allocations = 0;
    g_counting = true;
  }
  ~AllocationCounter() { g_counting = false; }
  long count() const { return g_allocations; }
};

TEST(OcpQpNoAllocation, CounterSeesAllocations) {
  AllocationCounter counter;
  Eigen::VectorXd v(100);
  v.setZero();
  EXPECT_GE(counter.count(), 1);
}

TEST(OcpQpNoAllocation, SolveAndRebuildOnAWorkspaceDoNotAllocate) {
  ContactForceProblem gen;
  OcpQpIpmSolverSettings settings;
  settings.tol_stat = settings.tol_eq = settings.tol_ineq = settings.tol_comp = 1e-4;
  std::vector<OcpQp> qp;
  std::vector<OcpQpSolution> sol;
  Eigen::VectorXd x0 = Eigen::VectorXd::Zero(12);
  x0 << 0.01, 0.0, -0.02, 0.1, -0.05, 0.0, 0.02, 0.0, -0.01, 0.05, 0.0, 0.0;
  OcpQpIpmWorkspace workspace;
  gen.build(50, 0.0, x0.segment<3>(6), sol, qp);
  {  // first use sizes the workspace and the solution
    OcpQpIpmSolver solver(qp, settings, workspace);
    ASSERT_EQ(solver.solve(x0, qp, sol), SolverStatus::Success);
  }
  std::mt19937 rng(4);
  std::normal_distribution<double> nd(0.0, 0.01);
  for (int step = 1; step < 6; ++step) {
    gen.build(50, step * gen.dt_s, x0.segment<3>(6), sol, qp);  // allocates; not counted
    for (int i = 0; i < 12; ++i) x0[i] += nd(rng);
    settings.warm_start = step % 2;
    AllocationCounter counter;
    OcpQpIpmSolver solver(qp, settings, workspace);
    const SolverStatus status = solver.solve(x0, qp, sol);
    const long allocations = counter.count();
    ASSERT_EQ(status, SolverStatus::Success);
    EXPECT_GT(solver.getNumIterations(), 0);
    EXPECT_EQ(allocations, 0) << "step " << step;
  }
}

}  // namespace
}  // namespace velmora::ocp_qp::test
