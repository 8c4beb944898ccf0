// How khost reads the values on its command line: numbers and sizes (a
// message quotes what it refuses through quoting.h).
//
// khost reads every number one way, for every flag and for every --set
// value: decimal digits, with a '-' in front of a negative number and
// nothing else (no '+', no blanks, no "-0", nothing after the digits).
// Leading zeros are taken ("05" is 5). A number that is written this way but
// lies outside what its place takes, however many digits it has, is out of
// range rather than malformed.
#pragma once

#include <string>
#include <string_view>

#include "khost/base/quoting.h"

namespace khost {

enum class ValueRead {
  kOk,
  kMalformed,   // not written as a number (or, for a size, as WxH)
  kOutOfRange,  // written right, but outside [minimum, maximum]
};

// Reads `text` as a number within [minimum, maximum]; `value` is set only
// when kOk.
ValueRead ReadNumber(std::string_view text, int minimum, int maximum, int& value);
// Reads "WxH": two numbers joined by 'x' or 'X', each within [minimum,
// maximum]; the sizes are set only when kOk. Says nothing of whether the
// whole size can be drawn: SizeProblem does.
ValueRead ReadSize(std::string_view text, int minimum, int maximum, int& width, int& height);

// ReadNumber(...) == kOk.
bool ParseInt(const std::string& text, int minimum, int maximum, int& value);
// The same rule, for a count (a range that starts at 0 or above).
bool ParseCount(const std::string& text, int minimum, int maximum, int& value);
// ReadSize(text, 0, INT_MAX, ...) == kOk.
bool ParseSize(const std::string& text, int& width, int& height);

// The largest window khost draws and captures: kSurfaceMaxSide pixels a
// side, and at most MaxWindowPixels() pixels in all so that the capture can
// be written as PNG.
long long MaxWindowPixels();
// The side of the largest square window that fits MaxWindowPixels().
int MaxWindowSquareSide();
// Empty when a window of width x height can be drawn and captured;
// otherwise why not, naming the limit.
std::string SizeProblem(int width, int height);

}  // namespace khost
