// Two recordings (--record's files) compared cycle by cycle: the median and
// the p99 of each, the ratios AFTER/BEFORE with 95 % intervals, and a
// verdict on the medians (--compare-recordings).
//
// Which frames count: each recording's first frame (the run's start: the
// scene's first upload, first-time allocations) and its last (its period
// ends with the run, not with a next frame) are left out; the n frames
// between them count.
//
// The interval: frames close in time are correlated (the machine's load,
// caches and clocks drift slowly), so the bootstrap draws blocks of
// consecutive frames rather than frames (block_stats.h). A recording's
// blocks are round(sqrt(n)) frames long, the frames left over joining its
// last block: as many blocks as frames in each, which keeps both the
// blocks' count (the bootstrap's spread) and their length (the drift they
// hold) growing with the recording. A cycle that ran in fewer than
// kMinimumIntervalFrames counted frames of either recording gets no
// interval and the verdict "too few frames".
//
// The verdict: two recordings are two runs, and two runs of the same
// settings differ a little (where memory lands, which cores the threads
// get) in a way no interval made from within each run can see. So a cycle
// is called faster or slower only when its medians' interval lies wholly
// beyond kRunToRunTolerance on that side and the medians differ by more
// than kNegligibleMicros; otherwise "no clear difference". The gate
// (--fail-if-slower) goes by the interval alone, as --compare's does.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "khost/base/status.h"
#include "khost/cli/run_requests.h"
#include "khost/experiments/block_stats.h"
#include "khost/outputs/recording_read.h"

namespace khost {

// The counted frames a cycle needs in each recording for an interval: four
// blocks of four frames.
inline constexpr long long kMinimumIntervalFrames = 16;
// How far apart two runs of the same settings may lie: 10 %. Two runs on
// a 2-core machine shared with builds differed by up to 9 % in a 300 us
// cycle with intervals of a few percent.
inline constexpr double kRunToRunTolerance = 0.10;
// A difference of the medians too small to call, in microseconds.
inline constexpr double kNegligibleMicros = 1.0;

// One cycle of the two recordings: a plain row, for the table, its CSV
// file and any other report made from it.
struct RecordingComparisonRow {
  std::string Path;  // as the recordings name it
  std::string Name;  // its last part, as the table shows it
  int Depth = 0;
  // The counted frames it ran in (with a time on the compared clock); 0:
  // not in that recording, the row's other numbers stand for the other one
  // alone.
  long long FramesBefore = 0;
  long long FramesAfter = 0;
  double MedianBefore = 0.0;  // microseconds
  double MedianAfter = 0.0;
  double P99Before = 0.0;  // nearest-rank, as --stats states it
  double P99After = 0.0;
  // Whether both recordings have enough of its frames for an interval;
  // without one, the ratios stand alone and the verdict is "too few frames".
  bool HasInterval = false;
  double Ratio = 1.0;  // MedianAfter / MedianBefore, and its 95 % interval
  double Low = 0.0;
  double High = 0.0;
  double P99Ratio = 1.0;  // P99After / P99Before, and its 95 % interval
  double P99Low = 0.0;
  double P99High = 0.0;
  Verdict Result = Verdict::kNoClearDifference;  // on the medians (see above)

  bool InBoth() const { return FramesBefore > 0 && FramesAfter > 0; }
};

struct RecordingComparison {
  std::string Before;  // the files, as given
  std::string After;
  MeasureClock Clock = kDefaultClock;
  long long FramesBefore = 0;  // counted frames
  long long FramesAfter = 0;
  int BlockBefore = 0;  // frames per block
  int BlockAfter = 0;
  int BlocksBefore = 0;
  int BlocksAfter = 0;
  // Down to the table's depth, in the chart's order: the cycles both
  // recordings share, and those only one holds (left out of the
  // comparison; InBoth() is false).
  std::vector<RecordingComparisonRow> Rows;
  // Under the CPU clock: cycles neither recording has a CPU time for (a
  // character's), left out.
  int WithoutCpuTime = 0;
};

// Compares `after` with `before` on `clock`, cycles down to `depth`.
RecordingComparison CompareRecordings(const Recording& before, const Recording& after, int depth,
                                      MeasureClock clock);

// "faster", "slower", "no clear difference", "too few frames", or which
// recording alone holds the cycle.
std::string VerdictOf(const RecordingComparisonRow& row);

// The table, as --compare prints its own: a line that says what was
// compared, then one line per row.
void PrintRecordingComparison(const RecordingComparison& comparison, std::ostream& out);
// cycle,depth,median_before_us,median_after_us,ratio,ci_low,ci_high,
// p99_before_us,p99_after_us,p99_ratio,p99_ci_low,p99_ci_high,
// frames_before,frames_after,verdict
void WriteRecordingComparisonCsv(const RecordingComparison& comparison, std::ostream& out);

// --fail-if-slower over the medians' intervals (slower_gate.h).
Status RecordingsSlowerThan(const RecordingComparison& comparison, int percent);

}  // namespace khost
