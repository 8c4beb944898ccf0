// Each measured frame as the chart's cycles: every cycle that ran, by its
// path, in the chart's order, with its times on both clocks and the
// intervals it ran in, handed on to the outputs that keep frames (the
// recording, the trace, the comparison, the tuning search) as soon as the
// frame is taken.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "khost/frame/measured_frame.h"

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
  double Micros = 0.0;  // the measured duration, on the steady clock
  // The same on the CPU clock (see SlotTiming); negative: not measured on
  // it (a character's cycles, see CharacterTimings).
  double CpuMicros = 0.0;
  // Where it ran: one interval, or two pieces that together are the cycle
  // ("Frame" before and after the viewport's submission, "Present" the
  // submission and the swap), each a real stretch of time.
  Interval Parts[2];
  int PartCount = 0;
  // The one interval is longer than Micros: it runs from the cycle's first
  // measured part's start to its last one's end and holds other cycles
  // between them (rendering: culling, then deformation and upload, then
  // submission), or holds a wait counted elsewhere (the tool's paint: its
  // wait for the renderer, counted in Present).
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

  // Hands frame `frame` on to the sinks, in the chart's cycles. The first
  // frame taken is the origin of every interval.
  void Take(const MeasuredFrame& frame);

  const std::vector<CapturedCycle>& Cycles() const { return mCycles; }

 private:
  int CycleId(const std::string& path, const std::string& name, int depth, int a, int b, int c);
  int CharacterCycle(int character, int part);  // part 0 the character, 1 skeleton, 2 constraints
  long long Ns(TimePoint t) const;
  Interval Span(TimePoint start, double micros, int thread) const;
  Interval Between(TimePoint start, TimePoint end, int thread) const;
  void AddWork(int cycle, int thread, const std::vector<WorkSpan>& work);
  void AddCharacters(const FrameTimings& work);

  std::vector<FrameSink*> mSinks;
  std::vector<CapturedCycle> mCycles;
  std::unordered_map<std::string, int> mByPath;
  int mRootIds[KProfiler::kRootCycleCount];
  int mCulling = -1;
  int mSubmission = -1;
  std::vector<int> mCharacterIds;  // three per character

  bool mStarted = false;
  TimePoint mOrigin{};
  FrameSample mSample;  // reused frame to frame
};

}  // namespace khost
