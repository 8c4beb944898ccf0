// The chart drawing, checked against the recorded GL and graphic calls.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "common/call_log.h"
#include "common/recording_graphic.h"
#include "display/task_cycle_overlay.h"
#include "display_test_support.h"
#include "standin/kbaselib/profiler.h"

namespace kp_test {
namespace {

class ChartTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearCallLog(); }

  void Draw(int divisor = 1) {
    ClearCallLog();
    overlay.DrawChart(&graphic, divisor);
  }
  std::vector<RecordedCall> Strings() const { return CallsNamed(CallLog(), "DrawString"); }
  std::vector<RecordedCall> Rectangles() const { return CallsNamed(CallLog(), "DrawRectangle"); }
  std::vector<std::string> Labels() const {
    std::vector<std::string> out;
    for (const RecordedCall& call : Strings()) out.push_back(call.Text);
    return out;
  }
  // Fills slots 0 to 11 (7 too, which the chart must not draw) with one
  // sample each, named "s<slot>".
  void FillAllSlots(double sample = 1000.0) {
    for (int slot = 0; slot < 12; ++slot) {
      slots[static_cast<size_t>(slot)] = MakeSampling("s" + std::to_string(slot), {sample});
      KProfiler::TheOne()->RootCycles[slot] = slots[static_cast<size_t>(slot)].get();
    }
  }

  ProfilerScope profiler;
  RecordingGraphic graphic;
  TestOverlay overlay;
  std::unique_ptr<KProfilingSampling> slots[12];
};

TEST_F(ChartTest, ElevenRowChartHasTheWorkedGeometry) {
  FillAllSlots();
  Draw();

  const std::vector<RecordedCall>& log = CallLog();
  // First separator, before anything else.
  ASSERT_GE(log.size(), 5u);
  EXPECT_EQ(Describe(log[0]), "BeginPrimitive 0");
  EXPECT_EQ(Describe(log[1]), "glColor3d 0.8 0.8 0.8");
  EXPECT_EQ(Describe(log[2]), "glVertex2d 10 90");
  EXPECT_EQ(Describe(log[3]), "glVertex2d 570 90");
  EXPECT_EQ(Describe(log[4]), "EndPrimitive");

  // Row tops: two upper rows, then nine lower rows from 130 to 250.
  std::vector<double> barTops;
  std::vector<double> barBottoms;
  const std::vector<RecordedCall> rectangles = Rectangles();
  for (size_t i = 0; i < rectangles.size(); i += 2) {
    barTops.push_back(rectangles[i].Args[1]);
    barBottoms.push_back(rectangles[i].Args[3]);
    EXPECT_EQ(rectangles[i].Args[0], 220.0) << "bars start at the zero line";
  }
  const std::vector<double> expectedTops = {95, 110, 130, 145, 160, 175, 190, 205, 220, 235, 250};
  EXPECT_EQ(barTops, expectedTops);
  ASSERT_EQ(barBottoms.size(), expectedTops.size());
  EXPECT_EQ(barBottoms.back(), 265.0);

  // The separators and the zero line are the only vertices after the first.
  std::vector<std::string> vertices;
  for (const RecordedCall& call : CallsNamed(log, "glVertex2d")) vertices.push_back(Describe(call));
  const std::vector<std::string> expectedVertices = {
      "glVertex2d 10 90",  "glVertex2d 570 90",  "glVertex2d 10 127", "glVertex2d 370 127",
      "glVertex2d 10 267", "glVertex2d 370 267", "glVertex2d 220 90", "glVertex2d 220 272"};
  EXPECT_EQ(vertices, expectedVertices);
  EXPECT_EQ(CallsNamed(log, "BeginPrimitive").size(), 4u);
  EXPECT_EQ(CallsNamed(log, "EndPrimitive").size(), 4u);
  EXPECT_EQ(Describe(log.back()), "EndPrimitive");

  // Block separator between the two blocks: after the second row, before the third.
  const int secondLabel = FindCall(log, "DrawString", FindCall(log, "DrawString") + 1);
  EXPECT_EQ(Describe(log[static_cast<size_t>(secondLabel) + 1]), "BeginPrimitive 0");
  EXPECT_EQ(Describe(log[static_cast<size_t>(secondLabel) + 3]), "glVertex2d 10 127");

  EXPECT_EQ(overlay.GetChartHeight(), 175);
}

TEST_F(ChartTest, RowsComeInTheFixedSlotOrderAndSlotSevenIsNeverDrawn) {
  FillAllSlots();
  Draw();
  std::vector<std::string> names;
  for (const std::string& label : Labels()) names.push_back(label.substr(0, label.find(' ')));
  const std::vector<std::string> expected = {"s1", "s2", "s0",  "s4",  "s5", "s6",
                                             "s8", "s9", "s10", "s11", "s3"};
  EXPECT_EQ(names, expected);
}

TEST_F(ChartTest, PercentModeRowHasTheWorkedBarBandAndLabel) {
  KProfiler::TheOne()->FrameReference = true;
  auto devices = MakeSampling("Devices", {20000});
  auto upper = MakeSampling("Upper", {1000});
  auto cycle = MakeSampling("Deform", {5000, 10000, 15000}, 0.2f, 0.4f, 1.0f);
  KProfiler::TheOne()->RootCycles[0] = devices.get();
  KProfiler::TheOne()->RootCycles[1] = upper.get();
  overlay.SetSelectedCycle(cycle.get());
  Draw();

  // Upper row at 95, separator at 112, the selected row at 115.
  const std::vector<RecordedCall>& log = CallLog();
  int index = -1;
  for (size_t i = 0; i < log.size(); ++i) {
    if (log[i].Name == "DrawString" && log[i].Text.rfind("Deform", 0) == 0) index = int(i);
  }
  ASSERT_GE(index, 5);
  const size_t at = static_cast<size_t>(index);
  const std::vector<std::string> row = Describe(std::vector<RecordedCall>(
      log.begin() + static_cast<long>(at) - 5, log.begin() + static_cast<long>(at) + 1));
  const std::vector<std::string> expected = {
      Describe(RecordedCall{"glColor3f", {double(0.2f), double(0.4f), 1.0}, ""}),
      "DrawRectangle 220 115 270 130",
      Describe(RecordedCall{
          "glColor3f", {double(float(0.2f * 0.5)), double(float(0.4f * 0.5)), 0.5}, ""}),
      "DrawRectangle 245 120 295 125",
      "glColor3f 1 1 1",
      "DrawString 20 122 -2.14748e+09 2.14748e+09 -1 'Deform (50%) [25%,75%]'"};
  EXPECT_EQ(row, expected);
  EXPECT_EQ(log[at].Args[2], double(INT_MIN));
  EXPECT_EQ(log[at].Args[3], double(INT_MAX));
}

TEST_F(ChartTest, PercentModeKeepsSlotOneAsTheUpperReference) {
  KProfiler::TheOne()->FrameReference = true;
  auto devices = MakeSampling("Devices", {40000});
  auto first = MakeSampling("First", {8000});
  auto second = MakeSampling("Second", {2000});
  KProfiler::TheOne()->RootCycles[0] = devices.get();
  KProfiler::TheOne()->RootCycles[1] = first.get();
  KProfiler::TheOne()->RootCycles[2] = second.get();
  Draw();
  const std::vector<std::string> expected = {"First (100%) [100%,100%]", "Second (25%) [25%,25%]",
                                             "Devices (100%) [100%,100%]"};
  EXPECT_EQ(Labels(), expected);
  // Slot 1 against itself: a full-scale bar.
  EXPECT_EQ(Rectangles()[0].Args[2], 320.0);
}

TEST_F(ChartTest, MillisecondModeMeasuresAgainstTheDividedFixedPeriod) {
  auto cycle = MakeSampling("Render", {5000});
  overlay.SetSelectedCycle(cycle.get());
  struct Case {
    int Divisor;
    double BarEnd;
  };
  // 1/60 s undivided gives a 30-pixel bar; divided by 2, 60; a divisor below
  // 1 (0xB2D05E00 read as signed included) leaves the period undivided.
  const Case cases[] = {{1, 250},      {2, 280},  {3, 310},
                        {0, 250},      {-7, 250}, {static_cast<int>(3000000000u), 250},
                        {INT_MIN, 250}};
  for (const Case& c : cases) {
    Draw(c.Divisor);
    const std::vector<RecordedCall> rectangles = Rectangles();
    ASSERT_EQ(rectangles.size(), 2u) << c.Divisor;
    EXPECT_EQ(rectangles[0].Args[2], c.BarEnd) << "divisor " << c.Divisor;
    EXPECT_EQ(Labels().at(0), "Render (5.0ms)") << "the label is the raw average";
  }
}

TEST_F(ChartTest, ZeroAverageTopRowIsDrawnButZeroAverageChildIsPrunedWithItsTree) {
  KProfiler::TheOne()->EvaluationDepth = 1;
  auto parent = MakeSampling("Parent", {0});
  auto idle = MakeSampling("Idle", {0});
  auto below = MakeSampling("BelowIdle", {2000});
  auto busy = MakeSampling("Busy", {3000});
  KProfilingSampling_AddChild(*idle, 1, below.get());
  KProfilingSampling_AddChild(*parent, 1, idle.get());
  KProfilingSampling_AddChild(*parent, 1, busy.get());
  overlay.SetSelectedCycle(parent.get());
  Draw();

  const std::vector<std::string> expected = {"Parent (0.0ms)", "Busy (3.0ms)"};
  EXPECT_EQ(Labels(), expected);
  const std::vector<RecordedCall> strings = Strings();
  EXPECT_EQ(strings[1].Args[0], 23.0) << "child labels move 3 pixels right";
  EXPECT_EQ(strings[0].Args[1], 107.0);
  EXPECT_EQ(strings[1].Args[1], 122.0) << "the pruned child takes no row";
  const std::vector<RecordedCall> rectangles = Rectangles();
  EXPECT_EQ(rectangles[0].Args[0], rectangles[0].Args[2]) << "empty bar for a zero average";
  EXPECT_EQ(overlay.GetChartHeight(), 130 - 90);
}

TEST_F(ChartTest, ChildrenAreDrawnDepthFirstOnlyWhenTheEvaluationDepthIsNonZero) {
  auto root = MakeSampling("A", {4000});
  auto b = MakeSampling("B", {3000});
  auto c = MakeSampling("C", {2000});
  auto d = MakeSampling("D", {1000});
  KProfilingSampling_AddChild(*b, 1, c.get());
  KProfilingSampling_AddChild(*root, 1, b.get());
  KProfilingSampling_AddChild(*root, 1, d.get());
  KProfilingSampling_AddChild(*root, 2, d.get());  // other categories are not shown
  overlay.SetSelectedCycle(root.get());

  Draw();
  EXPECT_EQ(Labels(), std::vector<std::string>{"A (4.0ms)"});

  KProfiler::TheOne()->EvaluationDepth = 7;
  Draw();
  const std::vector<std::string> expected = {"A (4.0ms)", "B (3.0ms)", "C (2.0ms)", "D (1.0ms)"};
  EXPECT_EQ(Labels(), expected);
  std::vector<double> xs;
  for (const RecordedCall& call : Strings()) xs.push_back(call.Args[0]);
  EXPECT_EQ(xs, (std::vector<double>{20, 23, 26, 23}));
  // Children keep the parent's zero line.
  const std::vector<RecordedCall> rectangles = Rectangles();
  for (size_t i = 0; i < rectangles.size(); i += 2) EXPECT_EQ(rectangles[i].Args[0], 220.0);
}

TEST_F(ChartTest, OnlyIndicesWithAChildAreFetchedAndNullChildrenAreSkipped) {
  KProfiler::TheOne()->EvaluationDepth = 1;
  ScriptedSampling root("Root");
  auto first = MakeSampling("First", {1000});
  auto third = MakeSampling("Third", {1000});
  root.Slots = {{true, first.get()}, {false, third.get()}, {true, nullptr}, {true, third.get()}};
  overlay.SetSelectedCycle(&root);
  Draw();

  EXPECT_EQ(root.ChildCountCategories, std::vector<int>{1}) << "the count is taken once";
  EXPECT_EQ(root.HasChildIndices, (std::vector<int>{0, 1, 2, 3}));
  EXPECT_EQ(root.GetChildIndices, (std::vector<int>{0, 2, 3}));
  const std::vector<std::string> expected = {"Root (1.0ms)", "First (1.0ms)", "Third (1.0ms)"};
  EXPECT_EQ(Labels(), expected);
}

TEST_F(ChartTest, NegativeChildCountVisitsNoChild) {
  KProfiler::TheOne()->EvaluationDepth = 1;
  ScriptedSampling negative("Negative");
  negative.Slots = {{true, &negative}};
  negative.OverrideCount = true;
  negative.CountOverride = INT_MIN + 1;
  overlay.SetSelectedCycle(&negative);
  Draw();
  EXPECT_TRUE(negative.HasChildIndices.empty());
  EXPECT_TRUE(negative.GetChildIndices.empty());
  EXPECT_EQ(Labels(), std::vector<std::string>{"Negative (1.0ms)"});
}

TEST_F(ChartTest, SelectedCycleReplacesTheLowerBlockUntilClearedAgain) {
  FillAllSlots();
  KProfiler::TheOne()->EvaluationDepth = 1;
  auto child = MakeSampling("Child", {500});
  KProfilingSampling_AddChild(*slots[10], 1, child.get());
  overlay.SetSelectedCycle(slots[10].get());
  Draw();
  const std::vector<std::string> selected = {"s1 (1.0ms)", "s2 (1.0ms)", "s10 (1.0ms)",
                                             "Child (0.5ms)"};
  EXPECT_EQ(Labels(), selected);
  EXPECT_EQ(overlay.GetChartHeight(), 130 + 30 - 90);

  overlay.SetSelectedCycle(nullptr);
  Draw();
  EXPECT_EQ(Labels().size(), 12u) << "eleven root rows and the child of slot 10";
}

TEST_F(ChartTest, HeightHookRunsWhenTheStoredHeightDiffersFromTheFinalCursor) {
  FillAllSlots();
  // Stored 175 against a final cursor of 265: the hook runs, still seeing 175.
  overlay.ChartHeight = 175;
  Draw();
  EXPECT_EQ(overlay.HookCalls, 1);
  EXPECT_EQ(overlay.HeightSeenByHook, 175);
  EXPECT_EQ(overlay.ChartHeight, 175);

  // The first draw after construction sees the constructor's 200.
  TestOverlay fresh;
  fresh.DrawChart(&graphic, 1);
  EXPECT_EQ(fresh.HookCalls, 1);
  EXPECT_EQ(fresh.HeightSeenByHook, 200);
  EXPECT_EQ(fresh.ChartHeight, 175);

  // Stored height equal to the final cursor itself: no hook, nothing stored.
  overlay.ChartHeight = 265;
  Draw();
  EXPECT_EQ(overlay.HookCalls, 1);
  EXPECT_EQ(overlay.ChartHeight, 265);
}

TEST_F(ChartTest, ChartReadsItsGeometryThroughTheVirtualGetters) {
  class Shifted : public TestOverlay {
   public:
    int GetLeft() override { return 100; }
    int GetTop() override { return 10; }
    int GetRowHeight() override { return 30; }
    int GetBarScale() override { return 50; }
    int Rows = 0;
    void DrawCycle(IKtGraphic* g, int left, int* cursor, int rowHeight, KProfilingSampling* cycle,
                   double reference, int depth) override {
      if (cycle) ++Rows;
      KTaskCycleOverlay::DrawCycle(g, left, cursor, rowHeight, cycle, reference, depth);
    }
  } shifted;
  KProfiler::TheOne()->EvaluationDepth = 1;
  auto root = MakeSampling("Root", {1000});
  auto child = MakeSampling("Child", {1000});
  KProfilingSampling_AddChild(*root, 1, child.get());
  KProfiler::TheOne()->RootCycles[1] = root.get();
  shifted.DrawChart(&graphic, 1);

  EXPECT_EQ(shifted.Rows, 2) << "children are drawn through the virtual DrawCycle";
  const std::vector<RecordedCall> vertices = CallsNamed(CallLog(), "glVertex2d");
  ASSERT_GE(vertices.size(), 2u);
  EXPECT_EQ(Describe(vertices[0]), "glVertex2d 90 10");
  EXPECT_EQ(Describe(vertices[1]), "glVertex2d 375 10");
  const std::vector<RecordedCall> rectangles = Rectangles();
  EXPECT_EQ(Describe(rectangles[0]), "DrawRectangle 200 15 250 45");
  EXPECT_EQ(shifted.ChartHeight, 15 + 60 + 5 - 10);
}

// Hosts that leave root slots 0, 1 or 2 empty, and references of zero.
TEST_F(ChartTest, MissingReferenceCyclesGiveAZeroReferenceWithoutCrashing) {
  auto second = MakeSampling("Second", {1000});
  auto idle = MakeSampling("Idle", {0});
  KProfiler::TheOne()->RootCycles[2] = second.get();
  KProfiler::TheOne()->RootCycles[4] = idle.get();
  KProfiler::TheOne()->FrameReference = true;
  Draw();

  // Against a zero reference every row has zero-length bars and 0 in its
  // percentages, whatever it used.
  const std::vector<std::string> expected = {"Second (0%) [0%,0%]", "Idle (0%) [0%,0%]"};
  EXPECT_EQ(Labels(), expected);
  for (const RecordedCall& rectangle : Rectangles()) {
    EXPECT_EQ(rectangle.Args[0], 220.0);
    EXPECT_EQ(rectangle.Args[2], 220.0);
  }
}

TEST_F(ChartTest, FirstFrameWithoutADevicesSampleDrawsZeroBarsOnlyInTheLowerBlock) {
  // The devices cycle has no sample yet, the others have: the lower block's
  // reference is 0, the upper block's is not.
  auto devices = MakeSampling("Devices", {});
  auto frame = MakeSampling("Frame", {8000});
  auto present = MakeSampling("Present", {2000, 6000});
  auto input = MakeSampling("Input", {500, 1500});
  auto child = MakeSampling("Child", {300});
  auto idleChild = MakeSampling("Idle", {0});
  KProfilingSampling_AddChild(*input, 1, child.get());
  KProfilingSampling_AddChild(*input, 1, idleChild.get());
  KProfiler::TheOne()->RootCycles[0] = devices.get();
  KProfiler::TheOne()->RootCycles[1] = frame.get();
  KProfiler::TheOne()->RootCycles[2] = present.get();
  KProfiler::TheOne()->RootCycles[4] = input.get();
  KProfiler::TheOne()->EvaluationDepth = 1;
  KProfiler::TheOne()->FrameReference = true;
  Draw();

  // Upper rows as always; the lower rows that were drawn before are drawn
  // (the idle child's 0/0 share is not "0 or less"), each with 0.
  const std::vector<std::string> expected = {"Frame (100%) [100%,100%]", "Present (50%) [25%,75%]",
                                             "Devices (0%) [0%,0%]",     "Input (0%) [0%,0%]",
                                             "Child (0%) [0%,0%]",       "Idle (0%) [0%,0%]"};
  EXPECT_EQ(Labels(), expected);
  const std::vector<RecordedCall> rectangles = Rectangles();
  ASSERT_EQ(rectangles.size(), 12u);
  EXPECT_EQ(Describe(rectangles[2]), "DrawRectangle 220 110 270 125") << "Present's bar";
  EXPECT_EQ(Describe(rectangles[3]), "DrawRectangle 245 115 295 120") << "Present's band";
  for (size_t i = 4; i < rectangles.size(); ++i) {
    EXPECT_EQ(rectangles[i].Args[0], 220.0) << Describe(rectangles[i]);
    EXPECT_EQ(rectangles[i].Args[2], 220.0) << Describe(rectangles[i]);
  }

  // Once the devices cycle has a sample, the same rows show their shares.
  KProfilingSampling_AddSample(*devices, 10000);
  Draw();
  EXPECT_EQ(Labels()[3], "Input (10%) [5%,15%]");
  EXPECT_EQ(Rectangles()[6].Args[2], 230.0);
  EXPECT_EQ(Labels().size(), 5u) << "the idle child is left out again";

  // Millisecond mode measures against the fixed period: unchanged.
  KProfilingSampling_Reset(*devices);
  KProfiler::TheOne()->FrameReference = false;
  Draw();
  EXPECT_EQ(Labels()[3], "Input (1.0ms)");
  EXPECT_EQ(Rectangles()[6].Args[2], 226.0);
}

TEST_F(ChartTest, NonFiniteAndHugeSharesConvertByOneDefinedRule) {
  auto cycle = MakeSampling("C", {1000, 3000});
  int cursor = 100;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();

  struct Case {
    double Reference;
    double BarEnd;
  };
  const Case cases[] = {
      {nan, 220},                                     // NaN shares give 0
      {inf, 220},                                     // zero shares
      {-inf, 220},                                    // -0 shares
      {1e-300, double(static_cast<float>(INT_MAX))},  // huge shares clamp
      {-1e-300, double(static_cast<float>(220.0 + INT_MIN))},
      {4000, 270},  // finite values keep their exact result
  };
  for (const Case& c : cases) {
    ClearCallLog();
    overlay.DrawCycle(&graphic, 20, &cursor, 15, cycle.get(), c.Reference, 0);
    ASSERT_EQ(Rectangles().size(), 2u);
    EXPECT_EQ(Rectangles()[0].Args[2], c.BarEnd) << "reference " << c.Reference;
  }
  EXPECT_EQ(cursor, 100 + 6 * 15);

  // A NaN share of a child is not "0 or less": the row is drawn.
  KProfiler::TheOne()->FrameReference = true;
  auto idle = MakeSampling("Idle", {0});
  ClearCallLog();
  overlay.DrawCycle(&graphic, 20, &cursor, 15, idle.get(), 0.0, 3);
  EXPECT_EQ(Labels(), std::vector<std::string>{"Idle (0%) [0%,0%]"});
}

TEST_F(ChartTest, ExtremeGeometrySaturatesInsteadOfOverflowing) {
  auto cycle = MakeSampling("C", {1000});
  overlay.SetLeft(INT_MAX);
  overlay.SetBarScale(INT_MAX);
  overlay.SetRowHeight(INT_MAX);
  overlay.SetTop(INT_MAX - 3);
  KProfiler::TheOne()->RootCycles[1] = cycle.get();
  KProfiler::TheOne()->RootCycles[2] = cycle.get();
  KProfiler::TheOne()->RootCycles[0] = cycle.get();
  Draw();
  for (const RecordedCall& call : Rectangles()) {
    for (double value : call.Args) EXPECT_LE(value, double(static_cast<float>(INT_MAX)));
  }
  EXPECT_EQ(overlay.ChartHeight, 3);

  // A direct call with an extreme depth and a minimal left edge.
  int cursor = INT_MIN;
  KProfiler::TheOne()->EvaluationDepth = 1;
  ClearCallLog();
  overlay.DrawCycle(&graphic, INT_MIN, &cursor, INT_MIN, cycle.get(), 1000.0, INT_MAX);
  ASSERT_EQ(Strings().size(), 1u);
  EXPECT_EQ(cursor, INT_MIN);

  overlay.SetLeft(INT_MIN);
  overlay.SetTop(INT_MIN);
  overlay.SetBarScale(INT_MIN);
  Draw();
  EXPECT_EQ(Describe(CallsNamed(CallLog(), "glVertex2d")[0]).rfind("glVertex2d -2.14748e+09", 0),
            0u);
}

TEST_F(ChartTest, LongLabelsAreCutToTheBuffer) {
  const std::string longName(300, 'n');
  auto cycle = MakeSampling(longName, {1000});
  overlay.SetSelectedCycle(cycle.get());
  Draw();
  const std::string label = Labels().at(0);
  EXPECT_EQ(label, std::string(199, 'n'));

  // A cut never leaves half of a multi-byte character behind.
  const std::string accented = std::string(198, 'a') + "\xC3\xA9" + "tail";
  auto second = MakeSampling(accented, {1000});
  overlay.SetSelectedCycle(second.get());
  Draw();
  EXPECT_EQ(Labels().at(0), std::string(198, 'a'));

  const std::string fits = std::string(197, 'a') + "\xC3\xA9" + "tail";
  auto third = MakeSampling(fits, {1000});
  overlay.SetSelectedCycle(third.get());
  Draw();
  EXPECT_EQ(Labels().at(0), std::string(197, 'a') + "\xC3\xA9");

  // A name that fits is drawn whole with its numbers.
  auto fourth = MakeSampling(std::string(180, 'b'), {1000});
  overlay.SetSelectedCycle(fourth.get());
  Draw();
  EXPECT_EQ(Labels().at(0), std::string(180, 'b') + " (1.0ms)");
}

TEST_F(ChartTest, DeepAndCyclicTreesStopAtTheDepthBound) {
  KProfiler::TheOne()->EvaluationDepth = 1;
  // An ordinary deep tree is drawn in full.
  std::vector<std::unique_ptr<KProfilingSampling>> chain;
  for (int i = 0; i < 60; ++i) chain.push_back(MakeSampling("L" + std::to_string(i), {100}));
  for (size_t i = 0; i + 1 < chain.size(); ++i)
    KProfilingSampling_AddChild(*chain[i], 1, chain[i + 1].get());
  overlay.SetSelectedCycle(chain[0].get());
  Draw();
  EXPECT_EQ(Strings().size(), 60u);

  // A chain of distinct cycles far deeper than the stack would bear: rows
  // down to the bound, then it stops.
  std::vector<std::unique_ptr<ScriptedSampling>> deep;
  for (int i = 0; i < 20000; ++i) deep.push_back(std::make_unique<ScriptedSampling>("D"));
  for (size_t i = 0; i + 1 < deep.size(); ++i) deep[i]->Slots = {{true, deep[i + 1].get()}};
  overlay.SetSelectedCycle(deep[0].get());
  Draw();
  const std::vector<RecordedCall> strings = Strings();
  EXPECT_EQ(strings.size(), size_t(KTaskCycleOverlay::kMaxChildDepth) + 1);
  EXPECT_EQ(strings.back().Args[0], 20.0 + 3 * KTaskCycleOverlay::kMaxChildDepth);
}

TEST_F(ChartTest, ACycleIsDrawnOncePerPathFromItsTopLevelRow) {
  KProfiler::TheOne()->EvaluationDepth = 1;
  // Itself as a child, twice: one row (it used to be 2^257 of them).
  ScriptedSampling loop("Loop");
  loop.Slots = {{true, &loop}, {true, &loop}};
  // A and B list each other, and B lists C, which lists A again.
  ScriptedSampling a("A"), b("B"), c("C");
  a.Slots = {{true, &b}, {true, &b}};
  b.Slots = {{true, &a}, {true, &c}, {true, &b}};
  c.Slots = {{true, &a}, {true, &b}, {false, &c}, {true, nullptr}};
  KProfiler::TheOne()->RootCycles[4] = &loop;
  KProfiler::TheOne()->RootCycles[5] = &a;
  KProfiler::TheOne()->RootCycles[6] = &c;
  Draw();
  std::vector<std::string> rows;
  for (const RecordedCall& call : Strings()) {
    rows.push_back(std::string(static_cast<size_t>((call.Args[0] - 20) / 3), '.') +
                   call.Text.substr(0, call.Text.find(' ')));
  }
  const std::vector<std::string> expected = {"Loop", "A",  ".B",  "..C", ".B", "..C",
                                             "C",    ".A", "..B", "..B", ".B", "..A"};
  EXPECT_EQ(rows, expected);
  // The next draw starts with an empty path: the same rows again.
  Draw();
  EXPECT_EQ(Strings().size(), expected.size());

  // The same cycle under two parents is not a cycle: both paths draw it.
  auto shared = MakeSampling("Shared", {10});
  auto left = MakeSampling("Left", {10});
  auto right = MakeSampling("Right", {10});
  auto top = MakeSampling("Top", {10});
  KProfilingSampling_AddChild(*left, 1, shared.get());
  KProfilingSampling_AddChild(*right, 1, shared.get());
  KProfilingSampling_AddChild(*top, 1, left.get());
  KProfilingSampling_AddChild(*top, 1, right.get());
  overlay.SetSelectedCycle(top.get());
  Draw();
  EXPECT_EQ(Strings().size(), 5u);
}

TEST_F(ChartTest, ChildListsThatJoinAgainStopAtTheRowBudget) {
  // Twenty levels, each listing the next level's cycle twice: a million
  // paths without a repeated cycle. The rows stop at the budget.
  KProfiler::TheOne()->EvaluationDepth = 1;
  std::vector<std::unique_ptr<ScriptedSampling>> levels;
  for (int i = 0; i < 20; ++i) levels.push_back(std::make_unique<ScriptedSampling>("J"));
  for (size_t i = 0; i + 1 < levels.size(); ++i) {
    levels[i]->Slots = {{true, levels[i + 1].get()}, {true, levels[i + 1].get()}};
  }
  KProfiler::TheOne()->RootCycles[4] = levels[0].get();
  KProfiler::TheOne()->RootCycles[5] = levels[18].get();
  Draw();
  EXPECT_EQ(Strings().size(), size_t(KTaskCycleOverlay::kMaxRowsPerTopLevelRow) + 3u)
      << "the budget, then level 18 with its two children";
  EXPECT_EQ(overlay.ChartHeight, 5 + 5 + 15 * (KTaskCycleOverlay::kMaxRowsPerTopLevelRow + 3));
}

}  // namespace
}  // namespace kp_test
