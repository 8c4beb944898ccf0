#include "khost/app/frame_clock.h"

namespace khost {

bool FrameClock::StartFrame(FrameRecord& record) {
  const TimePoint now = FrameClockType::now();
  record.FrameStart = now;
  const bool hadPrevious = mStarted;
  PreviousInto(record, now);
  mStart = now;
  mStarted = true;
  mPresented = false;
  return hadPrevious;
}

void FrameClock::Painted(TimePoint start, TimePoint end) {
  mPainted = true;
  mPaintStart = start;
  mPaintEnd = end;
}

void FrameClock::NotPainted() {
  mPainted = false;
  mPaintStart = mPaintEnd = FrameClockType::now();
}

void FrameClock::ViewportSubmitted(TimePoint start, TimePoint end) {
  mSubmitStart = start;
  mSubmitEnd = end;
}

void FrameClock::PresentStarts() {
  mSwapStart = FrameClockType::now();
}

void FrameClock::Presented() {
  mSwapEnd = FrameClockType::now();
  mPresented = true;
}

void FrameClock::PreviousInto(FrameRecord& record, TimePoint now) const {
  if (!mStarted) return;
  record.Slots[kSlotDevices] = MicrosBetween(mStart, now);
  record.Starts[kSlotDevices] = mStart;
  record.OfPreviousFrame[kSlotDevices] = true;
  // A frame that ended before presenting (the run stopped inside it) has
  // only its period.
  if (!mPresented) return;
  // The frame's work runs from its start to the swap, leaving out the
  // viewport's submission, which presenting counts with the swap.
  const double submitted = MicrosBetween(mSubmitStart, mSubmitEnd);
  record.Slots[kSlotFrame] = MicrosBetween(mStart, mSwapStart) - submitted;
  record.Slots[kSlotPresent] = submitted + MicrosBetween(mSwapStart, mSwapEnd);
  record.Slots[kSlotToolPaint] = mPainted ? MicrosBetween(mPaintStart, mPaintEnd) : 0.0;
  record.NotRun[kSlotToolPaint] = !mPainted;
  record.Starts[kSlotFrame] = mStart;
  record.Starts[kSlotPresent] = mSubmitStart;
  record.Starts[kSlotToolPaint] = mPaintStart;
  record.Presented = {mSubmitStart, mSubmitEnd, mSwapStart, mSwapEnd, true};
  for (int slot : {kSlotFrame, kSlotPresent, kSlotToolPaint}) {
    record.OfPreviousFrame[slot] = true;
  }
}

}  // namespace khost
