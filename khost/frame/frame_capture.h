// Each measured frame as the chart's cycles: every cycle that ran, by its
// path, in the chart's order, with its times on both clocks and the
// intervals it ran in, handed on to the outputs that keep frames (the
// recording, the trace, the comparison, the tuning search) as soon as the
// frame is taken.
//
// [loop thread; -]: every call.
#pragma once

#include <vector>

#include "khost/frame/cycle_catalogue.h"
#include "khost/frame/measured_frame.h"

namespace khost {

// Nanoseconds from the first frame's start; Thread as in WorkSpan.
struct Interval {
  long long StartNs = 0;
  long long EndNs = 0;
  int Thread = 0;
};

struct CycleSample {
  int Cycle = 0;        // index in FrameCapture::Cycles()
  double Micros = 0.0;  // the measured duration, on the steady clock
  // The same on the CPU clock (see CycleTiming); negative: not measured on
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
  virtual void Consume(const FrameSample& frame, const std::vector<CapturedCycle>& cycles) = 0;
};

class FrameCapture {
 public:
  // The cycles of `catalogue` (borrowed: it outlives the capture).
  explicit FrameCapture(const CycleCatalogue& catalogue = CycleCatalogue::Standard());

  // Sinks are not owned and must outlive the capture's last call.
  void AddSink(FrameSink* sink) { mSinks.push_back(sink); }

  // Hands frame `frame` on to the sinks, in the chart's cycles. The first
  // frame taken is the origin of every interval.
  void Capture(const MeasuredFrame& frame);

  // Every cycle taken so far, by the ids the samples give; the catalogue's
  // own first, in the chart's order.
  const std::vector<CapturedCycle>& Cycles() const { return mCycles; }

 private:
  int AddCycle(CapturedCycle cycle);
  int CharacterCycle(int character, int part);
  long long Ns(TimePoint t) const;
  // Row `row` (when it ran), then its children and characters.
  void AddRow(const MeasuredFrame& frame, int row);
  void AddCharacters(const MeasuredFrame& frame);
  void AddSample(int cycle, const CycleTiming& timing);

  const CycleCatalogue& mCatalogue;
  std::vector<FrameSink*> mSinks;
  std::vector<CapturedCycle> mCycles;
  std::vector<int> mRowIds;        // by catalogue row
  std::vector<int> mCharacterIds;  // character c's pattern row p at c * rows + p

  bool mStarted = false;
  TimePoint mOrigin{};
  FrameSample mSample;  // reused frame to frame
};

}  // namespace khost
