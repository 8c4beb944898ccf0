#include "khost/outputs/report_charts.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "khost/outputs/report_svg.h"

namespace khost {

namespace {

constexpr const char* kAxisColour = "#6b7280";
constexpr const char* kGridColour = "#e5e7eb";
constexpr const char* kTextColour = "#374151";
constexpr int kFontSize = 12;
// About how wide a character of the charts' bold text is at most, for
// keeping text inside the chart.
constexpr double kBoldCharWidth = 8.5;

// The plot's area in a chart.
struct Box {
  double Left = 0.0;
  double Top = 0.0;
  double Width = 0.0;
  double Height = 0.0;
  double Right() const { return Left + Width; }
  double Bottom() const { return Top + Height; }
};

// A coordinate, to a tenth of a pixel.
std::string P(double v) {
  return Fixed(v, 1);
}

void Open(std::ostream& out, const char* id, int height, const std::string& label) {
  out << "<svg id=\"" << id << "\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" << kChartWidth
      << "\" height=\"" << height << "\" viewBox=\"0 0 " << kChartWidth << ' ' << height
      << "\" role=\"img\" aria-label=\"" << EscapeHtml(label) << "\" font-size=\"" << kFontSize
      << "\">\n";
}

void Line(std::ostream& out, double x1, double y1, double x2, double y2, const char* colour,
          double width, const char* dash = nullptr) {
  out << "<line x1=\"" << P(x1) << "\" y1=\"" << P(y1) << "\" x2=\"" << P(x2) << "\" y2=\"" << P(y2)
      << "\" stroke=\"" << colour << "\" stroke-width=\"" << Fixed(width, 1) << '"';
  if (dash) out << " stroke-dasharray=\"" << dash << '"';
  out << "/>\n";
}

void Rect(std::ostream& out, double x, double y, double w, double h, const char* fill) {
  out << "<rect x=\"" << P(x) << "\" y=\"" << P(y) << "\" width=\"" << P(std::max(w, 0.0))
      << "\" height=\"" << P(std::max(h, 0.0)) << "\" fill=\"" << fill << "\"/>\n";
}

// `text` is written escaped.
void Text(std::ostream& out, double x, double y, const std::string& text, const char* anchor,
          const char* colour = kTextColour, const std::string& extra = "") {
  out << "<text x=\"" << P(x) << "\" y=\"" << P(y) << "\" text-anchor=\"" << anchor << "\" fill=\""
      << colour << '"' << (extra.empty() ? "" : " ") << extra << '>' << EscapeHtml(text)
      << "</text>\n";
}

void Empty(std::ostream& out, const Box& plot, const std::string& what) {
  Text(out, plot.Left + plot.Width / 2, plot.Top + plot.Height / 2, what, "middle");
  out << "</svg>\n";
}

// The axes' frame (left and bottom) and the vertical axis's title.
void Axes(std::ostream& out, const Box& plot, const std::string& yTitle,
          const std::string& xTitle) {
  Line(out, plot.Left, plot.Top, plot.Left, plot.Bottom(), kAxisColour, 1.0);
  Line(out, plot.Left, plot.Bottom(), plot.Right(), plot.Bottom(), kAxisColour, 1.0);
  const double y = plot.Top + plot.Height / 2;
  Text(out, 16, y, yTitle, "middle", kTextColour,
       "transform=\"rotate(-90 16 " + P(y) + ")\" font-weight=\"bold\"");
  Text(out, plot.Left + plot.Width / 2, plot.Bottom() + 40, xTitle, "middle", kTextColour,
       "font-weight=\"bold\"");
}

// Horizontal grid lines and their labels at `ticks` (the last is the top).
void YGrid(std::ostream& out, const Box& plot, const std::vector<double>& ticks, double step) {
  const double top = ticks.back();
  for (const double tick : ticks) {
    const double y = plot.Bottom() - tick / top * plot.Height;
    if (tick > 0) Line(out, plot.Left, y, plot.Right(), y, kGridColour, 1.0);
    Line(out, plot.Left - 5, y, plot.Left, y, kAxisColour, 1.0);
    // Large counts in thousands, so that the labels keep clear of the
    // axis's title.
    const bool thousands = top >= 100000.0 && step >= 1000.0 && tick > 0;
    Text(out, plot.Left - 8, y + 4,
         thousands ? TickText(tick / 1000.0, step / 1000.0) + "k" : TickText(tick, step), "end");
  }
}

// A tick below the horizontal axis at `x`, with its text.
void XTick(std::ostream& out, const Box& plot, double x, const std::string& text) {
  Line(out, x, plot.Bottom(), x, plot.Bottom() + 5, kAxisColour, 1.0);
  Text(out, x, plot.Bottom() + 19, text, "middle");
}

// A logarithmic scale from `low` to `high` onto [left, left + width].
struct LogScale {
  double LogLow = 0.0;
  double LogHigh = 1.0;
  double Left = 0.0;
  double Width = 1.0;
  double At(double v) const { return Left + (std::log(v) - LogLow) / (LogHigh - LogLow) * Width; }
  double Low() const { return std::exp(LogLow); }
  double High() const { return std::exp(LogHigh); }
};

// [low, high] (0 < low <= high) widened by `pad` of its width on the
// logarithmic scale on either side, and to at least `least` times wide.
LogScale MakeLogScale(double low, double high, double pad, double least, const Box& plot) {
  double a = std::log(low);
  double b = std::log(high);
  if (b - a < std::log(least)) {
    const double middle = (a + b) / 2;
    a = middle - std::log(least) / 2;
    b = middle + std::log(least) / 2;
  }
  const double margin = (b - a) * pad;
  return {a - margin, b + margin, plot.Left, plot.Width};
}

}  // namespace

const char* VerdictColour(const std::string& verdict) {
  if (verdict == "faster") return kFasterColour;
  if (verdict == "slower") return kSlowerColour;
  return kUnclearColour;
}

void WriteSeriesChart(const ReportData& data, std::ostream& out) {
  const Box plot{70, 26, kChartWidth - 70 - 34, kSeriesHeight - 26 - 52};
  Open(out, "series", kSeriesHeight, "the frame period over the run");
  const std::vector<float>& points = data.Series.PeriodsMs;
  float largest = 0.0f;
  for (const float v : points) {
    if (!std::isnan(v)) largest = std::max(largest, v);
  }
  if (points.empty() || data.Series.Frames <= 0 || !(largest > 0.0f)) {
    Empty(out, plot, "no frame periods were measured");
    return;
  }
  // A few frames far above the rest (the first frame's start-up, a stall)
  // would flatten everything else: the axis ends above the p99.9 and marks
  // them at its top.
  const double reference = data.Percentiles.Frames > 0 ? data.Percentiles.P999 : largest;
  const bool clip = reference > 0.0 && largest > 2.0 * reference;
  double step = 1.0;
  const std::vector<double> yTicks = LinearTicks(0.0, clip ? reference * 1.3 : largest, 5, step);
  const double top = yTicks.back();
  const auto yAt = [&](double ms) { return plot.Bottom() - std::min(ms, top) / top * plot.Height; };

  const double frames = static_cast<double>(data.Series.Frames);
  const auto xAt = [&](double frame) {
    return plot.Left + std::clamp(frame / frames, 0.0, 1.0) * plot.Width;
  };
  // Stretches narrower than a pixel share it: the first one in a pixel
  // column is drawn, so that the page stays small however many there are.
  double drawnTo = -1.0;
  for (const ReportSpan& span : data.Spans) {
    const double x0 = xAt(static_cast<double>(span.First));
    const double x1 = xAt(static_cast<double>(span.First + span.Count));
    if (x1 - x0 < 1.0 && std::floor(x0) <= drawnTo) continue;
    Rect(out, x0, plot.Top, std::max(x1 - x0, 1.0), plot.Height, SpanColour(span.Label));
    drawnTo = std::floor(std::max(x1, x0 + 1.0));
  }
  YGrid(out, plot, yTicks, step);
  double xStep = 1.0;
  for (const double tick : LinearTicks(0.0, frames, 10, xStep)) {
    // Whole frames only.
    if (tick <= frames && tick == std::floor(tick)) {
      XTick(out, plot, xAt(tick), TickText(tick, 1.0));
    }
  }

  // The periods: a step for each point while they fit the plot's width,
  // else each pixel column from its shortest to its longest period.
  const long long per = data.Series.FramesPerPoint;
  const std::size_t n = points.size();
  const std::size_t columns = static_cast<std::size_t>(plot.Width);
  std::vector<bool> clipped(columns, false);
  const auto column = [&](std::size_t point) { return std::min(columns - 1, point * columns / n); };
  out << "<path fill=\"none\" stroke=\"" << kSeriesColour << "\" stroke-width=\""
      << (n <= columns ? "1.5" : "1") << "\" stroke-linejoin=\"round\" d=\"";
  if (n <= columns) {
    bool drawing = false;
    for (std::size_t i = 0; i < n; ++i) {
      const float v = points[i];
      if (std::isnan(v)) {
        drawing = false;
        continue;
      }
      const double x0 = xAt(static_cast<double>(static_cast<long long>(i) * per));
      const double x1 = xAt(static_cast<double>((static_cast<long long>(i) + 1) * per));
      out << (drawing ? "V" : "M" + P(x0) + " ") << P(yAt(v)) << "H" << P(x1);
      drawing = true;
      if (v > top) clipped[column(i)] = true;
    }
  } else {
    for (std::size_t c = 0; c < columns; ++c) {
      const std::size_t from = c * n / columns;
      const std::size_t to = std::max(from + 1, (c + 1) * n / columns);
      float low = std::numeric_limits<float>::infinity();
      float high = -low;
      for (std::size_t i = from; i < to && i < n; ++i) {
        if (std::isnan(points[i])) continue;
        low = std::min(low, points[i]);
        high = std::max(high, points[i]);
      }
      if (high < low) continue;
      if (high > top) clipped[c] = true;
      const double yHigh = yAt(high);
      const double yLow = std::max(yAt(low), yHigh + 1.0);
      out << "M" << P(plot.Left + static_cast<double>(c) + 0.5) << " " << P(yHigh) << "V"
          << P(yLow);
    }
  }
  out << "\"/>\n";
  long long above = 0;
  for (const float v : points) above += v > top ? 1 : 0;
  for (std::size_t c = 0; c < columns; ++c) {
    if (!clipped[c]) continue;
    const double x = plot.Left + static_cast<double>(c) + 0.5;
    out << "<path d=\"M" << P(x - 4) << " " << P(plot.Top + 7) << "L" << P(x + 4) << " "
        << P(plot.Top + 7) << "L" << P(x) << " " << P(plot.Top) << "Z\" fill=\"" << kClippedColour
        << "\"/>\n";
  }
  if (above > 0) {
    const std::string count = std::to_string(above);
    const std::string what = per == 1 ? count + (above == 1 ? " frame" : " frames")
                                      : count + (above == 1 ? " stretch" : " stretches") + " of " +
                                            std::to_string(per) + " frames";
    Text(out, plot.Right(), plot.Top - 10,
         "\u25B2 " + what + " above " + Millis(top) + " ms, the longest " + Millis(largest) + " ms",
         "end", kClippedColour);
  }
  Axes(out, plot, "frame period (ms)",
       per == 1 ? "frame" : "frame (each point the longest of " + std::to_string(per) + ")");
  out << "</svg>\n";
}

void WriteHistogramChart(const ReportData& data, std::ostream& out) {
  constexpr double kTagRow = 16.0;
  const Box plot{70, 4 * kTagRow + 14, kChartWidth - 70 - 34,
                 kHistogramHeight - 4 * kTagRow - 14 - 52};
  Open(out, "histogram", kHistogramHeight, "histogram of the frame periods");
  long long most = 0;
  for (const ReportBin& bin : data.Histogram) most = std::max(most, bin.Frames);
  if (data.Histogram.empty() || most == 0) {
    Empty(out, plot, "no frame periods were measured");
    return;
  }
  double low = data.Histogram.front().LowMs;
  const double high = data.Histogram.back().HighMs;
  if (!(low > 0.0)) low = high / 1000.0;
  const LogScale x = MakeLogScale(low, std::max(high, low), 0.03, 1.2, plot);

  double step = 1.0;
  // Whole frames: a few counts tick each one.
  std::vector<double> yTicks;
  if (most <= 5) {
    for (long long count = 0; count <= most; ++count) yTicks.push_back(static_cast<double>(count));
  } else {
    yTicks = LinearTicks(0.0, static_cast<double>(most), 5, step);
  }
  YGrid(out, plot, yTicks, std::max(step, 1.0));
  const double top = yTicks.back();
  for (const double tick : LogTicks(x.Low(), x.High(), 9)) {
    XTick(out, plot, x.At(tick), LogTickText(tick));
  }
  for (const ReportBin& bin : data.Histogram) {
    if (bin.Frames == 0) continue;
    const double x0 = x.At(std::max(bin.LowMs, low));
    const double x1 = std::max(x.At(std::max(bin.HighMs, bin.LowMs)) - 1.0, x0 + 2.0);
    const double h = static_cast<double>(bin.Frames) / top * plot.Height;
    Rect(out, x0, plot.Bottom() - h, x1 - x0, h, kHistogramColour);
  }
  // Each percentile's line, its tag in a row of its own above the plot so
  // that close percentiles' tags never overlap.
  const ReportPercentiles& p = data.Percentiles;
  const struct {
    const char* Name;
    double Ms;
    const char* Colour;
  } marks[] = {{"median", p.Median, kMedianColour},
               {"p95", p.P95, kP95Colour},
               {"p99", p.P99, kP99Colour},
               {"p99.9", p.P999, kP999Colour}};
  if (p.Frames > 0) {
    const auto row = [&](std::size_t i) { return kTagRow * static_cast<double>(i + 1); };
    for (std::size_t i = 0; i < std::size(marks); ++i) {
      const double at = x.At(marks[i].Ms);
      Line(out, at, row(i) + 3, at, plot.Bottom(), marks[i].Colour, 1.5, "5 3");
    }
    // The tags over the lines, each on a white halo, so that a line that
    // runs down past another's tag does not cross its text.
    for (std::size_t i = 0; i < std::size(marks); ++i) {
      const double at = x.At(marks[i].Ms);
      const std::string tag = std::string(marks[i].Name) + " " + Millis(marks[i].Ms) + " ms";
      const bool left = at + 6 + kBoldCharWidth * static_cast<double>(tag.size()) > kChartWidth;
      Text(out, left ? at - 5 : at + 5, row(i), tag, left ? "end" : "start", marks[i].Colour,
           "font-weight=\"bold\" stroke=\"#ffffff\" stroke-width=\"4\" paint-order=\"stroke\"");
    }
  }
  Axes(out, plot, "frames", "frame period (ms, logarithmic scale)");
  out << "</svg>\n";
}

void WriteForestPlot(const ReportData& data, std::ostream& out) {
  if (data.Ratios.empty()) return;
  const std::vector<ReportRatio>& rows = data.Ratios;
  const double headTop = 26.0;
  const double height = headTop + kForestRowHeight * static_cast<double>(rows.size()) + 56.0;
  const Box plot{260, headTop, 470, kForestRowHeight * static_cast<double>(rows.size())};
  const double numbersX = plot.Right() + 24;
  const double verdictX = numbersX + 180;
  Open(out, "forest", static_cast<int>(height), "the ratios with their 95% intervals");

  // The range: every ratio, every finite end of an interval, and 1.
  double low = 1.0;
  double high = 1.0;
  for (const ReportRatio& r : rows) {
    if (!r.HasRatio) continue;
    for (const double v : {r.Ratio, r.Low, r.High}) {
      if (v > 0.0 && std::isfinite(v)) {
        low = std::min(low, v);
        high = std::max(high, v);
      }
    }
  }
  const LogScale x = MakeLogScale(low, high, 0.06, 1.1, plot);

  Text(out, 12, headTop - 9, data.RatioNames, "start", kTextColour, "font-weight=\"bold\"");
  Text(out, numbersX, headTop - 9, "ratio  [95% interval]", "start", kTextColour,
       "font-weight=\"bold\"");
  Text(out, verdictX, headTop - 9, "verdict", "start", kTextColour, "font-weight=\"bold\"");
  for (std::size_t i = 0; i < rows.size(); i += 2) {
    Rect(out, 0, plot.Top + kForestRowHeight * static_cast<double>(i), kChartWidth,
         kForestRowHeight, "#f3f4f6");
  }
  for (const double tick : LogTicks(x.Low(), x.High(), 9)) {
    const double at = x.At(tick);
    Line(out, at, plot.Top, at, plot.Bottom(), kGridColour, 1.0);
    XTick(out, plot, at, LogTickText(tick));
  }
  Line(out, x.At(1.0), plot.Top - 4, x.At(1.0), plot.Bottom(), kMedianColour, 1.5, "6 3");

  for (std::size_t i = 0; i < rows.size(); ++i) {
    const ReportRatio& r = rows[i];
    const double y = plot.Top + kForestRowHeight * (static_cast<double>(i) + 0.5);
    std::string name = r.Name;
    const std::size_t room = 34 - 2 * static_cast<std::size_t>(std::clamp(r.Depth, 0, 4));
    if (name.size() > room) {
      // Cut before a whole UTF-8 character.
      std::size_t cut = room - 1;
      while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
      name = name.substr(0, cut) + "\u2026";
    }
    // The whole name as the row's tooltip.
    out << "<g><title>" << EscapeHtml(r.Name) << "</title>\n";
    Text(out, 12 + 14.0 * std::clamp(r.Depth, 0, 4), y + 4, name, "start", "#111827");
    out << "</g>\n";
    Text(out, verdictX, y + 4, r.Verdict, "start", VerdictColour(r.Verdict),
         "font-weight=\"bold\"");
    if (!r.HasRatio) continue;
    // An end outside the range (none: 0 or infinite) is drawn to the
    // range's edge with an arrow.
    const bool openLow = !(r.Low > x.Low());
    const bool openHigh = !(r.High < x.High());
    const double x0 = openLow ? plot.Left : x.At(r.Low);
    const double x1 = openHigh ? plot.Right() : x.At(r.High);
    Line(out, x0, y, x1, y, kIntervalColour, 2.0);
    if (!openLow) Line(out, x0, y - 6, x0, y + 6, kIntervalColour, 2.0);
    if (!openHigh) Line(out, x1, y - 6, x1, y + 6, kIntervalColour, 2.0);
    if (openLow) {
      out << "<path d=\"M" << P(x0) << " " << P(y) << "l8 -5v10Z\" fill=\"" << kIntervalColour
          << "\"/>\n";
    }
    if (openHigh) {
      out << "<path d=\"M" << P(x1) << " " << P(y) << "l-8 -5v10Z\" fill=\"" << kIntervalColour
          << "\"/>\n";
    }
    const double at = x.At(std::clamp(r.Ratio, x.Low(), x.High()));
    Rect(out, at - 5, y - 5, 10, 10, VerdictColour(r.Verdict));
    Text(out, numbersX, y + 4,
         Fixed(r.Ratio, 3) + "  [" + Fixed(r.Low, 3) + ", " + Fixed(r.High, 3) + "]", "start",
         "#111827", "font-family=\"DejaVu Sans Mono, monospace\"");
  }
  Line(out, plot.Left, plot.Bottom(), plot.Right(), plot.Bottom(), kAxisColour, 1.0);
  Text(out, plot.Left + plot.Width / 2, plot.Bottom() + 40,
       data.RatioCaption + " (logarithmic scale)", "middle", kTextColour, "font-weight=\"bold\"");
  out << "</svg>\n";
}

}  // namespace khost
