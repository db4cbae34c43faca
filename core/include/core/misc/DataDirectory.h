#pragma once

// Where an installed velmora program finds its data (the bundled robots): next to its own
// location, <prefix>/bin/<program> -> <prefix>/share/velmora. The build tree mirrors that
// layout (<build>/share/velmora links to the source tree's data), so the same binary works
// there and after `cmake --install`, and no absolute path is compiled in.

#include <filesystem>
#include <optional>

namespace velmora {

/// The data directory that belongs to `executable`: its directory's ../share/velmora, made
/// canonical, when that directory exists; std::nullopt otherwise. `executable` is a path to a
/// program file (absolute or relative to the working directory); it is not resolved further.
std::optional<std::filesystem::path> dataDirectoryOf(const std::filesystem::path& executable);

/// The absolute path of the running program (the target of /proc/self/exe).
/// @throws std::filesystem::filesystem_error when /proc/self/exe cannot be read.
std::filesystem::path currentExecutable();

}  // namespace velmora
