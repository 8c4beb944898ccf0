// The frame clock: the one producer of measured frames. It times the loop's
// own steps into the frame that runs (input, scene update, the viewport's
// submission, the tool's paint, the swap) and, once the frame's period is
// known (the next frame starts, or the run ends), completes it with its
// period, its work and its presenting and hands it on whole.
//
// Every call runs on the loop's thread.
#pragma once

#include "khost/base/stopwatch.h"
#include "khost/frame/measured_frame.h"

namespace khost {

class FrameClock {
 public:
  // Starts frame `index` now. Returns the frame before it, whole, or null
  // for the first frame. The returned frame (and the workload timings it
  // points to) stays valid until the next call or the workload's next
  // frame.
  const MeasuredFrame* StartFrame(long long index);
  // The run ends now: the last frame, whole (its period up to now), or
  // null when no frame ran or it was handed on already.
  const MeasuredFrame* EndRun();
  TimePoint FrameStart() const { return mOpen.Start; }

  // Runs `step` as loop slot `slot` (Input, Scene Update) of this frame.
  template <class Step>
  void Time(int slot, Step&& step) {
    const Stretch s = Measure(step);
    mOpen.Loop[slot] = {s.Micros(), s.CpuMicros, s.Start, 0};
  }
  // The workload's timings of this frame (borrowed).
  void SetWork(const FrameTimings* work) { mOpen.Work = work; }

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
    const long long before = ThreadCpuNanos();
    mPaint = Measure(step);
    mPaintEnclosingCpu = CpuMicrosBetween(before, ThreadCpuNanos());
    mOpen.ToolPainted = true;
  }
  void NotPainted();
  template <class Step>
  void TimeSwap(Step&& step) {
    mSwapThreadCpu = ThreadCpuNanos();
    mSwap = Measure(step);
    mPresented = true;
  }

 private:
  // Completes the open frame at `now` into mDone.
  const MeasuredFrame* Close(TimePoint now);

  bool mStarted = false;
  MeasuredFrame mOpen;
  MeasuredFrame mDone;
  long long mStartThreadCpu = 0;   // the loop thread's CPU clock at the frame's start
  long long mStartProcessCpu = 0;  // the process's
  long long mSwapThreadCpu = 0;    // the loop thread's when the swap began
  Stretch mSubmit;
  Stretch mPaint;
  double mPaintEnclosingCpu = 0.0;  // CPU time from before to after mPaint
  Stretch mSwap;
  bool mPresented = false;
};

}  // namespace khost
