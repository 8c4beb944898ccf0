#include "khost/experiments/recordings_run.h"

#include <limits>

#include "khost/experiments/recording_comparison.h"
#include "khost/frame/frame_capture.h"
#include "khost/outputs/output_paths.h"
#include "khost/outputs/recording_read.h"
#include "khost/outputs/report_frames.h"
#include "khost/outputs/run_outputs.h"

namespace khost {

namespace {

constexpr const char* kFlag = "--compare-recordings";

// The comparison as the run's report: its table and CSV, then the gate.
class RecordingsReport : public RunReport {
 public:
  RecordingsReport(const Recording& before, const Recording& after,
                   const CompareTableRequest& table, MeasureClock clock)
      : mBefore(before),
        mAfter(after),
        mComparison(CompareRecordings(before, after, table.Depth, clock)),
        mTable(table) {}

  Status Write(std::ostream& notes, std::ostream* csv) override {
    PrintRecordingComparison(mComparison, notes);
    if (csv) {
      // What went to standard output so far comes first when the table
      // goes there too.
      notes.flush();
      WriteRecordingComparisonCsv(mComparison, *csv);
    }
    return {};
  }

  Status Apply(std::ostream&) override {
    if (mTable.FailIfSlower == kNoSlowerGate) return {};
    return RecordingsSlowerThan(mComparison, mTable.FailIfSlower);
  }

  // The page draws the two recordings one after the other: BEFORE's frame
  // periods, then AFTER's, each a stretch of its own, and the medians'
  // ratios with their intervals.
  void Describe(ReportData& data) const override {
    const MeasureClock clock = mComparison.Clock;
    data = ReportData{};
    ReportFrames frames(mBefore.FrameCount + mAfter.FrameCount);
    const std::string period = FramePeriodPath();
    for (const Recording* recording : {&mBefore, &mAfter}) {
      const RecordedCycle* cycle = nullptr;
      for (const RecordedCycle& c : recording->Cycles) {
        if (c.Path == period) cycle = &c;
      }
      std::size_t next = 0;
      for (long long frame = 0; frame < recording->FrameCount; ++frame) {
        double micros = -1.0;
        if (cycle && next < cycle->Frames.size() && cycle->Frames[next] == frame) {
          micros = clock == MeasureClock::kCpu ? cycle->CpuMicros[next] : cycle->Micros[next];
          ++next;
        }
        frames.Add(micros);
      }
    }
    frames.Fill(data);
    data.Clock = ClockText(clock);
    data.Title = "Comparison of recordings: before = " + mBefore.Name + ", after = " + mAfter.Name;
    data.Subtitles.push_back(std::to_string(mBefore.FrameCount) + " + " +
                             std::to_string(mAfter.FrameCount) +
                             " frames, the frame period on the " + ClockText(clock) + " (--clock " +
                             ClockName(clock) + ")");
    data.Labels = {"before: " + mBefore.Name, "after: " + mAfter.Name};
    data.Spans = {{0, mBefore.FrameCount, 0}, {mBefore.FrameCount, mAfter.FrameCount, 1}};
    data.RatioTitle =
        "Each cycle, after against before: ratio of the medians with its 95% interval";
    data.RatioCaption = "median after / median before (below 1: after is faster)";
    for (const RecordingComparisonRow& row : mComparison.Rows) {
      const bool interval = row.InBoth() && row.HasInterval;
      data.Ratios.push_back({row.Name, row.Depth, row.InBoth(), row.Ratio, interval ? row.Low : 0.0,
                             interval ? row.High : std::numeric_limits<double>::infinity(),
                             VerdictOf(row)});
    }
    if (data.Ratios.empty()) data.NoRatios = "The recordings share no cycle: no ratios.";
  }

 private:
  const Recording& mBefore;
  const Recording& mAfter;
  RecordingComparison mComparison;
  CompareTableRequest mTable;
};

}  // namespace

Status CompareRecordingFiles(const RunPlan& plan, std::ostream& out, std::ostream& err) {
  const MeasuredRequest& measured = plan.Outputs.Measured;
  const RecordingsRequest& request = *measured.CompareRecordings;
  const std::string prefix = std::string(kFlag) + ": ";
  Result<Recording> before = ReadRecording(request.Before);
  if (!before) return Prefixed(prefix, before.AsStatus());
  Result<Recording> after = ReadRecording(request.After);
  if (!after) return Prefixed(prefix, after.AsStatus());
  if (Status apart = CheckOutputPaths(
          OutputPathsOf(plan.Outputs),
          {{"the recording BEFORE", request.Before}, {"the recording AFTER", request.After}});
      !apart) {
    return apart;
  }
  RecordingsReport report(*before, *after, measured.Table, measured.Clock);
  FrameCapture capture;
  RunOutputs outputs;
  if (Status opened = outputs.Open(plan.Outputs, capture, 0); !opened) return opened;
  return outputs.Finish({}, &report, out, err);
}

}  // namespace khost
