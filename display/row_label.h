// The text of a chart row's label, formatted without the C library's
// formatter: a chart with thousands of rows formats thousands of labels in
// every paint, and a general printf costs several times what these do.
//
// Each formatter writes into `out` (`size` bytes, at least 1) exactly what
// snprintf writes with the format named, cut at `size` - 1 bytes and always
// terminated, and returns the length of the whole text, as snprintf does.
// `name` is read no further than `nameLimit` bytes (the "%.*s" precision).
// They allocate nothing.
#pragma once

namespace kp_display {

// "%.*s (%d%%) [%d%%,%d%%]"
int FormatPercentLabel(char* out, int size, const char* name, int nameLimit, int average,
                       int minimum, int maximum);

// "%.*s (%.1fms)"
int FormatMillisecondLabel(char* out, int size, const char* name, int nameLimit,
                           double milliseconds);

}  // namespace kp_display
