#include "khost/app/frame_capture.h"

#include <chrono>
#include <cmath>

namespace khost {

namespace {

int ChartRank(int slot) {
  int rank = 0;
  for (int s : kChartSlotOrder) {
    if (s == slot) return rank;
    ++rank;
  }
  return rank;
}

}  // namespace

FrameCapture::FrameCapture() {
  for (int& id : mRootIds) id = -1;
  for (int slot : kChartSlotOrder) {
    mRootIds[slot] = CycleId(SlotName(slot), SlotName(slot), 0, ChartRank(slot), 0, 0);
  }
  const std::string rendering = SlotName(kSlotRendering);
  const int rank = ChartRank(kSlotRendering);
  mCulling = CycleId(rendering + "/Culling", "Culling", 1, rank, 1, 0);
  mSubmission = CycleId(rendering + "/Submission", "Submission", 1, rank, 2, 0);
}

int FrameCapture::CycleId(const std::string& path, const std::string& name, int depth, int a, int b,
                          int c) {
  const auto found = mByPath.find(path);
  if (found != mByPath.end()) return found->second;
  CapturedCycle cycle;
  cycle.Path = path;
  cycle.Name = name;
  cycle.Depth = depth;
  cycle.Order[0] = a;
  cycle.Order[1] = b;
  cycle.Order[2] = c;
  mCycles.push_back(std::move(cycle));
  const int id = static_cast<int>(mCycles.size()) - 1;
  mByPath.emplace(path, id);
  return id;
}

int FrameCapture::CharacterCycle(int character, int part) {
  const std::size_t index =
      static_cast<std::size_t>(character) * 3 + static_cast<std::size_t>(part);
  while (mCharacterIds.size() <= index) {
    const int c = static_cast<int>(mCharacterIds.size() / 3);
    const std::string name = "Character " + std::to_string(c + 1);
    const std::string path = std::string(SlotName(kSlotEvaluation)) + "/" + name;
    const int rank = ChartRank(kSlotEvaluation);
    mCharacterIds.push_back(CycleId(path, name, 1, rank, c + 1, 0));
    mCharacterIds.push_back(CycleId(path + "/Skeleton", "Skeleton", 2, rank, c + 1, 1));
    mCharacterIds.push_back(CycleId(path + "/Constraints", "Constraints", 2, rank, c + 1, 2));
  }
  return mCharacterIds[index];
}

long long FrameCapture::Ns(TimePoint t) const {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(t - mOrigin).count();
}

Interval FrameCapture::Span(TimePoint start, double micros, int thread) const {
  const long long begin = Ns(start);
  return {begin, begin + std::llround(micros * 1000.0), thread};
}

Interval FrameCapture::Between(TimePoint start, TimePoint end, int thread) const {
  return {Ns(start), Ns(end), thread};
}

void FrameCapture::TakeSlots(const FrameRecord& record, bool previous) {
  if (previous && record.Presented.Known) mPresented = record.Presented;
  for (int slot = 0; slot < KProfiler::kRootCycleCount; ++slot) {
    const SlotTiming timing = record.Slot(slot);
    if (record.OfPreviousFrame[slot] != previous || timing.Micros < 0.0 || record.NotRun[slot]) {
      continue;
    }
    mSlots[slot] = {timing.Micros, timing.Start, timing.Thread};
  }
}

void FrameCapture::Observe(long long frameIndex, const FrameRecord& record) {
  if (!mStarted) {
    mStarted = true;
    mOrigin = record.FrameStart;
  }
  if (mPending) {
    TakeSlots(record, true);
    Emit();
  }
  mPending = true;
  mPendingIndex = frameIndex;
  mPendingStart = record.FrameStart;
  for (Slot& slot : mSlots) slot = Slot{};
  mPresented = {};
  TakeSlots(record, false);
  mHaveWork = record.Work != nullptr;
  if (record.Work) mWork = *record.Work;
}

void FrameCapture::Finish(const FrameRecord& tail) {
  if (!mPending) return;
  TakeSlots(tail, true);
  Emit();
  mPending = false;
}

void FrameCapture::AddWork(int cycle, int thread, const std::vector<WorkSpan>& work) {
  for (const WorkSpan& span : work) {
    if (span.Thread != thread) {
      mSample.Work.push_back({cycle, Span(span.Start, span.Duration, span.Thread)});
    }
  }
}

void FrameCapture::Emit() {
  FrameSample& s = mSample;
  s.Index = mPendingIndex;
  s.StartNs = Ns(mPendingStart);
  s.Cycles.clear();
  s.Work.clear();
  const auto add = [&](int cycle, double micros, TimePoint start, int thread) {
    CycleSample c;
    c.Cycle = cycle;
    c.Micros = micros;
    c.Parts[0] = Span(start, micros, thread);
    c.PartCount = 1;
    s.Cycles.push_back(c);
  };
  for (int slot : kChartSlotOrder) {
    const Slot& m = mSlots[slot];
    if (m.Micros < 0.0) continue;
    const int id = mRootIds[slot];
    if (slot == kSlotRendering && mHaveWork) {
      // Culling runs before deformation and submission after the upload:
      // the cycle's interval spans both, its parts inside it.
      CycleSample c;
      c.Cycle = id;
      c.Micros = m.Micros;
      c.Parts[0] = {Span(mWork.CullingStart, mWork.Culling, m.Thread).StartNs,
                    Span(mWork.SubmissionStart, mWork.Submission, m.Thread).EndNs, m.Thread};
      c.PartCount = 1;
      c.Encloses = true;
      s.Cycles.push_back(c);
      add(mCulling, mWork.Culling, mWork.CullingStart, m.Thread);
      add(mSubmission, mWork.Submission, mWork.SubmissionStart, m.Thread);
      continue;
    }
    if ((slot == kSlotFrame || slot == kSlotPresent) && mPresented.Known) {
      // The frame's work and presenting interleave: the work, the
      // viewport's submission, the rest of the work (the tool's paint),
      // the swap.
      const FrameRecord::Presenting& p = mPresented;
      CycleSample c;
      c.Cycle = id;
      c.Micros = m.Micros;
      c.Parts[0] = slot == kSlotFrame ? Between(m.Start, p.SubmitStart, m.Thread)
                                      : Between(p.SubmitStart, p.SubmitEnd, m.Thread);
      c.Parts[1] = slot == kSlotFrame ? Between(p.SubmitEnd, p.SwapStart, m.Thread)
                                      : Between(p.SwapStart, p.SwapEnd, m.Thread);
      c.PartCount = 2;
      s.Cycles.push_back(c);
      continue;
    }
    add(id, m.Micros, m.Start, m.Thread);
    if (!mHaveWork) continue;
    if (slot == kSlotEvaluation) {
      for (std::size_t i = 0; i < mWork.Characters.size(); ++i) {
        const CharacterTimings& t = mWork.Characters[i];
        const int c = static_cast<int>(i);
        add(CharacterCycle(c, 0), t.Total, t.Start, t.Thread);
        add(CharacterCycle(c, 1), t.Skeleton, t.Start, t.Thread);
        // The constraints start where the skeleton ended, to the nanosecond.
        CycleSample constraints;
        constraints.Cycle = CharacterCycle(c, 2);
        constraints.Micros = t.Constraints;
        const Interval whole = Span(t.Start, t.Total, t.Thread);
        const Interval skeleton = Span(t.Start, t.Skeleton, t.Thread);
        constraints.Parts[0] = {skeleton.EndNs, whole.EndNs, t.Thread};
        constraints.PartCount = 1;
        s.Cycles.push_back(constraints);
      }
    } else if (slot == kSlotAnimation) {
      AddWork(id, m.Thread, mWork.AnimationWork);
    } else if (slot == kSlotDeformation) {
      AddWork(id, m.Thread, mWork.DeformationWork);
    }
  }
  for (FrameSink* sink : mSinks) sink->Take(s, mCycles);
}

}  // namespace khost
