// The report (--report) as one HTML page that needs nothing else: no
// script, no style sheet, font or picture from elsewhere, so it opens from
// the file in any browser without a network. Its charts are inline SVG
// (report_charts.h); every text from outside (captions, paths, names) is
// escaped.
#pragma once

#include <ostream>

#include "khost/outputs/report_data.h"

namespace khost {

// The page: the title and the lines under it, the frame period over the
// run, the histogram of the frame periods with their percentiles and, when
// `data` has ratios, their forest plot (else its NoRatios note, if any).
void WriteHtmlReport(const ReportData& data, std::ostream& out);

}  // namespace khost
