// What a run keeps of its measured frames: the recording (--record), the
// trace (--trace) and the A/B comparison (--compare), fed by one call per
// frame from the loop.
#pragma once

#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "khost/app/status.h"
#include "khost/cli/run_requests.h"
#include "khost/experiments/comparison_run.h"
#include "khost/experiments/tune_run.h"
#include "khost/frame/frame_capture.h"
#include "khost/outputs/frame_outputs.h"
#include "khost/outputs/output_file.h"

namespace khost {

class MeasuredRun {
 public:
  // Whether a run of `frames` frames can give what `request` asks; bad
  // input (too few frames to compare) otherwise.
  static Status Check(const MeasuredRequest& request, long long frames);
  // Opens the output files `request` names; a failure names the flag and
  // the file that cannot be written.
  Status Open(const MeasuredRequest& request, long long frames);
  bool Active() const { return mActive; }
  // Feeds the measured frames to `tune` (borrowed; it must outlive Finish),
  // whose answer Finish prints.
  void Follow(TuneRun* tune);

  // Puts the recording at its path as it stands now, so that a run killed
  // later keeps what it recorded there. Called once the run's input has all
  // been accepted, so that a refused input leaves the file there alone.
  Status PlaceRecording();

  // A measured frame, whole, read at once.
  void Take(const MeasuredFrame& frame) {
    if (mActive) mCapture.Take(frame);
  }
  // The comparison's value to set once frame `frameIndex` has run.
  std::optional<std::string> SwitchAfter(long long frameIndex) const {
    return mComparison ? mComparison->SwitchAfter(frameIndex) : std::nullopt;
  }
  const ComparisonRun* Comparison() const { return mComparison.get(); }
  // An output written during the run failed (its reader stalled, the disk
  // filled): the run may as well end.
  bool OutputFailed() const { return mRecordFile.Failed() || mTraceFile.Failed(); }

  // Ends the run (the last frame was taken), prints the comparison's table
  // or the tune's answer to `out` (then writes the configuration a tune
  // asks to) and closes the files; a failure names every output that could
  // not be finished.
  Status Finish(std::ostream& out);

 private:
  bool mActive = false;
  FrameCapture mCapture;
  OutputFile mRecordFile;
  std::unique_ptr<FrameRecorder> mRecorder;
  OutputFile mTraceFile;
  std::unique_ptr<TraceWriter> mTrace;
  std::unique_ptr<ComparisonRun> mComparison;
  OutputFile mCompareCsv;
  TuneRun* mTune = nullptr;
  OutputFile mTuneCsv;
};

}  // namespace khost
