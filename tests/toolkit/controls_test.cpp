// Buttons, drop-down lists (through the window's popup), tab strips and the
// view host's popup routing.
#include "standin/ktoolkit/controls.h"

#include <gtest/gtest.h>

#include "standin/ktoolkit/viewhost.h"
#include "toolkit/fake_graphic.h"

namespace {

constexpr ktLayoutAttach kL = kLayoutAttachLeft;
constexpr ktLayoutAttach kT = kLayoutAttachTop;
constexpr ktLayoutAttach kN = kLayoutAttachNone;

// A window with one control at (x, y, width, height) inside a root layout.
struct Window {
  Window(KtView& control, int x, int y, int width, int height) : Host(&Graphic) {
    Root.AddRegion("Control", nullptr, x, kL, nullptr, 1.0f, y, kT, nullptr, 1.0f, width, kN,
                   nullptr, 1.0f, height, kN, nullptr, 1.0f);
    Root.SetControl("Control", control);
    Host.SetRoot(&Root, 400, 300);
    Host.Expose();
  }
  ~Window() { Host.SetRoot(nullptr, 0, 0); }
  bool Click(int x, int y) {
    const bool down = Host.Input(kInputMouseDown, x, y, 0, 0);
    const bool up = Host.Input(kInputMouseUp, x, y, 0, 0);
    return down || up;
  }
  FakeGraphic Graphic;
  KtViewHost Host;
  KtLayout Root;
};

TEST(Button, FiresOnceForAPressAndReleaseOverIt) {
  KtButton button(1);
  button.Caption = "Reset To Default";
  EventCounter clicks;
  button.OnClick.Add(&clicks, KCALLBACK_HANDLER(EventCounter::OnEvent));
  Window window(button, 20, 40, 130, 15);
  EXPECT_TRUE(window.Graphic.DrewText("Reset To Default"));

  EXPECT_TRUE(window.Click(30, 45));
  EXPECT_EQ(clicks.Count, 1);
  EXPECT_EQ(clicks.LastSender, static_cast<IRegister*>(&button));

  // Pressed over it, released elsewhere: no click; the release is still its own.
  EXPECT_TRUE(window.Host.Input(kInputMouseDown, 30, 45, 0, 0));
  EXPECT_TRUE(window.Host.Input(kInputMouseMove, 200, 200, 0, 0));
  EXPECT_TRUE(window.Host.Input(kInputMouseUp, 200, 200, 0, 0));
  EXPECT_EQ(clicks.Count, 1);

  // Pressed elsewhere, released over it: no click.
  EXPECT_FALSE(window.Host.Input(kInputMouseDown, 5, 5, 0, 0));
  EXPECT_FALSE(window.Host.Input(kInputMouseUp, 30, 45, 0, 0));
  EXPECT_EQ(clicks.Count, 1);

  // The right button does not click.
  window.Host.Input(kInputMouseDown, 30, 45, 1, 0);
  window.Host.Input(kInputMouseUp, 30, 45, 1, 0);
  EXPECT_EQ(clicks.Count, 1);

  KtButton_Click(button);
  EXPECT_EQ(clicks.Count, 2);
  button.OnClick.Remove(&clicks, KCALLBACK_HANDLER(EventCounter::OnEvent));
}

TEST(List, ItemsSplitOnTildes) {
  KtList list;
  EXPECT_EQ(list.GetItemCount(), 0);
  EXPECT_EQ(list.SelectedIndex.Get(), 0);
  list.Items = "DisplayAll~Evaluation~Rendering~Devices";
  ASSERT_EQ(list.GetItemCount(), 4);
  EXPECT_STREQ(list.GetItem(0), "DisplayAll");
  EXPECT_STREQ(list.GetItem(3), "Devices");
  EXPECT_EQ(list.GetItem(4), nullptr);
  EXPECT_EQ(list.GetItem(-1), nullptr);
  EXPECT_EQ(list.FindItem("Rendering"), 2);
  EXPECT_EQ(list.FindItem("rendering"), -1);
  EXPECT_EQ(list.FindItem(nullptr), -1);
  list.Items = "a~~b~";
  ASSERT_EQ(list.GetItemCount(), 4);
  EXPECT_STREQ(list.GetItem(1), "");
  EXPECT_STREQ(list.GetItem(3), "");
  list.Items = "";
  EXPECT_EQ(list.GetItemCount(), 0);
}

class ListInWindow : public ::testing::Test {
 protected:
  ListInWindow() : list(1) {
    list.Items = "DisplayAll~Evaluation~Rendering~Devices";
    list.OnChange.Add(&changes, KCALLBACK_HANDLER(EventCounter::OnEvent));
    window = new Window(list, 100, 50, 90, 15);
  }
  ~ListInWindow() override {
    delete window;
    list.OnChange.Remove(&changes, KCALLBACK_HANDLER(EventCounter::OnEvent));
  }
  // Rows of the popup are 16 pixels, starting below the list (y 65).
  static int RowY(int row) { return 65 + row * 16 + 8; }

  KtList list;
  EventCounter changes;
  Window* window = nullptr;
};

TEST_F(ListInWindow, APickThroughThePopupSelectsAndClosesOnce) {
  EXPECT_TRUE(window->Graphic.DrewText("DisplayAll"));
  EXPECT_TRUE(window->Host.Input(kInputMouseDown, 120, 55, 0, 0));
  ASSERT_TRUE(list.IsOpen());
  ASSERT_NE(window->Host.GetPopup(), nullptr);
  window->Host.Input(kInputMouseUp, 120, 55, 0, 0);
  EXPECT_TRUE(list.IsOpen());  // the release that opened it does not close it

  window->Graphic.Clear();
  window->Host.Expose();
  for (const char* item : {"DisplayAll", "Evaluation", "Rendering", "Devices"})
    EXPECT_TRUE(window->Graphic.DrewText(item)) << item;

  EXPECT_TRUE(window->Host.Input(kInputMouseDown, 120, RowY(2), 0, 0));
  EXPECT_EQ(list.SelectedIndex.Get(), 2);
  EXPECT_EQ(changes.Count, 1);
  EXPECT_FALSE(list.IsOpen());
  EXPECT_EQ(window->Host.GetPopup(), nullptr);
  window->Host.Input(kInputMouseUp, 120, RowY(2), 0, 0);
  EXPECT_EQ(changes.Count, 1);

  // Picking the item already selected changes nothing.
  window->Click(120, 55);
  window->Host.Expose();
  window->Host.Input(kInputMouseDown, 120, RowY(2), 0, 0);
  EXPECT_EQ(changes.Count, 1);
  EXPECT_FALSE(list.IsOpen());
}

TEST_F(ListInWindow, AClickElsewhereClosesWithoutChoosing) {
  window->Click(120, 55);
  ASSERT_TRUE(list.IsOpen());
  window->Host.Expose();
  EXPECT_TRUE(window->Host.Input(kInputMouseDown, 350, 250, 0, 0));
  EXPECT_FALSE(list.IsOpen());
  EXPECT_EQ(window->Host.GetPopup(), nullptr);
  EXPECT_EQ(changes.Count, 0);

  // A click on the list itself while open closes it too, without reopening.
  window->Click(120, 55);
  window->Host.Expose();
  ASSERT_TRUE(list.IsOpen());
  window->Click(120, 55);
  EXPECT_FALSE(list.IsOpen());
  EXPECT_EQ(changes.Count, 0);
}

TEST_F(ListInWindow, WheelAndKeysStepWithinTheItems) {
  window->Host.Input(kInputMouseWheel, 120, 55, -1, 0);
  EXPECT_EQ(list.SelectedIndex.Get(), 1);
  window->Host.Input(kInputMouseWheel, 120, 55, -10, 0);
  EXPECT_EQ(list.SelectedIndex.Get(), 3);
  window->Host.Input(kInputMouseWheel, 120, 55, 1, 0);
  EXPECT_EQ(list.SelectedIndex.Get(), 2);
  EXPECT_EQ(changes.Count, 3);
  EXPECT_FALSE(window->Host.Input(kInputMouseWheel, 300, 200, 1, 0));  // not over it

  // Keys reach the list after a click on it.
  EXPECT_FALSE(window->Host.Input(kInputKeyDown, 0, 0, kKeyUp, 0));
  window->Click(120, 55);  // opens
  window->Click(120, 55);  // closes; the list keeps the focus
  EXPECT_TRUE(window->Host.Input(kInputKeyDown, 0, 0, kKeyUp, 0));
  EXPECT_EQ(list.SelectedIndex.Get(), 1);
  window->Click(300, 200);
  EXPECT_FALSE(window->Host.Input(kInputKeyDown, 0, 0, kKeyUp, 0));
}

TEST_F(ListInWindow, AssignmentFiresOnChangeAndDetachClosesThePopup) {
  list.SelectedIndex = 3;
  EXPECT_EQ(changes.Count, 1);
  list.SelectedIndex = 3;
  EXPECT_EQ(changes.Count, 1);
  window->Click(120, 55);
  ASSERT_TRUE(list.IsOpen());
  window->Root.ClearControl("Control");
  EXPECT_FALSE(list.IsOpen());
  EXPECT_EQ(window->Host.GetPopup(), nullptr);
}

TEST(List, NoPopupWhereTheWindowTakesNone) {
  FakeGraphic graphic;
  RecordingContainer container;
  container.AcceptPopups = false;
  KtList list;
  list.Items = "a~b";
  list.SetSize(50, 15);
  list.Attach(&container, &graphic);
  list.ViewExpose(nullptr);
  EXPECT_TRUE(list.ViewInput(kInputMouseDown, 5, 5, 0, 0));
  EXPECT_FALSE(list.IsOpen());
  list.Detach(&container);
}

TEST(List, DestroyedWhileOpenLeavesNoPopupBehind) {
  FakeGraphic graphic;
  KtViewHost host(&graphic);
  auto* list = new KtList;
  list->Items = "a~b";
  host.SetRoot(list, 100, 15);
  host.Expose();
  host.Input(kInputMouseDown, 5, 5, 0, 0);
  ASSERT_NE(host.GetPopup(), nullptr);
  host.SetRoot(nullptr, 0, 0);  // detaching the list closes its popup
  EXPECT_EQ(host.GetPopup(), nullptr);
  list->Destroy(0);
}

TEST(TabPanel, TabsComeFromItemsAndAClickSelects) {
  KtTabPanel tabs(1);
  tabs.Items = "One~Second";
  ASSERT_EQ(KtTabPanel_GetTabCount(tabs), 2);
  EXPECT_STREQ(KtTabPanel_GetTab(tabs, 1), "Second");
  EXPECT_EQ(KtTabPanel_GetTab(tabs, 2), nullptr);
  EventCounter changes;
  tabs.OnChange.Add(&changes, KCALLBACK_HANDLER(EventCounter::OnEvent));
  Window window(tabs, 6, 6, 300, 25);
  EXPECT_TRUE(window.Graphic.DrewText("One"));
  EXPECT_TRUE(window.Graphic.DrewText("Second"));
  // "One" is 21 pixels of text plus 20 of padding: the second tab starts at 6 + 41.
  window.Click(6 + 45, 10);
  EXPECT_EQ(tabs.SelectedIndex.Get(), 1);
  window.Click(6 + 5, 10);
  EXPECT_EQ(tabs.SelectedIndex.Get(), 0);
  window.Click(6 + 250, 10);  // past the last tab: no change
  EXPECT_EQ(tabs.SelectedIndex.Get(), 0);
  EXPECT_EQ(changes.Count, 2);
  tabs.OnChange.Remove(&changes, KCALLBACK_HANDLER(EventCounter::OnEvent));
}

class PopupProbe : public KtView {
 public:
  void Destroy(int) override {}
  void Detach(IKtViewContainer* c) override {
    ++Detaches;
    KtView::Detach(c);
  }
  bool ViewInput(int, int, int, int, int) override { return Take; }
  int Detaches = 0;
  bool Take = false;
};

TEST(ViewHost, SizesTheRootAndRoutesInputToThePopupFirst) {
  FakeGraphic graphic;
  KtViewHost host(&graphic);
  EXPECT_EQ(host.IQuery(kIID_IKtViewContainer, 0), static_cast<IKtViewContainer*>(&host));
  KtLayout root;
  host.SetRoot(&root, 320, 240);
  EXPECT_EQ(root.GetWidth(), 320);
  EXPECT_EQ(root.GetContainer(), static_cast<IKtViewContainer*>(&host));
  host.Resize(640, 480);
  EXPECT_EQ(root.GetHeight(), 480);
  EXPECT_TRUE(host.TakeRefreshRequest());
  EXPECT_FALSE(host.TakeRefreshRequest());
  root.ViewRefresh(false);
  EXPECT_TRUE(host.TakeRefreshRequest());

  PopupProbe first, second;
  EXPECT_FALSE(host.PopupOpen(nullptr));
  EXPECT_TRUE(host.PopupOpen(&first));
  EXPECT_EQ(first.GetContainer(), static_cast<IKtViewContainer*>(&host));
  EXPECT_TRUE(host.PopupOpen(&second));  // one at a time
  EXPECT_EQ(first.Detaches, 1);
  EXPECT_EQ(host.GetPopup(), &second);

  second.Take = true;
  EXPECT_TRUE(host.Input(kInputMouseDown, 1, 1, 0, 0));
  EXPECT_EQ(host.GetPopup(), &second);
  second.Take = false;
  EXPECT_FALSE(host.Input(kInputMouseMove, 1, 1, 0, 0));
  EXPECT_EQ(host.GetPopup(), &second);
  EXPECT_TRUE(host.Input(kInputMouseDown, 1, 1, 0, 0));  // untaken click: closes
  EXPECT_EQ(host.GetPopup(), nullptr);
  EXPECT_EQ(second.Detaches, 1);

  host.PopupClose(&first);  // not open: nothing happens
  EXPECT_EQ(first.Detaches, 1);

  host.SetRoot(nullptr, 0, 0);
  EXPECT_EQ(root.GetContainer(), nullptr);
  EXPECT_EQ(host.GetRoot(), nullptr);
}

}  // namespace
