// The drawing view: interface answers, scroll bar ownership, placement and
// range, and input forwarding.
#include "display/profiling_draw_view.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

#include "common/call_log.h"
#include "common/recording_graphic.h"
#include "display_test_support.h"
#include "standin/ktoolkit/view_tree.h"

namespace kp_test {
namespace {

class ProbeView : public KtProfilingDrawView {
 public:
  using KTaskCycleOverlay::ChartHeight;
  using KTaskCycleOverlay::SelectedCycle;
};

TEST(ProfilingDrawView, ConstructionGivesTheViewGeometryAndADrivenRegisteredBar) {
  ProbeView view;
  EXPECT_EQ(view.GetLeft(), 20);
  EXPECT_EQ(view.GetTop(), 90);
  EXPECT_EQ(view.GetRowHeight(), 15);
  EXPECT_EQ(view.GetBarScale(), 100);
  EXPECT_EQ(view.GetChartHeight(), 200);
  EXPECT_EQ(view.SelectedCycle, nullptr);
  EXPECT_EQ(view.GetScrollPosition(), 0);
  // The bounds are in place: lower values are raised.
  EXPECT_EQ(view.SetBarScale(78), 100);
  EXPECT_EQ(view.SetRowHeight(3), 15);

  KtScrollBar* bar = view.GetScrollBar();
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->DrivenGet(), static_cast<IKtScrollBarDriven*>(&view));
  EXPECT_EQ(KtView_GetRegisteredCount(*bar, KtScrollBar::kEventScrollBarMoved), 1);
  // The subscribed handler does nothing, so a broadcast changes nothing.
  KEventBase event(KtScrollBar::kEventScrollBarMoved, bar);
  bar->Broadcast(KtScrollBar::kEventScrollBarMoved, &event);
  EXPECT_EQ(view.GetScrollPosition(), 0);
}

TEST(ProfilingDrawView, QueryAnswersItsOwnInterfacesOnly) {
  KtProfilingDrawView view;
  EXPECT_EQ(view.IQuery(0, 0), static_cast<IObject*>(static_cast<ICallback*>(&view)));
  EXPECT_EQ(view.IQuery(2, 0), static_cast<IObject*>(static_cast<ICallback*>(&view)));
  EXPECT_EQ(view.IQuery(100190, 0), static_cast<IObject*>(static_cast<IKtView*>(&view)));
  EXPECT_EQ(view.IQuery(100255, 0), static_cast<IObject*>(static_cast<IKtScrollBarDriven*>(&view)));
  EXPECT_EQ(view.IQuery(100010, 0), nullptr) << "not handed on to KtView";
  EXPECT_EQ(view.IQuery(kIID_IRegister, 0), nullptr);
  EXPECT_EQ(view.IQuery(kIID_IKtScrollBar, 0), nullptr);
  // Every interface answers through the same implementation.
  IKtScrollBarDriven* driven = &view;
  EXPECT_EQ(driven->IQuery(100190, 0), view.IQuery(100190, 0));

  int type = 5;
  bool flag = false;
  view.GetGraphicType(type, flag);
  EXPECT_EQ(type, 0);
  EXPECT_TRUE(flag);
}

TEST(ProfilingDrawView, DestroyLeavesTheViewUsable) {
  KtProfilingDrawView view;
  view.Destroy(0);
  view.Destroy(1);
  static_cast<IKtScrollBarDriven&>(view).Destroy(7);
  static_cast<IKtView&>(view).Destroy(-1);
  EXPECT_NE(view.GetScrollBar(), nullptr);
  view.SetSize(300, 400);
  view.LayoutScrollBar();
  EXPECT_EQ(view.GetScrollBar()->GetPosX(), 283);
}

TEST(ProfilingDrawView, AttachPlacesTheBarAlongTheRightEdgeBelowTheHeader) {
  RecordingGraphic graphic;
  NullContainer container;
  KtProfilingDrawView view;
  view.SetSize(300, 400);
  view.Attach(&container, &graphic);

  KtScrollBar* bar = view.GetScrollBar();
  EXPECT_EQ(bar->GetGraphic(), &graphic);
  EXPECT_EQ(bar->GetContainer(), &container);
  EXPECT_EQ(view.GetGraphic(), &graphic);
  EXPECT_EQ(bar->GetPosX(), 283);
  EXPECT_EQ(bar->GetPosY(), 85);
  EXPECT_EQ(bar->GetWidth(), 17);
  EXPECT_EQ(bar->GetHeight(), 315);
  // Attach ran UpdateScrollRange: 330 visible, 231 content.
  EXPECT_EQ(bar->MaximumGet(), 231.0);

  view.Detach(&container);
  EXPECT_EQ(view.GetGraphic(), nullptr);
  EXPECT_EQ(bar->GetGraphic(), nullptr);
  EXPECT_EQ(bar->GetContainer(), nullptr);
}

TEST(ProfilingDrawView, ScrollRangeFollowsTheChartHeight) {
  ProbeView view;
  KtScrollBar* bar = view.GetScrollBar();
  view.SetSize(300, 400);

  // Before any chart: content 231 fits in 330 visible pixels.
  view.ScrollValueChanged(50.0f);
  view.UpdateScrollRange();
  EXPECT_EQ(view.GetScrollPosition(), 0);
  EXPECT_EQ(bar->MinimumGet(), 0.0);
  EXPECT_EQ(bar->MaximumGet(), 231.0);
  EXPECT_EQ(bar->SliderStartGet(), 0.0);
  EXPECT_EQ(bar->SliderEndGet(), 231.0);

  // A 500-pixel chart: visible 330, content 531, position at most 201.
  view.ChartHeight = 500;
  view.ScrollValueChanged(1000.0f);
  EXPECT_EQ(view.GetScrollPosition(), 1000) << "no clamping until the next update";
  view.UpdateScrollRange();
  EXPECT_EQ(view.GetScrollPosition(), 201);
  EXPECT_EQ(bar->MaximumGet(), 531.0);
  EXPECT_EQ(bar->SliderStartGet(), 201.0);
  EXPECT_EQ(bar->SliderEndGet(), 531.0);

  view.ScrollValueChanged(120.0f);
  view.ChartHeightChanged();
  EXPECT_EQ(view.GetScrollPosition(), 120);
  EXPECT_EQ(bar->SliderEndGet(), 450.0);

  // The chart shrinks while scrolled down.
  view.ChartHeight = 350;
  view.UpdateScrollRange();
  EXPECT_EQ(view.GetScrollPosition(), 51);
  EXPECT_EQ(bar->SliderStartGet(), 51.0);
  EXPECT_EQ(bar->SliderEndGet(), 381.0);
}

TEST(ProfilingDrawView, ScrollValuesTruncateTowardZeroAndNeverOverflow) {
  ProbeView view;
  view.ScrollValueChanged(12.9f);
  EXPECT_EQ(view.GetScrollPosition(), 12);
  view.ScrollValueChanged(-0.5f);
  EXPECT_EQ(view.GetScrollPosition(), 0);
  view.ScrollValueChanged(-3.7f);
  EXPECT_EQ(view.GetScrollPosition(), -3);
  view.ScrollValueChanged(std::numeric_limits<float>::quiet_NaN());
  EXPECT_EQ(view.GetScrollPosition(), 0);
  view.ScrollValueChanged(1e30f);
  EXPECT_EQ(view.GetScrollPosition(), INT_MAX);
  view.ScrollValueChanged(-std::numeric_limits<float>::infinity());
  EXPECT_EQ(view.GetScrollPosition(), INT_MIN);

  // Extreme sizes and heights keep the range arithmetic defined.
  view.SetSize(INT_MAX, INT_MAX);
  view.ChartHeight = INT_MAX;
  view.ScrollValueChanged(std::numeric_limits<float>::infinity());
  view.LayoutScrollBar();
  EXPECT_GE(view.GetScrollPosition(), 0);
  view.ChartHeight = INT_MIN;
  view.SetSize(0, 0);
  view.UpdateScrollRange();
  EXPECT_EQ(view.GetScrollPosition(), 0);
  EXPECT_EQ(view.GetScrollBar()->GetPosX(), INT_MAX - 17);
}

TEST(ProfilingDrawView, InputGoesToTheScrollBarUnchanged) {
  ProfilerScope profiler;
  RecordingGraphic graphic;
  NullContainer container;
  ProbeView view;
  view.SetSize(300, 400);
  view.ChartHeight = 2000;
  view.Attach(&container, &graphic);
  view.ViewExpose(nullptr);  // the bar learns where it is on screen

  // Outside the view: neither uses it; keys are not the bar's.
  EXPECT_FALSE(view.ViewInput(kInputMouseWheel, 10, 500, -1, 0));
  EXPECT_FALSE(view.GetScrollBar()->ViewInput(kInputMouseWheel, 10, 500, -1, 0));
  EXPECT_FALSE(view.ViewInput(kInputKeyChar, 290, 200, 'a', 0));
  // A wheel step over the chart scrolls the view through the bar.
  EXPECT_TRUE(view.ViewInput(kInputMouseWheel, 10, 200, -1, 0));
  const int overChart = view.GetScrollPosition();
  EXPECT_GT(overChart, 0);
  // And so does one over the bar itself.
  EXPECT_TRUE(view.ViewInput(kInputMouseWheel, 290, 200, -1, 0));
  EXPECT_GT(view.GetScrollPosition(), overChart);
  EXPECT_EQ(double(view.GetScrollPosition()), std::trunc(view.GetScrollBar()->SliderStartGet()));
  view.Detach(&container);
}

}  // namespace
}  // namespace kp_test
