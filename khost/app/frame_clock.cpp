#include "khost/app/frame_clock.h"

namespace khost {

bool FrameClock::StartFrame(FrameRecord& record) {
  const TimePoint now = FrameClockType::now();
  record.FrameStart = now;
  const bool hadPrevious = mStarted;
  PreviousInto(record, now);
  mStart = now;
  mStarted = true;
  return hadPrevious;
}

void FrameClock::Painted(TimePoint start, double micros) {
  mPaint = micros;
  mPainted = true;
  mPaintStart = start;
}

void FrameClock::NotPainted() {
  mPaint = 0.0;
  mPainted = false;
  mPaintStart = FrameClockType::now();
}

void FrameClock::ViewportSubmitted(TimePoint start, double micros) {
  mPresentStart = start;
  mSubmitted = micros;
}

void FrameClock::PresentStarts() {
  mSwapStart = FrameClockType::now();
  mWork = MicrosBetween(mStart, mSwapStart) - mSubmitted;
}

void FrameClock::Presented() {
  mPresent = mSubmitted + MicrosBetween(mSwapStart, FrameClockType::now());
}

void FrameClock::PreviousInto(FrameRecord& record, TimePoint now) const {
  if (!mStarted) return;
  record.Slots[kSlotDevices] = MicrosBetween(mStart, now);
  record.Slots[kSlotFrame] = mWork;
  record.Slots[kSlotPresent] = mPresent;
  record.Slots[kSlotToolPaint] = mPaint;
  record.NotRun[kSlotToolPaint] = !mPainted;
  record.Starts[kSlotDevices] = mStart;
  record.Starts[kSlotFrame] = mStart;
  record.Starts[kSlotPresent] = mPresentStart;
  record.Starts[kSlotToolPaint] = mPaintStart;
  for (int slot : {kSlotDevices, kSlotFrame, kSlotPresent, kSlotToolPaint}) {
    record.OfPreviousFrame[slot] = true;
  }
}

}  // namespace khost
