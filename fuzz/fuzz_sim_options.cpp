// Fuzz target: velmora_sim's command-line parser. The input is the argument list, one argument
// per line. Every list either parses or is refused with sim::UsageError; anything else is a
// fault. An accepted list gives finite commands and a duration in (0, 3600] s.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/SimOptions.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args;
  std::string current;
  for (std::size_t i = 0; i < size; ++i) {
    const char c = static_cast<char>(data[i]);
    if (c == '\n') {
      args.push_back(current);
      current.clear();
    } else {
      current.push_back(c);
    }
  }
  if (!current.empty()) args.push_back(current);
  try {
    const velmora::sim::SimOptions options =
        velmora::sim::parseSimOptions(args, VELMORA_ROBOTS_DIR);
    if (!std::isfinite(options.vx) || !std::isfinite(options.vy) ||
        !std::isfinite(options.yaw_rate) || !(options.duration_s > 0.0) ||
        options.duration_s > 3600.0) {
      throw std::logic_error("accepted options with a non-finite command or a bad duration");
    }
  } catch (const velmora::sim::UsageError&) {
  }
  return 0;
}
