// KtScrollBar: dragging, paging, the wheel, clamping and what the driven view
// and the bar's subscribers hear.
#include <gtest/gtest.h>

#include <vector>

#include "toolkit/fake_graphic.h"

namespace {

class Driven : public IKtScrollBarDriven {
 public:
  virtual ~Driven() = default;
  IObject* IQuery(unsigned long, int) override { return nullptr; }
  void Destroy(int) override {}
  void ScrollNotify(int code) override { Notes.push_back(code); }
  void ScrollValueChanged(float start) override { Values.push_back(start); }
  std::vector<int> Notes;
  std::vector<float> Values;
};

// The drawing view's bar: at (283, 85), 17 x 315, a 531-pixel chart of which
// 330 are visible.
class BarTest : public ::testing::Test {
 protected:
  BarTest() {
    bar.SetPos(283, 85);
    bar.SetSize(17, 315);
    bar.MinimumSet(0.0);
    bar.MaximumSet(531.0);
    bar.SliderSet(0.0, 330.0);
    bar.DrivenSet(&driven);
    bar.Register(KtScrollBar::kEventScrollBarMoved, &moved,
                 KCALLBACK_HANDLER(EventCounter::OnEvent), 2147483647);
    bar.Attach(&container, &graphic);
    bar.ViewExpose(nullptr);
  }
  ~BarTest() override {
    bar.Unregister(KtScrollBar::kEventScrollBarMoved, &moved,
                   KCALLBACK_HANDLER(EventCounter::OnEvent));
    bar.Detach(&container);
  }
  bool Drag(int fromY, int toY) {
    bool taken = bar.ViewInput(kInputMouseDown, 290, fromY, 0, 0);
    taken = bar.ViewInput(kInputMouseMove, 290, toY, 0, 0) && taken;
    return bar.ViewInput(kInputMouseUp, 290, toY, 0, 0) && taken;
  }

  FakeGraphic graphic;
  RecordingContainer container;
  KtScrollBar bar;
  Driven driven;
  EventCounter moved;
};

TEST_F(BarTest, DraggingReportsTheSliderStartInRangeUnits) {
  int x = 0, y = 0, w = 0, h = 0;
  ASSERT_TRUE(bar.GetSliderWindowRect(x, y, w, h));
  EXPECT_EQ(x, 283);
  EXPECT_EQ(y, 85);
  EXPECT_EQ(w, 17);
  EXPECT_EQ(h, 196);  // 330 / 531 of 315 pixels

  ASSERT_TRUE(Drag(100, 150));
  ASSERT_EQ(driven.Values.size(), 1u);
  EXPECT_NEAR(driven.Values[0], 50.0 * 531.0 / 315.0, 0.01);
  EXPECT_NEAR(bar.SliderStartGet(), 50.0 * 531.0 / 315.0, 0.01);
  EXPECT_NEAR(bar.SliderEndGet() - bar.SliderStartGet(), 330.0, 1e-9);
  EXPECT_EQ(driven.Notes, (std::vector<int>{0, 1}));
  EXPECT_EQ(moved.Count, 1);
  EXPECT_EQ(moved.LastSender, static_cast<IRegister*>(&bar));
}

TEST_F(BarTest, DragsStopAtBothEndsOfTheRange) {
  Drag(100, 390);  // far below the track
  ASSERT_FALSE(driven.Values.empty());
  EXPECT_FLOAT_EQ(driven.Values.back(), 201.0f);  // maximum - slider length
  bar.ViewExpose(nullptr);
  int x = 0, y = 0, w = 0, h = 0;
  ASSERT_TRUE(bar.GetSliderWindowRect(x, y, w, h));
  EXPECT_EQ(y + h, 85 + 315);
  Drag(y + 5, 0);  // far above it
  EXPECT_FLOAT_EQ(driven.Values.back(), 0.0f);
  EXPECT_EQ(driven.Notes, (std::vector<int>{0, 1, 0, 1}));
}

TEST_F(BarTest, MovesOutsideTheBarKeepDraggingUntilRelease) {
  ASSERT_TRUE(bar.ViewInput(kInputMouseDown, 290, 100, 0, 0));
  EXPECT_TRUE(bar.ViewInput(kInputMouseMove, 10, 120, 0, 0));  // left of the bar
  EXPECT_TRUE(bar.ViewInput(kInputMouseUp, 10, 120, 0, 0));
  EXPECT_FALSE(bar.ViewInput(kInputMouseMove, 290, 200, 0, 0));  // no longer dragging
  ASSERT_EQ(driven.Values.size(), 1u);
  EXPECT_NEAR(driven.Values[0], 20.0 * 531.0 / 315.0, 0.01);
}

TEST_F(BarTest, TrackClicksPageByTheSliderLength) {
  EXPECT_TRUE(bar.ViewInput(kInputMouseDown, 290, 390, 0, 0));  // below the slider
  bar.ViewInput(kInputMouseUp, 290, 390, 0, 0);
  ASSERT_EQ(driven.Values.size(), 1u);
  EXPECT_FLOAT_EQ(driven.Values[0], 201.0f);  // a page of 330, clamped
  EXPECT_TRUE(driven.Notes.empty());          // a page is not a drag
  bar.SliderSet(200.0, 530.0);
  bar.ViewExpose(nullptr);
  bar.ViewInput(kInputMouseDown, 290, 86, 0, 0);  // above it
  EXPECT_FLOAT_EQ(driven.Values.back(), 0.0f);
  EXPECT_EQ(moved.Count, 2);
}

TEST_F(BarTest, TheWheelStepsOverTheBarOnly) {
  EXPECT_TRUE(bar.ViewInput(kInputMouseWheel, 290, 200, -1, 0));  // towards the user: down
  ASSERT_EQ(driven.Values.size(), 1u);
  EXPECT_FLOAT_EQ(driven.Values[0], 33.0f);
  EXPECT_TRUE(bar.ViewInput(kInputMouseWheel, 290, 200, 3, 0));
  EXPECT_FLOAT_EQ(driven.Values.back(), 0.0f);
  EXPECT_FALSE(bar.ViewInput(kInputMouseWheel, 100, 200, 1, 0));
  EXPECT_EQ(driven.Values.size(), 2u);
}

TEST_F(BarTest, NothingMovesWhenTheSliderCannotGoFurther) {
  bar.ViewInput(kInputMouseWheel, 290, 200, 1, 0);  // already at the top
  EXPECT_TRUE(driven.Values.empty());
  EXPECT_EQ(moved.Count, 0);
}

TEST_F(BarTest, AnEmptyRangeShowsAFullSliderAndIgnoresDrags) {
  bar.MaximumSet(0.0);
  bar.ViewExpose(nullptr);
  int x = 0, y = 0, w = 0, h = 0;
  EXPECT_FALSE(bar.GetSliderWindowRect(x, y, w, h));
  EXPECT_TRUE(bar.ViewInput(kInputMouseDown, 290, 100, 0, 0));  // over it: taken
  EXPECT_FALSE(bar.ViewInput(kInputMouseMove, 290, 200, 0, 0));
  bar.ViewInput(kInputMouseUp, 290, 200, 0, 0);
  bar.ViewInput(kInputMouseWheel, 290, 200, -1, 0);
  EXPECT_TRUE(driven.Values.empty());
  EXPECT_TRUE(driven.Notes.empty());

  bar.MinimumSet(10.0);
  bar.MaximumSet(5.0);  // inverted: nothing to scroll either
  EXPECT_FALSE(bar.GetSliderWindowRect(x, y, w, h));
}

TEST_F(BarTest, ASliderCoveringTheRangeStaysPut) {
  bar.SliderSet(0.0, 531.0);
  bar.ViewExpose(nullptr);
  Drag(100, 200);
  bar.ViewInput(kInputMouseWheel, 290, 200, -1, 0);
  EXPECT_TRUE(driven.Values.empty());
}

TEST(ScrollBar, InputBeforeAnyPaintIsNotTaken) {
  KtScrollBar bar;
  Driven driven;
  bar.SetSize(17, 100);
  bar.MaximumSet(100.0);
  bar.SliderSet(0.0, 10.0);
  bar.DrivenSet(&driven);
  EXPECT_FALSE(bar.ViewInput(kInputMouseDown, 5, 5, 0, 0));
  EXPECT_TRUE(driven.Values.empty());
  EXPECT_EQ(bar.DrivenGet(), &driven);
  bar.DrivenSet(nullptr);
  EXPECT_EQ(bar.DrivenGet(), nullptr);
}

TEST(ScrollBar, ATinySliderKeepsAGrabbableLengthAndMapsItsTravel) {
  FakeGraphic graphic;
  RecordingContainer container;
  KtScrollBar bar;
  Driven driven;
  bar.SetSize(17, 100);
  bar.MaximumSet(10000.0);
  bar.SliderSet(0.0, 10.0);
  bar.DrivenSet(&driven);
  bar.Attach(&container, &graphic);
  bar.ViewExpose(nullptr);
  int x = 0, y = 0, w = 0, h = 0;
  ASSERT_TRUE(bar.GetSliderWindowRect(x, y, w, h));
  EXPECT_EQ(h, 10);  // 8 pixels drawn, inside a pixel of inset at each end
  bar.ViewInput(kInputMouseDown, 5, 1, 0, 0);       // the first drawn row
  bar.ViewInput(kInputMouseMove, 5, 1 + 90, 0, 0);  // the whole travel
  bar.ViewInput(kInputMouseUp, 5, 91, 0, 0);
  ASSERT_FALSE(driven.Values.empty());
  EXPECT_FLOAT_EQ(driven.Values.back(), 9990.0f);
  bar.Detach(&container);
}

}  // namespace

namespace {

TEST(ScrollBar, SettingTheSameRangeAsksForNoPaint) {
  // The drawing view sets the range on every paint; repeating it must not
  // request another paint, or the window would never stop repainting.
  FakeGraphic graphic;
  RecordingContainer container;
  KtScrollBar bar;
  bar.Attach(&container, &graphic);
  bar.MinimumSet(0.0);
  bar.MaximumSet(531.0);
  bar.SliderSet(0.0, 330.0);
  const int refreshes = container.Refreshes;
  bar.MinimumSet(0.0);
  bar.MaximumSet(531.0);
  bar.SliderSet(0.0, 330.0);
  EXPECT_EQ(container.Refreshes, refreshes);
  bar.SliderSet(10.0, 340.0);
  EXPECT_EQ(container.Refreshes, refreshes + 1);
  bar.SliderSet(10.0, 5.0);  // an end before the start collapses onto it
  EXPECT_EQ(bar.SliderEndGet(), 10.0);
  bar.Detach(&container);
}

}  // namespace
