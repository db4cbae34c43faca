#pragma once

#include "core/misc/InfoFileError.h"

namespace velmora::sweep {

/// A mistake in a file the user gave (sweep file, base scenario): the message names the file,
/// the line (0 when the whole file is meant) and what is wrong there.
using SweepFileError = InfoFileError;

}  // namespace velmora::sweep
