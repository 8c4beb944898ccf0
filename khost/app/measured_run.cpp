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
    mCompareCsv = options.CompareCsv;
    mCapture.AddSink(mComparison.get());
    mActive = true;
  }
  if (options.RecordFile) {
    mRecordPath = *options.RecordFile;
    mRecordFile.open(mRecordPath, std::ios::out | std::ios::trunc | std::ios::binary);
    if (!mRecordFile) {
      err << "khost: --record: cannot write " << mRecordPath << "\n";
      return 1;
    }
    mRecorder = std::make_unique<FrameRecorder>(mRecordFile);
    mCapture.AddSink(mRecorder.get());
    mActive = true;
  }
  if (options.TraceFile) {
    mTracePath = *options.TraceFile;
    mTraceFile.open(mTracePath, std::ios::out | std::ios::trunc | std::ios::binary);
    if (!mTraceFile) {
      err << "khost: --trace: cannot write " << mTracePath << "\n";
      return 1;
    }
    mTrace = std::make_unique<TraceWriter>(mTraceFile);
    mCapture.AddSink(mTrace.get());
    mActive = true;
  }
  return 0;
}

int MeasuredRun::Finish(const FrameRecord& tail, std::ostream& out, std::ostream& err) {
  if (!mActive) return 0;
  mCapture.Finish(tail);
  int status = 0;
  if (mRecorder && !mRecorder->Finish()) {
    err << "khost: --record: cannot write " << mRecordPath << "\n";
    status = 1;
  }
  if (mTrace && !mTrace->Finish()) {
    err << "khost: --trace: cannot write " << mTracePath << "\n";
    status = 1;
  }
  if (mComparison) {
    if (mComparison->BlockCount(0) < 2 || mComparison->BlockCount(1) < 2) {
      err << "khost: --compare: the run ended before two blocks of each value were measured\n";
      return 1;
    }
    const std::vector<ComparisonRow> rows = mComparison->Results(mCapture.Cycles());
    mComparison->PrintTable(rows, out);
    if (mCompareCsv) {
      std::ofstream file(*mCompareCsv, std::ios::out | std::ios::trunc | std::ios::binary);
      if (file) ComparisonRun::WriteCsv(rows, file);
      file.close();
      if (!file) {
        err << "khost: --compare-csv: cannot write " << *mCompareCsv << "\n";
        status = 1;
      }
    }
  }
  return status;
}

}  // namespace khost
