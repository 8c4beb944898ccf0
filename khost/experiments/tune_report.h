// A tune's answer as a table for people and as CSV.
#pragma once

#include <ostream>
#include <string>

#include "khost/cli/run_requests.h"
#include "khost/experiments/tune_search.h"

namespace khost {

struct TuneReport {
  const TuneSearch* Search = nullptr;
  TuneAnswer Answer;
  std::string Target;                        // the cycle whose median was made smallest
  bool CutShort = false;                     // the run ended before the search did
  MeasureClock Clock = MeasureClock::kWall;  // the clock its times were read on
};

// The best configuration and its ratio to the start with the 95 % interval,
// each setting's effect from the best, every configuration measured, and
// the verdict.
void PrintTuneReport(const TuneReport& report, std::ostream& out);

// kind,configuration,setting,value,blocks,frames,median_us,ratio,ci_low,ci_high,note
// kind "best": the best, its ratio to the start (note: the verdict of that);
// "effect": one setting switched from the best (setting, value), its ratio
// to the best (note: its verdict); "measured": every configuration that ran
// (note: start, best, dropped); "verdict": the verdict line in note.
void WriteTuneCsv(const TuneReport& report, std::ostream& out);

}  // namespace khost
