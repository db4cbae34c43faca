#pragma once

#include <stdexcept>
#include <string>

namespace velmora::sweep {

/// A mistake in a file the user gave (sweep file, base scenario): the message names the file,
/// the line (0 when the whole file is meant) and what is wrong there.
class SweepFileError : public std::runtime_error {
 public:
  SweepFileError(const std::string& file, int line, const std::string& what)
      : std::runtime_error(file + (line > 0 ? ":" + std::to_string(line) : std::string()) + ": " +
                           what) {}
};

}  // namespace velmora::sweep
