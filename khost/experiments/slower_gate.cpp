#include "khost/experiments/slower_gate.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "khost/base/quoting.h"

namespace khost {

std::string RatioText(double value, int decimals) {
  if (std::isinf(value)) return "inf";
  // As long as the number needs: a recording may hold any finite time.
  const int length = std::snprintf(nullptr, 0, "%.*f", decimals, value);
  std::string text(static_cast<std::size_t>(std::max(length, 0)) + 1, '\0');
  std::snprintf(text.data(), text.size(), "%.*f", decimals, value);
  text.pop_back();
  return text;
}

Status SlowerThan(const std::vector<GatedRatio>& ratios, int percent) {
  const double limit = 1.0 + percent / 100.0;
  std::string named;
  for (const GatedRatio& r : ratios) {
    if (!(r.Low > limit)) continue;
    named += "\n  " + EscapeControls(r.Path) + ": ratio " + RatioText(r.Ratio, 3) +
             ", 95% interval [" + RatioText(r.Low, 3) + ", " + RatioText(r.High, 3) + "]";
  }
  if (named.empty()) return {};
  return Slower("--fail-if-slower: slower than " + RatioText(limit, 2) +
                " times, measured:" + named);
}

}  // namespace khost
