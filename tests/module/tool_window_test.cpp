// The tool window as a user meets it: the real tool in a view host on a
// headless surface with the stand-in's OpenGL graphic context and fonts, fed
// through the toolkit's input path. A pass-through graphic records every
// line of text drawn with its measured extent in window pixels.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "host/kbaselib.h"
#include "host/kdesktop.h"
#include "host/ktoolkit.h"
#include "ksurface.h"
#include "settings/tool_optimization_layout.h"
#include "standin/kbaselib/profiler.h"
#include "standin/kdesktop/tool_sizes.h"
#include "standin/ktoolkit/interaction.h"
#include "standin/ktoolkit/view_tree.h"
#include "standin/ktoolkit/viewhost.h"
#include "tool/profiling_tool.h"

namespace {

const std::string kEllipsis = "\xE2\x80\xA6";

// Forwards everything to the real graphic context; records drawn text.
class MeasuringGraphic final : public IKtGraphic {
 public:
  struct Line {
    std::string Text;
    int Left, Right;  // window columns [Left, Right)
    int Middle;       // window row of the line's middle
  };
  explicit MeasuringGraphic(IKtGraphic* real) : mReal(real) {}
  virtual ~MeasuringGraphic() = default;

  IObject* IQuery(unsigned long id, int reserved) override { return mReal->IQuery(id, reserved); }
  void Destroy(int) override {}
  void SetViewport(int x, int y, int w, int h) override { mReal->SetViewport(x, y, w, h); }
  void DrawRectangle(float x0, float y0, float x1, float y1) override {
    mReal->DrawRectangle(x0, y0, x1, y1);
  }
  void BeginPrimitive(int kind) override { mReal->BeginPrimitive(kind); }
  void EndPrimitive() override { mReal->EndPrimitive(); }
  void DrawString(const char* text, float x, float y, int clipLeft, int clipRight,
                  int style) override {
    int w = 0, h = 0, ox = 0, oy = 0;
    mReal->MeasureString(text, style, w, h);
    mReal->GetViewOrigin(ox, oy);
    const int left = ox + static_cast<int>(x + 0.5f);
    Lines.push_back({text ? text : "", left, left + w, oy + static_cast<int>(y)});
    mReal->DrawString(text, x, y, clipLeft, clipRight, style);
  }
  void MeasureString(const char* text, int style, int& w, int& h) override {
    mReal->MeasureString(text, style, w, h);
  }
  void PushView(int x, int y, int w, int h) override { mReal->PushView(x, y, w, h); }
  void PopView() override { mReal->PopView(); }
  void GetViewOrigin(int& x, int& y) override { mReal->GetViewOrigin(x, y); }

  const Line* Find(const std::string& text) const {
    for (const Line& line : Lines)
      if (line.Text == text) return &line;
    return nullptr;
  }
  std::vector<Line> Lines;

 private:
  IKtGraphic* mReal;
};

double gNow = 1000.0;
double TestClock() {
  return gNow;
}

class ToolWindow : public testing::Test {
 protected:
  std::vector<KtProperty*> Editors() const {
    return {&panel->FrustumCullingEditor,     &panel->ParallelPipelineEditor,
            &panel->ParallelEvaluationEditor, &panel->ParallelDeformationEditor,
            &panel->GPUSkinningEditor,        &panel->NodeCountEditor,
            &panel->ProfilingModeEditor,      &panel->EvaluationDepthEditor,
            &panel->BufferSizeEditor,         &panel->FrameReferenceEditor};
  }
  void SetUp() override {
    KtClock_Set(TestClock);
    for (int slot = 0; slot < KProfiler::kRootCycleCount; ++slot) {
      cycles[slot] = std::make_unique<KProfilingSampling>(("Cycle " + std::to_string(slot)).c_str(),
                                                          0.5f, 0.5f, 0.5f);
      KProfilingSampling_AddSample(*cycles[slot], 1000.0 + 100.0 * slot);
      KProfiler_SetRootCycle(*KProfiler::TheOne(), slot, cycles[slot].get());
    }
    KProfiler::TheOne()->ProfilingType = 1;
    tool = new KtProfiling();
    panel = tool->OptimizationLayout;
  }
  void TearDown() override {
    if (host) host->SetRoot(nullptr, 0, 0);
    host.reset();
    graphic.reset();
    if (real) real->Destroy(0);
    tool->Destroy(0);
    for (int slot = 0; slot < KProfiler::kRootCycleCount; ++slot)
      KProfiler_SetRootCycle(*KProfiler::TheOne(), slot, nullptr);
    KProfilingSampling_Reset(KProfiler::TheOne()->ProfilingCost);
    KtClock_Set(nullptr);
  }

  void Open(int width, int height) {
    std::string error;
    surface = KSurface_CreateHeadless(width, height, &error);
    ASSERT_NE(surface, nullptr) << error;
    real = KtGraphic_CreateGL(width, height, &error);
    ASSERT_NE(real, nullptr) << error;
    graphic = std::make_unique<MeasuringGraphic>(real);
    host = std::make_unique<KtViewHost>(graphic.get());
    host->SetRoot(static_cast<IKtView*>(tool), width, height);
    Expose();
  }
  void Expose() {
    graphic->Lines.clear();
    host->Expose();
  }
  void Click(int x, int y) {
    host->Input(kInputMouseDown, x, y, 0, 0);
    host->Input(kInputMouseUp, x, y, 0, 0);
    Expose();
  }
  void Key(int key, int modifiers = 0) {
    host->Input(kInputKeyDown, 0, 0, key, modifiers);
    Expose();
  }
  static void Rect(KtView& view, int& x, int& y, int& w, int& h) {
    ASSERT_TRUE(KtView_GetWindowRect(view, x, y, w, h));
  }
  // Every sample of a sampling at one value, so average, minimum and maximum
  // print alike.
  static void Fill(KProfilingSampling& sampling, double microseconds) {
    KProfilingSampling_Reset(sampling);
    for (int i = 0; i < 20; ++i) KProfilingSampling_AddSample(sampling, microseconds);
  }
  // The longest numbers the header is made for: 999.9 frames, 99999.9
  // evaluations a second (whole microseconds give 90909.1 at most below
  // 100000, as wide: the face's digits share one advance), 999.9 ms of
  // profiling cost.
  void FillLongestHeader() {
    Fill(*cycles[0], 1000000.0 / 999.9);
    Fill(*cycles[6], 11.0);
    Fill(KProfiler::TheOne()->ProfilingCost, 999900.0);
  }

  std::unique_ptr<KProfilingSampling> cycles[KProfiler::kRootCycleCount];
  KtProfiling* tool = nullptr;
  ToolOptimizationLayout* panel = nullptr;
  std::unique_ptr<KSurface> surface;
  IKtGraphic* real = nullptr;
  std::unique_ptr<MeasuringGraphic> graphic;
  std::unique_ptr<KtViewHost> host;
};

TEST_F(ToolWindow, CaptionsAreWholeOrEndInAnEllipsisInsideTheirColumn) {
  ASSERT_NO_FATAL_FAILURE(Open(800, 420));
  struct Caption {
    KtView* View;
    std::string Text;
    int Column;  // the caption's column, from the control's left edge
  };
  std::vector<Caption> captions;
  for (KtProperty* editor : Editors())
    captions.push_back({editor, editor->Caption.Get(), editor->CaptionWidth.Get()});
  captions.push_back({&panel->DisplayLabel, panel->DisplayLabel.Caption.Get(), 90});
  captions.push_back({&panel->ResetButton, panel->ResetButton.Caption.Get(), -1});

  int cut = 0;
  for (const Caption& c : captions) {
    int x = 0, y = 0, w = 0, h = 0;
    Rect(*c.View, x, y, w, h);
    const int right = x + (c.Column < 0 ? w : c.Column);
    const MeasuringGraphic::Line* drawn = nullptr;
    for (const MeasuringGraphic::Line& line : graphic->Lines) {
      if (line.Middle >= y && line.Middle < y + h && line.Left >= x && line.Left < right) {
        drawn = &line;
        break;
      }
    }
    ASSERT_NE(drawn, nullptr) << c.Text << " was not drawn";
    const bool whole = drawn->Text == c.Text;
    const size_t kept = drawn->Text.size() - kEllipsis.size();
    const bool shortened = drawn->Text.size() > kEllipsis.size() &&
                           drawn->Text.compare(kept, kEllipsis.size(), kEllipsis) == 0 &&
                           c.Text.compare(0, kept, drawn->Text, 0, kept) == 0;
    EXPECT_TRUE(whole || shortened) << "drew '" << drawn->Text << "' for '" << c.Text << "'";
    EXPECT_LE(drawn->Right, right - 2) << "'" << drawn->Text << "' runs into what follows it";
    cut += shortened ? 1 : 0;
  }
  // At this size the two longest captions do not fit.
  EXPECT_GE(cut, 1);

  // Resting on a cut caption shows the whole text in a tooltip after half a
  // second, inside the window; leaving it takes the tooltip away.
  KtProperty& editor = panel->ParallelDeformationEditor;
  int x = 0, y = 0, w = 0, h = 0;
  Rect(editor, x, y, w, h);
  ASSERT_EQ(graphic->Find(editor.Caption.Get()), nullptr) << "the caption fits: nothing to show";
  host->Input(kInputMouseMove, x + 20, y + h / 2, 0, 0);
  gNow += 0.3;
  Expose();
  EXPECT_EQ(graphic->Find(editor.Caption.Get()), nullptr) << "shown before the delay";
  gNow += 0.3;
  Expose();
  const MeasuringGraphic::Line* tip = graphic->Find(editor.Caption.Get());
  ASSERT_NE(tip, nullptr);
  EXPECT_GE(tip->Left, 0);
  EXPECT_LE(tip->Right, 800);
  host->Input(kInputMouseMove, 700, 400, 0, 0);
  Expose();
  EXPECT_EQ(graphic->Find(editor.Caption.Get()), nullptr);
}

TEST_F(ToolWindow, HeaderLinesKeepTheirGapsForTheLongestValues) {
  FillLongestHeader();
  ASSERT_NO_FATAL_FAILURE(Open(800, 420));
  int vx = 0, vy = 0, vw = 0, vh = 0;
  Rect(panel->DrawView, vx, vy, vw, vh);
  const int x0 = vx + 20;
  const char* lines[2][2] = {{"999.9 fps", "(Min: 999.9, Max: 999.9)"},
                             {"Evaluation rate: 90909.1", "(Min: 90909.1, Max: 90909.1)"}};
  const int next[2] = {x0 + 150, x0 + 350};
  for (int block = 0; block < 2; ++block) {
    for (const char* text : lines[block]) {
      const MeasuringGraphic::Line* line = graphic->Find(text);
      ASSERT_NE(line, nullptr) << text << " not drawn";
      EXPECT_LE(line->Right, next[block] - 4) << text << " ends " << line->Right;
    }
  }
  // The title style stays apart from the detail lines' style.
  int w = 0, titleHeight = 0, detailHeight = 0;
  real->MeasureString("999.9 fps", kGraphic_Font_Style_Title, w, titleHeight);
  real->MeasureString("999.9 fps", kGraphic_Font_Style_Default, w, detailHeight);
  EXPECT_GE(titleHeight, detailHeight + 3);
  // Every text of the window is at least 10 pixels high.
  real->MeasureString("Ag", kGraphic_Font_Style_Regular, w, detailHeight);
  EXPECT_GE(detailHeight, 10);
}

// The minimum size is the tool framework's own: the module sets only the
// start size, and the framework works the rest out from the layout.
TEST_F(ToolWindow, AtItsMinimumSizeEveryControlIsShownAndTheDrawingViewGetsItsArea) {
  FillLongestHeader();
  const int width = tool->ToolGetMinWSize();
  const int height = tool->ToolGetMinHSize();
  EXPECT_LT(width, tool->ToolGetStartWSize());
  EXPECT_LT(height, tool->ToolGetStartHSize());
  ASSERT_NO_FATAL_FAILURE(Open(width, height));
  std::vector<KtView*> controls;
  for (KtProperty* editor : Editors()) controls.push_back(editor);
  controls.push_back(&panel->DisplayList);
  controls.push_back(&panel->ResetButton);
  for (KtView* control : controls) {
    int x = 0, y = 0, w = 0, h = 0;
    Rect(*control, x, y, w, h);
    EXPECT_TRUE(x >= 0 && y >= 0 && x + w <= width && y + h <= height && w > 0 && h > 0)
        << x << "," << y << " " << w << "x" << h << " in " << width << "x" << height;
  }
  // The width is where the drawing view has exactly the framework's drawing
  // area; the height is set by the controls, and the view has room to spare.
  int vx = 0, vy = 0, vw = 0, vh = 0;
  Rect(panel->DrawView, vx, vy, vw, vh);
  EXPECT_EQ(vw, kdesktop::kDrawingViewMinWidth);
  EXPECT_GE(vh, kdesktop::kDrawingViewMinHeight);
  // The header's frame-rate and evaluation blocks are whole at that width.
  int bx = 0, by = 0, bw = 0, bh = 0;
  Rect(*panel->DrawView.GetScrollBar(), bx, by, bw, bh);
  for (const char* text : {"999.9 fps", "(Min: 90909.1, Max: 90909.1)"}) {
    const MeasuringGraphic::Line* line = graphic->Find(text);
    ASSERT_NE(line, nullptr) << text;
    EXPECT_LE(line->Right, bx - 4) << text;
  }
  // One pixel less high hides a control.
  EXPECT_FALSE(KtLayout_FitsAt(*tool, width, height - 1, nullptr));
}

TEST_F(ToolWindow, ClicksAndTabMoveTheKeyboardFocus) {
  ASSERT_NO_FATAL_FAILURE(Open(800, 420));
  KProfiler* profiler = KProfiler::TheOne();
  int x = 0, y = 0, w = 0, h = 0;

  // A click on the display selector focuses it (and opens it; Escape closes).
  Rect(panel->DisplayList, x, y, w, h);
  Click(x + w / 2, y + h / 2);
  Key(kKeyEscape);
  EXPECT_TRUE(KtView_HasFocus(panel->DisplayList));
  const int shown = panel->DisplayList.SelectedIndex.Get();

  // A click on the button takes the focus from the selector: Down no longer
  // changes what the chart shows.
  Rect(panel->ResetButton, x, y, w, h);
  Click(x + w / 2, y + h / 2);
  EXPECT_TRUE(KtView_HasFocus(panel->ResetButton));
  EXPECT_FALSE(KtView_HasFocus(panel->DisplayList));
  Key(kKeyDown);
  EXPECT_EQ(panel->DisplayList.SelectedIndex.Get(), shown);

  // Tab goes on in member order: after the button, round to the first editor.
  Key(kKeyTab);
  EXPECT_TRUE(KtView_HasFocus(panel->FrustumCullingEditor));
  Key(kKeyTab, kModShift);
  EXPECT_TRUE(KtView_HasFocus(panel->ResetButton));
  Key(kKeyTab, kModShift);
  EXPECT_TRUE(KtView_HasFocus(panel->DisplayList));
  Key(kKeyTab, kModShift);
  EXPECT_TRUE(KtView_HasFocus(panel->FrameReferenceEditor));

  // Keys act on the focused control only.
  Key(kKeyTab, kModShift);
  ASSERT_TRUE(KtView_HasFocus(panel->BufferSizeEditor));
  const int buffer = profiler->BufferSize.Get();
  Key(kKeyUp);
  EXPECT_GT(profiler->BufferSize.Get(), buffer);
  const int frameReference = profiler->FrameReferenceProperty.Get();
  Key(kKeyTab);
  host->Input(kInputKeyChar, 0, 0, ' ', 0);
  EXPECT_NE(profiler->FrameReferenceProperty.Get(), frameReference);

  // A number field entered for editing has its value selected: typing
  // replaces it.
  Rect(panel->BufferSizeEditor, x, y, w, h);
  Click(x + (90 + w) / 2, y + h / 2);
  EXPECT_TRUE(KtView_HasFocus(panel->BufferSizeEditor));
  host->Input(kInputKeyChar, 0, 0, '7', 0);
  Key(kKeyEnter);
  EXPECT_EQ(profiler->BufferSize.Get(), 7);

  // A click on nothing that takes the focus drops it.
  Rect(panel->DrawView, x, y, w, h);
  Click(x + 100, y + h - 20);
  EXPECT_EQ(KtView_GetFocused(), nullptr);
}

TEST_F(ToolWindow, AHeldPlusRepeatsAfterADelayWhileThePointerStaysOnIt) {
  ASSERT_NO_FATAL_FAILURE(Open(800, 420));
  KProfiler* profiler = KProfiler::TheOne();
  int x = 0, y = 0, w = 0, h = 0;
  Rect(panel->BufferSizeEditor, x, y, w, h);
  const int plusX = x + w - 4;
  const int midY = y + h / 2;
  const int start = profiler->BufferSize.Get();

  host->Input(kInputMouseDown, plusX, midY, 0, 0);
  Expose();
  EXPECT_EQ(profiler->BufferSize.Get(), start + 1);  // the press steps once
  gNow += 0.3;                                       // still inside the delay
  Expose();
  EXPECT_EQ(profiler->BufferSize.Get(), start + 1);
  // Past the delay, one step per due frame, however late the frame.
  gNow += 0.2;
  Expose();
  EXPECT_EQ(profiler->BufferSize.Get(), start + 2);
  gNow += 5.0;
  Expose();
  EXPECT_EQ(profiler->BufferSize.Get(), start + 3);
  // Off the button the repeat pauses; back on it, it goes on.
  host->Input(kInputMouseMove, x + 10, midY, 0, 0);
  gNow += 1.0;
  Expose();
  EXPECT_EQ(profiler->BufferSize.Get(), start + 3);
  host->Input(kInputMouseMove, plusX, midY, 0, 0);
  gNow += 1.0;
  Expose();
  EXPECT_EQ(profiler->BufferSize.Get(), start + 4);
  // Released, it stops.
  host->Input(kInputMouseUp, plusX, midY, 0, 0);
  gNow += 1.0;
  Expose();
  EXPECT_EQ(profiler->BufferSize.Get(), start + 4);
}

TEST_F(ToolWindow, TheWheelOverTheChartScrollsIt) {
  // Enough child rows under the evaluation cycle for a chart taller than the
  // view.
  std::vector<std::unique_ptr<KProfilingSampling>> children;
  for (int i = 0; i < 60; ++i) {
    children.push_back(std::make_unique<KProfilingSampling>("Child", 0.3f, 0.6f, 0.9f));
    KProfilingSampling_AddSample(*children.back(), 10.0);
    KProfilingSampling_AddChild(*cycles[6], 1, children.back().get());
  }
  KProfiler::TheOne()->EvaluationDepthProperty = 1;
  ASSERT_NO_FATAL_FAILURE(Open(800, 420));
  Expose();
  int x = 0, y = 0, w = 0, h = 0;
  Rect(panel->DrawView, x, y, w, h);
  ASSERT_EQ(panel->DrawView.GetScrollPosition(), 0);
  // Over the chart's rows, far from the scroll bar.
  EXPECT_TRUE(host->Input(kInputMouseWheel, x + w / 3, y + h / 2, -2, 0));
  Expose();
  const int scrolled = panel->DrawView.GetScrollPosition();
  EXPECT_GT(scrolled, 0);
  EXPECT_TRUE(host->Input(kInputMouseWheel, x + w / 3, y + h / 2, 1, 0));
  Expose();
  EXPECT_LT(panel->DrawView.GetScrollPosition(), scrolled);
  // The wheel elsewhere in the window leaves the chart alone.
  const int before = panel->DrawView.GetScrollPosition();
  host->Input(kInputMouseWheel, 30, 30, -2, 0);
  EXPECT_EQ(panel->DrawView.GetScrollPosition(), before);
  KProfiler::TheOne()->EvaluationDepthProperty = 0;
  KProfilingSampling_ClearChildren(*cycles[6], 1);
}

}  // namespace
