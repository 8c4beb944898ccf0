#include "khost/frame/profiler_feed.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "standin/kbaselib/profiler.h"

namespace {

using namespace khost;

class KhostProfilerFeed : public ::testing::Test {
 protected:
  void SetUp() override {
    KProfiler* p = KProfiler::TheOne();
    int on = 1;
    p->ProfilingType.SetFromPointer(&on, 0, 0);
    p->EvaluationDepth = 0;
    p->FrameReference = true;
    feed.SetCharacterCount(2);
    feed.Install();
  }
  void TearDown() override {
    feed.Uninstall();
    KProfiler* p = KProfiler::TheOne();
    int on = 1;
    p->ProfilingType.SetFromPointer(&on, 0, 0);
    p->EvaluationDepth = 0;
  }

  static CycleTiming Timing(double micros, double cpu) {
    CycleTiming t;
    t.Micros = micros;
    t.CpuMicros = cpu;
    return t;
  }

  // One frame where every cycle and child takes a distinct, non-zero time.
  void PublishFrame(double culling = 5.0) {
    MeasuredFrame frame;
    for (int c = 0; c < kLoopCycleCount; ++c) frame.Loops[c] = Timing(100.0 + c, 50.0 + c);
    frame.Loops[kLoopDevices] = Timing(16000.0, 20000.0);
    frame.Loops[kLoopFrame] = Timing(8000.0, 7000.0);
    for (int s = 0; s < kStageCount; ++s) timings.Stages[s] = {{}, 105.0 + s, 55.0 + s, 0};
    timings.Stages[kStageCulling] = {{}, culling, culling, 0};
    timings.Stages[kStageSubmission] = {{}, 7.0, 6.0, 0};
    timings.Characters = {{{30, 10, 20}, {}, 0}, {{40, 15, 25}, {}, 0}};
    frame.Stages = timings.Stages;
    frame.Characters = timings.Characters;
    feed.Publish(frame);
  }

  static std::vector<std::string> Names(const std::vector<ChartRow>& rows) {
    std::vector<std::string> names;
    for (const ChartRow& r : rows) names.push_back(r.Name + "/" + std::to_string(r.Depth));
    return names;
  }

  ProfilerFeed feed;
  FrameTimings timings;
};

TEST_F(KhostProfilerFeed, RootTableHoldsElevenNamedCyclesAndLeavesSlot7Empty) {
  KProfiler* p = KProfiler::TheOne();
  for (int slot = 0; slot < KProfiler::kRootCycleCount; ++slot) {
    if (slot == 7) {
      EXPECT_EQ(p->RootCycles[slot], nullptr);
      continue;
    }
    ASSERT_NE(p->RootCycles[slot], nullptr) << slot;
    EXPECT_STRNE(p->RootCycles[slot]->GetName(), "") << slot;
  }
  EXPECT_STREQ(p->RootCycles[0]->GetName(), "Devices");
  EXPECT_STREQ(p->RootCycles[6]->GetName(), "Evaluation");
  EXPECT_STREQ(p->RootCycles[10]->GetName(), "Rendering");
}

TEST_F(KhostProfilerFeed, CycleColoursAreDistinctAndNotTheChartGreys) {
  KProfiler* p = KProfiler::TheOne();
  std::vector<const float*> colours;
  for (int slot = 0; slot < KProfiler::kRootCycleCount; ++slot) {
    if (p->RootCycles[slot]) colours.push_back(p->RootCycles[slot]->GetColor());
  }
  for (std::size_t i = 0; i < colours.size(); ++i) {
    const float* a = colours[i];
    // Not a grey: the chart's background and lines are greys.
    EXPECT_GT(std::max({a[0], a[1], a[2]}) - std::min({a[0], a[1], a[2]}), 0.2f) << i;
    for (std::size_t j = i + 1; j < colours.size(); ++j) {
      const float* b = colours[j];
      const float d = std::abs(a[0] - b[0]) + std::abs(a[1] - b[1]) + std::abs(a[2] - b[2]);
      EXPECT_GT(d, 0.15f) << i << " vs " << j;
    }
  }
}

TEST_F(KhostProfilerFeed, FullChartRowsComeInTheChartsOrder) {
  PublishFrame();
  const std::vector<std::string> expected = {
      "Frame/0",       "Present/0", "Devices/0",   "Input/0",      "Animation/0",   "Evaluation/0",
      "Deformation/0", "Upload/0",  "Rendering/0", "Tool Paint/0", "Scene Update/0"};
  EXPECT_EQ(Names(feed.ChartRows(-1)), expected);
}

TEST_F(KhostProfilerFeed, EvaluationDepthAddsTheWholeTree) {
  PublishFrame();
  KProfiler::TheOne()->EvaluationDepth = 1;
  const std::vector<std::string> expected = {"Evaluation/0",  "Character 1/1", "Skeleton/2",
                                             "Constraints/2", "Character 2/1", "Skeleton/2",
                                             "Constraints/2"};
  std::vector<std::string> names = Names(feed.ChartRows(kSlotEvaluation));
  names.erase(names.begin(), names.begin() + 2);  // the upper block
  EXPECT_EQ(names, expected);
}

TEST_F(KhostProfilerFeed, SelectedCycleReplacesTheLowerBlockAndChildrenWithoutShareAreLeftOut) {
  for (int s = 0; s < KProfiler::kRootCycleCount; ++s) {
    if (KProfilingSampling* c = KProfiler::TheOne()->RootCycles[s]) KProfilingSampling_Reset(*c);
  }
  PublishFrame(0.0);  // culling took no time
  KProfiler::TheOne()->EvaluationDepth = 3;
  const std::vector<std::string> expected = {"Frame/0", "Present/0", "Rendering/0", "Submission/1"};
  EXPECT_EQ(Names(feed.ChartRows(DisplayedSlot(2))), expected);
  const std::vector<ChartRow> rows = feed.ChartRows(kSlotRendering);
  EXPECT_DOUBLE_EQ(rows[3].Average, 7.0);
  // Beside each row its CPU time over the same window.
  EXPECT_DOUBLE_EQ(rows[3].AverageCpu, 6.0);
  EXPECT_DOUBLE_EQ(rows[2].AverageCpu, 6.0);
  EXPECT_DOUBLE_EQ(rows[0].AverageCpu, 7000.0);
  // The selector's other items, and an index it does not offer.
  EXPECT_EQ(DisplayedSlot(1), kSlotEvaluation);
  EXPECT_EQ(DisplayedSlot(3), kSlotDevices);
  EXPECT_EQ(DisplayedSlot(0), -1);
  EXPECT_EQ(DisplayedSlot(4), -1);
}

TEST_F(KhostProfilerFeed, ProfilingOffKeepsTheRowsAsTheyWereWhenItStopped) {
  PublishFrame(5.0);
  const std::vector<ChartRow> before = feed.ChartRows(-1);
  int off = 0;
  KProfiler::TheOne()->ProfilingType.SetFromPointer(&off, 0, 0);
  // Frames published while off change nothing: the rows stand still.
  PublishFrame(500.0);
  const std::vector<ChartRow> after = feed.ChartRows(-1);
  ASSERT_FALSE(before.empty());
  ASSERT_EQ(Names(after), Names(before));
  for (std::size_t i = 0; i < before.size(); ++i) {
    EXPECT_EQ(after[i].Average, before[i].Average) << before[i].Name;
    EXPECT_EQ(after[i].Maximum, before[i].Maximum) << before[i].Name;
    EXPECT_GT(after[i].Average, 0.0) << before[i].Name;
  }
}

TEST_F(KhostProfilerFeed, PublishingIsChargedToTheProfilingCost) {
  KProfiler* p = KProfiler::TheOne();
  const int before = KProfilingSampling_GetSampleCount(p->ProfilingCost);
  PublishFrame();
  EXPECT_EQ(KProfilingSampling_GetSampleCount(p->ProfilingCost),
            std::min(before + 1, KProfilingSampling_GetBufferSize(p->ProfilingCost)));
}

TEST_F(KhostProfilerFeed, RebuildingCharactersReplacesTheChildren) {
  feed.SetCharacterCount(5);
  KProfilingSampling* evaluation = feed.GetSlot(kSlotEvaluation);
  EXPECT_EQ(evaluation->GetChildCount(1), 5);
  EXPECT_STREQ(evaluation->GetChild(1, 4)->GetName(), "Character 5");
  EXPECT_EQ(evaluation->GetChild(1, 0)->GetChildCount(1), 2);
  feed.SetCharacterCount(1);
  EXPECT_EQ(evaluation->GetChildCount(1), 1);
}

TEST(KhostChartCsv, HeaderThenOneQuotedLinePerRow) {
  std::ostringstream out;
  // A row without CPU time (a character's cycle) has an empty CPU field;
  // the run's percentiles follow the window's columns.
  WriteChartRowsCsv({{"Frame", 0, 1.5, 1.0, 2.0, 1.25, {120, 1.25, 1.75, 1.9, 2.0}},
                     {"A, \"b\"", 2, 0.25, 0.0, 0.5, 0.0, {}},
                     {"Skeleton", 2, 0.25, 0.0, 0.5, -1.0, {3, 0.25, 0.5, 0.5, 0.5}}},
                    out);
  EXPECT_EQ(out.str(),
            "name,depth,average_us,minimum_us,maximum_us,average_cpu_us,frames,median_us,p95_us,"
            "p99_us,p999_us\n"
            "Frame,0,1.500,1.000,2.000,1.250,120,1.250,1.750,1.900,2.000\n"
            "\"A, \"\"b\"\"\",2,0.250,0.000,0.500,0.000,0,0.000,0.000,0.000,0.000\n"
            "Skeleton,2,0.250,0.000,0.500,,3,0.250,0.500,0.500,0.500\n");
}

}  // namespace
