#include "khost/experiments/measured_run.h"

#include <sstream>
#include <type_traits>

#include "khost/cli/cli_values.h"
#include "khost/experiments/tune_report.h"

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

Status MeasuredRun::Check(const MeasuredRequest& request, long long frames) {
  if (request.Compare) {
    const int block = request.Compare->Block;
    if (frames < ComparisonRun::MinimumFrames(block)) {
      return BadInput("--compare: " + std::to_string(frames) + " frames are too few for " +
                      std::to_string(block) + "-frame blocks (at least " +
                      std::to_string(ComparisonRun::MinimumFrames(block)) + ")");
    }
  }
  return {};
}

Status MeasuredRun::Open(const MeasuredRequest& request, long long frames) {
  if (Status checked = Check(request, frames); !checked) return checked;
  if (request.Compare) {
    mComparison = std::make_unique<ComparisonRun>(*request.Compare, request.Clock, frames);
    if (request.CompareCsv) {
      if (Status opened = OpenOutputFile(mCompareCsv, *request.CompareCsv, "--compare-csv");
          !opened) {
        return opened;
      }
    }
    mCapture.AddSink(mComparison.get());
    mActive = true;
  }
  if (request.TuneCsv) {
    if (Status opened = OpenOutputFile(mTuneCsv, *request.TuneCsv, "--tune-csv"); !opened) {
      return opened;
    }
  }
  // The recording and the trace: a file each, written by its sink.
  const auto open = [&](const std::optional<std::string>& path, OutputFile& file, const char* flag,
                        auto& writer) -> Status {
    if (!path) return {};
    if (Status opened = OpenOutputFile(file, *path, flag); !opened) return opened;
    writer = std::make_unique<typename std::decay_t<decltype(writer)>::element_type>(file.Stream());
    mCapture.AddSink(writer.get());
    mActive = true;
    return {};
  };
  if (Status opened = open(request.Record, mRecordFile, "--record", mRecorder); !opened) {
    return opened;
  }
  return open(request.Trace, mTraceFile, "--trace", mTrace);
}

void MeasuredRun::Follow(TuneRun* tune) {
  mTune = tune;
  mCapture.AddSink(tune);
  mActive = true;
}

Status MeasuredRun::PlaceRecording() {
  if (!mRecorder) return {};
  // The recording stands at its path from here on (the header and what was
  // recorded so far), so a killed run leaves what it recorded there.
  return Prefixed("--record: ", mRecordFile.PlaceNow());
}

Status MeasuredRun::Finish(std::ostream& out) {
  if (!mActive) return {};
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
  if (mComparison) {
    if (mComparison->BlockCount(0) < 2 || mComparison->BlockCount(1) < 2) {
      return Both(status, Failure("--compare: the run ended before two blocks of each value "
                                  "were measured"));
    }
    const std::vector<ComparisonRow> rows = mComparison->Results(mCapture.Cycles());
    mComparison->PrintTable(rows, out);
    if (mCompareCsv.IsOpen()) {
      // What went to standard output so far comes first when the table
      // goes there too.
      out.flush();
      ComparisonRun::WriteCsv(rows, mCompareCsv.Stream());
      status = Both(status, CommitFile(mCompareCsv, true, "--compare-csv"));
    }
  }
  if (mTune) {
    const TuneReport report = mTune->Report();
    PrintTuneReport(report, out);
    if (mTuneCsv.IsOpen()) {
      out.flush();
      std::ostringstream csv;
      WriteTuneCsv(report, csv);
      // A failed write is reported by the Commit that follows it.
      const bool written = mTuneCsv.Write(csv.str()).Ok();
      status = Both(status, CommitFile(mTuneCsv, written, "--tune-csv"));
    }
    status = Both(status, mTune->WriteConfig(out));
  }
  return status;
}

}  // namespace khost
