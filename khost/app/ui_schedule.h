// When the host repaints the tool window: at a user-interface rate measured
// in scene seconds (the wall clock live, a fixed step per frame headless:
// see kFixedFrameRate in base/stopwatch.h), so the tool's cost follows the rate and
// not the scene's frame rate.
#pragma once

namespace khost {

class UiSchedule {
 public:
  // `rate` repaints per second; 0 repaints every frame.
  explicit UiSchedule(int rate) : mPeriod(rate > 0 ? 1.0 / rate : 0.0) {}

  // True when a repaint is due at scene time `seconds`. The first call is
  // always due.
  bool Due(double seconds) const {
    // A hair of slack, so that fixed steps summing to a period (6 x 1/60 s
    // at 10 Hz) count as reaching it despite rounding.
    return mPeriod == 0.0 || !mStarted || seconds + 1e-9 >= mNext;
  }

  // Records a scheduled repaint at `seconds`. The next one is one period
  // after the previous due time, so the rate does not drift with the frame
  // rate; after a stall longer than a period it is one period from now.
  void Painted(double seconds) {
    if (mPeriod == 0.0) return;
    mNext = mStarted ? mNext + mPeriod : seconds + mPeriod;
    if (mNext <= seconds) mNext = seconds + mPeriod;
    mStarted = true;
  }

 private:
  double mPeriod;
  double mNext = 0.0;
  bool mStarted = false;
};

}  // namespace khost
