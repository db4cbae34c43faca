#pragma once

// A run judged against the figures its scenario expects.

#include <string>
#include <vector>

#include "sim/RunLog.h"
#include "sim/ScenarioFile.h"

namespace velmora {
namespace sim {

/// The expectations of `expect` that the run of `samples` misses, one line each naming the
/// figure with its measured and expected values (empty: all met). Figures are measured from
/// expect.from_s (default: the second half of the run); `fell` fails no_fall. A run that ends
/// before from_s misses every figure.
std::vector<std::string> unmetExpectations(const ScenarioExpectations& expect,
                                           const std::vector<RunSample>& samples, bool fell);

}  // namespace sim
}  // namespace velmora
