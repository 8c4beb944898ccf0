// How khost reads the values on its command line: numbers, sizes, and how a
// message quotes what it refuses.
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
// Empty when a window of width x height can be drawn and captured;
// otherwise why not, naming the limit.
std::string SizeProblem(int width, int height);

// `text` with its control characters written out, so that echoing it cannot
// move the cursor, retitle the terminal or hide what follows: C0 controls
// and DEL as \a \b \t \n \r \e or \xNN, C1 controls (U+0080..U+009F, in
// UTF-8) as \u00NN. Everything else, other UTF-8 included, is kept.
std::string EscapeControls(std::string_view text);

// `text` in single quotes for a message, cut to about 200 characters with
// an ellipsis, its control characters escaped (EscapeControls).
std::string QuoteArgument(const std::string& text);

}  // namespace khost
