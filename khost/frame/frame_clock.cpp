#include "khost/frame/frame_clock.h"

#include <algorithm>

namespace khost {

const MeasuredFrame* FrameClock::StartFrame(long long index) {
  const TimePoint now = SteadyClock::now();
  const long long processCpu = ProcessCpuNanos();
  const MeasuredFrame* done = mStarted ? Close(now) : nullptr;
  if (done) mDone.Loop[kSlotDevices].CpuMicros = CpuMicrosBetween(mStartProcessCpu, processCpu);
  mOpen = MeasuredFrame{};
  mOpen.Index = index;
  mOpen.Start = now;
  mStartThreadCpu = ThreadCpuNanos();
  mStartProcessCpu = processCpu;
  mPresented = false;
  mStarted = true;
  return done;
}

const MeasuredFrame* FrameClock::EndRun() {
  if (!mStarted) return nullptr;
  const TimePoint now = SteadyClock::now();
  const long long processCpu = ProcessCpuNanos();
  mStarted = false;
  const MeasuredFrame* done = Close(now);
  mDone.Loop[kSlotDevices].CpuMicros = CpuMicrosBetween(mStartProcessCpu, processCpu);
  return done;
}

void FrameClock::NotPainted() {
  mOpen.ToolPainted = false;
  const TimePoint now = SteadyClock::now();
  mPaint = {now, now, 0.0};
}

const MeasuredFrame* FrameClock::Close(TimePoint now) {
  mDone = mOpen;
  MeasuredFrame& f = mDone;
  f.Loop[kSlotDevices] = {MicrosBetween(f.Start, now), -1.0, f.Start, 0};
  // A frame that ended before presenting (the run stopped inside it) has
  // only its period.
  if (!mPresented) return &mDone;
  // The tool's own work is its paint's length less the time it spent off
  // the processor, waiting for the renderer (see MeasuredFrame::Presenting),
  // which presenting counts. The CPU time read around the paint bounds that
  // wait, so no time the thread ran is taken out of Frame.
  const double paint = f.ToolPainted ? mPaint.Micros() : 0.0;
  const double paintCpu = f.ToolPainted ? std::max(0.0, mPaint.CpuMicros) : 0.0;
  const double wait = f.ToolPainted ? std::max(0.0, paint - mPaintEnclosingCpu) : 0.0;
  // The frame's work runs from its start to the swap, leaving out the
  // viewport's submission and the paint's wait, which presenting counts
  // with the swap.
  f.Loop[kSlotFrame] = {MicrosBetween(f.Start, mSwap.Start) - mSubmit.Micros() - wait,
                        CpuMicrosBetween(mStartThreadCpu, mSwapThreadCpu) - mSubmit.CpuMicros,
                        f.Start, 0};
  f.Loop[kSlotPresent] = {mSubmit.Micros() + wait + mSwap.Micros(),
                          mSubmit.CpuMicros + mSwap.CpuMicros, mSubmit.Start, 0};
  f.Loop[kSlotToolPaint] = {paint - wait, paintCpu, mPaint.Start, 0};
  f.Presented = {mSubmit.Start, mSubmit.End, mSwap.Start, mSwap.End, wait, true};
  return &mDone;
}

}  // namespace khost
