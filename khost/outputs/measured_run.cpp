#include "khost/outputs/measured_run.h"

#include <type_traits>

#include "khost/base/quoting.h"

namespace khost {

namespace {

// Commits `file` for `flag`; `finished` says whether its writer finished.
Status CommitFile(OutputFile& file, bool finished, const char* flag) {
  Status committed = file.Commit();
  if (committed && !finished) {
    committed = Failure("cannot write " + QuoteArgument(file.Path()) + ": writing failed");
  }
  return Prefixed(std::string(flag) + ": ", committed);
}

}  // namespace

Status MeasuredRun::Open(const MeasuredRequest& request, FrameCapture& capture) {
  // The recording and the trace: a file each, written by its sink.
  const auto open = [&](const std::optional<std::string>& path, OutputFile& file, const char* flag,
                        auto& writer) -> Status {
    if (!path) return {};
    if (Status opened = OpenOutputFile(file, *path, flag); !opened) return opened;
    writer = std::make_unique<typename std::decay_t<decltype(writer)>::element_type>(file.Stream());
    capture.AddSink(writer.get());
    return {};
  };
  if (Status opened = open(request.Record, mRecordFile, "--record", mRecorder); !opened) {
    return opened;
  }
  return open(request.Trace, mTraceFile, "--trace", mTrace);
}

Status MeasuredRun::PlaceRecording() {
  if (!mRecorder) return {};
  // The recording stands at its path from here on (the header and what was
  // recorded so far), so a killed run leaves what it recorded there.
  return Prefixed("--record: ", mRecordFile.PlaceNow());
}

void MeasuredRun::CheckPlaces() {
  if (mRecorder) mRecordFile.CheckPlace();
  if (mTrace) mTraceFile.CheckPlace();
}

Status MeasuredRun::Finish() {
  Status status;
  // Committed even when finishing failed: that reports the failure and
  // removes the unfinished temporary.
  if (mRecorder) {
    const bool finished = mRecorder->Finish();
    status = Both(status, CommitFile(mRecordFile, finished, "--record"));
  }
  if (mTrace) {
    const bool finished = mTrace->Finish();
    status = Both(status, CommitFile(mTraceFile, finished, "--trace"));
  }
  return status;
}

}  // namespace khost
