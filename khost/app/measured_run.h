// What a run keeps of its measured frames: the recording (--record), the
// trace (--trace) and the A/B comparison (--compare), fed by one call per
// frame from the loop.
#pragma once

#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "khost/app/cli.h"
#include "khost/app/comparison_run.h"
#include "khost/app/frame_capture.h"
#include "khost/app/frame_outputs.h"
#include "khost/app/output_file.h"

namespace khost {

class MeasuredRun {
 public:
  // Opens the output files the options name. Returns 0, or the exit status
  // after writing to `err` what is wrong (1 a file that cannot be written,
  // 2 too few frames to compare).
  int Open(const Options& options, long long frames, std::ostream& err);
  bool Active() const { return mActive; }

  // The record frame `frameIndex` published.
  void Observe(long long frameIndex, const FrameRecord& record) {
    if (mActive) mCapture.Observe(frameIndex, record);
  }
  // The comparison's value to set once frame `frameIndex` has run.
  std::optional<std::string> SwitchAfter(long long frameIndex) const {
    return mComparison ? mComparison->SwitchAfter(frameIndex) : std::nullopt;
  }
  const ComparisonRun* Comparison() const { return mComparison.get(); }
  // An output written during the run failed (its reader stalled, the disk
  // filled): the run may as well end.
  bool OutputFailed() const { return mRecordFile.Failed() || mTraceFile.Failed(); }

  // Ends the run (`tail`: the last frame's own slots), prints the
  // comparison's table to `out` and closes the files. Returns the exit
  // status, after writing to `err` what failed.
  int Finish(const FrameRecord& tail, std::ostream& out, std::ostream& err);

 private:
  bool mActive = false;
  FrameCapture mCapture;
  OutputFile mRecordFile;
  std::unique_ptr<FrameRecorder> mRecorder;
  OutputFile mTraceFile;
  std::unique_ptr<TraceWriter> mTrace;
  std::unique_ptr<ComparisonRun> mComparison;
  OutputFile mCompareCsv;
};

}  // namespace khost
