// The solver allocates nothing in solve() (and nothing when built on a reused workspace of
// unchanged sizes). Counts heap allocations by interposing malloc (behind operator new and
// Eigen's allocations), so this program is built without sanitizers, which interpose it too.

#include <cstddef>

#include <gtest/gtest.h>

#include "OcpQpTestSupport.h"
#include "ocp_qp/OcpQpIpmSolver.h"

extern "C" {
void* __libc_malloc(size_t size);
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
  // Contact-force problems of unchanged shape, alternately cold and warm started.
  ContactForceProblems problems;
  OcpQpIpmSolverSettings settings = problems.settings();
  std::vector<OcpQp> qp;
  std::vector<OcpQpSolution> sol;
  Eigen::VectorXd x0;
  OcpQpIpmWorkspace workspace;
  problems.build(50, 0, 1.0, qp, x0);
  {  // first use sizes the workspace and the solution
    OcpQpIpmSolver solver(qp, settings, workspace);
    ASSERT_EQ(solver.solve(x0, qp, sol), SolverStatus::Success);
  }
  for (int period = 1; period < 6; ++period) {
    problems.build(50, period, 1.0, qp, x0);  // allocates; not counted
    settings.warm_start = period % 2;
    AllocationCounter counter;
    OcpQpIpmSolver solver(qp, settings, workspace);
    const SolverStatus status = solver.solve(x0, qp, sol);
    const long allocations = counter.count();
    ASSERT_EQ(status, SolverStatus::Success);
    EXPECT_GT(solver.getNumIterations(), 0);
    EXPECT_EQ(allocations, 0) << "period " << period;
  }
}

}  // namespace
}  // namespace velmora::ocp_qp::test
