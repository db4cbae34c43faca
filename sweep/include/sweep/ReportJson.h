#pragma once

// Reads a run's report.json into flat key/value pairs: nested objects join their keys with '.'
// ("mpc_ms.median", "timing_ms.wbc.median"); arrays are skipped; values keep their JSON text
// (numbers as written, true/false/null, strings unquoted).

#include <map>
#include <optional>
#include <string>

namespace velmora::sweep {

/// Flattens JSON text; std::nullopt when it is not valid JSON with an object at the top.
std::optional<std::map<std::string, std::string>> flattenJson(const std::string& text);

/// Reads and flattens the file `path`; std::nullopt when it is missing or not valid JSON.
std::optional<std::map<std::string, std::string>> readReportJson(const std::string& path);

}  // namespace velmora::sweep
