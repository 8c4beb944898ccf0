#include "khost/experiments/recordings_run.h"

#include "khost/experiments/recording_comparison.h"
#include "khost/frame/frame_capture.h"
#include "khost/outputs/output_paths.h"
#include "khost/outputs/recording_read.h"
#include "khost/outputs/run_outputs.h"

namespace khost {

namespace {

constexpr const char* kFlag = "--compare-recordings";

// The comparison as the run's report: its table and CSV, then the gate.
class RecordingsReport : public RunReport {
 public:
  RecordingsReport(RecordingComparison comparison, const CompareTableRequest& table)
      : mComparison(std::move(comparison)), mTable(table) {}

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

 private:
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
  RecordingsReport report(CompareRecordings(*before, *after, measured.Table.Depth, measured.Clock),
                          measured.Table);
  FrameCapture capture;
  RunOutputs outputs;
  if (Status opened = outputs.Open(plan.Outputs, capture); !opened) return opened;
  return outputs.Finish({}, &report, out, err);
}

}  // namespace khost
