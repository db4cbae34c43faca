#pragma once

// Floating-point comparisons, clamping and number parsing.

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <type_traits>

namespace velmora {
namespace numerics {

/// Relative equality of two floating-point numbers: true when |a - b| <= min(|a|, |b|) * prec,
/// or else when |a - b| is below the smallest positive normal number of T (a subnormal or zero
/// difference). Being relative, a comparison against 0 is true only for an exact zero or a
/// subnormal difference. Any comparison involving NaN is false.
template <typename T>
bool almost_eq(T a, T b, T prec) {
  static_assert(std::is_floating_point<T>::value, "almost_eq compares floating-point numbers");
  const T difference = std::abs(a - b);
  return difference <= std::min(std::abs(a), std::abs(b)) * prec ||
         difference < std::numeric_limits<T>::min();
}

/// `value` clamped to [lower, upper], where a NaN becomes `lower`: a parameter read from a file
/// falls back to its lowest admissible value instead of carrying the NaN on.
template <typename T>
T clampOrLowerLimit(T value, T lower, T upper) {
  return value > lower ? std::min(value, upper) : lower;
}

/// The finite number that is the whole of `text` (as std::stod reads it), or nothing for empty
/// text, trailing characters, a value out of range, NaN or infinity.
inline std::optional<double> parseFiniteNumber(const std::string& text) {
  size_t used = 0;
  double value = 0.0;
  try {
    value = std::stod(text, &used);
  } catch (const std::exception&) {
    return std::nullopt;
  }
  if (used != text.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

/// The shortest decimal text of `value` with at least 6 significant digits (no exponent below a
/// million) that reads back to exactly `value`: how a number travels on a command line.
inline std::string exactText(double value) {
  std::ostringstream text;
  for (int digits = 6; digits <= 17; ++digits) {
    text.str("");
    text.precision(digits);
    text << value;
    if (std::strtod(text.str().c_str(), nullptr) == value) break;
  }
  return text.str();
}

}  // namespace numerics
}  // namespace velmora
