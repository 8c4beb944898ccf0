#include "khost/frame/frame_clock.h"

#include <algorithm>

namespace khost {

namespace {

class SystemClocks final : public FrameClocks {
 public:
  TimePoint Now() override { return SteadyClock::now(); }
  long long ThreadCpuNanos() override { return khost::ThreadCpuNanos(); }
  long long ProcessCpuNanos() override { return khost::ProcessCpuNanos(); }
};

}  // namespace

FrameClocks& FrameClocks::System() {
  static SystemClocks clocks;
  return clocks;
}

CycleTiming FrameClock::Whole(const Stretch& s, double micros, double cpuMicros) {
  CycleTiming t;
  t.Micros = micros;
  t.CpuMicros = cpuMicros;
  t.Parts[0] = {s.Start, s.End};
  t.PartCount = 1;
  return t;
}

void FrameClock::SetWork(const FrameTimings& work) {
  mOpen.Stages = work.Stages;
  mOpen.Shares = work.Shares;
  mOpen.Characters = work.Characters;
}

const MeasuredFrame* FrameClock::StartFrame(long long index) {
  const TimePoint now = mClocks.Now();
  const long long processCpu = mClocks.ProcessCpuNanos();
  const MeasuredFrame* done = mStarted ? Close(now, processCpu) : nullptr;
  mOpen = MeasuredFrame{};
  mOpen.Index = index;
  mOpen.Start = now;
  mStartThreadCpu = mClocks.ThreadCpuNanos();
  mStartProcessCpu = processCpu;
  mPainted = false;
  mPresented = false;
  mStarted = true;
  return done;
}

const MeasuredFrame* FrameClock::EndRun() {
  if (!mStarted) return nullptr;
  const TimePoint now = mClocks.Now();
  const long long processCpu = mClocks.ProcessCpuNanos();
  mStarted = false;
  return Close(now, processCpu);
}

void FrameClock::NotPainted() {
  mPainted = false;
  const TimePoint now = mClocks.Now();
  mPaint = {now, now, 0.0};
}

const MeasuredFrame* FrameClock::Close(TimePoint now, long long processCpu) {
  mDone = mOpen;
  MeasuredFrame& f = mDone;
  f.Loops[kLoopDevices] = Whole({f.Start, now, 0.0}, MicrosBetween(f.Start, now),
                                CpuMicrosBetween(mStartProcessCpu, processCpu));
  // A frame that ended before presenting (the run stopped inside it) has
  // only its period and the steps it took.
  if (!mPresented) return &mDone;
  // The tool's own work is its paint's length less the time it spent off
  // the processor, waiting for the renderer, which presenting counts. The
  // CPU time read around the paint bounds that wait, so no time the thread
  // ran is taken out of Frame.
  const double paint = mPainted ? mPaint.Micros() : 0.0;
  const double wait = mPainted ? std::max(0.0, paint - mPaintEnclosingCpu) : 0.0;
  CycleTiming& toolPaint = f.Loops[kLoopToolPaint];
  toolPaint = Whole(mPaint, paint - wait, mPainted ? std::max(0.0, mPaint.CpuMicros) : 0.0);
  toolPaint.Encloses = wait > 0.0;  // its interval holds the wait
  toolPaint.Ran = mPainted;
  // The frame's work runs from its start to the swap, leaving out the
  // viewport's submission and the paint's wait, which presenting counts
  // with the swap.
  CycleTiming& frame = f.Loops[kLoopFrame];
  frame.Micros = MicrosBetween(f.Start, mSwap.Start) - mSubmit.Micros() - wait;
  frame.CpuMicros = CpuMicrosBetween(mStartThreadCpu, mSwapThreadCpu) - mSubmit.CpuMicros;
  frame.Parts[0] = {f.Start, mSubmit.Start};
  frame.Parts[1] = {mSubmit.End, mSwap.Start};
  frame.PartCount = 2;
  CycleTiming& present = f.Loops[kLoopPresent];
  present.Micros = mSubmit.Micros() + wait + mSwap.Micros();
  present.CpuMicros = mSubmit.CpuMicros + mSwap.CpuMicros;
  present.Parts[0] = {mSubmit.Start, mSubmit.End};
  present.Parts[1] = {mSwap.Start, mSwap.End};
  present.PartCount = 2;
  return &mDone;
}

}  // namespace khost
