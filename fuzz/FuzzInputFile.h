#pragma once

// The fuzz input as a file, for loaders that only take a path. The bytes live in an anonymous
// in-memory file (memfd) that is rewritten for every input, so a run touches no disk and leaves
// nothing behind.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace velmora::fuzz {

/// One in-memory file, rewritten by write(); path() names it for any open().
class FuzzInputFile {
 public:
  /// `name` shows in /proc only (debugging).
  explicit FuzzInputFile(const char* name) : fd_(memfd_create(name, 0)) {
    if (fd_ < 0) throw std::runtime_error("FuzzInputFile: memfd_create failed");
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  ~FuzzInputFile() { close(fd_); }
  FuzzInputFile(const FuzzInputFile&) = delete;
  FuzzInputFile& operator=(const FuzzInputFile&) = delete;

  /// Replaces the file's contents by `size` bytes at `data`.
  void write(const std::uint8_t* data, std::size_t size) {
    if (ftruncate(fd_, 0) != 0) throw std::runtime_error("FuzzInputFile: ftruncate failed");
    std::size_t done = 0;
    while (done < size) {
      const ssize_t n = pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
      if (n <= 0) throw std::runtime_error("FuzzInputFile: write failed");
      done += static_cast<std::size_t>(n);
    }
  }

  /// A path that opens the current contents.
  const std::string& path() const { return path_; }

 private:
  int fd_;
  std::string path_;
};

}  // namespace velmora::fuzz
