// The panel as a user meets it inside the tool window: each editor edits
// exactly its host setting when clicked and typed into, the display selector
// chooses what the chart draws, the reset button resets, and the layout event
// repaints the drawing view.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>

#include "module/module_test_support.h"
#include "settings/tool_optimization_layout.h"
#include "standin/kbaselib/profiler.h"
#include "standin/ktoolkit/view_tree.h"
#include "standin/ktoolkit/viewhost.h"
#include "tool/profiling_tool.h"

namespace {

using kptest::FakeGraphic;
using kptest::HostSettings;
using kptest::SnapshotHostSettings;

// A tool window shown in a view host with a fake graphic context, and a root
// cycle in every slot the chart and header use ("Slot00" to "Slot11").
class PanelInWindow : public testing::Test {
 protected:
  void SetUp() override {
    for (int slot = 0; slot < KProfiler::kRootCycleCount; ++slot) {
      if (slot == 7) continue;  // not used by the chart
      char name[16];
      std::snprintf(name, sizeof name, "Slot%02d", slot);
      cycles[slot] = std::make_unique<KProfilingSampling>(name, 0.5f, 0.5f, 0.5f);
      KProfilingSampling_AddSample(*cycles[slot], 1000.0 + 100.0 * slot);
      KProfiler_SetRootCycle(*KProfiler::TheOne(), slot, cycles[slot].get());
    }
    kptest::SetDistinctHostSettings();
    KProfiler::TheOne()->ProfilingType = 1;  // the chart is drawn
    window = new KtProfiling();
    panel = window->OptimizationLayout;
    host = std::make_unique<KtViewHost>(&graphic);
    host->SetRoot(static_cast<IKtView*>(window), 800, 420);
    Expose();
  }

  void TearDown() override {
    host->SetRoot(nullptr, 0, 0);
    host.reset();
    window->Destroy(0);
    for (int slot = 0; slot < KProfiler::kRootCycleCount; ++slot)
      KProfiler_SetRootCycle(*KProfiler::TheOne(), slot, nullptr);
  }

  void Expose() {
    graphic.Texts.clear();
    host->Expose();
  }

  void Click(int x, int y) {
    host->Input(kInputMouseDown, x, y, 0, 0);
    host->Input(kInputMouseUp, x, y, 0, 0);
    Expose();
  }

  // Which root cycles the last paint charted (by their labels).
  std::set<int> ChartedSlots() const {
    std::set<int> slots;
    for (const FakeGraphic::Text& text : graphic.Texts) {
      int slot = -1;
      if (std::sscanf(text.Value.c_str(), "Slot%2d", &slot) == 1) slots.insert(slot);
    }
    return slots;
  }

  std::set<int> SelectAndChart(int index) {
    panel->DisplayList.SelectedIndex = index;
    EXPECT_EQ(panel->DisplayList.SelectedIndex.Get(), index);
    Expose();
    return ChartedSlots();
  }

  FakeGraphic graphic;
  std::unique_ptr<KProfilingSampling> cycles[KProfiler::kRootCycleCount];
  KtProfiling* window = nullptr;
  ToolOptimizationLayout* panel = nullptr;
  std::unique_ptr<KtViewHost> host;
};

TEST_F(PanelInWindow, EachEditorEditsExactlyItsHostSetting) {
  struct Row {
    KtProperty* Editor;
    int Setting;  // index into HostSettings()
    int PanelLeft;
    int PanelTop;
  };
  const Row rows[] = {
      {&panel->FrustumCullingEditor, 0, 16, 16},
      {&panel->ParallelPipelineEditor, 1, 16, 66},
      {&panel->ParallelEvaluationEditor, 2, 16, 86},
      {&panel->ParallelDeformationEditor, 3, 16, 106},
      {&panel->GPUSkinningEditor, 4, 16, 126},
      {&panel->NodeCountEditor, 5, 16, 146},
      {&panel->ProfilingModeEditor, 6, 16, 211},
      {&panel->EvaluationDepthEditor, 7, 16, 231},
      {&panel->BufferSizeEditor, 8, 16, 251},
      {&panel->FrameReferenceEditor, 9, 16, 271},
  };
  const std::vector<kptest::HostSetting> settings = HostSettings();
  std::set<KProperty*> bound;
  for (const Row& row : rows) {
    KProperty* property = settings[row.Setting].Property;
    SCOPED_TRACE(settings[row.Setting].Name);
    EXPECT_EQ(row.Editor->GetEditedProperty(), property);
    bound.insert(row.Editor->GetEditedProperty());

    // The editor sits where its region puts it inside the window's
    // "Adaptable" area (6, 37).
    int x = 0, y = 0, w = 0, h = 0;
    ASSERT_TRUE(KtView_GetWindowRect(*row.Editor, x, y, w, h));
    EXPECT_EQ(x, 6 + row.PanelLeft);
    EXPECT_EQ(y, 37 + row.PanelTop);
    EXPECT_EQ(w, 179);
    EXPECT_EQ(h, 15);

    const std::vector<int> before = SnapshotHostSettings();
    std::vector<int> expected = before;
    const int valueX = x + 90;  // the value column starts after the caption
    const int midY = y + h / 2;
    if (property->GetType() == kPropertyBool) {
      Click(valueX + 5, midY);
      expected[row.Setting] = before[row.Setting] ? 0 : 1;
    } else if (property->GetNamedValueCount() > 0) {
      // Open the drop-down, then pick the other of the two named values from
      // its rows below the editor.
      Click(valueX + 20, midY);
      const int pick = before[row.Setting] == 0 ? 1 : 0;
      const int rowHeight = h > 16 ? h : 16;
      Click(valueX + 20, y + h + pick * rowHeight + rowHeight / 2);
      expected[row.Setting] = pick;
    } else {
      // Type a number into the field between the step buttons, then step up.
      Click(valueX + 40, midY);
      host->Input(kInputKeyChar, valueX + 40, midY, '7', 0);
      host->Input(kInputKeyDown, valueX + 40, midY, kKeyEnter, 0);
      Expose();
      EXPECT_EQ(property->GetAsInt(), 7);
      Click(x + w - 3, midY);  // "+"
      expected[row.Setting] = 8;
    }
    EXPECT_EQ(SnapshotHostSettings(), expected);
  }
  EXPECT_EQ(bound.size(), 10u);  // no two editors share a setting
}

TEST_F(PanelInWindow, DisplaySelectorChoosesTheChartedCycle) {
  const std::set<int> full = {0, 1, 2, 3, 4, 5, 6, 8, 9, 10, 11};
  EXPECT_EQ(ChartedSlots(), full);  // a new panel charts everything

  EXPECT_EQ(SelectAndChart(1), (std::set<int>{1, 2, 6}));   // Evaluation
  EXPECT_EQ(SelectAndChart(2), (std::set<int>{1, 2, 10}));  // Rendering
  EXPECT_EQ(SelectAndChart(3), (std::set<int>{0, 1, 2}));   // Devices
  EXPECT_EQ(SelectAndChart(0), full);                       // DisplayAll
  EXPECT_EQ(SelectAndChart(2), (std::set<int>{1, 2, 10}));
  EXPECT_EQ(SelectAndChart(4), full);  // beyond the items
  EXPECT_EQ(SelectAndChart(3), (std::set<int>{0, 1, 2}));
  EXPECT_EQ(SelectAndChart(-1), full);

  // The slot is read when the selection changes: an empty one charts all.
  KProfiler_SetRootCycle(*KProfiler::TheOne(), 10, nullptr);
  std::set<int> withoutRendering = full;
  withoutRendering.erase(10);
  EXPECT_EQ(SelectAndChart(2), withoutRendering);
  KProfiler_SetRootCycle(*KProfiler::TheOne(), 10, cycles[10].get());
  EXPECT_EQ(SelectAndChart(1), (std::set<int>{1, 2, 6}));
}

TEST_F(PanelInWindow, DisplaySelectorByClicking) {
  int x = 0, y = 0, w = 0, h = 0;
  ASSERT_TRUE(KtView_GetWindowRect(panel->DisplayList, x, y, w, h));
  EXPECT_EQ(x, 6 + 106);
  EXPECT_EQ(y, 37 + 191);
  Click(x + w / 2, y + h / 2);
  ASSERT_TRUE(panel->DisplayList.IsOpen());
  const int rowHeight = h > 16 ? h : 16;
  Click(x + w / 2, y + h + 2 * rowHeight + rowHeight / 2);  // "Rendering"
  EXPECT_EQ(panel->DisplayList.SelectedIndex.Get(), 2);
  Expose();
  EXPECT_EQ(ChartedSlots(), (std::set<int>{1, 2, 10}));
}

TEST_F(PanelInWindow, ResetButtonByClicking) {
  kptest::ConfigFolder config;  // no files: the defaults
  int x = 0, y = 0, w = 0, h = 0;
  ASSERT_TRUE(KtView_GetWindowRect(panel->ResetButton, x, y, w, h));
  EXPECT_EQ(x, 6 + 6);
  EXPECT_EQ(y, 37 + 301);
  Click(x + w / 2, y + h / 2);
  EXPECT_EQ(KProfiler::TheOne()->BufferSize.Get(), 20);
  EXPECT_TRUE(KShaders_GetRenderer()->EarlyFrustumCulling.Get());
  EXPECT_TRUE(graphic.Drew("Reset To Default"));
  // The label's caption, cut with an ellipsis to its 90-pixel column: this
  // graphic measures 7 pixels a byte.
  EXPECT_TRUE(graphic.Drew("Display D\xE2\x80\xA6"));
}

TEST_F(PanelInWindow, EachLayoutEventAsksForOneRepaint) {
  const int start = KtView_GetRefreshCount(panel->DrawView);
  panel->LayoutRefreshEvent.Fire(static_cast<IRegister*>(panel), nullptr);
  EXPECT_EQ(KtView_GetRefreshCount(panel->DrawView), start + 1);
  panel->LayoutRefreshEvent.Fire(static_cast<IRegister*>(panel), nullptr);
  panel->LayoutRefreshEvent.Fire(static_cast<IRegister*>(panel), nullptr);
  EXPECT_EQ(KtView_GetRefreshCount(panel->DrawView), start + 3);
  // Other controls are not repainted by it.
  const int buttonStart = KtView_GetRefreshCount(panel->ResetButton);
  panel->LayoutRefreshEvent.Fire(static_cast<IRegister*>(panel), nullptr);
  EXPECT_EQ(KtView_GetRefreshCount(panel->ResetButton), buttonStart);
}

}  // namespace
