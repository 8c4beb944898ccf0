// Defined conversions and saturating pixel arithmetic for the display.
//
// The chart and the view compute coordinates in 32-bit integers. Host values
// (usage shares, view sizes, scroll positions) can be anything, so every
// double-to-int conversion and every sum or product of pixels goes through
// these helpers: a result that does not fit an int is clamped to the int
// range, and not-a-number converts to 0. Values that fit give exactly the
// plain integer result.
#pragma once

#include <climits>
#include <cmath>
#include <cstdint>

namespace kp_display {

// Truncation toward zero; NaN gives 0, values beyond the int range clamp.
inline int TruncToInt(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483647.0) return INT_MAX;
  if (value <= -2147483648.0) return INT_MIN;
  return static_cast<int>(value);
}

inline int Saturate(int64_t value) {
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

inline int Add(int a, int b) {
  return Saturate(static_cast<int64_t>(a) + b);
}
inline int Sub(int a, int b) {
  return Saturate(static_cast<int64_t>(a) - b);
}
inline int Mul(int a, int b) {
  return Saturate(static_cast<int64_t>(a) * b);
}

}  // namespace kp_display
