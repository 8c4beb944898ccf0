// The HTML report's three charts, each an inline SVG of a fixed size drawn
// from a ReportData: the frame period over the run (with the stretches of
// frames each setting ran in shaded behind it), the histogram of the frame
// periods with their percentiles marked, and the forest plot of the ratios
// with their 95 % intervals.
//
// The colours of what each chart draws are named here once: the page's
// legends and the end-to-end test's look at the report's screenshot take
// them from here.
//
// Every function: [any thread]; all are pure.
#pragma once

#include <iterator>
#include <ostream>
#include <string>

#include "khost/outputs/report_data.h"

namespace khost {

inline constexpr int kChartWidth = 1100;  // every chart's width, in CSS pixels
inline constexpr int kSeriesHeight = 340;
inline constexpr int kHistogramHeight = 320;
inline constexpr int kForestRowHeight = 28;

// "#rrggbb".
inline constexpr const char* kSeriesColour = "#1d4ed8";     // the frame period's line
inline constexpr const char* kClippedColour = "#b91c1c";    // marks of periods above the axis
inline constexpr const char* kHistogramColour = "#0f766e";  // the histogram's bars
inline constexpr const char* kMedianColour = "#111827";
inline constexpr const char* kP95Colour = "#c2410c";
inline constexpr const char* kP99Colour = "#be123c";
inline constexpr const char* kP999Colour = "#7e22ce";
inline constexpr const char* kIntervalColour = "#334155";  // the forest plot's intervals
inline constexpr const char* kFasterColour = "#15803d";
inline constexpr const char* kSlowerColour = "#b91c1c";
inline constexpr const char* kUnclearColour = "#64748b";
// The shading of the stretches, by their label, in turn.
inline constexpr const char* kSpanColours[] = {"#fde2b8", "#c7e7f5", "#d9f2d0", "#f3d4ee",
                                               "#e6e0c8", "#d6dcf5", "#f6d1d1", "#d2efe9"};
inline constexpr int kSpanColourCount = static_cast<int>(std::size(kSpanColours));

// The shading of label `label`.
inline const char* SpanColour(int label) {
  return kSpanColours[static_cast<std::size_t>(label % kSpanColourCount)];
}
// The colour of a verdict's text and point.
const char* VerdictColour(const std::string& verdict);

void WriteSeriesChart(const ReportData& data, std::ostream& out);
void WriteHistogramChart(const ReportData& data, std::ostream& out);
// Nothing when there are no ratios.
void WriteForestPlot(const ReportData& data, std::ostream& out);

}  // namespace khost
