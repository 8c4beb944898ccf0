// Each frame's measured intervals, gathered from the records the loop
// publishes and handed on complete, in the chart's order, to the outputs
// that keep them (the frame recording, the trace, the comparison).
//
// A record carries some slots of the frame before (its period, work,
// present and paint end only when the next frame starts), so a frame is
// handed on when the next frame's record arrives, or when the run ends.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "khost/app/profiler_feed.h"

namespace khost {

// A task cycle as the chart names it.
struct CapturedCycle {
  std::string Path;  // from its root, such as "Evaluation/Character 1/Skeleton"
  std::string Name;  // the last part of the path
  int Depth = 0;
  // Sorts cycles in the chart's order: the root's rank there, then the
  // child's and grandchild's positions plus one (0: none).
  int Order[3] = {0, 0, 0};
};

// Nanoseconds from the first frame's start; Thread as in WorkSpan.
struct Interval {
  long long StartNs = 0;
  long long EndNs = 0;
  int Thread = 0;
};

struct CycleSample {
  int Cycle = 0;        // index in FrameCapture::Cycles()
  double Micros = 0.0;  // the measured duration
  // Where it ran: one interval, or two pieces that together are the cycle
  // ("Frame" before and after the viewport's submission, "Present" the
  // submission and the swap), each a real stretch of time.
  Interval Parts[2];
  int PartCount = 0;
  // The one interval runs from the cycle's first measured part's start to
  // its last one's end and holds other cycles between them (rendering:
  // culling, then deformation and upload, then submission), so it is longer
  // than Micros.
  bool Encloses = false;
};

// One thread's share of a parallel pass made for a cycle (when the thread
// is not the one that measured the cycle).
struct PoolWork {
  int Cycle = 0;
  Interval Span;
};

struct FrameSample {
  long long Index = 0;
  long long StartNs = 0;
  std::vector<CycleSample> Cycles;  // parents before their children, in the chart's order
  std::vector<PoolWork> Work;
};

class FrameSink {
 public:
  virtual ~FrameSink() = default;
  virtual void Take(const FrameSample& frame, const std::vector<CapturedCycle>& cycles) = 0;
};

class FrameCapture {
 public:
  FrameCapture();

  // Sinks are not owned and must outlive the capture's last call.
  void AddSink(FrameSink* sink) { mSinks.push_back(sink); }

  // The record frame `frameIndex` published (record.FrameStart its start).
  void Observe(long long frameIndex, const FrameRecord& record);
  // The run ended: `tail` holds the last frame's own OfPreviousFrame slots.
  void Finish(const FrameRecord& tail);

  const std::vector<CapturedCycle>& Cycles() const { return mCycles; }

 private:
  struct Slot {
    double Micros = -1.0;
    TimePoint Start{};
    int Thread = 0;
  };
  void TakeSlots(const FrameRecord& record, bool previous);
  void Emit();
  int CycleId(const std::string& path, const std::string& name, int depth, int a, int b, int c);
  int CharacterCycle(int character, int part);  // part 0 the character, 1 skeleton, 2 constraints
  long long Ns(TimePoint t) const;
  Interval Span(TimePoint start, double micros, int thread) const;
  Interval Between(TimePoint start, TimePoint end, int thread) const;
  void AddWork(int cycle, int thread, const std::vector<WorkSpan>& work);

  std::vector<FrameSink*> mSinks;
  std::vector<CapturedCycle> mCycles;
  std::unordered_map<std::string, int> mByPath;
  int mRootIds[KProfiler::kRootCycleCount];
  int mCulling = -1;
  int mSubmission = -1;
  std::vector<int> mCharacterIds;  // three per character

  bool mStarted = false;
  TimePoint mOrigin{};
  bool mPending = false;
  long long mPendingIndex = 0;
  TimePoint mPendingStart{};
  Slot mSlots[KProfiler::kRootCycleCount];
  FrameRecord::Presenting mPresented;
  bool mHaveWork = false;
  FrameTimings mWork;
  FrameSample mSample;
};

}  // namespace khost
