#pragma once

// A sweep file: a base scenario and the parameters to vary, on a grid (every combination) and
// drawn at random (`draws` runs per grid point). Parameters are dot-separated paths into the
// scenario file (command.vx, terrain.type, ...) or derived ones (push.*, payload.*).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmora::sweep {

/// How a random parameter is drawn: uniformly in [low, high], or one of `choices` with equal
/// probability.
struct Distribution {
  enum class Kind { kUniform, kChoice };
  Kind kind = Kind::kUniform;
  double low = 0.0;
  double high = 0.0;
  std::vector<std::string> choices;
};

/// A parameter of the sweep; `line` is where it stands in the sweep file.
struct SweepParameter {
  std::string path;
  int line = 0;
  std::vector<std::string> grid_values;      ///< Non-empty for a grid parameter.
  std::optional<Distribution> distribution;  ///< Set for a random parameter.
};

/// The contents of a sweep file.
struct SweepSpec {
  std::string file;      ///< The sweep file's path, for error messages.
  std::string scenario;  ///< Bundled scenario name or path (as written).
  int scenario_line = 0;
  bool lockstep = true;
  std::optional<double> duration_s;  ///< Overrides the scenario's duration [s].
  uint64_t seed = 0;
  std::vector<std::string> family;  ///< Paths naming a family; the grid paths when not given.
  int draws = 1;                    ///< Runs per grid point.
  std::vector<SweepParameter> grid;
  std::vector<SweepParameter> random;
  /// The sweep fails when fewer than this share of its runs pass (outcome ok) [0, 1]; unset:
  /// any outcome is a result.
  std::optional<double> min_success_rate;
  int min_success_rate_line = 0;
};

/// Parses sweep-file text. `file` names it in errors.
/// @throws SweepFileError (file, line, key) on unknown or repeated keys, a missing `scenario`,
///         an empty grid or value list, a bad distribution, draws < 1, a family path that is not
///         a parameter, a parameter both on the grid and random, a min_success_rate outside
///         [0, 1], or an INFO syntax error.
SweepSpec parseSweepSpec(const std::string& text, const std::string& file);

/// Reads and parses the sweep file `path`.
/// @throws SweepFileError as parseSweepSpec, or when the file cannot be read.
SweepSpec readSweepSpec(const std::string& path);

}  // namespace velmora::sweep
