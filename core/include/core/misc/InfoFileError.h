#pragma once

#include <stdexcept>
#include <string>

namespace velmora {

/// A mistake in a file the user gave (an INFO document, or what its keys say): the message is
/// "file:line: problem", the line left out when it is 0 (the whole file is meant).
class InfoFileError : public std::runtime_error {
 public:
  InfoFileError(const std::string& file, int line, const std::string& problem)
      : std::runtime_error(file + (line > 0 ? ":" + std::to_string(line) : std::string()) + ": " +
                           problem),
        file_(file),
        line_(line),
        problem_(problem) {}

  /// The file at fault, as the caller named it.
  const std::string& file() const { return file_; }
  /// 1-based line at fault; 0 when the whole file is meant.
  int line() const { return line_; }
  /// What is wrong, without the file and line.
  const std::string& problem() const { return problem_; }

 private:
  std::string file_;
  int line_;
  std::string problem_;
};

}  // namespace velmora
