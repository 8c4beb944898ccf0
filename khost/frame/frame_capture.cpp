#include "khost/frame/frame_capture.h"

#include <chrono>
#include <cmath>

namespace khost {

FrameCapture::FrameCapture(const CycleCatalogue& catalogue)
    : mCatalogue(catalogue), mRowIds(static_cast<std::size_t>(catalogue.RowCount()), -1) {
  for (int row : mCatalogue.ChartOrder()) {
    mRowIds[static_cast<std::size_t>(row)] = AddCycle(mCatalogue.Named(row));
  }
}

int FrameCapture::AddCycle(CapturedCycle cycle) {
  mCycles.push_back(std::move(cycle));
  return static_cast<int>(mCycles.size()) - 1;
}

int FrameCapture::CharacterCycle(int character, int part) {
  const std::size_t parts = static_cast<std::size_t>(mCatalogue.CharacterRowCount());
  const std::size_t index =
      static_cast<std::size_t>(character) * parts + static_cast<std::size_t>(part);
  while (mCharacterIds.size() <= index) {
    const int c = static_cast<int>(mCharacterIds.size() / parts);
    const int p = static_cast<int>(mCharacterIds.size() % parts);
    mCharacterIds.push_back(AddCycle(mCatalogue.NamedCharacter(c, p)));
  }
  return mCharacterIds[index];
}

long long FrameCapture::Ns(TimePoint t) const {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(t - mOrigin).count();
}

void FrameCapture::AddSample(int cycle, const CycleTiming& timing) {
  CycleSample c;
  c.Cycle = cycle;
  c.Micros = timing.Micros;
  c.CpuMicros = timing.CpuMicros;
  c.PartCount = timing.PartCount;
  for (int p = 0; p < timing.PartCount; ++p) {
    c.Parts[p] = {Ns(timing.Parts[p].Start), Ns(timing.Parts[p].End), timing.Thread};
  }
  c.Encloses = timing.Encloses;
  mSample.Cycles.push_back(c);
}

void FrameCapture::AddCharacters(const MeasuredFrame& frame) {
  for (int c = 0; c < static_cast<int>(frame.Characters.size()); ++c) {
    for (int part = 0; part < mCatalogue.CharacterRowCount(); ++part) {
      AddSample(CharacterCycle(c, part), mCatalogue.CharacterTiming(frame, c, part));
    }
  }
}

void FrameCapture::AddRow(const MeasuredFrame& frame, int row) {
  const CycleTiming timing = mCatalogue.Timing(frame, row);
  if (!timing.Ran || timing.Micros < 0.0) return;
  const int id = mRowIds[static_cast<std::size_t>(row)];
  AddSample(id, timing);
  const CycleRow& r = mCatalogue.Row(row);
  if (r.Source.Kind == MeasuredBy::kStage) {
    for (const WorkSpan& span : frame.StageShares(r.Source.By)) {
      if (span.Thread == timing.Thread) continue;  // the cycle's own thread
      const long long begin = Ns(span.Start);
      mSample.Work.push_back(
          {id, {begin, begin + std::llround(span.Duration * 1000.0), span.Thread}});
    }
  }
  for (int child : mCatalogue.Children(row)) AddRow(frame, child);
  if (row == mCatalogue.CharacterParent()) AddCharacters(frame);
}

void FrameCapture::Capture(const MeasuredFrame& frame) {
  // Nothing keeps frames: the run asked for no output that does.
  if (mSinks.empty()) return;
  if (!mStarted) {
    mStarted = true;
    mOrigin = frame.Start;
  }
  mSample.Index = frame.Index;
  mSample.StartNs = Ns(frame.Start);
  mSample.Cycles.clear();
  mSample.Work.clear();
  for (ChartBlock block : {ChartBlock::kUpper, ChartBlock::kLower}) {
    for (int root : mCatalogue.Roots(block)) AddRow(frame, root);
  }
  for (FrameSink* sink : mSinks) sink->Consume(mSample, mCycles);
}

}  // namespace khost
