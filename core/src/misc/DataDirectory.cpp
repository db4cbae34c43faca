#include "core/misc/DataDirectory.h"

#include <system_error>

namespace velmora {

std::optional<std::filesystem::path> dataDirectoryOf(const std::filesystem::path& executable) {
  const std::filesystem::path candidate = executable.parent_path() / ".." / "share" / "velmora";
  std::error_code error;
  if (!std::filesystem::is_directory(candidate, error)) return std::nullopt;
  std::filesystem::path canonical = std::filesystem::canonical(candidate, error);
  if (error) return std::nullopt;
  return canonical;
}

std::filesystem::path currentExecutable() {
  return std::filesystem::read_symlink("/proc/self/exe");
}

}  // namespace velmora
