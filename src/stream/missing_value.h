#pragma once
// A value a row does not have: NaN, which the files write as an empty cell.

#include <limits>

namespace vlm {

inline constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// `v` where it is present, else NaN.
inline double orNaN(bool present, double v) { return present ? v : kNaN; }

}  // namespace vlm
