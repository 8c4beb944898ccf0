// The --compare-recordings mode: no scene, no window. Reads both
// recordings (refusing either before any output is opened), checks that no
// output would replace one of them, then prints the comparison's table,
// writes its CSV file (--compare-csv) and applies --fail-if-slower, through
// the same outputs a run's comparison finishes with.
#pragma once

#include <ostream>

#include "khost/base/status.h"
#include "khost/cli/run_plan.h"

namespace khost {

// Runs the comparison `plan` asks for (plan.Outputs.Measured.CompareRecordings
// is set). The table goes to `out`, or to `err` when the CSV file is
// standard output.
Status CompareRecordingFiles(const RunPlan& plan, std::ostream& out, std::ostream& err);

}  // namespace khost
