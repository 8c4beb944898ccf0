// The statistics' rows against the rows the module's chart draws: the built
// module loaded as khost loads it, driven through its window's input as
// --select and --set drive it, painted into a recording graphic context.
#include "khost/frame/chart_rows.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/call_log.h"
#include "common/recording_graphic.h"
#include "khost/input/ui_driver.h"
#include "khost/frame/profiler_feed.h"
#include "khost/setup/module_bridge.h"
#include "standin/kbaselib/profiler.h"
#include "standin/ktoolkit/viewhost.h"

namespace {

using namespace khost;

// A cycle whose children are scripted: the same child under several
// parents, a child that is an ancestor, chains of any depth. The
// profiler's own tree refuses such lists; a host's could hold them.
class ScriptedCycle : public KProfilingSampling {
 public:
  explicit ScriptedCycle(const std::string& name) : KProfilingSampling(name.c_str(), 1, 1, 1) {
    KProfilingSampling_AddSample(*this, 1234.5);
  }
  int GetChildCount(int category) override {
    return category == 1 ? static_cast<int>(Children.size()) : 0;
  }
  KProfilingSampling* GetChild(int category, int index) override {
    return category == 1 ? Children[static_cast<std::size_t>(index)] : nullptr;
  }
  bool HasChild(int category, int index) override {
    return category == 1 && index >= 0 && index < static_cast<int>(Children.size());
  }
  std::vector<KProfilingSampling*> Children;
};

class KhostChartRows : public ::testing::Test {
 protected:
  void SetUp() override {
    KProfiler* profiler = KProfiler::TheOne();
    profiler->ProfilingType = 1;
    profiler->FrameReference = false;  // labels in milliseconds: the averages show
    profiler->EvaluationDepth = 0;
    feed.SetCharacterCount(3);
    feed.Install();
    for (int frame = 0; frame < 4; ++frame) Publish(frame);

    ASSERT_TRUE(module.Open(KHOST_MODULE)) << KHOST_MODULE;
    const int width = module.Sizes().StartWidth;
    const int height = module.Sizes().StartHeight;
    host = std::make_unique<KtViewHost>(&graphic);
    host->SetRoot(&module.View(), width, height);
    driver = std::make_unique<UiDriver>(module.Layout(), *host, width, height, [this] { Paint(); });
    Paint();
  }
  void TearDown() override {
    driver.reset();
    if (host) host->SetRoot(nullptr, 0, 0);
    host.reset();
    module.DestroyTool();
    module.Unload();
    feed.Uninstall();
    KProfiler::TheOne()->EvaluationDepth = 0;
    KProfiler::TheOne()->FrameReference = true;
    kp_test::ClearCallLog();
  }

  // A frame whose cycles take distinct times; culling takes none, so the
  // chart leaves it out.
  void Publish(int frame) {
    MeasuredFrame f;
    for (int c = 0; c < kLoopCycleCount; ++c) {
      f.Loops[c].Micros = 1000.0 * (c + 1) + 37.1 * frame;
      f.Loops[c].CpuMicros = 900.0 * (c + 1);
    }
    for (int s = 0; s < kStageCount; ++s) {
      timings.Stages[s] = {{}, 321.7 * (s + 1) + 11.3 * frame, 300.0, 0};
    }
    timings.Stages[kStageCulling].Micros = 0.0;
    timings.Characters.assign(3, {{613.3 + frame, 211.1, 402.2}, {}, 0});
    timings.Characters[1].Micros[kCharacterSkeleton] = 0.0;  // a part without share
    f.Stages = timings.Stages;
    f.Characters = timings.Characters;
    feed.Publish(f);
  }

  void Paint() {
    module.RefreshLayout();
    host->Expose();
  }

  // The chart's rows as painted: "depth label", the depth from the label's
  // indent (3 pixels a level).
  std::vector<std::string> DrawnRows() {
    kp_test::ClearCallLog();
    Paint();
    std::vector<const kp_test::RecordedCall*> labels;
    double left = 1e30;
    // The chart's labels: unclipped in the default font, each after its
    // row's bar and band.
    std::string before;
    for (const kp_test::RecordedCall& call : kp_test::CallLog()) {
      if (call.Name.rfind("glColor", 0) == 0) continue;
      if (call.Name == "DrawString" && before == "DrawRectangle" && call.Args[2] == INT_MIN &&
          call.Args[3] == INT_MAX && call.Args[4] == -1) {
        labels.push_back(&call);
        left = std::min(left, call.Args[0]);
      }
      before = call.Name;
    }
    std::vector<std::string> rows;
    for (const kp_test::RecordedCall* label : labels) {
      rows.push_back(std::to_string(static_cast<int>((label->Args[0] - left) / 3)) + " " +
                     label->Text);
    }
    return rows;
  }

  // The rows --stats writes for what the display selector shows, read
  // back from the CSV as the chart labels them.
  std::vector<std::string> StatisticsRows() {
    std::ostringstream csv;
    WriteChartRowsCsv(feed.ChartRows(DisplayedSlot(driver->FindFirstList())), csv);
    std::istringstream in(csv.str());
    std::vector<std::string> rows;
    std::string line;
    std::getline(in, line);  // the header
    while (std::getline(in, line)) {
      char name[200];
      int depth = 0;
      double average = 0.0;
      EXPECT_EQ(std::sscanf(line.c_str(), "%199[^,],%d,%lf", name, &depth, &average), 3) << line;
      char label[260];
      std::snprintf(label, sizeof label, "%s (%.1fms)", name, average / 1000.0);
      rows.push_back(std::to_string(depth) + " " + label);
    }
    return rows;
  }

  void Run(UiAction::Kind kind, const std::string& caption, const std::string& value = "") {
    const Status result = driver->Run({kind, caption, value});
    ASSERT_TRUE(result.Ok()) << caption << ": " << result.GetError().Message;
  }

  ProfilerFeed feed;
  FrameTimings timings;
  ModuleBridge module;
  kp_test::RecordingGraphic graphic;
  std::unique_ptr<KtViewHost> host;
  std::unique_ptr<UiDriver> driver;
};

TEST_F(KhostChartRows, StatisticsListTheRowsTheChartDrawsForEverySelection) {
  const KtList* selector = driver->FindFirstList();
  ASSERT_NE(selector, nullptr);
  ASSERT_EQ(selector->GetItemCount(), 4);
  for (const char* depth : {"0", "1"}) {
    Run(UiAction::kSet, "Evaluation Depth", depth);
    for (int item = 0; item < selector->GetItemCount(); ++item) {
      Run(UiAction::kSelect, selector->GetItem(item));
      const std::vector<std::string> drawn = DrawnRows();
      EXPECT_GE(drawn.size(), 3u) << selector->GetItem(item);
      EXPECT_EQ(StatisticsRows(), drawn)
          << "Evaluation Depth " << depth << ", " << selector->GetItem(item);
    }
  }
}

// Child lists no tree of the profiler's own holds: a cycle whose children
// are its ancestors, chains past the depth bound, and children shared
// level after level past the row budget. The statistics stop where the
// chart stops.
TEST_F(KhostChartRows, StatisticsStopWhereTheChartStops) {
  std::vector<std::unique_ptr<ScriptedCycle>> cycles;
  const auto make = [&](const std::string& name) {
    cycles.push_back(std::make_unique<ScriptedCycle>(name));
    return cycles.back().get();
  };
  // Shared children: every level lists the next one twice, and the last
  // level lists the top again.
  ScriptedCycle* shared = make("Shared");
  ScriptedCycle* level = shared;
  for (int i = 0; i < 20; ++i) {
    ScriptedCycle* next = make("Level " + std::to_string(i));
    level->Children = {next, next};
    level = next;
  }
  level->Children = {shared, level};
  // A chain deeper than the depth bound.
  ScriptedCycle* deep = make("Deep");
  level = deep;
  for (int i = 0; i < kChartMaxChildDepth + 20; ++i) {
    ScriptedCycle* next = make("Link " + std::to_string(i));
    level->Children = {next};
    level = next;
  }
  KProfiler_SetRootCycle(*KProfiler::TheOne(), kSlotAnimation, shared);
  KProfiler_SetRootCycle(*KProfiler::TheOne(), kSlotUpload, deep);
  Run(UiAction::kSet, "Evaluation Depth", "1");
  Run(UiAction::kSelect, "DisplayAll");
  const std::vector<std::string> drawn = DrawnRows();
  const std::vector<std::string> statistics = StatisticsRows();
  EXPECT_GT(drawn.size(), static_cast<std::size_t>(kChartMaxRowsPerTopLevelRow));
  EXPECT_LT(drawn.size(), static_cast<std::size_t>(kChartMaxRowsPerTopLevelRow + 400));
  ASSERT_EQ(statistics.size(), drawn.size());
  EXPECT_TRUE(statistics == drawn);
  feed.Install();
}

}  // namespace
