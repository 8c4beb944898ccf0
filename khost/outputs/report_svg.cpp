#include "khost/outputs/report_svg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "khost/base/quoting.h"

namespace khost {

std::string EscapeHtml(std::string_view text) {
  const std::string visible = EscapeControls(text);
  std::string out;
  out.reserve(visible.size());
  for (const char c : visible) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string Fixed(double value, int decimals) {
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  char text[64];
  std::snprintf(text, sizeof(text), "%.*f", decimals, value);
  return text;
}

std::string Millis(double ms) {
  const double size = std::fabs(ms);
  return Fixed(ms, size >= 100.0 ? 0 : size >= 10.0 ? 1 : size >= 1.0 ? 2 : 3);
}

std::vector<double> LinearTicks(double low, double high, int most, double& step) {
  std::vector<double> ticks;
  step = 1.0;
  if (!(high > low) || !std::isfinite(low) || !std::isfinite(high) || most < 2) return ticks;
  // The smallest round step that gives at most one tick more than `most`.
  const double rough = (high - low) / most;
  const double power = std::pow(10.0, std::floor(std::log10(rough)));
  for (const double factor : {1.0, 2.0, 5.0, 10.0}) {
    step = factor * power;
    if (step >= rough) break;
  }
  const double first = std::floor(low / step + 1e-9) * step;
  for (double at = first;; at += step) {
    // Exact multiples, so that 0.30000000000000004 prints as 0.3.
    const double tick = std::round(at / step) * step;
    ticks.push_back(tick);
    if (tick >= high - step * 1e-9) break;
  }
  return ticks;
}

std::string TickText(double value, double step) {
  const int decimals = step >= 1.0 ? 0 : static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
  return Fixed(value, std::clamp(decimals, 0, 6));
}

std::vector<double> LogTicks(double low, double high, int most) {
  std::vector<double> ticks;
  if (!(low > 0.0) || !(high > low)) return ticks;
  if (high / low < 10.0) {
    double step = 1.0;
    for (const double tick : LinearTicks(low, high, most, step)) {
      if (tick >= low && tick <= high) ticks.push_back(tick);
    }
    if (ticks.size() >= 2) return ticks;
    ticks.clear();
  }
  const int from = static_cast<int>(std::floor(std::log10(low)));
  const int to = static_cast<int>(std::ceil(std::log10(high)));
  for (const std::vector<double>& factors :
       {std::vector<double>{1.0, 1.5, 2.0, 3.0, 5.0, 7.0}, std::vector<double>{1.0, 2.0, 5.0},
        std::vector<double>{1.0}}) {
    ticks.clear();
    for (int e = from; e <= to; ++e) {
      for (const double f : factors) {
        const double tick = f * std::pow(10.0, e);
        if (tick >= low && tick <= high) ticks.push_back(tick);
      }
    }
    if (static_cast<int>(ticks.size()) <= most) break;
  }
  return ticks;
}

std::string LogTickText(double value) {
  // Round values only: print them without trailing zeros.
  std::string text = Fixed(value, value >= 100.0 ? 0 : value >= 1.0 ? 2 : 4);
  if (text.find('.') != std::string::npos) {
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
  }
  return text;
}

}  // namespace khost
