#include "khost/frame/frame_capture.h"

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

void FrameCapture::AddWork(int cycle, int thread, const std::vector<WorkSpan>& work) {
  for (const WorkSpan& span : work) {
    if (span.Thread != thread) {
      mSample.Work.push_back({cycle, Span(span.Start, span.Duration, span.Thread)});
    }
  }
}

void FrameCapture::AddCharacters(const FrameTimings& work) {
  FrameSample& s = mSample;
  for (std::size_t i = 0; i < work.Characters.size(); ++i) {
    const CharacterTimings& t = work.Characters[i];
    const int c = static_cast<int>(i);
    CycleSample total;
    total.Cycle = CharacterCycle(c, 0);
    total.Micros = t.Total;
    total.CpuMicros = -1.0;
    total.Parts[0] = Span(t.Start, t.Total, t.Thread);
    total.PartCount = 1;
    s.Cycles.push_back(total);
    CycleSample skeleton = total;
    skeleton.Cycle = CharacterCycle(c, 1);
    skeleton.Micros = t.Skeleton;
    skeleton.Parts[0] = Span(t.Start, t.Skeleton, t.Thread);
    s.Cycles.push_back(skeleton);
    // The constraints end where the character's evaluation ends, to the
    // nanosecond; the skeleton started it.
    CycleSample constraints = total;
    constraints.Cycle = CharacterCycle(c, 2);
    constraints.Micros = t.Constraints;
    const long long end = total.Parts[0].EndNs;
    constraints.Parts[0] = {end - std::llround(t.Constraints * 1000.0), end, t.Thread};
    s.Cycles.push_back(constraints);
  }
}

void FrameCapture::Take(const MeasuredFrame& frame) {
  // Nothing keeps frames: the run asked for no output that does.
  if (mSinks.empty()) return;
  if (!mStarted) {
    mStarted = true;
    mOrigin = frame.Start;
  }
  FrameSample& s = mSample;
  s.Index = frame.Index;
  s.StartNs = Ns(frame.Start);
  s.Cycles.clear();
  s.Work.clear();
  const FrameTimings* work = frame.Work;
  const auto add = [&](int cycle, double micros, double cpu, TimePoint start, int thread) {
    CycleSample c;
    c.Cycle = cycle;
    c.Micros = micros;
    c.CpuMicros = cpu;
    c.Parts[0] = Span(start, micros, thread);
    c.PartCount = 1;
    s.Cycles.push_back(c);
  };
  for (int slot : kChartSlotOrder) {
    if (!frame.Ran(slot)) continue;
    const SlotTiming m = frame.Slot(slot);
    const int id = mRootIds[slot];
    CycleSample c;
    c.Cycle = id;
    c.Micros = m.Micros;
    c.CpuMicros = m.CpuMicros;
    c.PartCount = 1;
    if (slot == kSlotRendering) {
      // Culling runs before deformation and submission after the upload:
      // the cycle's interval spans both, its parts inside it.
      c.Parts[0] = {Span(work->CullingStart, work->Culling, m.Thread).StartNs,
                    Span(work->SubmissionStart, work->Submission, m.Thread).EndNs, m.Thread};
      c.Encloses = true;
      s.Cycles.push_back(c);
      add(mCulling, work->Culling, work->CullingCpu, work->CullingStart, m.Thread);
      add(mSubmission, work->Submission, work->SubmissionCpu, work->SubmissionStart, m.Thread);
      continue;
    }
    if ((slot == kSlotFrame || slot == kSlotPresent) && frame.Presented.Known) {
      // The frame's work and presenting interleave: the work, the
      // viewport's submission, the rest of the work (the tool's paint),
      // the swap.
      const MeasuredFrame::Presenting& p = frame.Presented;
      c.Parts[0] = slot == kSlotFrame ? Between(m.Start, p.SubmitStart, m.Thread)
                                      : Between(p.SubmitStart, p.SubmitEnd, m.Thread);
      c.Parts[1] = slot == kSlotFrame ? Between(p.SubmitEnd, p.SwapStart, m.Thread)
                                      : Between(p.SwapStart, p.SwapEnd, m.Thread);
      c.PartCount = 2;
      s.Cycles.push_back(c);
      continue;
    }
    if (slot == kSlotToolPaint && frame.Presented.PaintWait > 0.0) {
      // The paint's interval holds its wait for the renderer, which Present
      // counts: longer than the tool's own work.
      c.Parts[0] = Span(m.Start, m.Micros + frame.Presented.PaintWait, m.Thread);
      c.Encloses = true;
      s.Cycles.push_back(c);
      continue;
    }
    c.Parts[0] = Span(m.Start, m.Micros, m.Thread);
    s.Cycles.push_back(c);
    if (!work) continue;
    if (slot == kSlotEvaluation) {
      AddCharacters(*work);
    } else if (slot == kSlotAnimation) {
      AddWork(id, m.Thread, work->AnimationWork);
    } else if (slot == kSlotDeformation) {
      AddWork(id, m.Thread, work->DeformationWork);
    }
  }
  for (FrameSink* sink : mSinks) sink->Take(s, mCycles);
}

}  // namespace khost
