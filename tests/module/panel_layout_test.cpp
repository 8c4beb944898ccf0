// The settings panel's and the tool window's regions, placements, captions
// and frames, resolved at several sizes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/kdesktop.h"
#include "module/module_test_support.h"
#include "settings/tool_optimization_layout.h"
#include "standin/ktoolkit/controls.h"
#include "standin/ktoolkit/view_tree.h"
#include "tool/profiling_tool.h"

namespace {

struct Rect {
  int Left;
  int Top;
  int Right;
  int Bottom;
  bool operator==(const Rect&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Rect& r) {
  return out << "{" << r.Left << ", " << r.Top << ", " << r.Right << ", " << r.Bottom << "}";
}

Rect RegionRect(KtLayout& layout, const char* region) {
  Rect r{-1, -1, -1, -1};
  EXPECT_TRUE(KtLayout_GetRegionRect(layout, region, r.Left, r.Top, r.Right, r.Bottom)) << region;
  return r;
}

struct FixedRegion {
  const char* Name;
  Rect Expected;
};

// The left column does not depend on the panel's size.
const FixedRegion kLeftColumn[] = {
    {"RenderingRegion", {6, 6, 200, 41}},
    {"EvaluationRegion", {6, 56, 200, 166}},
    {"ProfilingRegion", {6, 181, 200, 291}},
    {"Rend_FrustumCulling", {16, 16, 195, 31}},
    {"Eval_ParallelPipeline", {16, 66, 195, 81}},
    {"Eval_ParallelEvaluation", {16, 86, 195, 101}},
    {"Eval_ParallelDeformation", {16, 106, 195, 121}},
    {"Eval_GPUSkinning", {16, 126, 195, 141}},
    {"Eval_NodeCount", {16, 146, 195, 161}},
    {"Prof_DispalyLbl", {16, 191, 106, 206}},
    {"Prof_DispalyLst", {106, 191, 195, 206}},
    {"Prof_Mode", {16, 211, 195, 226}},
    {"Prof_Depth", {16, 231, 195, 246}},
    {"Prof_BufferSize", {16, 251, 195, 266}},
    {"Prof_FrameReference", {16, 271, 195, 286}},
    {"ResetToDefault", {6, 301, 200, 316}},
};

TEST(PanelLayout, RegionsResolveToTheirPositionsAtSeveralSizes) {
  ToolOptimizationLayout panel;
  const int sizes[][2] = {{788, 382}, {400, 330}, {1500, 900}, {260, 200}};
  for (const auto& size : sizes) {
    const int w = size[0];
    const int h = size[1];
    SCOPED_TRACE(testing::Message() << "panel " << w << " x " << h);
    panel.SetSize(w, h);
    panel.LayoutRegions();
    for (const FixedRegion& region : kLeftColumn)
      EXPECT_EQ(RegionRect(panel, region.Name), region.Expected) << region.Name;
    EXPECT_EQ(RegionRect(panel, "ControlsRegion"), (Rect{3, 3, 203, h - 3}));
    EXPECT_EQ(RegionRect(panel, "StatsRegion"), (Rect{209, 6, w - 3, h - 3}));
    EXPECT_EQ(RegionRect(panel, "DrawingRegion"), (Rect{215, 9, w - 6, h - 6}));
  }
}

TEST(PanelLayout, RegionsAreAddedInOrderWithTheirTitles) {
  ToolOptimizationLayout panel;
  const std::vector<std::string> expected = {"ControlsRegion",
                                             "StatsRegion",
                                             "DrawingRegion",
                                             "RenderingRegion",
                                             "EvaluationRegion",
                                             "ProfilingRegion",
                                             "Rend_FrustumCulling",
                                             "Eval_ParallelPipeline",
                                             "Eval_ParallelEvaluation",
                                             "Eval_ParallelDeformation",
                                             "Eval_GPUSkinning",
                                             "Eval_NodeCount",
                                             "Prof_DispalyLbl",
                                             "Prof_DispalyLst",
                                             "Prof_Mode",
                                             "Prof_Depth",
                                             "Prof_BufferSize",
                                             "Prof_FrameReference",
                                             "ResetToDefault"};
  ASSERT_EQ(KtLayout_GetRegionCount(panel), static_cast<int>(expected.size()));
  for (int i = 0; i < KtLayout_GetRegionCount(panel); ++i)
    EXPECT_EQ(KtLayout_GetRegionName(panel, i), expected[i]);

  // Framed groups carry their titles; the drawing area's frame has none.
  EXPECT_STREQ(KtLayout_GetRegionTitle(panel, "RenderingRegion"), "Rendering");
  EXPECT_STREQ(KtLayout_GetRegionTitle(panel, "EvaluationRegion"), "Evaluation");
  EXPECT_STREQ(KtLayout_GetRegionTitle(panel, "ProfilingRegion"), "Profiling Display Settings");
  const char* statsTitle = KtLayout_GetRegionTitle(panel, "StatsRegion");
  EXPECT_TRUE(statsTitle == nullptr || statsTitle[0] == '\0');
  for (const char* framed :
       {"RenderingRegion", "EvaluationRegion", "ProfilingRegion", "StatsRegion"})
    EXPECT_TRUE(KtLayout_HasBorder(panel, framed)) << framed;
  for (const char* plain : {"ControlsRegion", "DrawingRegion", "Rend_FrustumCulling",
                            "Prof_DispalyLst", "ResetToDefault"})
    EXPECT_FALSE(KtLayout_HasBorder(panel, plain)) << plain;
}

TEST(PanelLayout, ControlsSitInTheirRegionsWithCaptionsAndItems) {
  ToolOptimizationLayout panel;
  struct Placement {
    const char* Region;
    KtView* Control;
    const char* Caption;  // editors only
    KtProperty* Editor;
  };
  const Placement placements[] = {
      {"Rend_FrustumCulling", &panel.FrustumCullingEditor, "Frustum Culling",
       &panel.FrustumCullingEditor},
      {"Eval_ParallelPipeline", &panel.ParallelPipelineEditor, "Parallel Pipeline",
       &panel.ParallelPipelineEditor},
      {"Eval_ParallelEvaluation", &panel.ParallelEvaluationEditor, "Parallel Evaluation",
       &panel.ParallelEvaluationEditor},
      {"Eval_ParallelDeformation", &panel.ParallelDeformationEditor, "Parallel Deformation",
       &panel.ParallelDeformationEditor},
      {"Eval_GPUSkinning", &panel.GPUSkinningEditor, "GPU Skinning", &panel.GPUSkinningEditor},
      {"Eval_NodeCount", &panel.NodeCountEditor, "Node Count", &panel.NodeCountEditor},
      {"Prof_Mode", &panel.ProfilingModeEditor, "Profiling Mode", &panel.ProfilingModeEditor},
      {"Prof_Depth", &panel.EvaluationDepthEditor, "Evaluation Depth",
       &panel.EvaluationDepthEditor},
      {"Prof_BufferSize", &panel.BufferSizeEditor, "Buffer Size", &panel.BufferSizeEditor},
      {"Prof_FrameReference", &panel.FrameReferenceEditor, "Frame Reference",
       &panel.FrameReferenceEditor},
      {"Prof_DispalyLbl", &panel.DisplayLabel, nullptr, nullptr},
      {"Prof_DispalyLst", &panel.DisplayList, nullptr, nullptr},
      {"ResetToDefault", &panel.ResetButton, nullptr, nullptr},
  };
  panel.SetSize(788, 382);
  panel.LayoutRegions();
  for (const Placement& p : placements) {
    SCOPED_TRACE(p.Region);
    EXPECT_EQ(KtLayout_GetRegionView(panel, p.Region), static_cast<IKtView*>(p.Control));
    const Rect r = RegionRect(panel, p.Region);
    EXPECT_EQ(p.Control->GetPosX(), r.Left);
    EXPECT_EQ(p.Control->GetPosY(), r.Top);
    EXPECT_EQ(p.Control->GetWidth(), r.Right - r.Left);
    EXPECT_EQ(p.Control->GetHeight(), r.Bottom - r.Top);
    if (p.Editor) {
      EXPECT_STREQ(p.Editor->Caption.Get(), p.Caption);
      EXPECT_EQ(p.Editor->CaptionWidth.Get(), 90);
    }
  }
  EXPECT_EQ(KtLayout_GetRegionView(panel, "DrawingRegion"), static_cast<IKtView*>(&panel.DrawView));
  for (const char* empty :
       {"ControlsRegion", "StatsRegion", "RenderingRegion", "EvaluationRegion", "ProfilingRegion"})
    EXPECT_EQ(KtLayout_GetRegionView(panel, empty), nullptr) << empty;

  EXPECT_STREQ(panel.DisplayLabel.Caption.Get(), "Display Details");
  EXPECT_STREQ(panel.ResetButton.Caption.Get(), "Reset To Default");
  ASSERT_EQ(panel.DisplayList.GetItemCount(), 4);
  EXPECT_STREQ(panel.DisplayList.GetItem(0), "DisplayAll");
  EXPECT_STREQ(panel.DisplayList.GetItem(1), "Evaluation");
  EXPECT_STREQ(panel.DisplayList.GetItem(2), "Rendering");
  EXPECT_STREQ(panel.DisplayList.GetItem(3), "Devices");
  // The panel leaves the list's first item as it is.
  EXPECT_EQ(panel.DisplayList.SelectedIndex.Get(), 0);
}

TEST(ToolWindow, StartSizeTabAndRegions) {
  KtProfiling* window = new KtProfiling();
  ITool* tool = KQueryInterface<ITool>(static_cast<KObject*>(window), kIID_ITool);
  ASSERT_NE(tool, nullptr);
  EXPECT_EQ(tool->ToolGetStartWSize(), 800);
  EXPECT_EQ(tool->ToolGetStartHSize(), 420);

  ASSERT_EQ(KtTabPanel_GetTabCount(window->TabPanel), 1);
  EXPECT_STREQ(KtTabPanel_GetTab(window->TabPanel, 0), "ProfilingCenter");
  ASSERT_NE(window->OptimizationLayout, nullptr);
  EXPECT_EQ(KtLayout_GetRegionView(*window, "TabPanel"), static_cast<IKtView*>(&window->TabPanel));
  EXPECT_EQ(KtLayout_GetRegionView(*window, "Adaptable"),
            static_cast<IKtView*>(window->OptimizationLayout));
  EXPECT_STREQ(KtLayout_GetRegionTitle(*window, "TabPanel"), "");
  EXPECT_STREQ(KtLayout_GetRegionTitle(*window, "Adaptable"), "");

  ToolOptimizationLayout& panel = *window->OptimizationLayout;
  const int sizes[][2] = {{800, 420}, {1200, 420}, {640, 700}};
  for (const auto& size : sizes) {
    const int w = size[0];
    const int h = size[1];
    SCOPED_TRACE(testing::Message() << "window " << w << " x " << h);
    window->SetSize(w, h);
    window->LayoutRegions();
    EXPECT_EQ(RegionRect(*window, "TabPanel"), (Rect{6, 6, w - 6, 31}));
    EXPECT_EQ(RegionRect(*window, "Adaptable"), (Rect{6, 37, w - 6, h - 1}));
    EXPECT_EQ(window->TabPanel.GetHeight(), 25);
    // The panel fills "Adaptable"; only its drawing area follows the width.
    EXPECT_EQ(panel.GetWidth(), w - 12);
    EXPECT_EQ(panel.GetHeight(), h - 38);
    for (const FixedRegion& region : kLeftColumn)
      EXPECT_EQ(RegionRect(panel, region.Name), region.Expected) << region.Name;
    EXPECT_EQ(RegionRect(panel, "ControlsRegion"), (Rect{3, 3, 203, h - 38 - 3}));
    EXPECT_EQ(RegionRect(panel, "DrawingRegion"), (Rect{215, 9, w - 12 - 6, h - 38 - 6}));
    EXPECT_EQ(panel.DrawView.GetWidth(), w - 12 - 6 - 215);
  }
  window->Destroy(0);
}

}  // namespace
