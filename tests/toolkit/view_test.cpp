// KtView's interface answers, numbered events, geometry and paint bracket,
// and the interface answers of layouts, scroll bars and tools.
#include <gtest/gtest.h>

#include <vector>

#include "host/kdesktop.h"
#include "standin/ktoolkit/view_tree.h"
#include "standin/ktoolkit/viewhost.h"
#include "toolkit/fake_graphic.h"

namespace {

template <class I, class T>
IObject* As(T* object) {
  return static_cast<IObject*>(static_cast<I*>(object));
}

TEST(ViewInterfaces, EveryInterfaceAnswersForTheSameView) {
  KtView view;
  IObject* self = static_cast<IObject*>(static_cast<ICallback*>(&view));
  EXPECT_EQ(view.IQuery(kIID_IObject, 0), self);
  EXPECT_EQ(view.IQuery(kIID_IObjectSelf, 0), self);
  EXPECT_EQ(view.IQuery(kIID_IRegister, 0), As<IRegister>(&view));
  EXPECT_EQ(view.IQuery(kIID_IKtGeometry, 0), As<IKtGeometry>(&view));
  EXPECT_EQ(view.IQuery(kIID_IQzObjectHolder, 0), As<IQzObjectHolder>(&view));
  EXPECT_EQ(view.IQuery(kIID_IKtSkinnedView, 0), As<IKtSkinnedView>(&view));
  EXPECT_EQ(view.IQuery(kIID_IKtView, 0), As<IKtView>(&view));
  EXPECT_EQ(view.IQuery(kIID_IKtLayout, 0), nullptr);
  EXPECT_EQ(view.IQuery(kIID_IKtScrollBar, 0), nullptr);
  EXPECT_EQ(view.IQuery(12345, 0), nullptr);

  // Asked through another interface, the answers are the same.
  IKtView* asView = &view;
  EXPECT_EQ(asView->IQuery(kIID_IKtGeometry, 0), As<IKtGeometry>(&view));
  IKtGeometry* asGeometry = &view;
  EXPECT_EQ(asGeometry->IQuery(kIID_IKtView, 0), As<IKtView>(&view));
}

TEST(ViewInterfaces, LayoutsScrollBarsAndToolsAddTheirOwn) {
  KtLayout layout;
  EXPECT_EQ(layout.IQuery(kIID_IKtObject, 0), As<IKtObject>(&layout));
  EXPECT_EQ(layout.IQuery(kIID_IKtLayout, 0), As<IKtLayout>(&layout));
  EXPECT_EQ(layout.IQuery(kIID_IKtView, 0), As<IKtView>(&layout));

  KtScrollBar bar;
  EXPECT_EQ(bar.IQuery(kIID_IKtScrollBar, 0), As<IKtScrollBar>(&bar));
  EXPECT_EQ(bar.IQuery(kIID_IRegister, 0), As<IRegister>(&bar));

  KTool* tool = new KTool;
  EXPECT_EQ(tool->IQuery(kIID_ITool, 0), As<ITool>(tool));
  EXPECT_EQ(tool->IQuery(kIID_IMenuCommandExecutor, 0), As<IMenuCommandExecutor>(tool));
  EXPECT_EQ(tool->IQuery(kIID_IKtLayout, 0), As<IKtLayout>(tool));
  EXPECT_EQ(tool->IQuery(kIID_IObject, 0), static_cast<IObject*>(static_cast<ICallback*>(tool)));
  ITool* asTool = KQueryInterface<ITool>(tool->IQuery(kIID_IKtView, 0), kIID_ITool);
  ASSERT_EQ(asTool, static_cast<ITool*>(tool));
  EXPECT_EQ(asTool->ToolGetStartWSize(), 400);
  EXPECT_FALSE(asTool->ToolIsActive());
  asTool->ToolSetActive(true);
  EXPECT_TRUE(tool->ToolIsActive());
  EXPECT_FALSE(tool->ExecuteMenuCommand(1));
  // Ended through any interface, the tool deletes itself once (the leak and
  // address checks of the sanitizer build watch this).
  static_cast<IMenuCommandExecutor*>(tool)->Destroy(0);
}

class Recorder : public ICallback {
 public:
  virtual ~Recorder() = default;
  IObject* IQuery(unsigned long, int) override { return nullptr; }
  void Destroy(int) override {}
  void A(IRegister*, KEventBase* e) { Log.push_back(e ? 'a' : '!'); }
  void B(IRegister*, KEventBase* e) { Log.push_back(e ? 'b' : '!'); }
  void C(IRegister*, KEventBase* e) { Log.push_back(e ? 'c' : '!'); }
  std::vector<char> Log;
};

TEST(ViewEvents, HigherPriorityRunsFirstAndRepeatsKeepOneSubscription) {
  KtView view;
  Recorder r;
  EXPECT_TRUE(view.Register(7, &r, KCALLBACK_HANDLER(Recorder::A), 0));
  EXPECT_TRUE(view.Register(7, &r, KCALLBACK_HANDLER(Recorder::B), 10));
  EXPECT_TRUE(view.Register(7, &r, KCALLBACK_HANDLER(Recorder::C), 0));
  EXPECT_TRUE(view.Register(7, &r, KCALLBACK_HANDLER(Recorder::A), 5));  // repeat
  EXPECT_TRUE(view.Register(8, &r, KCALLBACK_HANDLER(Recorder::A), 0));
  EXPECT_FALSE(view.Register(7, nullptr, KCALLBACK_HANDLER(Recorder::A), 0));
  EXPECT_FALSE(view.Register(7, &r, nullptr, 0));
  EXPECT_EQ(KtView_GetRegisteredCount(view, 7), 3);
  EXPECT_EQ(KtView_GetRegisteredCount(view, 9), 0);

  view.Broadcast(7, nullptr);  // handlers still get an event
  EXPECT_EQ(std::string(r.Log.begin(), r.Log.end()), "bac");

  EXPECT_TRUE(view.Unregister(7, &r, KCALLBACK_HANDLER(Recorder::A)));
  EXPECT_FALSE(view.Unregister(7, &r, KCALLBACK_HANDLER(Recorder::A)));
  EXPECT_FALSE(view.Unregister(99, &r, KCALLBACK_HANDLER(Recorder::A)));
  r.Log.clear();
  KEventBase event(7);
  view.Broadcast(7, &event);
  view.Broadcast(99, &event);  // nobody listens: nothing happens
  EXPECT_EQ(std::string(r.Log.begin(), r.Log.end()), "bc");
}

TEST(ViewGeometry, NegativeSizesCountAsZeroAndRefreshReachesTheContainer) {
  KtView view;
  view.SetSize(-5, 10);
  EXPECT_EQ(view.GetWidth(), 0);
  EXPECT_EQ(view.GetHeight(), 10);
  view.SetHeight(-1);
  EXPECT_EQ(view.GetHeight(), 0);
  view.SetPos(-3, 4);
  EXPECT_EQ(view.GetPosX(), -3);
  EXPECT_EQ(view.GetPosY(), 4);

  view.ViewRefresh(false);  // no container yet: counted, goes nowhere
  EXPECT_EQ(KtView_GetRefreshCount(view), 1);
  RecordingContainer container;
  FakeGraphic graphic;
  view.Attach(&container, &graphic);
  view.ViewRefresh(true);
  EXPECT_EQ(container.Refreshes, 1);
  EXPECT_EQ(container.LastRefreshed, static_cast<IKtView*>(&view));
  view.Detach(&container);
  EXPECT_EQ(view.GetContainer(), nullptr);
  EXPECT_EQ(view.GetGraphic(), nullptr);
  view.ViewRefresh(false);
  EXPECT_EQ(container.Refreshes, 1);
}

TEST(ViewExpose, BeginReportsSizeChangesAndRecordsTheWindowRect) {
  FakeGraphic graphic;
  RecordingContainer container;
  KtView view;
  bool changed = false;
  EXPECT_FALSE(view.KtViewExposeBegin(&changed));  // no graphic
  view.Attach(&container, &graphic);
  EXPECT_FALSE(view.KtViewExposeBegin(&changed));  // empty size
  int x = 0, y = 0, w = 0, h = 0;
  EXPECT_FALSE(KtView_GetWindowRect(view, x, y, w, h));
  EXPECT_FALSE(KtView_ContainsWindowPoint(view, 0, 0));

  view.SetPos(10, 20);
  view.SetSize(30, 40);
  graphic.PushView(100, 200, 500, 500);  // as if inside an enclosing view
  ASSERT_TRUE(view.KtViewExposeBegin(&changed));
  EXPECT_TRUE(changed);
  EXPECT_EQ(graphic.Depth(), 2);
  view.KtViewExposeEnd();
  EXPECT_EQ(graphic.Depth(), 1);
  ASSERT_TRUE(KtView_GetWindowRect(view, x, y, w, h));
  EXPECT_EQ(x, 110);
  EXPECT_EQ(y, 220);
  EXPECT_EQ(w, 30);
  EXPECT_EQ(h, 40);
  EXPECT_TRUE(KtView_ContainsWindowPoint(view, 110, 220));
  EXPECT_TRUE(KtView_ContainsWindowPoint(view, 139, 259));
  EXPECT_FALSE(KtView_ContainsWindowPoint(view, 140, 220));
  EXPECT_FALSE(KtView_ContainsWindowPoint(view, 110, 260));
  EXPECT_FALSE(KtView_ContainsWindowPoint(view, 10, 20));

  ASSERT_TRUE(view.KtViewExposeBegin(&changed));
  EXPECT_FALSE(changed);
  view.KtViewExposeEnd();
  view.SetWidth(31);
  ASSERT_TRUE(view.KtViewExposeBegin(nullptr));  // a null flag is fine
  view.KtViewExposeEnd();
  ASSERT_TRUE(view.KtViewExposeBegin(&changed));
  EXPECT_FALSE(changed);  // the null-flag expose already saw the new size
  view.KtViewExposeEnd();
  graphic.PopView();
  view.Detach(&container);
}

// A view that paints a scroll bar inside its own paint, as the module's
// drawing view does.
class ScrollingView : public KtView {
 public:
  ScrollingView() {
    Bar.SetPos(83, 85);
    Bar.SetSize(17, 115);
    Bar.MinimumSet(0.0);
    Bar.MaximumSet(100.0);
    Bar.SliderSet(0.0, 50.0);
  }
  void Attach(IKtViewContainer* c, IKtGraphic* g) override {
    KtView::Attach(c, g);
    Bar.Attach(c, g);
  }
  void Detach(IKtViewContainer* c) override {
    KtView::Detach(c);
    Bar.Detach(c);
  }
  void ViewExpose(IKtGeometry*) override {
    if (!KtViewExposeBegin(nullptr)) return;
    static_cast<IKtView*>(&Bar)->ViewExpose(nullptr);
    KtViewExposeEnd();
  }
  bool ViewInput(int e, int x, int y, int b, int m) override {
    return static_cast<IKtView*>(&Bar)->ViewInput(e, x, y, b, m);
  }
  KtScrollBar Bar;
};

class Driven : public IKtScrollBarDriven {
 public:
  virtual ~Driven() = default;
  IObject* IQuery(unsigned long, int) override { return nullptr; }
  void Destroy(int) override {}
  void ScrollNotify(int) override {}
  void ScrollValueChanged(float start) override { Values.push_back(start); }
  std::vector<float> Values;
};

TEST(ViewExpose, AScrollBarInsideAnotherViewHitTestsAtItsWindowPosition) {
  FakeGraphic graphic;
  KtViewHost host(&graphic);
  KtLayout root;
  ASSERT_TRUE(root.AddRegion("Area", nullptr, 50, kLayoutAttachLeft, nullptr, 1.0f, 30,
                             kLayoutAttachTop, nullptr, 1.0f, 100, kLayoutAttachNone, nullptr, 1.0f,
                             200, kLayoutAttachNone, nullptr, 1.0f));
  ScrollingView view;
  Driven driven;
  view.Bar.DrivenSet(&driven);
  root.SetControl("Area", view);
  host.SetRoot(&root, 640, 480);
  host.Expose();

  int x = 0, y = 0, w = 0, h = 0;
  ASSERT_TRUE(KtView_GetWindowRect(view.Bar, x, y, w, h));
  EXPECT_EQ(x, 133);
  EXPECT_EQ(y, 115);
  ASSERT_TRUE(view.Bar.GetSliderWindowRect(x, y, w, h));
  EXPECT_EQ(y, 115);

  // The bar's own coordinates (83, 85) are not where it is on screen.
  EXPECT_FALSE(host.Input(kInputMouseDown, 90, 100, 0, 0));
  EXPECT_TRUE(host.Input(kInputMouseDown, 140, 120, 0, 0));
  EXPECT_TRUE(host.Input(kInputMouseMove, 140, 130, 0, 0));
  EXPECT_TRUE(host.Input(kInputMouseUp, 140, 130, 0, 0));
  ASSERT_EQ(driven.Values.size(), 1u);
  // 10 pixels of a 115-pixel track over a range of 100.
  EXPECT_NEAR(driven.Values[0], 10.0 * 100.0 / 115.0, 0.01);
  host.SetRoot(nullptr, 0, 0);
}

}  // namespace
