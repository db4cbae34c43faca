#pragma once

// Scope in which Eigen must not allocate heap memory. Active only in builds that define
// EIGEN_RUNTIME_NO_MALLOC (the allocation test compiles the solver that way, with assertions
// enabled); a no-op otherwise.

#include <Eigen/Core>

namespace velmora::dense_qp::internal {

class IterationAllocationGuard {
 public:
#ifdef EIGEN_RUNTIME_NO_MALLOC
  IterationAllocationGuard() : previous_(Eigen::internal::is_malloc_allowed()) {
    Eigen::internal::set_is_malloc_allowed(false);
  }
  ~IterationAllocationGuard() { Eigen::internal::set_is_malloc_allowed(previous_); }

 private:
  bool previous_;
#else
  IterationAllocationGuard() {}  // user-provided, so that an unused guard does not warn
#endif
  IterationAllocationGuard(const IterationAllocationGuard&) = delete;
  IterationAllocationGuard& operator=(const IterationAllocationGuard&) = delete;
};

}  // namespace velmora::dense_qp::internal
