// The overlay's defaults and bounded setters.
#include "display/task_cycle_overlay.h"

#include <gtest/gtest.h>

#include <climits>

#include "display_test_support.h"

namespace kp_test {
namespace {

class PlainOverlay : public KTaskCycleOverlay {
 public:
  using KTaskCycleOverlay::ChartHeight;
  using KTaskCycleOverlay::SelectedCycle;
};

TEST(TaskCycleOverlay, OwnConstructorLeavesGeometryAtZeroAndHeightAt200) {
  PlainOverlay overlay;
  EXPECT_EQ(overlay.GetLeft(), 0);
  EXPECT_EQ(overlay.GetTop(), 0);
  EXPECT_EQ(overlay.GetBarScale(), 0);
  EXPECT_EQ(overlay.GetRowHeight(), 0);
  EXPECT_EQ(overlay.GetChartHeight(), 200);
  EXPECT_EQ(overlay.SelectedCycle, nullptr);
  // The base hook does nothing.
  overlay.ChartHeightChanged();
  EXPECT_EQ(overlay.GetChartHeight(), 200);
  // With both bounds at 0, negative values are raised to 0: signed comparison.
  EXPECT_EQ(overlay.SetBarScale(-5), 0);
  EXPECT_EQ(overlay.SetRowHeight(INT_MIN), 0);
  EXPECT_EQ(overlay.SetBarScale(INT_MAX), INT_MAX);
}

TEST(TaskCycleOverlay, BoundedSettersStoreTheLargerValueAndReturnIt) {
  PlainOverlay overlay;
  overlay.SetMinBarScale(100);
  EXPECT_EQ(overlay.SetBarScale(50), 100);
  EXPECT_EQ(overlay.GetBarScale(), 100);
  EXPECT_EQ(overlay.SetBarScale(100), 100);
  EXPECT_EQ(overlay.SetBarScale(300), 300);
  EXPECT_EQ(overlay.GetBarScale(), 300);

  overlay.SetMinRowHeight(15);
  EXPECT_EQ(overlay.SetRowHeight(10), 15);
  EXPECT_EQ(overlay.SetRowHeight(16), 16);
  EXPECT_EQ(overlay.GetRowHeight(), 16);

  // Negative bounds are honoured as signed values too.
  overlay.SetMinBarScale(-20);
  EXPECT_EQ(overlay.SetBarScale(-30), -20);
}

TEST(TaskCycleOverlay, ChangingABoundAppliesOnlyAtTheNextSet) {
  PlainOverlay overlay;
  overlay.SetMinBarScale(100);
  overlay.SetBarScale(100);
  overlay.SetMinBarScale(200);
  EXPECT_EQ(overlay.GetBarScale(), 100);
  EXPECT_EQ(overlay.SetBarScale(150), 200);

  overlay.SetMinRowHeight(15);
  overlay.SetRowHeight(15);
  overlay.SetMinRowHeight(5);
  EXPECT_EQ(overlay.GetRowHeight(), 15);
  EXPECT_EQ(overlay.SetRowHeight(7), 7);
}

TEST(TaskCycleOverlay, PlainSettersWriteOneFieldEach) {
  PlainOverlay overlay;
  overlay.SetLeft(-4);
  overlay.SetTop(77);
  EXPECT_EQ(overlay.GetLeft(), -4);
  EXPECT_EQ(overlay.GetTop(), 77);
  EXPECT_EQ(overlay.GetBarScale(), 0);
  EXPECT_EQ(overlay.GetRowHeight(), 0);

  auto cycle = MakeSampling("C", {1});
  overlay.SetSelectedCycle(cycle.get());
  EXPECT_EQ(overlay.SelectedCycle, cycle.get());
  overlay.SetSelectedCycle(nullptr);
  EXPECT_EQ(overlay.SelectedCycle, nullptr);
}

}  // namespace
}  // namespace kp_test
