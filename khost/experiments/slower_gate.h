// The regression gate of a comparison's table (--fail-if-slower): a run
// fails with exit status 3 when some cycle's interval lies wholly above the
// limit, and says which. --compare and --compare-recordings share it.
#pragma once

#include <string>
#include <vector>

#include "khost/base/status.h"

namespace khost {

// One cycle's ratio as the table states it, with its 95 % interval.
struct GatedRatio {
  std::string Path;  // the cycle's path, as the recording names it
  double Ratio = 1.0;
  double Low = 0.0;
  double High = 0.0;
};

// `value` with `decimals` digits after the point; "inf" for an infinite one.
std::string RatioText(double value, int decimals);

// The cycles of `ratios` whose interval lies wholly above 1 + percent / 100,
// one line each; a failure with exit status 3 when there are any.
Status SlowerThan(const std::vector<GatedRatio>& ratios, int percent);

}  // namespace khost
