// When the tool window repaints: at the user-interface rate (UiSchedule),
// at once when its picture is out of date (input, a resize, a scripted
// action), and on the run's last frame so that captures show the latest
// numbers. Between repaints its last picture is shown again.
#pragma once

#include "khost/app/ui_schedule.h"

namespace khost {

class RepaintPolicy {
 public:
  // `uiRate` repaints per second of scene time; 0 every frame.
  explicit RepaintPolicy(int uiRate) : mSchedule(uiRate) {}

  // The tool's picture no longer shows its state: the next frame repaints.
  void MarkOutOfDate() { mOutOfDate = true; }

  // Whether the frame at scene time `seconds` repaints the tool.
  bool Due(double seconds, bool lastFrame) const {
    return mSchedule.Due(seconds) || lastFrame || mOutOfDate;
  }
  // The frame at `seconds` repainted the tool.
  void Painted(double seconds) {
    if (mSchedule.Due(seconds)) mSchedule.Painted(seconds);
    mOutOfDate = false;
  }

 private:
  UiSchedule mSchedule;
  bool mOutOfDate = true;
};

}  // namespace khost
