// The frame clock: the one producer of measured frames. It times the loop's
// own steps into the frame that runs (input, scene update, the viewport's
// submission, the tool's paint, the swap) and, once the frame's period is
// known (the next frame starts, or the run ends), completes it with its
// period, its work and its presenting and hands it on whole.
//
// A frame's work and its presenting interleave: the work, the viewport's
// submission, the rest of the work (the tool's paint), the swap. So "Frame"
// is the two pieces of work around the submission and "Present" the
// submission and the swap. The tool's paint can wait for the renderer to
// rasterise the viewport (a software renderer finishes the viewport's
// drawing when the paint's drawing needs it): the paint's time off the
// processor, its length less the thread's CPU time around it, is that wait,
// counted once, in Present, and not in Tool Paint or Frame. Waiting for the
// renderer anywhere else (a finish before the paint, or painting before the
// viewport is drawn) doubles a software renderer's frame, so the wait is
// measured where it happens.
//
// [loop thread; -]: every call.
#pragma once

#include "khost/base/stopwatch.h"
#include "khost/frame/measured_frame.h"

namespace khost {

// The clocks a frame is read on (see stopwatch.h).
class FrameClocks {
 public:
  virtual ~FrameClocks() = default;
  virtual TimePoint Now() = 0;  // the steady clock
  // CPU time in nanoseconds of the calling thread, and of the whole
  // process, since it started.
  virtual long long ThreadCpuNanos() = 0;
  virtual long long ProcessCpuNanos() = 0;
  // The system's clocks.
  static FrameClocks& System();
};

class FrameClock {
 public:
  // Reads `clocks` (borrowed).
  explicit FrameClock(FrameClocks& clocks = FrameClocks::System()) : mClocks(clocks) {}

  // Starts frame `index` now. Returns the frame before it, whole, or null
  // for the first frame. The returned frame (and the workload timings it
  // points to) stays valid until the next call or the workload's next
  // frame.
  const MeasuredFrame* StartFrame(long long index);
  // The run ends now: the last frame, whole (its period up to now), or
  // null when no frame ran or it was handed on already.
  const MeasuredFrame* EndRun();
  TimePoint FrameStart() const { return mOpen.Start; }

  // Runs `step` as loop cycle `cycle` (Input, Scene Update) of this frame.
  template <class Step>
  void Time(LoopCycle cycle, Step&& step) {
    const Stretch s = Measure(step);
    mOpen.Loops[cycle] = Whole(s, s.Micros(), s.CpuMicros);
  }
  // The workload's timings of this frame (borrowed).
  void SetWork(const FrameTimings& work);

  // Presenting, in the loop's order. The viewport's drawing is handed to
  // the renderer and drawn (the first part of presenting, not the frame's
  // work), then the tool is painted or not, then the swap ends the frame's
  // work and presenting.
  template <class Step>
  void TimeSubmission(Step&& step) {
    mSubmit = Measure(step);
  }
  template <class Step>
  void TimePaint(Step&& step) {
    // The thread's CPU clock is also read around the whole measurement, so
    // that the paint's time off the processor (its length less this) leaves
    // out nothing that ran on it, the clock reads included.
    const long long before = mClocks.ThreadCpuNanos();
    mPaint = Measure(step);
    mPaintEnclosingCpu = CpuMicrosBetween(before, mClocks.ThreadCpuNanos());
    mPainted = true;
  }
  void NotPainted();
  template <class Step>
  void TimeSwap(Step&& step) {
    mSwapThreadCpu = mClocks.ThreadCpuNanos();
    mSwap = Measure(step);
    mPresented = true;
  }

 private:
  // Runs `step` and measures it as stopwatch.h's Measure does.
  template <class Step>
  Stretch Measure(Step&& step) {
    Stretch s;
    s.Start = mClocks.Now();
    const long long cpu = mClocks.ThreadCpuNanos();
    step();
    s.CpuMicros = CpuMicrosBetween(cpu, mClocks.ThreadCpuNanos());
    s.End = mClocks.Now();
    return s;
  }
  // One interval on the loop's thread.
  static CycleTiming Whole(const Stretch& s, double micros, double cpuMicros);
  // Completes the open frame at `now` into mDone.
  const MeasuredFrame* Close(TimePoint now, long long processCpu);

  FrameClocks& mClocks;
  bool mStarted = false;
  MeasuredFrame mOpen;
  MeasuredFrame mDone;
  long long mStartThreadCpu = 0;   // the loop thread's CPU clock at the frame's start
  long long mStartProcessCpu = 0;  // the process's
  long long mSwapThreadCpu = 0;    // the loop thread's when the swap began
  Stretch mSubmit;
  Stretch mPaint;
  double mPaintEnclosingCpu = 0.0;  // CPU time from before to after mPaint
  bool mPainted = false;
  Stretch mSwap;
  bool mPresented = false;
};

}  // namespace khost
