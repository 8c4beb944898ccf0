// The frame clock: when each frame starts, and what the frame before it
// took. A frame's period, CPU work, present and tool paint are complete only
// once the next frame starts, so each frame's record carries those of the
// frame before (flagged OfPreviousFrame).
#pragma once

#include <chrono>

#include "khost/app/profiler_feed.h"

namespace khost {

using FrameClockType = std::chrono::steady_clock;

// Microseconds from `from` to `to`.
inline double MicrosBetween(TimePoint from, TimePoint to) {
  return std::chrono::duration<double, std::micro>(to - from).count();
}

// Runs `step`, recording in `slot` of `record` where it began and how long
// it took.
template <class Step>
void TimeSlot(FrameRecord& record, int slot, Step&& step) {
  const TimePoint start = FrameClockType::now();
  step();
  record.Slots[slot] = MicrosBetween(start, FrameClockType::now());
  record.Starts[slot] = start;
}

class FrameClock {
 public:
  // Starts a frame now and puts the frame before's period (up to now), work,
  // present and paint into `record`. False for the first frame, which has
  // no frame before it.
  bool StartFrame(FrameRecord& record);
  TimePoint FrameStart() const { return mStart; }

  // The tool was painted this frame, from `start` to `end`; or it was not
  // (the frame shows its last picture again), as of now.
  void Painted(TimePoint start, TimePoint end);
  void NotPainted();

  // The viewport's drawing was handed to the renderer from `start` to
  // `end`: the first part of presenting, not the frame's work.
  void ViewportSubmitted(TimePoint start, TimePoint end);
  // The rest of presenting begins now: the frame's work ends.
  void PresentStarts();
  // The swap is done: presenting ends now.
  void Presented();

  // The last frame's own slots, once the run ends now.
  void LastFrameInto(FrameRecord& record) const { PreviousInto(record, FrameClockType::now()); }

 private:
  void PreviousInto(FrameRecord& record, TimePoint now) const;

  bool mStarted = false;
  TimePoint mStart{};
  TimePoint mSubmitStart{};
  TimePoint mSubmitEnd{};
  TimePoint mSwapStart{};
  TimePoint mSwapEnd{};
  bool mPresented = false;
  bool mPainted = false;
  TimePoint mPaintStart{};
  TimePoint mPaintEnd{};
};

}  // namespace khost
