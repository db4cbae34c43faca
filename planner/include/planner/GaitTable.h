#pragma once

// The named gaits the planner knows, read from a gait table file (Boost INFO). One node per gait,
// named by the gait; feet in the order of ModelInfo::foot_name:
//
//   trot
//   {
//     cycle_s 0.5               ; period of the gait [s], > 0 (needed unless duty is 1)
//     duty    0.5               ; share of the cycle each foot is in stance, in (0, 1]; 1: stand
//     offsets "0.5 0 0 0.5"     ; lift-off phase of each foot, fractions of the cycle in [0, 1)
//     swing_height_m 0.08       ; optional: swing apex above the ground [m], in (0, 0.3]
//     support_shift 0           ; optional, in [0, 1]: before each lift-off the body moves this
//                               ; share of the way to the centroid of the three stance feet
//   }
//
// ';' starts a comment; a value with spaces is quoted.

#include <string>
#include <vector>

#include "planner/GaitPlanner.h"

namespace velmora {
namespace planner {

/// Gaits by name, in file order.
class GaitTable {
 public:
  /// Reads the gait table file `path`.
  /// @throws std::invalid_argument naming the file, the line and the key at fault (syntax,
  ///         unknown or missing keys, values out of range, duplicate names), or the unreadable
  ///         file.
  static GaitTable read(const std::string& path);
  /// Parses the text of a gait table; `source` names it in errors (as read() does).
  static GaitTable parse(const std::string& text, const std::string& source);

  /// Gait names in file order.
  const std::vector<std::string>& names() const { return names_; }
  /// The gait named `name`.
  /// @throws std::invalid_argument naming the unknown gait and listing the known ones.
  const Gait& gait(const std::string& name) const;

 private:
  std::vector<std::string> names_;
  std::vector<Gait> gaits_;
};

/// Path of the gait table the program uses: $VELMORA_GAIT_TABLE when set (a user's own table),
/// else robots/gaits.info in the program's data directory (see core/misc/DataDirectory.h).
std::string gaitTablePath();

/// The table at gaitTablePath(), read on first use and kept for the life of the program.
/// @throws std::invalid_argument as GaitTable::read (a later call reads the file again).
const GaitTable& gaitTable();

/// Names of the gaits, in file order: those of the gait table (gaitTable()).
/// @throws std::invalid_argument when the gait table cannot be read.
const std::vector<std::string>& gaitNames();

/// The planner gait of `name` (one of gaitNames()).
/// @throws std::invalid_argument naming an unknown gait and the known ones.
Gait gaitNamed(const std::string& name);

}  // namespace planner
}  // namespace velmora
