#include "khost/app/measured_run.h"

namespace khost {

int MeasuredRun::Open(const Options& options, long long frames, std::ostream& err) {
  if (options.Comparison) {
    CompareSpec spec;
    spec.Caption = options.Comparison->Caption;
    spec.ValueA = options.Comparison->ValueA;
    spec.ValueB = options.Comparison->ValueB;
    spec.Block = options.CompareBlock ? *options.CompareBlock : kDefaultCompareBlock;
    spec.Depth = options.CompareDepth ? *options.CompareDepth : 0;
    if (frames < ComparisonRun::MinimumFrames(spec.Block)) {
      err << "khost: --compare: " << frames << " frames are too few for " << spec.Block
          << "-frame blocks (at least " << ComparisonRun::MinimumFrames(spec.Block) << ")\n";
      return 2;
    }
    mComparison = std::make_unique<ComparisonRun>(spec, frames);
    std::string error;
    if (options.CompareCsv && !mCompareCsv.Open(*options.CompareCsv, error)) {
      err << "khost: --compare-csv: " << error << "\n";
      return 1;
    }
    mCapture.AddSink(mComparison.get());
    mActive = true;
  }
  if (options.RecordFile) {
    std::string error;
    if (!mRecordFile.Open(*options.RecordFile, error)) {
      err << "khost: --record: " << error << "\n";
      return 1;
    }
    mRecorder = std::make_unique<FrameRecorder>(mRecordFile.Stream());
    // The recording stands at its path from the start (the header), so a
    // killed run leaves what it recorded there.
    if (!mRecordFile.PlaceNow(error)) {
      err << "khost: --record: " << error << "\n";
      return 1;
    }
    mCapture.AddSink(mRecorder.get());
    mActive = true;
  }
  if (options.TraceFile) {
    std::string error;
    if (!mTraceFile.Open(*options.TraceFile, error)) {
      err << "khost: --trace: " << error << "\n";
      return 1;
    }
    mTrace = std::make_unique<TraceWriter>(mTraceFile.Stream());
    mCapture.AddSink(mTrace.get());
    mActive = true;
  }
  return 0;
}

int MeasuredRun::Finish(const FrameRecord& tail, std::ostream& out, std::ostream& err) {
  if (!mActive) return 0;
  mCapture.Finish(tail);
  int status = 0;
  // Committed even when finishing failed: that reports the failure and
  // removes the unfinished temporary.
  if (mRecorder) {
    std::string error;
    const bool finished = mRecorder->Finish();
    if (!mRecordFile.Commit(error) || !finished) {
      if (error.empty())
        error = "cannot write " + QuoteArgument(mRecordFile.Path()) + ": writing failed";
      err << "khost: --record: " << error << "\n";
      status = 1;
    }
  }
  if (mTrace) {
    std::string error;
    const bool finished = mTrace->Finish();
    if (!mTraceFile.Commit(error) || !finished) {
      if (error.empty())
        error = "cannot write " + QuoteArgument(mTraceFile.Path()) + ": writing failed";
      err << "khost: --trace: " << error << "\n";
      status = 1;
    }
  }
  if (mComparison) {
    if (mComparison->BlockCount(0) < 2 || mComparison->BlockCount(1) < 2) {
      err << "khost: --compare: the run ended before two blocks of each value were measured\n";
      return 1;
    }
    const std::vector<ComparisonRow> rows = mComparison->Results(mCapture.Cycles());
    mComparison->PrintTable(rows, out);
    if (mCompareCsv.IsOpen()) {
      // What went to standard output so far comes first when the table
      // goes there too.
      out.flush();
      ComparisonRun::WriteCsv(rows, mCompareCsv.Stream());
      std::string csvError;
      if (!mCompareCsv.Commit(csvError)) {
        err << "khost: --compare-csv: " << csvError << "\n";
        status = 1;
      }
    }
  }
  return status;
}

}  // namespace khost
