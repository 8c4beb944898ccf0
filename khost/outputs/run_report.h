// What a run reports at its end beside the files it writes as it goes: the
// comparison's table or the tuning search's answer, printed with the run's
// notes and, when asked for, written as CSV (--compare-csv, --tune-csv)
// and shown in the HTML report (--report). The outputs call it once, after
// the recording and the trace are finished and before the screenshots and
// the statistics.
#pragma once

#include <ostream>

#include "khost/base/status.h"
#include "khost/outputs/report_data.h"

namespace khost {

class RunReport {
 public:
  virtual ~RunReport() = default;
  // [loop thread] Prints the answer to `notes` and, when `csv` is not null,
  // its table there. A failure (too little measured for an answer) leaves
  // the CSV file unwritten.
  virtual Status Write(std::ostream& notes, std::ostream* csv) = 0;
  // [loop thread] Once the CSV file is in place: what the answer changes
  // beside the run's outputs (the tune's configuration edits), said in
  // `notes`.
  virtual Status Apply(std::ostream& notes) = 0;
  // [loop thread] After Write: what the HTML report shows of the answer,
  // added to `data`: what ran in the title, lines under it, the stretches of frames each
  // setting ran in (Labels, Spans), and the ratios for the forest plot
  // (RatioTitle, RatioCaption, Ratios, or NoRatios when there is no
  // answer).
  virtual void Describe(ReportData& data) const = 0;
};

}  // namespace khost
