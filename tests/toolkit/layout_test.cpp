// The region solver, control placement, attaching through the layout's own
// container, frames, and what happens when views or layouts go away.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "standin/ktoolkit/view_tree.h"
#include "toolkit/fake_graphic.h"

namespace {

constexpr ktLayoutAttach kL = kLayoutAttachLeft;
constexpr ktLayoutAttach kR = kLayoutAttachRight;
constexpr ktLayoutAttach kT = kLayoutAttachTop;
constexpr ktLayoutAttach kB = kLayoutAttachBottom;
constexpr ktLayoutAttach kN = kLayoutAttachNone;

struct Rect {
  int Left, Top, Right, Bottom;
  bool operator==(const Rect&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Rect& r) {
  return os << "(" << r.Left << "," << r.Top << "," << r.Right << "," << r.Bottom << ")";
}

Rect RegionOf(KtLayout& layout, const char* name) {
  Rect r{-1, -1, -1, -1};
  EXPECT_TRUE(KtLayout_GetRegionRect(layout, name, r.Left, r.Top, r.Right, r.Bottom)) << name;
  return r;
}

std::map<std::string, Rect> AllRegions(KtLayout& layout) {
  std::map<std::string, Rect> all;
  for (int i = 0; i < KtLayout_GetRegionCount(layout); ++i)
    all[KtLayout_GetRegionName(layout, i)] = RegionOf(layout, KtLayout_GetRegionName(layout, i));
  return all;
}

// The tool window's table.
void AddToolWindowRegions(KtLayout& l) {
  ASSERT_TRUE(l.AddRegion("TabPanel", "", 6, kL, nullptr, 1.0f, 6, kT, nullptr, 1.0f, -6, kR,
                          nullptr, 1.0f, 25, kN, nullptr, 1.0f));
  ASSERT_TRUE(l.AddRegion("Adaptable", "", 6, kL, nullptr, 1.0f, 6, kB, "TabPanel", 1.0f, -6, kR,
                          nullptr, 1.0f, -1, kB, nullptr, 1.0f));
}

// The settings panel's table, in its order.
void AddPanelRegions(KtLayout& l) {
  ASSERT_TRUE(l.AddRegion("ControlsRegion", nullptr, 3, kL, nullptr, 1.0f, 3, kT, nullptr, 1.0f,
                          200, kN, nullptr, 1.0f, -3, kB, nullptr, 1.0f));
  ASSERT_TRUE(l.AddRegion("StatsRegion", nullptr, 6, kR, "ControlsRegion", 1.0f, 6, kT, nullptr,
                          1.0f, -3, kR, nullptr, 1.0f, -3, kB, nullptr, 1.0f));
  ASSERT_TRUE(l.AddRegion("DrawingRegion", nullptr, 6, kL, "StatsRegion", 1.0f, 3, kT,
                          "StatsRegion", 1.0f, -3, kR, "StatsRegion", 1.0f, -3, kB, "StatsRegion",
                          1.0f));
  ASSERT_TRUE(l.AddRegion("RenderingRegion", "Rendering", 3, kL, "ControlsRegion", 1.0f, 3, kT,
                          "ControlsRegion", 1.0f, -3, kR, "ControlsRegion", 1.0f, 35, kN, nullptr,
                          1.0f));
  ASSERT_TRUE(l.AddRegion("EvaluationRegion", "Evaluation", 0, kL, "RenderingRegion", 1.0f, 15, kB,
                          "RenderingRegion", 1.0f, 0, kR, "RenderingRegion", 1.0f, 110, kN, nullptr,
                          1.0f));
  ASSERT_TRUE(l.AddRegion("ProfilingRegion", "Profiling Display Settings", 0, kL,
                          "EvaluationRegion", 1.0f, 15, kB, "EvaluationRegion", 1.0f, 0, kR,
                          "EvaluationRegion", 1.0f, 110, kN, nullptr, 1.0f));
  ASSERT_TRUE(l.AddRegion("Rend_FrustumCulling", nullptr, 10, kL, "RenderingRegion", 1.0f, 10, kT,
                          "RenderingRegion", 1.0f, -5, kR, "RenderingRegion", 1.0f, 15, kN, nullptr,
                          1.0f));
  ASSERT_TRUE(l.AddRegion("Eval_ParallelPipeline", nullptr, 10, kL, "EvaluationRegion", 1.0f, 10,
                          kT, "EvaluationRegion", 1.0f, -5, kR, "EvaluationRegion", 1.0f, 15, kN,
                          nullptr, 1.0f));
  const char* chain[] = {"Eval_ParallelPipeline", "Eval_ParallelEvaluation",
                         "Eval_ParallelDeformation", "Eval_GPUSkinning", "Eval_NodeCount"};
  for (int i = 1; i < 5; ++i) {
    ASSERT_TRUE(l.AddRegion(chain[i], nullptr, 0, kL, chain[i - 1], 1.0f, 5, kB, chain[i - 1], 1.0f,
                            0, kR, chain[i - 1], 1.0f, 15, kN, nullptr, 1.0f));
  }
  ASSERT_TRUE(l.AddRegion("Prof_DispalyLbl", nullptr, 10, kL, "ProfilingRegion", 1.0f, 10, kT,
                          "ProfilingRegion", 1.0f, 90, kN, "ProfilingRegion", 1.0f, 15, kN, nullptr,
                          1.0f));
  ASSERT_TRUE(l.AddRegion("Prof_DispalyLst", nullptr, 0, kR, "Prof_DispalyLbl", 1.0f, 0, kT,
                          "Prof_DispalyLbl", 1.0f, -5, kR, "ProfilingRegion", 1.0f, 15, kN, nullptr,
                          1.0f));
  ASSERT_TRUE(l.AddRegion("Prof_Mode", nullptr, 0, kL, "Prof_DispalyLbl", 1.0f, 5, kB,
                          "Prof_DispalyLbl", 1.0f, 0, kR, "Prof_DispalyLst", 1.0f, 15, kN, nullptr,
                          1.0f));
  const char* prof[] = {"Prof_Mode", "Prof_Depth", "Prof_BufferSize", "Prof_FrameReference"};
  for (int i = 1; i < 4; ++i) {
    ASSERT_TRUE(l.AddRegion(prof[i], nullptr, 0, kL, prof[i - 1], 1.0f, 5, kB, prof[i - 1], 1.0f, 0,
                            kR, prof[i - 1], 1.0f, 15, kN, nullptr, 1.0f));
  }
  ASSERT_TRUE(l.AddRegion("ResetToDefault", nullptr, 0, kL, "ProfilingRegion", 1.0f, 10, kB,
                          "ProfilingRegion", 1.0f, 0, kR, "ProfilingRegion", 1.0f, 15, kN, nullptr,
                          1.0f));
}

const std::map<std::string, Rect> kPanelFixed = {
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

// A view that, like the module's drawing view, answers no geometry interface.
class NoGeometryView : public KtView {
 public:
  IObject* IQuery(unsigned long id, int reserved) override {
    return id == kIID_IKtGeometry ? nullptr : KtView::IQuery(id, reserved);
  }
  void Destroy(int) override {}
  void ViewExpose(IKtGeometry*) override {
    if (!KtViewExposeBegin(nullptr)) return;
    ++Exposes;
    KtViewExposeEnd();
  }
  bool ViewInput(int, int, int, int, int) override {
    ++Inputs;
    return Consume;
  }
  int Exposes = 0;
  int Inputs = 0;
  bool Consume = false;
};

struct SizeParam {
  int Width, Height;
};

class RegionTables : public ::testing::TestWithParam<SizeParam> {};

TEST_P(RegionTables, ToolWindowRegionsResolveAtEverySize) {
  const auto [w, h] = GetParam();
  KtLayout window;
  AddToolWindowRegions(window);
  window.SetSize(w, h);
  EXPECT_EQ(RegionOf(window, "TabPanel"), (Rect{6, 6, w - 6, 31}));
  EXPECT_EQ(RegionOf(window, "Adaptable"), (Rect{6, 37, w - 6, h - 1}));
}

TEST_P(RegionTables, SettingsPanelRegionsResolveAtEverySize) {
  const auto [w, h] = GetParam();
  KtLayout panel;
  AddPanelRegions(panel);
  panel.SetSize(w, h);
  EXPECT_EQ(KtLayout_GetRegionCount(panel), 19);
  for (const auto& [name, rect] : kPanelFixed)
    EXPECT_EQ(RegionOf(panel, name.c_str()), rect) << name;
  EXPECT_EQ(RegionOf(panel, "ControlsRegion"), (Rect{3, 3, 203, h - 3}));
  EXPECT_EQ(RegionOf(panel, "StatsRegion"), (Rect{209, 6, w - 3, h - 3}));
  EXPECT_EQ(RegionOf(panel, "DrawingRegion"), (Rect{215, 9, w - 6, h - 6}));
}

INSTANTIATE_TEST_SUITE_P(Sizes, RegionTables,
                         ::testing::Values(SizeParam{800, 420}, SizeParam{1200, 700},
                                           SizeParam{788, 382}, SizeParam{1188, 662}),
                         [](const ::testing::TestParamInfo<SizeParam>& sizeInfo) {
                           return std::to_string(sizeInfo.param.Width) + "x" +
                                  std::to_string(sizeInfo.param.Height);
                         });

TEST(LayoutSolver, WideningMovesOnlyTheRightHandRegions) {
  KtLayout panel;
  AddPanelRegions(panel);
  panel.SetSize(800, 420);
  const auto before = AllRegions(panel);
  panel.SetSize(1200, 420);
  const auto after = AllRegions(panel);
  for (const auto& [name, rect] : before) {
    Rect expected = rect;
    if (name == "StatsRegion" || name == "DrawingRegion") expected.Right += 400;
    EXPECT_EQ(after.at(name), expected) << name;
  }
}

TEST(LayoutSolver, RegionsAddedAfterSizingResolveAtOnce) {
  KtLayout layout;
  layout.SetSize(300, 200);
  ASSERT_TRUE(layout.AddRegion("A", nullptr, -10, kR, nullptr, 1.0f, -20, kB, nullptr, 1.0f, 0, kR,
                               nullptr, 1.0f, 0, kB, nullptr, 1.0f));
  EXPECT_EQ(RegionOf(layout, "A"), (Rect{290, 180, 300, 200}));
}

TEST(LayoutSolver, MultipliersScaleOffsetsAndUnknownKindsAreAbsolute) {
  KtLayout layout;
  layout.SetSize(400, 300);
  ASSERT_TRUE(layout.AddRegion("Half", nullptr, 100, kL, nullptr, 0.5f, 10, kT, nullptr, 1.0f, 60,
                               kN, nullptr, 2.0f, -40, kB, nullptr, 0.25f));
  EXPECT_EQ(RegionOf(layout, "Half"), (Rect{50, 10, 170, 290}));
  ASSERT_TRUE(layout.AddRegion("Odd", nullptr, 5, kL, nullptr, 1.0f, 5, kT, nullptr, 1.0f, 30,
                               static_cast<ktLayoutAttach>(5), nullptr, 1.0f, 20,
                               static_cast<ktLayoutAttach>(-1), nullptr, 1.0f));
  EXPECT_EQ(RegionOf(layout, "Odd"), (Rect{5, 5, 35, 25}));
}

TEST(LayoutSolver, RefusesBadNamesAndUnknownReferences) {
  KtLayout layout;
  ASSERT_TRUE(layout.AddRegion("A", nullptr, 0, kL, nullptr, 1.0f, 0, kT, nullptr, 1.0f, 10, kN,
                               nullptr, 1.0f, 10, kN, nullptr, 1.0f));
  auto add = [&](const char* name, const char* xr, const char* yr, const char* wr, const char* hr) {
    return layout.AddRegion(name, "t", 0, kL, xr, 1.0f, 0, kT, yr, 1.0f, 0, kR, wr, 1.0f, 0, kB, hr,
                            1.0f);
  };
  EXPECT_FALSE(add("B", "Nope", nullptr, nullptr, nullptr));
  EXPECT_FALSE(add("B", nullptr, "Nope", nullptr, nullptr));
  EXPECT_FALSE(add("B", nullptr, nullptr, "Nope", nullptr));
  EXPECT_FALSE(add("B", nullptr, nullptr, nullptr, "Nope"));
  EXPECT_FALSE(add("B", "B", nullptr, nullptr, nullptr));  // itself: not an earlier region
  EXPECT_FALSE(add("B", "a", nullptr, nullptr, nullptr));  // names match exactly
  EXPECT_FALSE(add(nullptr, nullptr, nullptr, nullptr, nullptr));
  EXPECT_FALSE(add("", nullptr, nullptr, nullptr, nullptr));
  EXPECT_FALSE(add("A", nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(KtLayout_GetRegionCount(layout), 1);
  EXPECT_TRUE(add("B", "A", "A", "A", "A"));
  EXPECT_EQ(KtLayout_GetRegionCount(layout), 2);
  EXPECT_STREQ(KtLayout_GetRegionTitle(layout, "B"), "t");
  EXPECT_STREQ(KtLayout_GetRegionTitle(layout, "A"), "");

  KtStatic label;
  EXPECT_FALSE(layout.SetControl("Nope", label));
  EXPECT_FALSE(layout.SetView("Nope", &label));
  EXPECT_FALSE(layout.ClearControl("Nope"));
  EXPECT_FALSE(layout.SetBorder("Nope", 2, true, true, 2, 0, 90.0f, 0));
  EXPECT_EQ(KtLayout_GetRegionView(layout, "Nope"), nullptr);
}

TEST(LayoutSolver, RefreshEventFiresForNewSizesAndOnRequest) {
  KtLayout layout;
  EventCounter counter;
  layout.LayoutRefreshEvent.Add(&counter, KCALLBACK_HANDLER(EventCounter::OnEvent));
  layout.SetSize(100, 100);
  EXPECT_EQ(counter.Count, 1);
  layout.SetSize(100, 100);
  EXPECT_EQ(counter.Count, 1);
  layout.SetWidth(120);
  layout.SetHeight(90);
  EXPECT_EQ(counter.Count, 3);
  layout.LayoutRefresh();
  EXPECT_EQ(counter.Count, 4);
  EXPECT_EQ(counter.LastSender, static_cast<IRegister*>(&layout));
  layout.LayoutRefreshEvent.Remove(&counter, KCALLBACK_HANDLER(EventCounter::OnEvent));
}

TEST(LayoutControls, ControlsFollowTheirRegionsThroughNestedLayouts) {
  KtLayout window;
  KtLayout panel;
  KtStatic tabs;
  NoGeometryView drawing;
  AddToolWindowRegions(window);
  AddPanelRegions(panel);
  ASSERT_TRUE(window.SetControl("TabPanel", tabs));
  ASSERT_TRUE(window.SetControl("Adaptable", panel));
  ASSERT_TRUE(panel.SetView("DrawingRegion", &drawing));

  window.SetSize(800, 420);
  EXPECT_EQ(tabs.GetPosX(), 6);
  EXPECT_EQ(tabs.GetPosY(), 6);
  EXPECT_EQ(tabs.GetWidth(), 788);
  EXPECT_EQ(tabs.GetHeight(), 25);
  EXPECT_EQ(panel.GetWidth(), 788);
  EXPECT_EQ(panel.GetHeight(), 382);
  EXPECT_EQ(drawing.GetPosX(), 215);
  EXPECT_EQ(drawing.GetPosY(), 9);
  EXPECT_EQ(drawing.GetWidth(), 788 - 6 - 215);
  EXPECT_EQ(drawing.GetHeight(), 382 - 6 - 9);

  window.SetSize(1200, 700);
  EXPECT_EQ(tabs.GetWidth(), 1188);
  EXPECT_EQ(panel.GetWidth(), 1188);
  EXPECT_EQ(panel.GetHeight(), 662);
  EXPECT_EQ(drawing.GetWidth(), 1188 - 6 - 215);
  EXPECT_EQ(drawing.GetHeight(), 662 - 15);

  // Regions that would be inside out give their control an empty size.
  window.SetSize(20, 20);
  EXPECT_EQ(panel.GetWidth(), 8);
  EXPECT_EQ(drawing.GetWidth(), 0);
  EXPECT_EQ(drawing.GetHeight(), 0);
}

TEST(LayoutControls, AttachingGoesThroughTheLayoutsOwnContainer) {
  FakeGraphic graphic;
  RecordingContainer top;
  KtLayout layout;
  AddToolWindowRegions(layout);
  KtStatic before;
  ASSERT_TRUE(layout.SetControl("TabPanel", before));
  layout.Attach(&top, &graphic);
  EXPECT_EQ(before.GetGraphic(), &graphic);
  ASSERT_NE(before.GetContainer(), nullptr);
  EXPECT_NE(before.GetContainer(), &top);

  // Placed into an attached layout: attached at once.
  KtStatic after;
  ASSERT_TRUE(layout.SetControl("Adaptable", after));
  EXPECT_EQ(after.GetGraphic(), &graphic);
  EXPECT_EQ(after.GetContainer(), before.GetContainer());

  // Requests of a control reach the layout's own container, naming the control.
  const int refreshes = top.Refreshes;
  after.ViewRefresh(true);
  EXPECT_EQ(top.Refreshes, refreshes + 1);
  EXPECT_EQ(top.LastRefreshed, static_cast<IKtView*>(&after));
  NoGeometryView popup;
  EXPECT_TRUE(after.GetContainer()->PopupOpen(&popup));
  EXPECT_EQ(top.Popup, &popup);
  after.GetContainer()->PopupClose(&popup);
  EXPECT_EQ(top.Popup, nullptr);

  ASSERT_TRUE(layout.ClearControl("Adaptable"));
  EXPECT_EQ(after.GetGraphic(), nullptr);
  EXPECT_EQ(after.GetContainer(), nullptr);
  EXPECT_EQ(KtView_GetParentLayout(after), nullptr);
  EXPECT_EQ(KtLayout_GetRegionView(layout, "Adaptable"), nullptr);

  layout.Detach(&top);
  EXPECT_EQ(before.GetGraphic(), nullptr);
  EXPECT_EQ(before.GetContainer(), nullptr);
  EXPECT_EQ(layout.GetGraphic(), nullptr);
}

TEST(LayoutControls, ReplacingAControlDetachesTheOldOne) {
  FakeGraphic graphic;
  RecordingContainer top;
  KtLayout layout;
  AddToolWindowRegions(layout);
  layout.Attach(&top, &graphic);
  KtStatic first, second;
  layout.SetControl("TabPanel", first);
  layout.SetControl("TabPanel", second);
  EXPECT_EQ(first.GetGraphic(), nullptr);
  EXPECT_EQ(KtView_GetParentLayout(first), nullptr);
  EXPECT_EQ(second.GetGraphic(), &graphic);
  EXPECT_EQ(KtLayout_GetRegionView(layout, "TabPanel"), static_cast<IKtView*>(&second));
  layout.Detach(&top);
}

TEST(LayoutControls, AViewMovedToAnotherLayoutLeavesTheFirst) {
  KtLayout a, b;
  AddToolWindowRegions(a);
  AddToolWindowRegions(b);
  {
    KtStatic label;
    a.SetControl("TabPanel", label);
    b.SetControl("Adaptable", label);
    EXPECT_EQ(KtLayout_GetRegionView(a, "TabPanel"), nullptr);
    EXPECT_EQ(KtView_GetParentLayout(label), &b);
  }
  EXPECT_EQ(KtLayout_GetRegionView(b, "Adaptable"), nullptr);
}

TEST(LayoutControls, ADestroyedViewLeavesItsRegions) {
  FakeGraphic graphic;
  RecordingContainer top;
  KtLayout layout;
  AddToolWindowRegions(layout);
  layout.SetSize(400, 300);
  layout.Attach(&top, &graphic);
  KtStatic* label = new KtStatic(1);
  layout.SetControl("TabPanel", *label);
  layout.SetControl("Adaptable", *label);
  label->Destroy(0);
  EXPECT_EQ(KtLayout_GetRegionView(layout, "TabPanel"), nullptr);
  EXPECT_EQ(KtLayout_GetRegionView(layout, "Adaptable"), nullptr);
  // Painting and input after the loss touch nothing that is gone.
  layout.ViewExpose(nullptr);
  EXPECT_FALSE(layout.ViewInput(kInputMouseDown, 10, 10, 0, 0));
  layout.Detach(&top);
}

TEST(LayoutControls, ALayoutDestroyedBeforeItsControlLetsItGo) {
  FakeGraphic graphic;
  RecordingContainer top;
  KtStatic label;
  {
    KtLayout* layout = new KtLayout;
    AddToolWindowRegions(*layout);
    layout->Attach(&top, &graphic);
    layout->SetControl("TabPanel", label);
    layout->Destroy(0);
  }
  EXPECT_EQ(KtView_GetParentLayout(label), nullptr);
  EXPECT_EQ(label.GetContainer(), nullptr);
  EXPECT_EQ(label.GetGraphic(), nullptr);
}

// Members of a derived layout die before the layout's own destructor runs.
class PanelWithMembers : public KtLayout {
 public:
  PanelWithMembers() {
    AddToolWindowRegions(*this);
    SetControl("TabPanel", Label);
    SetView("Adaptable", &Drawing);
  }
  KtStatic Label;
  NoGeometryView Drawing;
};

TEST(LayoutControls, MembersOfADerivedLayoutEndCleanly) {
  FakeGraphic graphic;
  RecordingContainer top;
  auto* panel = new PanelWithMembers;
  panel->SetSize(300, 200);
  panel->Attach(&top, &graphic);
  panel->ViewExpose(nullptr);
  EXPECT_EQ(panel->Drawing.Exposes, 1);
  panel->Destroy(0);
  SUCCEED();  // the sanitizer build catches any touch of a destroyed member
}

TEST(LayoutControls, ViewsWithoutAGeometryInterfaceAreStillSized) {
  KtLayout layout;
  AddToolWindowRegions(layout);
  NoGeometryView view;
  EXPECT_EQ(view.IQuery(kIID_IKtGeometry, 0), nullptr);
  ASSERT_TRUE(layout.SetView("Adaptable", &view));
  layout.SetSize(500, 300);
  EXPECT_EQ(view.GetPosX(), 6);
  EXPECT_EQ(view.GetPosY(), 37);
  EXPECT_EQ(view.GetWidth(), 488);
  EXPECT_EQ(view.GetHeight(), 262);
  EXPECT_EQ(KtView_GetParentLayout(view), &layout);
  EXPECT_FALSE(layout.SetView("TabPanel", &layout));  // never inside itself
}

TEST(LayoutPaint, ExposesFramesThenControlsInRegionOrderAtTheirWindowRects) {
  FakeGraphic graphic;
  RecordingContainer top;
  KtLayout window;
  KtLayout panel;
  AddToolWindowRegions(window);
  AddPanelRegions(panel);
  KtStatic tabs, label, list;
  window.SetControl("TabPanel", tabs);
  window.SetControl("Adaptable", panel);
  panel.SetControl("Prof_DispalyLst", list);
  panel.SetControl("Prof_DispalyLbl", label);
  panel.SetBorder("RenderingRegion", 2, true, true, 2, 0, 90.0f, 0);
  panel.SetBorder("EvaluationRegion", 2, true, true, 2, 0, 90.0f, 0);
  panel.SetBorder("ProfilingRegion", 2, true, true, 2, 0, 90.0f, 0);
  panel.SetBorder("StatsRegion", 2, true, true, 2, 0, 90.0f, 0);
  panel.SetBorder("ControlsRegion", 2, false, true, 2, 0, 90.0f, 0);
  EXPECT_TRUE(KtLayout_HasBorder(panel, "StatsRegion"));
  EXPECT_FALSE(KtLayout_HasBorder(panel, "ControlsRegion"));
  EXPECT_FALSE(KtLayout_HasBorder(panel, "DrawingRegion"));
  window.SetSize(800, 420);
  window.Attach(&top, &graphic);
  window.ViewExpose(nullptr);

  EXPECT_EQ(graphic.Depth(), 0);
  EXPECT_EQ(graphic.UnbalancedPops, 0);
  ASSERT_EQ(graphic.Pushed.size(), 5u);
  // window, tab strip, panel, then the panel's controls in region order
  // (the label's region was added before the list's).
  EXPECT_EQ(graphic.Pushed[0].X, 0);
  EXPECT_EQ(graphic.Pushed[1].X, 6);
  EXPECT_EQ(graphic.Pushed[1].Y, 6);
  EXPECT_EQ(graphic.Pushed[2].Y, 37);
  EXPECT_EQ(graphic.Pushed[3].X, 6 + 16);
  EXPECT_EQ(graphic.Pushed[3].Y, 37 + 191);
  EXPECT_EQ(graphic.Pushed[4].X, 6 + 106);
  int x = 0, y = 0, w = 0, h = 0;
  ASSERT_TRUE(KtView_GetWindowRect(list, x, y, w, h));
  EXPECT_EQ(x, 112);
  EXPECT_EQ(y, 228);
  EXPECT_EQ(w, 89);
  EXPECT_EQ(h, 15);

  // The three group titles, and nothing for the untitled frame.
  EXPECT_TRUE(graphic.DrewText("Rendering"));
  EXPECT_TRUE(graphic.DrewText("Evaluation"));
  EXPECT_TRUE(graphic.DrewText("Profiling Display Settings"));
  int drawnTexts = 0;
  for (const auto& t : graphic.Texts) drawnTexts += t.Value.empty() ? 0 : 1;
  EXPECT_EQ(drawnTexts, 3);
  window.Detach(&top);
}

TEST(LayoutInput, GoesToControlsUntilOneTakesIt) {
  KtLayout layout;
  AddToolWindowRegions(layout);
  NoGeometryView first, second;
  layout.SetView("TabPanel", &first);
  layout.SetView("Adaptable", &second);
  EXPECT_FALSE(layout.ViewInput(kInputMouseMove, 1, 1, 0, 0));
  EXPECT_EQ(first.Inputs, 1);
  EXPECT_EQ(second.Inputs, 1);
  second.Consume = true;
  EXPECT_TRUE(layout.ViewInput(kInputMouseMove, 1, 1, 0, 0));
  EXPECT_EQ(second.Inputs, 2);
  EXPECT_EQ(first.Inputs, 1);  // the last-painted control took it first
}

}  // namespace
