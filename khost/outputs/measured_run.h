// The files a run writes from its measured frames as they come: the
// recording (--record) and the trace (--trace), each a sink of the run's
// frame capture, opened before the first frame and finished at the end.
//
// Every call: [loop thread].
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "khost/base/status.h"
#include "khost/cli/run_requests.h"
#include "khost/frame/frame_capture.h"
#include "khost/outputs/frame_outputs.h"
#include "khost/outputs/output_file.h"

namespace khost {

class MeasuredRun {
 public:
  // Opens the output files `request` names, their writers taking the frames
  // `capture` hands on (borrowed; it outlives Finish); a failure names the
  // flag and the file that cannot be written.
  Status Open(const MeasuredRequest& request, FrameCapture& capture);

  // Puts the recording at its path as it stands now, so that a run killed
  // later keeps what it recorded there. Called once the run's input has all
  // been accepted, so that a refused input leaves the file there alone.
  Status PlaceRecording();

  // Checks that the recording and the trace can still reach their paths
  // (OutputFile::CheckPlace).
  void CheckPlaces();

  // An output written during the run failed (its reader stalled, the disk
  // filled, its place was lost): the run may as well end.
  bool OutputFailed() const { return mRecordFile.Failed() || mTraceFile.Failed(); }

  // Ends the writing (the last frame was taken) and closes the files; a
  // failure names every output that could not be finished.
  Status Finish();

 private:
  OutputFile mRecordFile;
  std::unique_ptr<FrameRecorder> mRecorder;
  OutputFile mTraceFile;
  std::unique_ptr<TraceWriter> mTrace;
};

}  // namespace khost
