// The paint: step order, the statistics blocks, the chart's set-up from the
// view, and hosts that leave root cycles empty.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <climits>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/call_log.h"
#include "common/recording_graphic.h"
#include "display/profiling_draw_view.h"
#include "display_test_support.h"
#include "standin/kbaselib/profiler.h"

namespace kp_test {
namespace {

class ProbeView : public KtProfilingDrawView {
 public:
  using KTaskCycleOverlay::ChartHeight;
};

// A graphic context whose DrawString throws once for the text it is armed
// with, as a host call may.
class ThrowingGraphic : public RecordingGraphic {
 public:
  std::string ThrowAt;
  void DrawString(const char* text, float x, float y, int clipLeft, int clipRight,
                  int fontStyle) override {
    if (!ThrowAt.empty() && ThrowAt == text) {
      ThrowAt.clear();
      throw std::runtime_error("DrawString failed");
    }
    RecordingGraphic::DrawString(text, x, y, clipLeft, clipRight, fontStyle);
  }
};

// A parent whose HasChild or GetChild throws once when armed.
class ThrowingParent : public ScriptedSampling {
 public:
  using ScriptedSampling::ScriptedSampling;
  enum class Call { None, HasChild, GetChild } ThrowIn = Call::None;
  bool HasChild(int category, int index) override {
    ThrowOnce(Call::HasChild);
    return ScriptedSampling::HasChild(category, index);
  }
  KProfilingSampling* GetChild(int category, int index) override {
    ThrowOnce(Call::GetChild);
    return ScriptedSampling::GetChild(category, index);
  }

 private:
  void ThrowOnce(Call call) {
    if (ThrowIn != call) return;
    ThrowIn = Call::None;
    throw std::runtime_error("child list failed");
  }
};

class PaintTest : public ::testing::Test {
 protected:
  void SetUp() override {
    devices = MakeSampling("Devices", {16666.7});
    upper = MakeSampling("Upper", {2000});
    evaluation = MakeSampling("Evaluation", {10000});
    KProfiler::TheOne()->RootCycles[0] = devices.get();
    KProfiler::TheOne()->RootCycles[1] = upper.get();
    KProfiler::TheOne()->RootCycles[6] = evaluation.get();
    KProfilingSampling_AddSample(KProfiler::TheOne()->ProfilingCost, 1234.5);
  }
  void TearDown() override {
    if (attached) view.Detach(&container);
  }

  void Show(int width, int height) {
    view.SetSize(width, height);
    if (!attached) view.Attach(&container, &graphic);
    attached = true;
  }
  const std::vector<RecordedCall>& Paint() {
    ClearCallLog();
    view.ViewExpose(nullptr);
    return CallLog();
  }
  // The calls from the header strip's rectangle to the end of the paint.
  std::vector<std::string> HeaderCalls(int width) {
    const std::vector<RecordedCall>& log = CallLog();
    const std::string strip = "glRectd 0 0 " + std::to_string(width) + " 80";
    for (size_t i = 0; i < log.size(); ++i) {
      if (Describe(log[i]) == strip) {
        return Describe(std::vector<RecordedCall>(log.begin() + static_cast<long>(i), log.end()));
      }
    }
    return {};
  }
  std::string FrameLine() {
    for (const RecordedCall& call : CallsNamed(CallLog(), "Graphic_DrawStringCenterVertex")) {
      if (call.Args[5] == 2.0) return call.Text;
    }
    return "";
  }
  RecordedCall FrameColour() {
    const std::vector<RecordedCall>& log = CallLog();
    const int sizeCall = FindCall(log, "Graphic_GetStringSizeVertex");
    return sizeCall > 0 ? log[static_cast<size_t>(sizeCall) - 1] : RecordedCall{};
  }

  ProfilerScope profiler;
  std::unique_ptr<KProfilingSampling> devices;
  std::unique_ptr<KProfilingSampling> upper;
  std::unique_ptr<KProfilingSampling> evaluation;
  ThrowingGraphic graphic;
  NullContainer container;
  ProbeView view;
  bool attached = false;
};

TEST_F(PaintTest, PaintRunsItsStepsInOrder) {
  Show(800, 420);
  const std::vector<RecordedCall>& log = Paint();
  const std::vector<std::string> all = Describe(log);
  ASSERT_GE(all.size(), 10u);
  const std::vector<std::string> opening(all.begin(), all.begin() + 9);
  const std::vector<std::string> expectedOpening = {
      "PushView 0 0 800 420",   "glMatrixMode " + std::to_string(GL_PROJECTION),
      "glLoadIdentity",         "glMatrixMode " + std::to_string(GL_MODELVIEW),
      "glLoadIdentity",         "SetViewport 0 0 800 420",
      "glColor3ub 128 128 128", "glRectd 0 0 800 420",
      "BeginPrimitive 0"};  // the chart comes next
  EXPECT_EQ(opening, expectedOpening);

  const std::vector<std::string> header = HeaderCalls(800);
  ASSERT_GE(header.size(), 21u);
  const std::vector<std::string> expectedHeader = {
      "glRectd 0 0 800 80",
      "glColor3f 0 1 0",
      "Graphic_GetStringSizeVertex 2 56 20 '60.0 fps'",
      "Graphic_DrawStringCenterVertex 20 40 0 0 1 2 '60.0 fps'",
      "glColor3f 1 1 1",
      "DrawString 20 61 -2.14748e+09 2.14748e+09 -1 '(Min: 60.0, Max: 60.0)'",
      "Graphic_GetStringSizeVertex -1 154 14 'Evaluation rate: 100.0'",
      "Graphic_DrawStringCenterVertex 170 40 0 0 1 -1 'Evaluation rate: 100.0'",
      "glColor3f 1 1 1",
      "DrawString 170 55 -2.14748e+09 2.14748e+09 -1 '(Min: 100.0, Max: 100.0)'",
      "Graphic_GetStringSizeVertex -1 154 14 'Profiling Cost: 1.2 ms'",
      "Graphic_DrawStringCenterVertex 370 40 0 0 1 -1 'Profiling Cost: 1.2 ms'",
      "glColor3f 1 1 1",
      "DrawString 370 55 -2.14748e+09 2.14748e+09 -1 '(Min: 1.2, Max: 1.2)'",
      "glColor3ub 68 68 68",
      "glRectd 0 80 800 85",
      "PushView 783 85 17 335"};  // then the scroll bar paints itself
  EXPECT_EQ(std::vector<std::string>(header.begin(), header.begin() + 17), expectedHeader);
  // The strip is preceded by its own grey, after the chart.
  const int strip = FindCall(log, "glRectd", FindCall(log, "glRectd") + 1);
  ASSERT_GT(strip, 0);
  EXPECT_EQ(all[static_cast<size_t>(strip) - 1], "glColor3ub 128 128 128");
  EXPECT_GT(strip, FindCall(log, "DrawRectangle")) << "the chart is drawn before the strip";
  // The scroll bar is exposed last, then the paint ends.
  EXPECT_EQ(all[all.size() - 2], "PopView");
  EXPECT_EQ(all.back(), "PopView");
  EXPECT_EQ(graphic.ViewDepth(), 0);
}

TEST_F(PaintTest, FrameRateColourFollowsTheUnroundedRate) {
  struct Case {
    double Average;
    const char* Line;
    float Red, Green;
  };
  const Case cases[] = {
      {16666.7, "60.0 fps", 0, 1},
      {50000, "20.0 fps", 1, 0.5f},
      {100000, "10.0 fps", 1, 0},
      {80000, "12.5 fps", 1, 0},
      {62500, "16.0 fps", 1, 0.5f},
      {40000, "25.0 fps", 0, 1},
      {76923.08, "13.0 fps", 1, 0},
      {76923.07, "13.0 fps", 1, 0.5f},
      {41666.67, "24.0 fps", 1, 0.5f},
      {41666.66, "24.0 fps", 0, 1},
      {0, "inf fps", 0, 1},  // an empty sampling: infinite rate, green
  };
  Show(800, 420);
  for (const Case& c : cases) {
    KProfilingSampling_Reset(*devices);
    KProfilingSampling_AddSample(*devices, c.Average);
    Paint();
    EXPECT_EQ(FrameLine(), c.Line) << c.Average;
    const RecordedCall colour = FrameColour();
    EXPECT_EQ(Describe(colour), Describe(RecordedCall{"glColor3f", {c.Red, c.Green, 0.0}, ""}))
        << c.Average;
  }
}

TEST_F(PaintTest, DetailLinesInvertTheFrameExtremesAndShowCostInMilliseconds) {
  KProfilingSampling_Reset(*devices);
  KProfilingSampling_AddSample(*devices, 10000);
  KProfilingSampling_AddSample(*devices, 40000);
  KProfilingSampling_Reset(KProfiler::TheOne()->ProfilingCost);
  KProfilingSampling_AddSample(KProfiler::TheOne()->ProfilingCost, 500);
  KProfilingSampling_AddSample(KProfiler::TheOne()->ProfilingCost, 2000);
  KProfilingSampling_Reset(*evaluation);
  KProfilingSampling_AddSample(*evaluation, 20000);
  KProfilingSampling_AddSample(*evaluation, 50000);
  Show(800, 420);
  Paint();
  std::vector<std::string> details;
  for (const RecordedCall& call : CallsNamed(CallLog(), "DrawString")) {
    if (call.Text.rfind("(Min:", 0) == 0) details.push_back(call.Text);
  }
  const std::vector<std::string> expected = {"(Min: 25.0, Max: 100.0)", "(Min: 20.0, Max: 50.0)",
                                             "(Min: 0.5, Max: 2.0)"};
  EXPECT_EQ(details, expected);
  EXPECT_EQ(FrameLine(), "40.0 fps");
}

TEST_F(PaintTest, BarScaleComesFromTheWidthAndTopFromTheScrollPosition) {
  const int widths[] = {510, 1020, 400, 800, 509};
  const int scales[] = {100, 200, 100, 156, 100};
  for (int i = 0; i < 5; ++i) {
    Show(widths[i], 420);
    Paint();
    EXPECT_EQ(view.GetBarScale(), scales[i]) << widths[i];
    EXPECT_EQ(view.GetTop(), 90);
  }

  // Scrolled by 30: the chart's first line is at 60.
  Show(800, 200);
  Paint();  // lays out for the new size
  view.ScrollValueChanged(30.0f);
  Paint();
  EXPECT_EQ(view.GetTop(), 60);
  EXPECT_EQ(Describe(CallsNamed(CallLog(), "glVertex2d")[0]), "glVertex2d 10 60");
}

TEST_F(PaintTest, DisabledProfilingDrawsNoChartAndKeepsTheGeometry) {
  KProfiler::TheOne()->ProfilingEnabled = 0;
  Show(1020, 420);
  view.SetTop(123);
  view.SetBarScale(111);
  const std::vector<RecordedCall>& log = Paint();
  EXPECT_EQ(view.GetTop(), 123);
  EXPECT_EQ(view.GetBarScale(), 111);
  EXPECT_EQ(FindCall(log, "BeginPrimitive"), -1);
  EXPECT_EQ(FindCall(log, "glVertex2d"), -1);
  // The header, band and bar are still painted.
  EXPECT_EQ(FrameLine(), "60.0 fps");
  EXPECT_NE(FindCall(log, "PushView", 1), -1);
}

TEST_F(PaintTest, EvaluationRateDivisorIsHandedToTheChart) {
  auto cycle = MakeSampling("Render", {5000});
  view.SetSelectedCycle(cycle.get());
  Show(510, 420);
  const struct {
    unsigned int Divisor;
    double BarEnd;
  } cases[] = {{1, 250}, {2, 280}, {0, 250}, {3000000000u, 250}};
  for (const auto& c : cases) {
    KEvaluateManager::TheOne()->EvaluationRateDivisor = c.Divisor;
    Paint();
    const std::vector<RecordedCall> rectangles = CallsNamed(CallLog(), "DrawRectangle");
    ASSERT_GE(rectangles.size(), 4u);
    EXPECT_EQ(rectangles[2].Args[2], c.BarEnd) << c.Divisor;
  }
}

TEST_F(PaintTest, NewSizeLaysTheBarOutBeforeDrawing) {
  Show(300, 400);
  Paint();
  Show(500, 200);
  view.ChartHeight = 500;
  view.ScrollValueChanged(1000.0f);
  const std::vector<RecordedCall>& log = Paint();
  EXPECT_EQ(view.GetScrollBar()->GetPosX(), 483);
  EXPECT_EQ(view.GetScrollBar()->GetHeight(), 115);
  // Clamped to 531 - 130 before the chart's top was set.
  EXPECT_EQ(Describe(CallsNamed(log, "glVertex2d")[0]), "glVertex2d 10 -311");
}

TEST_F(PaintTest, NothingIsDrawnWithoutAGraphicContext) {
  view.SetSize(800, 420);
  Paint();
  EXPECT_TRUE(CallLog().empty());
  Show(0, 420);
  Paint();
  EXPECT_TRUE(CallLog().empty());
}

TEST_F(PaintTest, EmptyRootSlotsDoNotStopThePaint) {
  KProfiler::TheOne()->RootCycles[0] = nullptr;
  KProfiler::TheOne()->RootCycles[1] = nullptr;
  KProfiler::TheOne()->RootCycles[6] = nullptr;
  auto second = MakeSampling("Second", {1000});
  KProfiler::TheOne()->RootCycles[2] = second.get();
  for (bool percent : {false, true}) {
    KProfiler::TheOne()->FrameReference = percent;
    Show(800, 420);
    Paint();
    // Only the profiling cost block is left in the header, in white.
    const std::vector<std::string> header = HeaderCalls(800);
    ASSERT_GE(header.size(), 8u);
    const std::vector<std::string> expected = {
        "glRectd 0 0 800 80",
        "glColor3f 1 1 1",
        "Graphic_GetStringSizeVertex -1 154 14 'Profiling Cost: 1.2 ms'",
        "Graphic_DrawStringCenterVertex 370 40 0 0 1 -1 'Profiling Cost: 1.2 ms'",
        "glColor3f 1 1 1",
        "DrawString 370 55 -2.14748e+09 2.14748e+09 -1 '(Min: 1.2, Max: 1.2)'",
        "glColor3ub 68 68 68",
        "glRectd 0 80 800 85"};
    EXPECT_EQ(std::vector<std::string>(header.begin(), header.begin() + 8), expected);
    EXPECT_EQ(CallLog().back().Name, "PopView");
  }
}

// A host call that throws inside a child row ends that paint quietly with
// the expose closed, and the next paint draws every row again: the walk of
// the tree does not keep the interrupted row on its path.
TEST_F(PaintTest, AHostCallThrowingInsideAChildRowLeavesTheNextPaintWhole) {
  KProfiler::TheOne()->EvaluationDepth = 1;
  ThrowingParent parent("Parent");
  auto first = MakeSampling("First child", {500});
  auto second = MakeSampling("Second child", {700});
  parent.Slots = {{true, first.get()}, {true, second.get()}};
  KProfiler::TheOne()->RootCycles[4] = &parent;
  Show(800, 600);
  const auto rows = [&] {
    std::vector<std::string> labels;
    for (const RecordedCall& call : CallsNamed(Paint(), "DrawString")) {
      if (call.Text.find("ms)") != std::string::npos) labels.push_back(call.Text);
    }
    return labels;
  };
  const std::vector<std::string> whole = rows();
  const std::vector<std::string> expected = {"Upper (2.0ms)",        "Devices (16.7ms)",
                                             "Parent (1.0ms)",       "First child (0.5ms)",
                                             "Second child (0.7ms)", "Evaluation (10.0ms)"};
  ASSERT_EQ(whole, expected);

  for (const char* failing : {"HasChild", "GetChild", "DrawString"}) {
    SCOPED_TRACE(failing);
    if (std::string(failing) == "HasChild") parent.ThrowIn = ThrowingParent::Call::HasChild;
    if (std::string(failing) == "GetChild") parent.ThrowIn = ThrowingParent::Call::GetChild;
    if (std::string(failing) == "DrawString") graphic.ThrowAt = "Second child (0.7ms)";
    EXPECT_NO_THROW(Paint());
    EXPECT_EQ(graphic.ViewDepth(), 0) << "the expose is closed";
    EXPECT_EQ(CallLog().back().Name, "PopView");
    EXPECT_EQ(rows(), whole);
  }
}

}  // namespace
}  // namespace kp_test
