#include "khost/outputs/html_report.h"

#include <string>

#include "khost/outputs/report_charts.h"
#include "khost/outputs/report_svg.h"

namespace khost {

namespace {

constexpr const char* kStyle =
    "body{font-family:'DejaVu Sans',Verdana,Arial,sans-serif;margin:0;padding:14px 24px 24px;"
    "background:#ffffff;color:#111827;width:1100px}"
    "h1{font-size:20px;margin:0 0 6px}"
    "h2{font-size:16px;margin:20px 0 4px}"
    "p{margin:2px 0;font-size:13px;color:#374151}"
    ".legend{display:flex;flex-wrap:wrap;gap:4px 18px;margin:4px 0 2px 70px;font-size:12.5px;"
    "color:#374151}"
    ".key{display:inline-block;width:14px;height:10px;margin-right:6px;border:1px solid #9ca3af}"
    ".stroke{display:inline-block;width:18px;height:0;margin:0 6px 3px 0;border-top:2px solid}"
    "svg{display:block}"
    "footer{margin-top:16px;font-size:11px;color:#6b7280}";

// A legend's entry with a swatch of `colour`: a filled box or (`stroke`) a
// line.
void Key(std::ostream& out, const char* colour, const std::string& text, bool stroke) {
  out << "<span><span class=\"" << (stroke ? "stroke" : "key") << "\" style=\""
      << (stroke ? "border-color:" : "background:") << colour << "\"></span>" << EscapeHtml(text)
      << "</span>";
}

}  // namespace

void WriteHtmlReport(const ReportData& data, std::ostream& out) {
  out << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>"
      << EscapeHtml(data.Title) << "</title>\n<style>" << kStyle << "</style>\n</head>\n<body>\n";
  out << "<h1>" << EscapeHtml(data.Title) << "</h1>\n";
  for (const std::string& line : data.Subtitles) out << "<p>" << EscapeHtml(line) << "</p>\n";

  out << "<h2>Frame period over the run</h2>\n<div class=\"legend\">";
  Key(out, kSeriesColour, "frame period (" + data.Clock + ")", true);
  for (std::size_t label = 0; label < data.Labels.size(); ++label) {
    Key(out, SpanColour(static_cast<int>(label)), data.Labels[label], false);
  }
  out << "</div>\n";
  WriteSeriesChart(data, out);

  const ReportPercentiles& p = data.Percentiles;
  out << "<h2>Frame periods: histogram of " << p.Frames << " frames</h2>\n<div class=\"legend\">";
  Key(out, kHistogramColour, "frames per bar", false);
  if (p.Frames > 0) {
    Key(out, kMedianColour, "median " + Millis(p.Median) + " ms", true);
    Key(out, kP95Colour, "p95 " + Millis(p.P95) + " ms", true);
    Key(out, kP99Colour, "p99 " + Millis(p.P99) + " ms", true);
    Key(out, kP999Colour, "p99.9 " + Millis(p.P999) + " ms", true);
  }
  out << "</div>\n";
  WriteHistogramChart(data, out);

  if (!data.Ratios.empty()) {
    out << "<h2>" << EscapeHtml(data.RatioTitle) << "</h2>\n<div class=\"legend\">";
    Key(out, kFasterColour, "faster", false);
    Key(out, kSlowerColour, "slower", false);
    Key(out, kUnclearColour, "no clear difference", false);
    Key(out, kIntervalColour, "95% interval", true);
    Key(out, kMedianColour, "1: no change", true);
    out << "</div>\n";
    WriteForestPlot(data, out);
  } else if (!data.NoRatios.empty()) {
    out << "<h2>" << EscapeHtml(data.RatioTitle) << "</h2>\n<p>" << EscapeHtml(data.NoRatios)
        << "</p>\n";
  }
  out << "<footer>Percentiles are nearest-rank, within 1% (as --stats gives them). Written by "
         "khost.</footer>\n</body>\n</html>\n";
}

}  // namespace khost
