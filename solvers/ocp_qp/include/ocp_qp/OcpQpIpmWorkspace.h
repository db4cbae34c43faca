#pragma once

#include <memory>

namespace velmora::ocp_qp {

namespace detail {
struct IpmData;
}

/// Reusable storage of OcpQpIpmSolver. A caller that builds a new solver for every problem (for
/// example once per control cycle) keeps one workspace and passes it to the solver's
/// constructor: the storage is resized only when the stage sizes change, so building a solver
/// for a problem of unchanged shape allocates nothing. Holds no result a caller can read.
///
/// A workspace serves one solver at a time: it must outlive every solver built on it, and two
/// solvers sharing it must not be used concurrently or interleaved (each solve overwrites it).
class OcpQpIpmWorkspace {
 public:
  OcpQpIpmWorkspace();
  ~OcpQpIpmWorkspace();
  OcpQpIpmWorkspace(OcpQpIpmWorkspace&&) noexcept;
  OcpQpIpmWorkspace& operator=(OcpQpIpmWorkspace&&) noexcept;
  OcpQpIpmWorkspace(const OcpQpIpmWorkspace&) = delete;
  OcpQpIpmWorkspace& operator=(const OcpQpIpmWorkspace&) = delete;

 private:
  friend class OcpQpIpmSolver;
  std::unique_ptr<detail::IpmData> data_;
};

}  // namespace velmora::ocp_qp
