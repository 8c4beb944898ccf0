// What the report's charts share: text made safe for HTML, numbers as the
// axes print them, and the ticks of linear and logarithmic axes.
//
// Every function: [any thread]; all are pure.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace khost {

// `text` for HTML and SVG, in an element's text or an attribute's quotes:
// controls and invisible characters written out (EscapeControls), then & <
// > " ' as character references.
std::string EscapeHtml(std::string_view text);

// `value` with `decimals` digits after the point.
std::string Fixed(double value, int decimals);
// A time in milliseconds with three significant digits, never in exponent
// form: "0.412", "8.31", "16.7", "123".
std::string Millis(double ms);

// Evenly spaced round values (1, 2 or 5 times a power of ten apart) from
// the first at or below `low` to the first at or above `high`, at most
// `most` + 1 of them; `step` says how far apart. None for an empty range.
std::vector<double> LinearTicks(double low, double high, int most, double& step);
// A tick's text for ticks `step` apart: as many decimals as the step needs.
std::string TickText(double value, double step);

// Ticks for a logarithmic axis over [low, high] (both above 0): the round
// values of LinearTicks when the range is less than a factor of ten wide
// (they read better there), else 1, 1.5, 2, 3, 5 and 7 times the powers of
// ten within it, or only 1, 2 and 5 times, or only the powers, whichever
// first gives at most `most`. Only ticks inside the range.
std::vector<double> LogTicks(double low, double high, int most);
// A logarithmic tick's text (the ticks are round values): without trailing
// zeros, "0.05", "2", "150".
std::string LogTickText(double value);

}  // namespace khost
