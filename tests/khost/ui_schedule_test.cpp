#include "khost/app/ui_schedule.h"

#include <gtest/gtest.h>

namespace {

// Counts the repaints a schedule asks for over `frames` frames whose scene
// times come from `time`.
template <typename Time>
int Repaints(int rate, int frames, Time time) {
  khost::UiSchedule schedule(rate);
  int painted = 0;
  for (int i = 0; i < frames; ++i) {
    const double t = time(i);
    if (schedule.Due(t)) {
      schedule.Painted(t);
      ++painted;
    }
  }
  return painted;
}

TEST(UiSchedule, RepaintsAtItsRateOfSceneTime) {
  const auto fixed = [](int i) { return i / 60.0; };
  // Ten seconds of headless frames.
  EXPECT_EQ(Repaints(10, 600, fixed), 100);
  EXPECT_EQ(Repaints(30, 600, fixed), 300);
  EXPECT_EQ(Repaints(0, 600, fixed), 600);
  // A rate above the frame rate paints every frame.
  EXPECT_EQ(Repaints(120, 600, fixed), 600);
  // Live: 144 frames a second with jitter; the rate does not drift.
  const auto jittered = [](int i) { return i / 144.0 + ((i * 7919) % 13) * 0.0003; };
  EXPECT_NEAR(Repaints(30, 1440, jittered), 300, 2);
  // After a stall the schedule starts again from now instead of catching up.
  const auto stalled = [](int i) { return i < 10 ? i / 60.0 : 5.0 + i / 60.0; };
  EXPECT_NEAR(Repaints(10, 70, stalled), 2 + 10, 1);
}

}  // namespace
