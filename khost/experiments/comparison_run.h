// An interleaved A/B run of one setting: which value each block of frames
// runs with, which frames count, and the table of results.
//
// Frame 0 runs with the start-up settings; then blocks of Block frames
// alternate, A first. The switch to a block's value runs after the frame
// before it, so that frame's period holds the switch and is not counted;
// nor are the first kSettleFrames frames of a block (run_requests.h) nor the
// run's last frame (its period ends with the run, not with a next frame).
//
// The setting is read after every frame (setting_watch.h): a block in which
// it did not hold its value (changed by a click, a scripted action or
// anything but the comparison) is left out, and so is a block that held
// another value than most of its side's (a number field the host rounds by
// the direction of the change). The table names the values the blocks ran
// and how many were left out; a run whose A and B ran the same value is no
// comparison and fails.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "khost/cli/run_requests.h"
#include "khost/experiments/block_stats.h"
#include "khost/experiments/experiment.h"
#include "khost/experiments/setting_watch.h"
#include "khost/frame/frame_capture.h"

namespace khost {

struct ComparisonRow {
  CapturedCycle Cycle;
  bool HasA = false;  // measured in some counted frame of A
  bool HasB = false;
  BlockComparison Stats;  // valid when both; otherwise only the median of the side measured
};

class ComparisonRun : public Experiment {
 public:
  // Checks `request`'s two values against the editor `driver` finds for its
  // caption and that a run of `frames` frames holds two blocks of each.
  static Result<std::unique_ptr<ComparisonRun>> Prepare(const CompareRequest& request,
                                                        const CompareTableRequest& table,
                                                        MeasureClock clock, long long frames,
                                                        UiDriver& driver);

  // Compares `request` on `clock` over a run of `frames` frames, its table
  // made and judged as `table` asks.
  ComparisonRun(CompareRequest request, CompareTableRequest table, MeasureClock clock,
                long long frames);

  const CompareRequest& Request() const { return mRequest; }
  // The frames a run needs for two blocks of each value.
  static long long MinimumFrames(int block) { return MinimumCompareFrames(block); }

  // The value to set once frame `frameIndex` has run, if a block starts
  // after it (frame 0 is followed by A).
  std::optional<std::string> SwitchAfter(long long frameIndex) const;
  // Whether frame `frameIndex` counts, and for which value (0 A, 1 B).
  bool Counted(long long frameIndex, int& side, long long& block) const;
  // The frames of every run in blocks of `block` frames after frame 0:
  // whether frame `frameIndex` counts in its block (`index`), leaving out
  // the settling frames and the frame that carries the next switch (the
  // run's last frame is the caller's to leave out).
  static bool CountedInBlock(long long frameIndex, int block, long long& index);

  void Consume(const FrameSample& frame, const std::vector<CapturedCycle>& cycles) override;

  // The experiment's steps: B is set before the first block, each block's
  // value after the frame before it; the table is printed at the end.
  long long Frames(long long planned) const override { return planned; }
  std::vector<UiAction> StartActions() const override;
  Status After(long long frameIndex, UiDriver& driver, bool& changed) override;
  bool Done() const override { return false; }
  Status End(UiDriver&) override { return {}; }
  Status Write(std::ostream& notes, std::ostream* csv) override;
  // --fail-if-slower: a failure (exit status 3) naming every cycle whose
  // interval lies wholly above the limit, once the table is written.
  Status Apply(std::ostream&) override;
  // The report: what was compared, A's and B's blocks shaded, each cycle's
  // ratio B / A.
  void Describe(ReportData& data) const override;

  // Whole blocks that count, per value (0 A, 1 B), and their frames.
  int BlockCount(int side) const;
  int CountedFrames(int side) const;
  // Whole blocks left out: the setting did not hold its side's value.
  int LeftOut() const;
  // The value the counted blocks of `side` ran, as the setting held it
  // (the asked value before any block was read).
  std::string RanValue(int side) const;

  // One row per cycle down to the comparison's depth, in the chart's order.
  std::vector<ComparisonRow> Results(const std::vector<CapturedCycle>& cycles) const;

  void PrintTable(const std::vector<ComparisonRow>& rows, std::ostream& out) const;
  // cycle,depth,median_a_us,median_b_us,ratio,ci_low,ci_high,verdict
  static void WriteCsv(const std::vector<ComparisonRow>& rows, std::ostream& out);
  // The cycles of `rows` whose interval lies wholly above 1 + percent / 100,
  // one line each; a failure with exit status 3 when there are any.
  static Status SlowerThan(const std::vector<ComparisonRow>& rows, int percent);

 private:
  CompareRequest mRequest;
  CompareTableRequest mTable;
  MeasureClock mClock;
  const std::vector<CapturedCycle>* mCycles = nullptr;  // the capture's, from the last frame
  long long mFrames;
  // mValues[cycle][block]: the cycle's durations in the block's counted frames.
  std::vector<std::vector<std::vector<double>>> mValues;
  // mBlockFrames[block]: the block's counted frames so far. Only a whole
  // block (every counted frame taken: the run did not end or stop inside
  // it) counts, in the table and in the blocks and frames it states.
  std::vector<int> mBlockFrames;
  bool Whole(std::size_t block) const;
  // Whole, and ran its side's value throughout.
  bool Kept(std::size_t block) const;
  // Whether `value` is what side `side` was asked for.
  bool Asked(int side, const std::string& value) const;
  SettingWatch mWatch;
  // The values asked as the setting writes them (a drop-down's item as
  // listed, whatever its case on the command line).
  std::string mWanted[2];
  // RanValue's answers, until the next frame is read.
  mutable std::optional<std::string> mRan[2];
};

}  // namespace khost
